#include "progress.h"

#include <unistd.h>

#include <cstdio>

namespace replay {

namespace {

constexpr auto kQuietStart = std::chrono::seconds(1);       // short runs show nothing
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

}  // namespace replay
