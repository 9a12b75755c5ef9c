// Frames on the wire as byte vectors: the big-endian appends every builder
// writes its fields with, Fibre Channel frames (the 24-byte header, ELS and
// FCP payloads, the delimited form with SOF, CRC and EOF), Ethernet frames
// with VLAN tags and FCoE encapsulation, and the pcap writer (libpcap's own)
// they are saved with.
#ifndef TOOLS_SAMPLEGEN_FRAMES_H
#define TOOLS_SAMPLEGEN_FRAMES_H

#include <stdint.h>

#include <array>
#include <string>
#include <vector>

typedef struct pcap pcap_t;
typedef struct pcap_dumper pcap_dumper_t;

namespace samplegen {

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

inline void put24(Bytes& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 16));
    put16(out, value);
}

inline void put32(Bytes& out, uint32_t value)
{
    put16(out, value >> 16);
    put16(out, value);
}

inline void put64(Bytes& out, uint64_t value)
{
    put32(out, static_cast<uint32_t>(value >> 32));
    put32(out, static_cast<uint32_t>(value));
}

inline void append(Bytes& out, const Bytes& more)
{
    out.insert(out.end(), more.begin(), more.end());
}

class CaptureWriter {
public:
    // Throws std::runtime_error when the file cannot be created.
    CaptureWriter(const std::string& path, int linkType);
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    // `micros` is the capture time in microseconds since the epoch.
    void write(int64_t micros, const Bytes& frame);

private:
    pcap_t* pcap_ = nullptr;
    pcap_dumper_t* dumper_ = nullptr;
};

struct FcHeader {
    uint8_t rCtl = 0;
    uint32_t dId = 0;
    uint32_t sId = 0;
    uint8_t type = 0;
    uint32_t fCtl = 0;
    uint8_t seqId = 0;
    uint16_t seqCnt = 0;
    uint16_t oxId = 0;
    uint16_t rxId = 0xFFFF;
    uint32_t parameter = 0;
};

// R_CTL values and TYPEs used by the samples.
constexpr uint8_t kRctlElsRequest = 0x22;
constexpr uint8_t kRctlElsReply = 0x23;
constexpr uint8_t kRctlFcpData = 0x01;
constexpr uint8_t kRctlFcpCommand = 0x06;
constexpr uint8_t kRctlFcpResponse = 0x07;
constexpr uint8_t kTypeEls = 0x01;
constexpr uint8_t kTypeFcp = 0x08;
// F_CTL of a one-frame sequence from the originator (first sequence, end of
// sequence, initiative passed) and from the responder (last sequence).
constexpr uint32_t kFctlRequest = 0x290000;
constexpr uint32_t kFctlReply = 0x990000;
constexpr uint32_t kFctlData = 0x880008;

// Header followed by payload: the frame as link type FC_2 carries it.
Bytes fcWireFrame(const FcHeader& header, const Bytes& payload);
// SOFi3, frame, CRC, EOFt: the frame as FC_2_WITH_FRAME_DELIMS carries it.
Bytes delimitedFcFrame(const Bytes& frame);
// The frame's CRC-32 (the Ethernet polynomial) in the byte order it is sent.
Bytes fcCrc(const Bytes& frame);

// ELS payloads.
Bytes loginPayload(uint8_t command, uint64_t portName, uint64_t nodeName);
Bytes prliPayload(bool accept);
Bytes scrPayload();
Bytes rscnPayload(uint32_t affectedId);
Bytes lsAccPayload();
Bytes lsRjtPayload(uint8_t reason, uint8_t explanation);

// FCP payloads: READ(10) of `blocks` 512-byte blocks, its data, good status.
Bytes fcpReadCommand(uint16_t lun, uint32_t lba, uint16_t blocks);
Bytes fcpData(size_t bytes, uint8_t seed);
Bytes fcpGoodResponse();

using Mac = std::array<uint8_t, 6>;

struct VlanTag {
    uint16_t tpid;  // 0x8100, or 0x88a8 for an outer service tag
    uint16_t tci;   // priority << 13 | VLAN id
};

constexpr uint16_t kEtherTypeIpv4 = 0x0800;
constexpr uint16_t kEtherTypeArp = 0x0806;
constexpr uint16_t kEtherTypeFcoe = 0x8906;

// Destination, source, tags (outer first), EtherType, payload, padded to
// the 60-byte minimum (FCS not included, as captures show it).
Bytes ethernetFrame(const Mac& dst, const Mac& src, const std::vector<VlanTag>& tags,
                    uint16_t etherType, const Bytes& payload);

// The FCoE payload around an FC frame: version 0, SOFi3, frame, CRC, EOFt.
Bytes fcoePayload(const Bytes& fc);

// ARP request/reply and an ICMP echo inside IPv4.
Bytes arpPayload(bool reply, const Mac& senderMac, uint32_t senderIp, const Mac& targetMac,
                 uint32_t targetIp);
Bytes icmpEchoPacket(bool reply, uint32_t sourceIp, uint32_t destinationIp, uint16_t sequence);

}  // namespace samplegen

#endif
