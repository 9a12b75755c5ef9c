#include "pcapng.h"

#include <algorithm>

#include "byteOrder.h"

namespace replay {

namespace {

constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint32_t kInterfaceBlock = 1;
constexpr uint32_t kPacketBlock = 2;  // the older form of the Enhanced Packet block
constexpr uint32_t kSimplePacketBlock = 3;
constexpr uint32_t kEnhancedPacketBlock = 6;
constexpr uint32_t kMaxBlockBytes = 16u << 20;  // larger blocks are taken for corruption
constexpr uint16_t kOptionEnd = 0;
constexpr uint16_t kOptionName = 2;
constexpr uint16_t kOptionTsResol = 9;
constexpr uint16_t kOptionTsOffset = 14;
constexpr size_t kInterfaceFixedBytes = 8;  // link type, reserved, snap length
constexpr int64_t kMaxSeconds = int64_t{1} << 40;

uint32_t loadU32(const uint8_t* p, bool bigEndian)
{
    return bigEndian ? readBigEndian32(p)
                     : uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

size_t padded(size_t n)
{
    return (n + 3) & ~size_t{3};
}

// if_tsresol: 10^-v seconds, or 2^-v with the high bit set.
bool unitsFromResolution(uint8_t code, uint64_t& units)
{
    const unsigned exponent = code & 0x7F;
    const bool powerOfTwo = code & 0x80;
    if (exponent > (powerOfTwo ? 63u : 19u))
        return false;
    units = 1;
    for (unsigned i = 0; i < exponent; ++i)
        units = powerOfTwo ? units * 2 : units * 10;
    return true;
}

// Whole units of `unitsPerSecond` to microseconds since the epoch, without
// overflowing for fine resolutions.
int64_t toMicros(uint64_t stamp, const PcapngInterface& interface)
{
    const uint64_t units = interface.unitsPerSecond;
    const uint64_t fraction = stamp % units;
    uint64_t micros;
    if (units >= 1000000 && units % 1000000 == 0)
        micros = fraction / (units / 1000000);
    else if (units <= 1000000 && 1000000 % units == 0)
        micros = fraction * (1000000 / units);
    else  // powers of two: scale down first so that the product fits
        micros = static_cast<uint64_t>(static_cast<long double>(fraction) * 1000000 / units);
    // Times beyond some 35,000 years either way are corrupt: clamped, so
    // that the sum and the product below stay in range.
    const int64_t whole = static_cast<int64_t>(std::min<uint64_t>(stamp / units, kMaxSeconds));
    const int64_t offset = std::max(-kMaxSeconds, std::min(interface.offsetSeconds, kMaxSeconds));
    return (whole + offset) * 1000000 + static_cast<int64_t>(micros);
}

// An interface name as it may be shown: the bytes up to any NUL, with
// control characters made '?'.
std::string printableName(const uint8_t* bytes, size_t length)
{
    std::string name;
    for (size_t i = 0; i < length && bytes[i] != 0; ++i)
        name += bytes[i] < 0x20 || bytes[i] == 0x7F ? '?' : static_cast<char>(bytes[i]);
    return name;
}

}  // namespace

size_t countPcapngInterfaces(std::FILE* stream)
{
    size_t count = 0;
    bool bigEndian = false;
    uint8_t head[12];
    for (;;) {
        const size_t got = std::fread(head, 1, sizeof head, stream);
        if (got == 0)
            return count;
        if (got != sizeof head)
            return 0;
        if (loadU32(head, false) == kPcapngMagic)
            bigEndian = loadU32(head + 8, true) == kByteOrderMagic;
        const uint32_t length = loadU32(head + 4, bigEndian);
        if (length % 4 != 0 || length < sizeof head || length > kMaxBlockBytes ||
            std::fseek(stream, long{length} - long{sizeof head}, SEEK_CUR) != 0)
            return 0;
        count += loadU32(head, bigEndian) == kInterfaceBlock;
    }
}

uint32_t PcapngReader::u32(size_t at) const
{
    return loadU32(body_.data() + at, bigEndian_);
}

uint16_t PcapngReader::u16(size_t at) const
{
    const uint8_t* p = body_.data() + at;
    return bigEndian_ ? static_cast<uint16_t>(p[0] << 8 | p[1])
                      : static_cast<uint16_t>(p[1] << 8 | p[0]);
}

// One block into body_: type, length, body, length again. A Section Header
// sets the byte order its own length is read in.
PcapngReader::Block PcapngReader::readBlock(std::string& error)
{
    uint8_t head[12];
    const size_t got = std::fread(head, 1, 8, stream_);
    if (got == 0)
        return Block::End;
    if (got < 8) {
        error = "truncated block";
        return Block::Error;
    }
    size_t headBytes = 8;
    if (loadU32(head, false) == kPcapngMagic) {
        if (std::fread(head + 8, 1, 4, stream_) != 4) {
            error = "truncated section header";
            return Block::Error;
        }
        headBytes = 12;
        const uint32_t order = loadU32(head + 8, true);
        if (order != kByteOrderMagic && order != 0x4D3C2B1A) {
            error = "bad byte-order magic in a section header";
            return Block::Error;
        }
        bigEndian_ = order == kByteOrderMagic;
    } else if (!inSection_) {
        error = "not a pcapng file";
        return Block::Error;
    }
    type_ = loadU32(head, bigEndian_);
    const uint32_t length = loadU32(head + 4, bigEndian_);
    if (length % 4 != 0 || length < headBytes + 4 || length > kMaxBlockBytes) {
        error = "bad block length " + std::to_string(length);
        return Block::Error;
    }
    body_.assign(head + 8, head + headBytes);
    body_.resize(length - 8);  // the rest of the body and the trailing length
    const size_t rest = body_.size() - (headBytes - 8);
    if (std::fread(body_.data() + (headBytes - 8), 1, rest, stream_) != rest) {
        error = "truncated block";
        return Block::Error;
    }
    body_.resize(body_.size() - 4);
    return Block::Ok;
}

bool PcapngReader::readSectionHeader(std::string& error)
{
    if (body_.size() < 12) {  // byte order, version, section length
        error = "section header too short";
        return false;
    }
    if (u16(4) != 1) {
        error = "unsupported pcapng major version " + std::to_string(u16(4));
        return false;
    }
    inSection_ = true;
    sectionFirst_ = interfaces_.size();
    ++sections_;
    return true;
}

bool PcapngReader::readInterface(std::string& error)
{
    if (body_.size() < kInterfaceFixedBytes) {
        error = "interface description too short";
        return false;
    }
    PcapngInterface interface;
    interface.section = sections_;
    interface.linkType = u16(0);
    interface.snapLength = u32(4);
    for (size_t at = kInterfaceFixedBytes; at + 4 <= body_.size();) {
        const uint16_t code = u16(at);
        const uint16_t length = u16(at + 2);
        at += 4;
        if (code == kOptionEnd || at + length > body_.size())
            break;
        if (code == kOptionTsResol && length == 1 &&
            !unitsFromResolution(body_[at], interface.unitsPerSecond)) {
            error = "unsupported timestamp resolution";
            return false;
        }
        if (code == kOptionName)
            interface.name = printableName(&body_[at], length);
        if (code == kOptionTsOffset && length == 8) {
            const uint64_t high = bigEndian_ ? u32(at) : u32(at + 4);
            const uint64_t low = bigEndian_ ? u32(at + 4) : u32(at);
            interface.offsetSeconds = static_cast<int64_t>(high << 32 | low);
        }
        at += padded(length);
    }
    interfaces_.push_back(interface);
    return true;
}

bool PcapngReader::interfaceOfSection(uint32_t local, PcapngPacket& packet,
                                      std::string& error) const
{
    if (local >= interfaces_.size() - sectionFirst_ || interfaces_.size() == sectionFirst_) {
        error =
            "packet on interface " + std::to_string(local) + ", which no interface block describes";
        return false;
    }
    packet.interface = sectionFirst_ + local;
    return true;
}

bool PcapngReader::readPacket(uint32_t type, PcapngPacket& packet, std::string& error)
{
    if (type == kSimplePacketBlock) {
        if (body_.size() < 4 || !interfaceOfSection(0, packet, error)) {
            error = error.empty() ? "simple packet block too short" : error;
            return false;
        }
        const uint32_t snap = interfaces_[packet.interface].snapLength;
        packet.wireBytes = u32(0);
        size_t captured = body_.size() - 4;
        if (packet.wireBytes < captured)
            captured = packet.wireBytes;
        if (snap != 0 && snap < captured)
            captured = snap;
        packet.capturedBytes = static_cast<uint32_t>(captured);
        packet.bytes = body_.data() + 4;
        packet.micros = lastMicros_;
        return true;
    }
    constexpr size_t kFixed = 20;  // interface, time high and low, captured, on the wire
    if (body_.size() < kFixed) {
        error = "packet block too short";
        return false;
    }
    const uint32_t local = type == kPacketBlock ? u16(0) : u32(0);
    if (!interfaceOfSection(local, packet, error))
        return false;
    packet.capturedBytes = u32(12);
    packet.wireBytes = u32(16);
    if (packet.capturedBytes > body_.size() - kFixed) {
        error = "packet of " + std::to_string(packet.capturedBytes) + " bytes overruns its block";
        return false;
    }
    packet.bytes = body_.data() + kFixed;
    const uint64_t stamp = uint64_t{u32(4)} << 32 | u32(8);
    packet.micros = toMicros(stamp, interfaces_[packet.interface]);
    lastMicros_ = packet.micros;
    return true;
}

PcapngReader::Read PcapngReader::peek(std::string& error)
{
    if (!peeked_) {
        Read read = next(peekedPacket_, error);
        if (read != Read::Packet)
            return read;
        peeked_ = true;
    }
    return Read::Packet;
}

PcapngReader::Read PcapngReader::next(PcapngPacket& packet, std::string& error)
{
    if (peeked_) {
        peeked_ = false;
        packet = peekedPacket_;
        return Read::Packet;
    }
    for (;;) {
        error.clear();
        switch (readBlock(error)) {
            case Block::End:
                return Read::End;
            case Block::Error:
                return Read::Error;
            case Block::Ok:
                break;
        }
        bool ok = true;
        if (type_ == kPcapngMagic)
            ok = readSectionHeader(error);
        else if (type_ == kInterfaceBlock)
            ok = readInterface(error);
        else if (type_ == kEnhancedPacketBlock || type_ == kPacketBlock ||
                 type_ == kSimplePacketBlock)
            return readPacket(type_, packet, error) ? Read::Packet : Read::Error;
        if (!ok)
            return Read::Error;
    }
}

}  // namespace replay
