// The replay tool's per-frame path on arbitrary capture bytes: each input is
// read as a capture file, every record in it is decoded and traced through
// the presets, and the traces are saved and dumped to a scratch file.
//
// Input: a classic capture file, so that sample captures are seeds as they
// are.
//   bytes 0-23   file header; the magic number gives the byte order (an
//                unknown one reads as little-endian); bytes 20-23 the link
//                type; bytes 8-10 a local FC id and bytes 8-13 a local MAC
//                (zero in real files); snaplen % 8 the log2 of the ring size
//   then         records: a 16-byte header (seconds, microseconds, included
//                length, original length) and the included bytes, cut to
//                what is left; at most kMaxRecords of them
// The record time is what the trace clock reports while the record is
// traced, and the record's index is its port.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "frameReplay.h"
#include "fuzzCheck.h"
#include "hostsimClock.h"
#include "linkType.h"
#include "syslogCapture.h"
#include "traceApi.h"

namespace {

const size_t kFileHeaderBytes = 24;
const size_t kRecordHeaderBytes = 16;
const int kMaxRecords = 64;
uint32_t readWord(const uint8_t* p, bool bigEndian)
{
    if (bigEndian)
        return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
               static_cast<uint32_t>(p[2]) << 8 | p[3];
    return static_cast<uint32_t>(p[3]) << 24 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[1]) << 8 | p[0];
}

// The saved file is rewritten for every input: memory-backed storage keeps
// that from dominating the run where the machine has it.
char scratchPath[64];

void removeScratch()
{
    unlink(scratchPath);
}

// One trace API for the whole run, with every preset: the steps it builds
// hold registry ids for good, so one per input would use the ids up.
TraceApi& api()
{
    static TraceApi* traceApi = [] {
        int fd = -1;
        for (const char* dir : {"/dev/shm", "/tmp"}) {
            snprintf(scratchPath, sizeof scratchPath, "%s/tracelib-fuzz-replay-XXXXXX", dir);
            fd = mkstemp(scratchPath);
            if (fd >= 0)
                break;
        }
        FUZZ_CHECK(fd >= 0);
        close(fd);
        atexit(removeScratch);
        TraceApi* created = new TraceApi();
        created->captureEthFrame();
        created->captureFcFrame();
        created->captureELS();
        created->syslogTrace(true, nullptr);
        return created;
    }();
    return *traceApi;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < kFileHeaderBytes)
        return 0;
    const uint32_t magic = readWord(data, false);
    const bool bigEndian = magic == 0xD4C3B2A1 || magic == 0x4D3CB2A1;
    const uint32_t snaplen = readWord(data + 16, bigEndian);
    const int linkType = static_cast<int>(readWord(data + 20, bigEndian));

    replay::LocalAddresses local;
    local.addFcId(readWord(data + 8, true) >> 8);
    replay::MacAddress mac;
    memcpy(mac.data(), data + 8, mac.size());
    local.addMac(mac);

    TraceApi& traceApi = api();
    char name[] = "fuzz";
    FUZZ_CHECK(traceApi.initTraceBuffer(1, name, 1 << (snaplen % 8), true));
    replay::FrameReplayer replayer(traceApi, local);

    size_t pos = kFileHeaderBytes;
    int decoded = 0;
    for (int index = 0; index < kMaxRecords && size - pos >= kRecordHeaderBytes; index++) {
        const uint8_t* header = data + pos;
        pos += kRecordHeaderBytes;
        size_t length = readWord(header + 8, bigEndian);
        if (length > size - pos)
            length = size - pos;
        hostsimClockSet(static_cast<int32_t>(readWord(header, bigEndian)),
                        static_cast<int32_t>(readWord(header + 4, bigEndian)));
        replay::DecodeStatus status =
            replayer.replay(length != 0 ? data + pos : nullptr, length, linkType,
                            hostsimPort(static_cast<uint16_t>(index)));
        FUZZ_CHECK(replay::decodeStatusText(status) != nullptr);
        if (status == replay::DecodeStatus::Ok)
            decoded++;
        if (!replay::isSupportedLinkType(linkType))
            FUZZ_CHECK(status == replay::DecodeStatus::UnsupportedLinkType);
        pos += length;
    }
    FUZZ_CHECK(replayer.transmitted() + replayer.received() == static_cast<unsigned long>(decoded));

    traceApi.saveTrace(scratchPath);
    traceApi.debugDump(scratchPath);
    hostsimClockUseReal();
    return 0;
}
