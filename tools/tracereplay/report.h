// What the replay tells the user on standard error: one-line error reports,
// counted so that the exit code can tell whether anything was skipped, and
// a progress line for long replays, shown only when standard error is a
// terminal.
#ifndef TOOLS_TRACEREPLAY_REPORT_H
#define TOOLS_TRACEREPLAY_REPORT_H

#include <chrono>
#include <string>

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

class Progress;

class Diagnostics {
public:
    explicit Diagnostics(Progress* progress = nullptr) : progress_(progress) {}

    // "tracereplay: FILE: MESSAGE"
    void fileError(const std::string& path, const std::string& message);
    // "tracereplay: FILE: frame N: MESSAGE"
    void frameError(const std::string& path, unsigned long frame, const std::string& message);
    // "tracereplay: MESSAGE"
    void error(const std::string& message);

    unsigned long errors() const { return errors_; }

private:
    void print(const std::string& line);

    Progress* progress_;
    unsigned long errors_ = 0;
};

}  // namespace replay

#endif
