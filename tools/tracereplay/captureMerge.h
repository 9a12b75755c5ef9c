// Several capture files played as one: frames come in timestamp order
// across the files (a merge; equal times go to the file given first), each
// file's own frames in file order.
#ifndef TOOLS_TRACEREPLAY_CAPTUREMERGE_H
#define TOOLS_TRACEREPLAY_CAPTUREMERGE_H

#include <memory>
#include <vector>

#include "captureFile.h"
#include "diagnostics.h"

namespace replay {

struct MergedFrame {
    CapturedFrame frame;
    CaptureFile* file = nullptr;
};

class CaptureMerge {
public:
    // Files that failed to open are reported and left out.
    CaptureMerge(std::vector<std::unique_ptr<CaptureFile>> files, Diagnostics& diagnostics);

    // The next frame, or false when every file is done. A read error ends
    // that file's part of the merge (reported); the others go on.
    bool next(MergedFrame& merged);

    size_t openFiles() const { return sources_.size(); }

private:
    struct Source {
        std::unique_ptr<CaptureFile> file;
        CapturedFrame pending;
        bool hasPending = false;
        bool done = false;
    };

    void refill(Source& source);

    std::vector<Source> sources_;
    Diagnostics& diagnostics_;
    Source* handedOut_ = nullptr;   // its frame's bytes are in use until the next call
};

}  // namespace replay

#endif
