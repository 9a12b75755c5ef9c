// FCoE decapsulation: the FC frame inside the payload of an Ethernet frame of
// EtherType 0x8906.
//
//   version and reserved   13 bytes
//   SOF                     1 byte (an FCoE delimiter code)
//   FC frame               24-byte header and payload
//   CRC                     4 bytes
//   EOF                     1 byte
//   reserved                3 bytes
#ifndef TOOLS_REPLAYCORE_FCOE_H
#define TOOLS_REPLAYCORE_FCOE_H

#include <stddef.h>
#include <stdint.h>

#include "hostsim.h"

namespace replay {

constexpr uint16_t kEtherTypeFcoe = 0x8906;
constexpr size_t kFcoeHeaderBytes = 14;    // version, reserved and SOF
constexpr size_t kFcoeTrailerBytes = 8;    // CRC, EOF and reserved

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

}  // namespace replay

#endif
