// Capture bytes to a frame record of the reference host: Ethernet frames,
// FCoE frames (decapsulated to the FC frame inside) and FC-2 frames, with or
// without delimiters. Any byte input is either decoded or rejected with a
// status; nothing here allocates.
#ifndef TOOLS_REPLAYCORE_FRAMEDECODE_H
#define TOOLS_REPLAYCORE_FRAMEDECODE_H

#include <stddef.h>
#include <stdint.h>

#include "hostsim.h"

namespace replay {

enum class DecodeStatus {
    Ok,
    UnsupportedLinkType,
    TooShort,          // fewer bytes than the headers (and trailers) need
    TooLong,           // larger than any frame the record can hold
};

const char* decodeStatusText(DecodeStatus status);

enum class FrameKind { Ethernet, Fc };

// What the replay needs to know about a decoded frame besides the record.
struct DecodedFrame {
    FrameKind kind = FrameKind::Ethernet;
    bool fcoe = false;             // an FC frame that came inside Ethernet
    bool hasSourceMac = false;     // Ethernet and FCoE frames
    uint8_t sourceMac[6] = {};
    uint32_t sourceId = 0;         // FC frames: S_ID
};

// Decodes `length` bytes of link type `linkType` into `raw`, which records
// `port` as the frame's port. On any status but Ok, `raw` holds no frame.
DecodeStatus decodeFrame(const uint8_t* bytes, size_t length, int linkType, port_id_t port,
                         fcRawFrameStruct& raw, DecodedFrame& frame);

}  // namespace replay

#endif
