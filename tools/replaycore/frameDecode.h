// Capture bytes to a frame record of the reference host: the link types the
// replay understands, FCoE decapsulation and the decoder. Ethernet frames,
// FCoE frames (decapsulated to the FC frame inside) and FC-2 frames, with or
// without delimiters. Any byte input is either decoded or rejected with a
// status; nothing here allocates.
//
// Frames cut by the snap length: the decoder knows the length on the wire,
// so it knows where the frame's trailer (CRC, EOF) lay. Trailer bytes that
// were not captured are not taken for frame bytes: the frame holds what was
// captured of it, and the payload words beyond are missing (the payload
// step marks them so), never read as zeros or as the trailer. Frames longer
// than the record holds are traced from the bytes it holds: the trace reads
// only the first words.
//
// FCoE: the FC frame inside the payload of an Ethernet frame of EtherType
// 0x8906:
//   version and reserved   13 bytes
//   SOF                     1 byte (an FCoE delimiter code)
//   FC frame               24-byte header and payload
//   CRC                     4 bytes
//   EOF                     1 byte
//   reserved                3 bytes
#ifndef TOOLS_REPLAYCORE_FRAMEDECODE_H
#define TOOLS_REPLAYCORE_FRAMEDECODE_H

#include <stddef.h>
#include <stdint.h>

#include "hostsim.h"

namespace replay {
constexpr int kLinkEthernet = 1;        // Ethernet II, may carry FCoE
constexpr int kLinkFc2 = 224;           // FC-2 frame: header and payload
constexpr int kLinkFc2Delimited = 225;  // SOF, header, payload, CRC, EOF

constexpr int kLinkCooked = 113;   // Linux cooked capture (SLL)
constexpr int kLinkCooked2 = 276;  // Linux cooked capture v2 (SLL2): with the interface index
constexpr int kSupportedLinkTypes[] = {kLinkEthernet, kLinkFc2, kLinkFc2Delimited, kLinkCooked,
                                       kLinkCooked2};

inline bool isSupportedLinkType(int linkType)
{
    for (int supported : kSupportedLinkTypes)
        if (linkType == supported)
            return true;
    return false;
}
constexpr uint16_t kEtherTypeFcoe = 0x8906;
constexpr size_t kFcoeHeaderBytes = 14;  // version, reserved and SOF
constexpr size_t kFcoeTrailerBytes = 8;  // CRC, EOF and reserved

// Where an FC frame lies in bytes that may have been cut short: `lead` bytes
// (SOF, FCoE header) before it and `trail` bytes (CRC, EOF) after it on the
// wire.
struct FcSpan {
    const uint8_t* frame = nullptr;    // its 24-byte header on
    size_t frameBytes = 0;             // captured, at most what the record holds
    const uint8_t* trailer = nullptr;  // CRC, then EOF; null unless captured whole
};

// False when the FC header itself was not captured (or is not there).
bool findFcFrame(const uint8_t* bytes, size_t length, size_t wireLength, size_t lead, size_t trail,
                 FcSpan& span);

// The one-byte FCoE delimiter codes; unknown codes give *_UNKNOWN.
HostsimSof fcoeSof(uint8_t code);
HostsimEof fcoeEof(uint8_t code);
enum class DecodeStatus {
    Ok,
    UnsupportedLinkType,
    TooShort,     // fewer bytes than the headers (and trailers) need
    TooLong,      // larger than any frame the record can hold
    NotEthernet,  // a cooked frame of a protocol that has no EtherType
};

const char* decodeStatusText(DecodeStatus status);

enum class FrameKind { Ethernet, Fc };

// What the replay needs to know about a decoded frame besides the record.
struct DecodedFrame {
    FrameKind kind = FrameKind::Ethernet;
    bool hasSourceMac = false;  // Ethernet and FCoE frames
    uint8_t sourceMac[6] = {};
    uint32_t sourceId = 0;  // FC frames: S_ID
};

// Decodes the `length` bytes captured of a frame of `wireLength` bytes (no
// more than `length` when it was not cut) of link type `linkType` into
// `raw`, which records `port` as the frame's port. On any status but Ok,
// `raw` holds no frame.
DecodeStatus decodeFrame(const uint8_t* bytes, size_t length, size_t wireLength, int linkType,
                         port_id_t port, fcRawFrameStruct& raw, DecodedFrame& frame);
}  // namespace replay

#endif
