#include "report.h"

#include <unistd.h>

#include <cstdio>

namespace replay {

namespace {

constexpr auto kQuietStart = std::chrono::seconds(1);  // short runs show nothing
constexpr auto kRedrawEvery = std::chrono::milliseconds(250);
constexpr unsigned long kCheckEveryFrames = 1024;

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

void Diagnostics::print(const std::string& line)
{
    ++errors_;
    if (progress_)
        progress_->clear();
    std::fprintf(stderr, "tracereplay: %s\n", line.c_str());
}

void Diagnostics::fileError(const std::string& path, const std::string& message)
{
    print(path + ": " + message);
}

void Diagnostics::frameError(const std::string& path, unsigned long frame,
                             const std::string& message)
{
    print(path + ": frame " + std::to_string(frame) + ": " + message);
}

void Diagnostics::error(const std::string& message)
{
    print(message);
}

}  // namespace replay
