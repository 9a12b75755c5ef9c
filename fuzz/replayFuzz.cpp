// The replay tool's per-frame path: each record (at most 64) of a capture
// file is decoded, traced through every preset and mirrored to the system
// log, then the traces are saved and dumped. A pcapng file (its magic first)
// goes through the tool's pcapng reader, each packet on its interface's link
// type and port. Any other magic reads as a classic file, little-endian when
// unknown; bytes 8-10 / 8-13 give a local FC id / MAC, snaplen % 8 the log2
// of the ring size; a record's time is the clock's, its index the port.
#include <string.h>

#include "frameReplay.h"
#include "fuzzCheck.h"
#include "hostsimClock.h"
#include "pcapng.h"
#include "traceApi.h"

static uint32_t word(const uint8_t* p, bool bigEndian)
{
    uint32_t v = 0;
    for (int i = 0; i < 4; i++)
        v |= static_cast<uint32_t>(p[i]) << (bigEndian ? 24 - 8 * i : 8 * i);
    return v;
}

static constexpr int kMaxRecords = 64;

// Every packet of a pcapng input through the replayer; the reader must
// either give a packet inside its block or stop.
static unsigned long replayPcapng(const uint8_t* data, size_t size, replay::FrameReplayer& replayer)
{
    FILE* scan = fmemopen(const_cast<uint8_t*>(data), size, "r");
    FUZZ_CHECK(scan != nullptr);
    FUZZ_CHECK(replay::countPcapngInterfaces(scan) <= size / 12);  // a block is 12 bytes or more
    fclose(scan);
    FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "r");
    FUZZ_CHECK(stream != nullptr);
    replay::PcapngReader reader(stream);
    replay::PcapngPacket packet;
    std::string error;
    unsigned long decoded = 0;
    for (int index = 0; index < kMaxRecords; index++) {
        replay::PcapngReader::Read read = reader.next(packet, error);
        FUZZ_CHECK(read != replay::PcapngReader::Read::Error || !error.empty());
        if (read != replay::PcapngReader::Read::Packet)
            break;
        FUZZ_CHECK(packet.interface < reader.interfaces().size());
        FUZZ_CHECK(packet.capturedBytes <= size);
        const int linkType = reader.interfaces()[packet.interface].linkType;
        hostsimClockSet(static_cast<int32_t>(packet.micros / 1000000),
                        static_cast<int32_t>(packet.micros % 1000000));
        replay::DecodeStatus status =
            replayer.replay(packet.bytes, packet.capturedBytes, packet.wireBytes, linkType,
                            hostsimPort(static_cast<uint16_t>(packet.interface)));
        decoded += status == replay::DecodeStatus::Ok;
    }
    fclose(stream);
    return decoded;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 24)
        return 0;
    const uint32_t magic = word(data, false);
    const bool bigEndian = magic == 0xD4C3B2A1 || magic == 0x4D3CB2A1;
    const int linkType = static_cast<int>(word(data + 20, bigEndian));
    replay::LocalAddresses local;
    local.addFcId(word(data + 8, true) >> 8);
    replay::MacAddress mac;
    memcpy(mac.data(), data + 8, mac.size());
    local.addMac(mac);

    static TraceApi& traceApi = *[] {  // one for the run: its steps hold registry ids for good
        TraceApi* api = new TraceApi();
        api->captureEthFrame();
        api->captureFcFrame();
        api->captureELS();
        api->syslogTrace(true, nullptr);
        return api;
    }();
    char name[] = "fuzz";
    FUZZ_CHECK(traceApi.initTraceBuffer(1, name, 1 << (word(data + 16, bigEndian) % 8), true));
    replay::FrameReplayer replayer(traceApi, local);
    unsigned long decoded = 0;
    size_t pos = word(data, true) == replay::kPcapngMagic ? size : 24;
    if (pos == size)
        decoded = replayPcapng(data, size, replayer);
    for (int index = 0; index < kMaxRecords && size - pos >= 16; index++) {
        const uint8_t* header = data + pos;
        pos += 16;
        size_t length = word(header + 8, bigEndian);
        length = length < size - pos ? length : size - pos;
        const size_t wire = word(header + 12, bigEndian);  // may be anything
        hostsimClockSet(static_cast<int32_t>(word(header, bigEndian)),
                        static_cast<int32_t>(word(header + 4, bigEndian)));
        replay::DecodeStatus status =
            replayer.replay(length ? data + pos : nullptr, length, wire, linkType, hostsimPort(index));
        FUZZ_CHECK(replay::decodeStatusText(status) != nullptr);
        decoded += status == replay::DecodeStatus::Ok;
        FUZZ_CHECK(replay::isSupportedLinkType(linkType) ||
                   status == replay::DecodeStatus::UnsupportedLinkType);
        pos += length;
    }
    FUZZ_CHECK(replayer.transmitted() + replayer.received() == decoded);
    traceApi.saveTrace(fuzzScratchPath());
    traceApi.debugDump(fuzzScratchPath());
    hostsimClockUseReal();
    return 0;
}
