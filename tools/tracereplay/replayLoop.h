// The replay proper: every merged frame, with the clock set to its capture
// time, through the frame replayer.
#ifndef TOOLS_TRACEREPLAY_REPLAYLOOP_H
#define TOOLS_TRACEREPLAY_REPLAYLOOP_H

#include "captureMerge.h"
#include "diagnostics.h"
#include "frameReplay.h"
#include "progress.h"

namespace replay {

struct ReplayCounts {
    unsigned long frames = 0;    // frames read from the files
    unsigned long skipped = 0;   // frames that could not be decoded
};

// useCaptureTime: the library reads each frame's capture time as the time
// of day; otherwise it reads the real time.
ReplayCounts replayFrames(CaptureMerge& merge, FrameReplayer& replayer, bool useCaptureTime,
                          Diagnostics& diagnostics, Progress& progress);

}  // namespace replay

#endif
