#include "frames.h"

#include <pcap/pcap.h>
#include <zlib.h>

#include <stdexcept>

namespace samplegen {

namespace {
constexpr int kSnapLength = 65535;
}

CaptureWriter::CaptureWriter(const std::string& path, int linkType)
{
    pcap_ = pcap_open_dead(linkType, kSnapLength);
    if (!pcap_)
        throw std::runtime_error("pcap_open_dead failed for link type " + std::to_string(linkType));
    dumper_ = pcap_dump_open(pcap_, path.c_str());
    if (!dumper_) {
        std::string error = pcap_geterr(pcap_);
        pcap_close(pcap_);
        throw std::runtime_error(path + ": " + error);
    }
}

CaptureWriter::~CaptureWriter()
{
    pcap_dump_close(dumper_);
    pcap_close(pcap_);
}

void CaptureWriter::write(int64_t micros, const Bytes& frame)
{
    struct pcap_pkthdr header {};
    header.ts.tv_sec = static_cast<time_t>(micros / 1000000);
    header.ts.tv_usec = static_cast<suseconds_t>(micros % 1000000);
    header.caplen = static_cast<bpf_u_int32>(frame.size());
    header.len = header.caplen;
    pcap_dump(reinterpret_cast<u_char*>(dumper_), &header, frame.data());
}

namespace {

constexpr uint8_t kElsFlogi = 0x04;
constexpr uint8_t kElsLsAcc = 0x02;
constexpr uint8_t kElsLsRjt = 0x01;
constexpr uint8_t kElsPrli = 0x20;
constexpr uint8_t kElsScr = 0x62;
constexpr uint8_t kElsRscn = 0x61;

// Common service parameters of a login: FC-PH versions 0x20, buffer-to-
// buffer credit 3, continuously increasing offset, 2112-byte frames.
void putCommonServiceParameters(Bytes& out, bool fabric)
{
    put32(out, 0x20200003);
    put32(out, 0x88000840);
    put32(out, 0x00FF0002);
    put32(out, fabric ? 0x000007D0 : 0x000001F4);  // R_A_TOV / E_D_TOV
}

// Class 3 valid with sequential delivery; classes 1, 2 and 4 unused.
void putClassParameters(Bytes& out)
{
    for (int cls = 1; cls <= 4; ++cls) {
        put32(out, cls == 3 ? 0x88000000 : 0);
        put32(out, cls == 3 ? 0x00000840 : 0);
        put32(out, cls == 3 ? 0x00FF0000 : 0);
        put32(out, cls == 3 ? 0x00010000 : 0);
    }
}

}  // namespace

Bytes fcWireFrame(const FcHeader& header, const Bytes& payload)
{
    Bytes out;
    out.push_back(header.rCtl);
    put24(out, header.dId);
    out.push_back(0);  // CS_CTL
    put24(out, header.sId);
    out.push_back(header.type);
    put24(out, header.fCtl);
    out.push_back(header.seqId);
    out.push_back(0);  // DF_CTL
    put16(out, header.seqCnt);
    put16(out, header.oxId);
    put16(out, header.rxId);
    put32(out, header.parameter);
    append(out, payload);
    return out;
}

Bytes fcCrc(const Bytes& frame)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, frame.data(), static_cast<uInt>(frame.size()));
    Bytes out;
    for (int shift = 0; shift < 32; shift += 8)  // least significant byte first
        out.push_back(static_cast<uint8_t>(crc >> shift));
    return out;
}

Bytes delimitedFcFrame(const Bytes& frame)
{
    const uint32_t kSofI3 = 0xBCB55656;
    const uint32_t kEofT = 0xBC957575;
    Bytes out;
    out.reserve(frame.size() + 12);
    put32(out, kSofI3);
    append(out, frame);
    append(out, fcCrc(frame));
    put32(out, kEofT);
    return out;
}

Bytes loginPayload(uint8_t command, uint64_t portName, uint64_t nodeName)
{
    Bytes out;
    put32(out, uint32_t{command} << 24);
    putCommonServiceParameters(out, command == kElsFlogi);
    put64(out, portName);
    put64(out, nodeName);
    putClassParameters(out);
    out.resize(out.size() + 16, 0);  // vendor version level
    return out;
}

