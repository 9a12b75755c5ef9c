#include "replayLoop.h"

#include "hostsimClock.h"

namespace replay {

ReplayCounts replayFrames(CaptureMerge& merge, FrameReplayer& replayer, bool useCaptureTime,
                          Diagnostics& diagnostics, Progress& progress)
{
    ReplayCounts counts;
    MergedFrame merged;
    while (merge.next(merged)) {
        const CapturedFrame& frame = merged.frame;
        CaptureFile& file = *merged.file;
        ++counts.frames;
        if (useCaptureTime)
            hostsimClockSet(static_cast<int32_t>(frame.time.tv_sec),
                            static_cast<int32_t>(frame.time.tv_usec));
        DecodeStatus status =
            replayer.replay(frame.bytes, frame.length, file.linkType(), file.port());
        if (status != DecodeStatus::Ok) {
            ++counts.skipped;
            diagnostics.frameError(file.path(), frame.number,
                                   std::string(decodeStatusText(status)) + " (" +
                                       std::to_string(frame.length) + " bytes)");
        }
        progress.frameDone(counts.frames, frame.number, file.path().c_str());
    }
    hostsimClockUseReal();
    progress.clear();
    return counts;
}

}  // namespace replay
