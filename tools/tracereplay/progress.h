// A progress line on standard error for long replays, shown only when
// standard error is a terminal.
#ifndef TOOLS_TRACEREPLAY_PROGRESS_H
#define TOOLS_TRACEREPLAY_PROGRESS_H

#include <chrono>

namespace replay {

class Progress {
public:
    explicit Progress(bool wanted);

    // Called once per frame; redraws at most a few times a second.
    void frameDone(unsigned long frames, unsigned long ofFile, const char* path);
    // Removes the line (before an error report or at the end).
    void clear();

private:
    using Clock = std::chrono::steady_clock;

    bool enabled_;
    bool shown_ = false;
    Clock::time_point start_;
    Clock::time_point lastDraw_;
};

}  // namespace replay

#endif
