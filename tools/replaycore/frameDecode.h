// Capture bytes to a frame record of the reference host: the link types the
// replay understands, FCoE decapsulation and the decoder. Ethernet frames,
// FCoE frames (decapsulated to the FC frame inside) and FC-2 frames, with or
// without delimiters. Any byte input is either decoded or rejected with a
// status; nothing here allocates.
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

constexpr int kLinkCooked = 113;        // Linux cooked capture (SLL)
constexpr int kLinkCooked2 = 276;       // Linux cooked capture v2 (SLL2): with the interface index
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

// The FC frame of an FCoE payload, without CRC and delimiters.
struct FcoeContent {
    const uint8_t* frame = nullptr;
    size_t frameBytes = 0;
    HostsimSof sof = HOSTSIM_SOF_UNKNOWN;
    HostsimEof eof = HOSTSIM_EOF_UNKNOWN;
    uint32_t crc = 0;
};

// False when the payload is too short for FCoE header, FC header and trailer.
bool unpackFcoe(const uint8_t* payload, size_t length, FcoeContent& content);

// The one-byte FCoE delimiter codes; unknown codes give *_UNKNOWN.
HostsimSof fcoeSof(uint8_t code);
HostsimEof fcoeEof(uint8_t code);
enum class DecodeStatus {
    Ok,
    UnsupportedLinkType,
    TooShort,  // fewer bytes than the headers (and trailers) need
    TooLong,   // larger than any frame the record can hold
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

// Decodes `length` bytes of link type `linkType` into `raw`, which records
// `port` as the frame's port. On any status but Ok, `raw` holds no frame.
DecodeStatus decodeFrame(const uint8_t* bytes, size_t length, int linkType, port_id_t port,
                         fcRawFrameStruct& raw, DecodedFrame& frame);
}  // namespace replay

#endif
