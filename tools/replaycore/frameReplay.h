// One captured frame through the trace library: decode the bytes, decide
// whether the device sent or received the frame, and hand it to traceTx or
// traceRx. This is the whole per-frame path of the replay, and the entry
// point for fuzzing it (bytes + link type -> frames traced).
#ifndef TOOLS_REPLAYCORE_FRAMEREPLAY_H
#define TOOLS_REPLAYCORE_FRAMEREPLAY_H

#include <stddef.h>
#include <stdint.h>

#include <memory>

#include "frameDecode.h"
#include "localAddresses.h"
#include "traceApi.h"

namespace replay {

class FrameReplayer {
public:
    FrameReplayer(TraceApi& api, LocalAddresses local);

    // Traces the frame as seen on `port`; a frame that cannot be decoded is
    // not traced and its status is returned.
    DecodeStatus replay(const uint8_t* bytes, size_t length, int linkType, port_id_t port);

    unsigned long transmitted() const { return transmitted_; }
    unsigned long received() const { return received_; }

private:
    TraceApi& api_;
    LocalAddresses local_;
    std::unique_ptr<fcRawFrameStruct> raw_;   // about 20 KB, reused frame after frame
    unsigned long transmitted_ = 0;
    unsigned long received_ = 0;
};

}  // namespace replay

#endif
