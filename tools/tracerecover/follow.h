// Following a running process's rings: every trace printed as it is
// recorded, in the saved trace's line format, merged by time across the
// process's buffers, until the process ends.
//
// Each look at the rings reads every ring's position first, then copies
// each ring's new records and reads its position again (liveRing.h). A
// trace is printed once it is complete (its end mark, or the next opening
// record) and no trace of another ring can still come before it: one that
// began before the look's first position reads was copied by then, and an
// unfinished trace that began earlier holds the later ones back (for at most
// kHoldLimitUs, then it is printed when it ends). Records the writer reused
// before they were read are counted and reported per buffer. Ring files made
// later in a watched directory join (new buffers); a ring file removed (its
// buffer destroyed) is read to its end and left; a rewritten step file
// describes the records from then on. When the process has ended, what the
// rings still hold is printed, a trace it cut short marked as recovery does,
// and that is reported.
//
// Traces go to `out`; reports, one line each, to `notes`. The follower owns
// its mappings and the steps it makes; it reads only.
#ifndef TRACELIB_TOOLS_TRACERECOVER_FOLLOW_H
#define TRACELIB_TOOLS_TRACERECOVER_FOLLOW_H

#include <stdint.h>
#include <stdio.h>

#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "liveRing.h"
#include "followSteps.h"

// How long an unfinished trace may hold later traces of other rings back.
constexpr int64_t kHoldLimitUs = 200 * 1000;

class Follower {
public:
    Follower(FILE* out, FILE* notes);
    ~Follower();
    Follower(const Follower&) = delete;
    Follower& operator=(const Follower&) = delete;

    // Ring files and directories (whose "*.ring" files are taken, and later
    // ones noticed). Picks the one running process among them; false, with a
    // report, if there are several, or none and no directory to wait in.
    bool start(const std::vector<std::string>& paths);

    // One look at the rings; prints what can be printed. Once the process
    // has ended, prints the rest and reports it (ended() is then true).
    void poll();
    // Prints every complete trace still held, as when interrupted.
    void flushComplete();

    bool ended() const { return ended_; }
    // Microseconds to wait before the next look: a fraction of the time the
    // fastest ring takes to go round, so that no lap goes unseen.
    int64_t pause() const { return pauseUs_; }
    // Records reported lost, over all buffers, and whether some count is
    // only a lower bound (a lap went by unseen between two looks).
    uint64_t lostRecords() const { return lostTotal_; }
    bool lostAtLeast() const { return lostAtLeast_; }

private:
    struct Trace {
        uint64_t first = 0;  // absolute index of its first record
        std::vector<TraceEntry> records;
        bool complete = false;
        bool cut = false;
        int64_t time = 0;  // microseconds, from its opening record
        bool timeKnown = false;
        int64_t openSince = -1;  // when first seen unfinished (follower's clock)
    };
    struct Ring {
        std::unique_ptr<LiveRing> file;
        uint64_t written = 0;        // records the writer has handed out, as far as seen
        uint32_t index = 0;          // its slot position at the last read
        uint64_t next = 0;           // the next record to read
        uint64_t eligibleBelow = 0;  // traces opening below it may print this look
        uint64_t settled = 0;        // handed out before the last look: whole (stores out of order)
        bool looked = false;         // seen by a look before this one
        bool inSync = false;         // false: skip up to the next opening record
        bool removed = false;        // the buffer was destroyed: read to the end, then drop
        bool drained = false;        // ... which has been done
        bool lapUnseen = false;      // a lap went by between looks: losses are lower bounds
        uint64_t sentinelAt = 0;     // a record read whole, to notice unseen laps
        std::optional<TraceEntry> sentinel;
        int64_t lastTime = 0;
        double pace = 0;         // records a microsecond, the fastest lately
        int64_t lastReadUs = 0;  // when the position was last read
        int64_t lastLookUs = 0;
        std::deque<Trace> traces;  // complete ones, then at most one unfinished
    };

    void findRings(bool atStart);
    void addRing(std::unique_ptr<LiveRing> file, bool atStart);
    void readSteps();
    bool processAlive() const;
    void look(bool final);
    bool advance(Ring& ring);
    void copy(Ring& ring, bool final);
    void take(Ring& ring, uint64_t from, const std::vector<TraceEntry>& records, uint64_t written,
              bool final);
    void lose(Ring& ring, uint64_t count, bool atLeast);
    void print(bool final);
    void write(const Ring& ring, const Trace& trace);
    void notePace(uint64_t moved, int64_t now);

    FILE* out_;
    FILE* notes_;
    std::vector<std::string> dirs_;
    std::vector<std::string> files_;
    int watch_ = -1;  // inotify descriptor over dirs_, or -1
    uint32_t pid_ = 0;
    uint64_t runId_ = 0;
    bool chosen_ = false;
    bool refused_ = false;
    bool ended_ = false;
    std::vector<Ring> rings_;                          // in the order the process made them
    std::set<std::pair<uint64_t, uint64_t>> ignored_;  // ring files of other processes or runs
    std::unique_ptr<TraceApi> api_;
    std::unique_ptr<FollowSteps> steps_;
    std::string stepPath_;
    struct timespec stepStamp_ = {};
    uint64_t stepInode_ = 0;
    int64_t lastScanUs_ = 0;
    int64_t lastLiveCheckUs_ = 0;
    int64_t lastLookUs_ = 0;
    int64_t pauseUs_ = 0;
    uint64_t lostTotal_ = 0;
    bool lostAtLeast_ = false;
};

#endif
