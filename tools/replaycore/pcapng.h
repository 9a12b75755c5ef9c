// A pcapng reader that keeps what libpcap drops: the interface each packet
// came in on. It reads Section Header, Interface Description, Enhanced
// Packet, Simple Packet and the older Packet blocks, in either byte order
// and over any number of sections, and skips every other block. Interfaces
// are numbered across the whole file in the order they are described, so
// the second interface of the second section follows the first section's.
//
// The reader holds one block at a time: a packet's bytes are valid until
// the next call. The caller owns the stream. Nothing here needs libpcap.
#ifndef TOOLS_REPLAYCORE_PCAPNG_H
#define TOOLS_REPLAYCORE_PCAPNG_H

#include <stddef.h>
#include <stdint.h>

#include <cstdio>
#include <string>
#include <vector>

namespace replay {

constexpr uint32_t kPcapngMagic = 0x0A0D0D0A;  // Section Header block type, in either order

struct PcapngInterface {
    size_t section = 0;  // 1 for the file's first section
    std::string name;    // as the capture tool gave it; empty when none
    int linkType = 0;
    uint32_t snapLength = 0;            // 0: frames are never cut
    uint64_t unitsPerSecond = 1000000;  // timestamp resolution
    int64_t offsetSeconds = 0;          // added to every timestamp
};

struct PcapngPacket {
    const uint8_t* bytes = nullptr;
    uint32_t capturedBytes = 0;
    uint32_t wireBytes = 0;  // on the wire; more than captured when cut
    size_t interface = 0;    // index over the whole file
    int64_t micros = 0;      // capture time, microseconds since the epoch
};

// The number of Interface Description blocks in the whole stream, read from
// the block headers alone (bodies are skipped with fseek); 0 when the stream
// is not pcapng or is corrupt before its end.
size_t countPcapngInterfaces(std::FILE* stream);

class PcapngReader {
public:
    explicit PcapngReader(std::FILE* stream) : stream_(stream) {}

    enum class Read { Packet, End, Error };
    // The next packet; on Error, `error` says what is wrong with the block.
    Read next(PcapngPacket& packet, std::string& error);

    // Reads blocks up to the first packet (which the next call returns), so
    // that the interfaces described before it are known.
    Read peek(std::string& error);

    const std::vector<PcapngInterface>& interfaces() const { return interfaces_; }

private:
    enum class Block { Ok, End, Error };
    Block readBlock(std::string& error);
    bool readSectionHeader(std::string& error);
    bool readInterface(std::string& error);
    bool readPacket(uint32_t type, PcapngPacket& packet, std::string& error);
    bool interfaceOfSection(uint32_t local, PcapngPacket& packet, std::string& error) const;
    uint32_t u32(size_t at) const;
    uint16_t u16(size_t at) const;

    std::FILE* stream_;
    bool bigEndian_ = false;
    bool inSection_ = false;
    uint32_t type_ = 0;
    std::vector<uint8_t> body_;  // the current block between its length fields
    std::vector<PcapngInterface> interfaces_;
    size_t sectionFirst_ = 0;  // index of this section's interface 0
    size_t sections_ = 0;
    int64_t lastMicros_ = 0;  // Simple Packet blocks carry no time
    bool peeked_ = false;
    PcapngPacket peekedPacket_;
};

}  // namespace replay

#endif