// One FCP service parameter page: an initiator asks to establish an image
// pair; a target accepts (response code 1) and offers the target function.
Bytes prliPayload(bool accept)
{
    Bytes out;
    put32(out, uint32_t{accept ? kElsLsAcc : kElsPrli} << 24 | 0x10 << 16 | 0x0014);
    put32(out, accept ? 0x08002100 : 0x08002000);
    put32(out, 0);
    put32(out, 0);
    put32(out, accept ? 0x00000012 : 0x00000022);
    return out;
}

Bytes scrPayload()
{
    Bytes out;
    put32(out, uint32_t{kElsScr} << 24);
    put32(out, 0x00000003);  // full registration
    return out;
}

Bytes rscnPayload(uint32_t affectedId)
{
    Bytes out;
    put32(out, uint32_t{kElsRscn} << 24 | 0x04 << 16 | 0x0008);
    put32(out, affectedId & 0xFFFFFF);  // port address format
    return out;
}

Bytes lsAccPayload()
{
    Bytes out;
    put32(out, uint32_t{kElsLsAcc} << 24);
    return out;
}

Bytes lsRjtPayload(uint8_t reason, uint8_t explanation)
{
    Bytes out;
    put32(out, uint32_t{kElsLsRjt} << 24);
    put32(out, uint32_t{reason} << 16 | uint32_t{explanation} << 8);
    return out;
}

Bytes fcpReadCommand(uint16_t lun, uint32_t lba, uint16_t blocks)
{
    Bytes out;
    put16(out, lun);
    out.resize(8, 0);        // rest of the LUN
    put32(out, 0x00000002);  // CRN, attributes, RDDATA
    out.push_back(0x28);     // READ(10)
    out.push_back(0);
    put32(out, lba);
    out.push_back(0);
    put16(out, blocks);
    out.push_back(0);
    out.resize(out.size() + 6, 0);       // rest of the 16-byte CDB
    put32(out, uint32_t{blocks} * 512);  // FCP_DL
    return out;
}

Bytes fcpData(size_t bytes, uint8_t seed)
{
    Bytes out(bytes);
    for (size_t i = 0; i < bytes; ++i)
        out[i] = static_cast<uint8_t>(seed + i * 7);
    return out;
}

Bytes fcpGoodResponse()
{
    return Bytes(24, 0);
}

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

Bytes fcoePayload(const Bytes& fc)
{
    Bytes out(13, 0);  // version 0 and reserved bits
    out.push_back(kFcoeSofI3);
    append(out, fc);
    append(out, fcCrc(fc));
    out.push_back(kFcoeEofT);
    out.resize(out.size() + 3, 0);
    return out;
}

Bytes arpPayload(bool reply, const Mac& senderMac, uint32_t senderIp, const Mac& targetMac,
                 uint32_t targetIp)
{
    Bytes out;
    put32(out, 0x00010800);  // Ethernet, IPv4
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
    put32(out, uint32_t{0x1c46u + sequence} << 16 | 0x4000);  // id, don't fragment
    put32(out, 0x40010000);                                   // TTL 64, ICMP, checksum below
    put32(out, sourceIp);
    put32(out, destinationIp);
    uint16_t ipChecksum = internetChecksum(out, 0, kIpHeader);
    out[10] = static_cast<uint8_t>(ipChecksum >> 8);
    out[11] = static_cast<uint8_t>(ipChecksum);
    put32(out, reply ? 0x00000000 : 0x08000000);
    put32(out, 0x00010000 | sequence);  // identifier 1
    for (size_t i = 0; i < kEchoData; ++i)
        out.push_back(static_cast<uint8_t>(0x61 + i % 23));
    uint16_t icmpChecksum = internetChecksum(out, kIpHeader, out.size());
    out[kIpHeader + 2] = static_cast<uint8_t>(icmpChecksum >> 8);
    out[kIpHeader + 3] = static_cast<uint8_t>(icmpChecksum);
    return out;
}

}  // namespace samplegen
