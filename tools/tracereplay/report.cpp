#include "report.h"

#include <unistd.h>

#include <cstdio>

namespace replay {

namespace {

constexpr auto kQuietStart = std::chrono::seconds(1);  // short runs show nothing
constexpr auto kRedrawEvery = std::chrono::milliseconds(250);
constexpr unsigned long kCheckEveryFrames = 1024;

// The summary of each frame kind, after "N frame(s)".
const char* const kSummaries[] = {
    nullptr,
    "skipped",
    "cut by the snap length (traced as captured)",
    "out of time order in their file (played in time order)",
    "out of order beyond the reorder window of a stream (played late)",
    "captured outside 1901-12-13 20:45:52 to 2038-01-19 03:14:07 UTC, which the trace's 32-bit "
    "seconds hold (traced with their times wrapped)",
};

}  // namespace

Progress::Progress(bool wanted)
    : enabled_(wanted && isatty(STDERR_FILENO)), start_(Clock::now()), lastDraw_(start_)
{
}

void Progress::frameDone(unsigned long frames, unsigned long ofFile, const char* path)
{
    if (!enabled_ || frames % kCheckEveryFrames != 0)
        return;
    Clock::time_point now = Clock::now();
    if (now - start_ < kQuietStart || now - lastDraw_ < kRedrawEvery)
        return;
    lastDraw_ = now;
    std::fprintf(stderr, "\r\033[Ktracereplay: %lu frames replayed (frame %lu of %s)", frames,
                 ofFile, path);
    std::fflush(stderr);
    shown_ = true;
}

void Progress::clear()
{
    if (!shown_)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
}

void Report::file(const std::string& path, const std::string& message)
{
    ++counts_[static_cast<int>(Problem::File)];
    lines_.push_back(path + ": " + message);
}

void Report::frame(Problem kind, const std::string& path, unsigned long number,
                   const std::string& message)
{
    if (++counts_[static_cast<int>(kind)] <= kShownPerKind)
        lines_.push_back(path + ": frame " + std::to_string(number) + ": " + message);
}

void Report::note(const std::string& line)
{
    lines_.push_back(line);
}

bool Report::inputSkipped() const
{
    return count(Problem::File) + count(Problem::Skipped) + count(Problem::Late) +
               count(Problem::TimeRange) >
           0;
}

void Report::print()
{
    for (const std::string& line : lines_)
        std::fprintf(stderr, "tracereplay: %s\n", line.c_str());
    lines_.clear();
    for (int kind = 0; kind < kKinds; ++kind)
        if (kSummaries[kind] && counts_[kind] > 0)
            std::fprintf(stderr, "tracereplay: %lu frame%s %s\n", counts_[kind],
                         counts_[kind] == 1 ? "" : "s", kSummaries[kind]);
}

}  // namespace replay
