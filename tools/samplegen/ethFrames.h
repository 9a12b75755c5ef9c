// Ethernet frames, VLAN tags and FCoE encapsulation.
#ifndef TOOLS_SAMPLEGEN_ETHFRAMES_H
#define TOOLS_SAMPLEGEN_ETHFRAMES_H

#include <stdint.h>

#include <array>
#include <vector>

#include "captureWriter.h"

namespace samplegen {

using Mac = std::array<uint8_t, 6>;

struct VlanTag {
    uint16_t tpid;   // 0x8100, or 0x88a8 for an outer service tag
    uint16_t tci;    // priority << 13 | VLAN id
};

constexpr uint16_t kEtherTypeIpv4 = 0x0800;
constexpr uint16_t kEtherTypeArp = 0x0806;
constexpr uint16_t kEtherTypeFcoe = 0x8906;

// Destination, source, tags (outer first), EtherType, payload, padded to
// the 60-byte minimum (FCS not included, as captures show it).
Bytes ethernetFrame(const Mac& dst, const Mac& src, const std::vector<VlanTag>& tags,
                    uint16_t etherType, const Bytes& payload);

// The FCoE payload around an FC frame: version 0, SOFi3, frame, CRC, EOFt.
Bytes fcoePayload(const Bytes& fcFrame);

// ARP request/reply and an ICMP echo inside IPv4.
Bytes arpPayload(bool reply, const Mac& senderMac, uint32_t senderIp, const Mac& targetMac,
                 uint32_t targetIp);
Bytes icmpEchoPacket(bool reply, uint32_t sourceIp, uint32_t destinationIp, uint16_t sequence);

}  // namespace samplegen

#endif
