// FrameSort: the frames of one capture file given back in time order within
// a memory ceiling. Frames are copied into a run of at most `memoryBytes`;
// a full run is sorted and written to a temporary file (in $TMPDIR, removed
// at once so that nothing is left behind whatever ends the process), and
// once every frame is in, the runs are merged. A file that fits the ceiling
// is sorted in memory and never touches the disk. Frames of equal time keep
// their order in the file.
//
// Memory: the run (frames, a small header and an index entry each) stays
// under the ceiling; merging holds one frame and a 64 KiB read buffer per
// run on top, so a 64 MiB ceiling merges some thousand runs (tens of GB of
// capture) in a few MiB more.
#ifndef TOOLS_TRACEREPLAY_FRAMESORT_H
#define TOOLS_TRACEREPLAY_FRAMESORT_H

#include <stddef.h>
#include <stdint.h>

#include <cstdio>
#include <memory>
#include <queue>
#include <string>
#include <vector>

#include "capture.h"

namespace replay {

class FrameSort {
public:
    explicit FrameSort(size_t memoryBytes);
    ~FrameSort();
    FrameSort(const FrameSort&) = delete;
    FrameSort& operator=(const FrameSort&) = delete;

    // Copies the frame in; false (with the reason) when a run cannot be
    // written out.
    bool add(const CapturedFrame& frame, std::string& error);
    // Every frame is in: sorts what is held and starts the merge.
    bool finish(std::string& error);
    // The next frame in time order, its bytes valid until the next call;
    // false at the end or on a read error (then `error` is set).
    bool next(CapturedFrame& frame, std::string& error);

private:
    struct Index {
        int64_t micros;
        unsigned long number;
        size_t offset;  // of the frame's header in held_
    };
    struct Run;
    struct Head {
        int64_t micros;
        unsigned long number;
        size_t run;
        bool operator>(const Head& other) const;
    };

    void sortHeld();
    bool spill(std::string& error);
    bool advance(size_t run, std::string& error);

    size_t memoryBytes_;
    std::vector<uint8_t> held_;  // headers and bytes of the frames of this run
    std::vector<Index> index_;
    size_t nextHeld_ = 0;  // in memory only: the next index entry to give
    std::vector<std::unique_ptr<Run>> runs_;
    std::priority_queue<Head, std::vector<Head>, std::greater<Head>> heads_;
    static constexpr size_t kNone = SIZE_MAX;
    size_t pending_ = kNone;  // the run whose frame was handed out last
};

}  // namespace replay

#endif
