#include "ethFrames.h"

#include "fcFrames.h"

namespace samplegen {

namespace {

constexpr size_t kMinimumFrame = 60;
constexpr uint8_t kFcoeSofI3 = 0x2E;
constexpr uint8_t kFcoeEofT = 0x42;

// The one's complement sum of the IPv4 and ICMP headers.
uint16_t internetChecksum(const Bytes& data, size_t from, size_t to)
{
    uint32_t sum = 0;
    for (size_t i = from; i < to; i += 2)
        sum += uint32_t{data[i]} << 8 | (i + 1 < to ? data[i + 1] : 0);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

}  // namespace

Bytes ethernetFrame(const Mac& dst, const Mac& src, const std::vector<VlanTag>& tags,
                    uint16_t etherType, const Bytes& payload)
{
    Bytes out(dst.begin(), dst.end());
    out.insert(out.end(), src.begin(), src.end());
    for (const VlanTag& tag : tags) {
        put16(out, tag.tpid);
        put16(out, tag.tci);
    }
    put16(out, etherType);
    append(out, payload);
    if (out.size() < kMinimumFrame)
        out.resize(kMinimumFrame, 0);
    return out;
}

Bytes fcoePayload(const Bytes& fcFrame)
{
    Bytes out(13, 0);                 // version 0 and reserved bits
    out.push_back(kFcoeSofI3);
    append(out, fcFrame);
    append(out, fcCrc(fcFrame));
    out.push_back(kFcoeEofT);
    out.resize(out.size() + 3, 0);
    return out;
}

Bytes arpPayload(bool reply, const Mac& senderMac, uint32_t senderIp, const Mac& targetMac,
                 uint32_t targetIp)
{
    Bytes out;
    put32(out, 0x00010800);           // Ethernet, IPv4
    put32(out, 0x06040000 | (reply ? 2 : 1));
    out.insert(out.end(), senderMac.begin(), senderMac.end());
    put32(out, senderIp);
    out.insert(out.end(), targetMac.begin(), targetMac.end());
    put32(out, targetIp);
    return out;
}

Bytes icmpEchoPacket(bool reply, uint32_t sourceIp, uint32_t destinationIp, uint16_t sequence)
{
    constexpr size_t kIpHeader = 20;
    constexpr size_t kEchoData = 32;
    Bytes out;
    put32(out, 0x45000000 | (kIpHeader + 8 + kEchoData));
    put32(out, uint32_t{0x1c46u + sequence} << 16 | 0x4000);   // id, don't fragment
    put32(out, 0x40010000);           // TTL 64, ICMP, checksum below
    put32(out, sourceIp);
    put32(out, destinationIp);
    uint16_t ipChecksum = internetChecksum(out, 0, kIpHeader);
    out[10] = static_cast<uint8_t>(ipChecksum >> 8);
    out[11] = static_cast<uint8_t>(ipChecksum);
    put32(out, reply ? 0x00000000 : 0x08000000);
    put32(out, 0x00010000 | sequence);   // identifier 1
    for (size_t i = 0; i < kEchoData; ++i)
        out.push_back(static_cast<uint8_t>(0x61 + i % 23));
    uint16_t icmpChecksum = internetChecksum(out, kIpHeader, out.size());
    out[kIpHeader + 2] = static_cast<uint8_t>(icmpChecksum >> 8);
    out[kIpHeader + 3] = static_cast<uint8_t>(icmpChecksum);
    return out;
}

}  // namespace samplegen
