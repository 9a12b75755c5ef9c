// Linux cooked captures (tcpdump -i any): the link-layer header the kernel
// gives instead of the device's own, followed by the network-layer payload.
// The protocol field is the payload's EtherType; there is no destination
// address. The replay traces a cooked frame as the Ethernet frame it was
// (FCoE as the FC frame inside), built in a buffer the caller owns.
//
// SLL (link type 113), 16 bytes:          SLL2 (link type 276), 20 bytes:
//   packet type          2                  protocol             2
//   ARPHRD type          2                  reserved             2
//   address length       2                  interface index      4
//   address (padded)     8                  ARPHRD type          2
//   protocol             2                  packet type          1
//                                           address length       1
//                                           address (padded)     8
#ifndef TOOLS_REPLAYCORE_COOKEDFRAME_H
#define TOOLS_REPLAYCORE_COOKEDFRAME_H

#include <stddef.h>
#include <stdint.h>

namespace replay {

constexpr size_t kCookedHeaderBytes = 16;
constexpr size_t kCooked2HeaderBytes = 20;
constexpr size_t kEthernetHeaderBytes = 14;

struct CookedFrame {
    uint16_t protocol = 0;     // an EtherType from 0x0600 on; below, a Linux protocol number
    uint8_t packetType = 0;    // kPacketOutgoing: the capturing host sent it
    uint8_t addressBytes = 0;  // of the sender's link-layer address
    uint8_t address[8] = {};
    uint32_t interfaceIndex = 0;  // SLL2 only: the kernel's index of the interface
    const uint8_t* payload = nullptr;
    size_t payloadBytes = 0;
};

constexpr uint8_t kPacketBroadcast = 1;
constexpr uint8_t kPacketOutgoing = 4;
constexpr uint16_t kFirstEtherType = 0x0600;

// False when `length` bytes are too few for the header of `linkType`
// (kLinkCooked or kLinkCooked2).
bool parseCooked(const uint8_t* bytes, size_t length, int linkType, CookedFrame& cooked);

// The Ethernet frame the cooked frame carries: destination MAC (broadcast
// for a broadcast, otherwise zero: not captured), the sender's MAC (zero
// unless the address is one), the protocol as EtherType, the payload. At
// most `capacity` bytes are written; returns the frame's whole length.
size_t cookedToEthernet(const CookedFrame& cooked, uint8_t* out, size_t capacity);

}  // namespace replay

#endif
