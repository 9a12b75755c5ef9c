// What the replay tells the user on standard error. Problems are counted by
// kind; the first few of each kind are shown with the file and frame they
// concern, then one summary line per kind gives the count, so that a
// capture with thousands of bad frames still gives a short report. Lines
// are held until the replay ends (a replay that starts over reports once).
// The progress line for long replays is shown only when standard error is
// a terminal.
#ifndef TOOLS_TRACEREPLAY_REPORT_H
#define TOOLS_TRACEREPLAY_REPORT_H

#include <chrono>
#include <string>
#include <vector>

namespace replay {

class Progress {
public:
    explicit Progress(bool wanted);

    // Called once per frame; redraws at most a few times a second.
    void frameDone(unsigned long frames, unsigned long ofFile, const char* path);
    // Removes the line (before the report is printed).
    void clear();

private:
    using Clock = std::chrono::steady_clock;

    bool enabled_;
    bool shown_ = false;
    Clock::time_point start_;
    Clock::time_point lastDraw_;
};

enum class Problem {
    File,        // a file that cannot be opened or read on: always shown
    Skipped,     // a frame that cannot be decoded
    Cut,         // a frame captured shorter than it was on the wire
    OutOfOrder,  // a frame earlier than the one before it in its file
    Late,        // out of order beyond the reorder window, played late
    TimeRange,   // a capture time the trace record's 32-bit seconds cannot hold
};

class Report {
public:
    static constexpr unsigned long kShownPerKind = 5;

    // "FILE: MESSAGE"
    void file(const std::string& path, const std::string& message);
    // "FILE: frame N: MESSAGE", shown for the first few of its kind.
    void frame(Problem kind, const std::string& path, unsigned long number,
               const std::string& message);
    // Counted for the summary only, never shown frame by frame.
    void countOnly(Problem kind) { ++counts_[static_cast<int>(kind)]; }
    // A line of its own, shown as given, that does not count as a problem.
    void note(const std::string& line);

    unsigned long count(Problem kind) const { return counts_[static_cast<int>(kind)]; }
    // Some input was not replayed as it was captured.
    bool inputSkipped() const;

    // Prints the lines held so far, then the summary of each kind.
    void print();

private:
    static constexpr int kKinds = 6;
    static_assert(kKinds == static_cast<int>(Problem::TimeRange) + 1,
                  "one count for each Problem, TimeRange the last");

    std::vector<std::string> lines_;
    unsigned long counts_[kKinds] = {};
};

}  // namespace replay

#endif
