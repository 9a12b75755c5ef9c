// Every step's format on any record at a size from 1 to 100: nothing written
// past `size` (a canary, and an exact-size heap block for AddressSanitizer),
// a terminated text, and that text is the one given with ample room, cut.
#include <string.h>

#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzzCheck.h"
#include "traceApi.h"

static const size_t kMaxSize = 100, kAmple = 512, kCanary = 0xA5;

// Formats into `size` bytes of `buf` (whose other bytes hold the canary);
// returns the text's length, checking it is terminated within `size`.
static size_t formatInto(TraceStep* step, TraceEntry* entry, char* buf, size_t bytes, size_t size)
{
    memset(buf, kCanary, bytes);
    buf[0] = '\0';
    step->format(entry, buf, static_cast<int>(size));
    const char* end = static_cast<const char*>(memchr(buf, '\0', size));
    FUZZ_CHECK(end != nullptr);
    return static_cast<size_t>(end - buf);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    int kind = in.ConsumeIntegralInRange<int>(0, 6);
    size_t bufSize = in.ConsumeIntegralInRange<size_t>(1, kMaxSize);
    TraceEntry entry;
    entry.id = in.ConsumeIntegral<uint16_t>();
    entry.flags = in.ConsumeIntegral<uint16_t>();
    entry.word1 = in.ConsumeIntegral<uint32_t>();
    entry.word2 = in.ConsumeIntegral<uint32_t>();
    entry.word3 = in.ConsumeIntegral<uint32_t>();
    static TraceStep* const steps[] = {  // built once: steps enter the registry for good
        new TraceFcHeader, new TraceFcPayload(0, 1, 2), new TraceEls, new TraceEthDmacSmac,
        new TraceEthData, new TraceIdentifier, new TraceDeviceEvent};
    TraceStep* step = steps[kind];
    for (TracePayloadWord& word : step->payload_m) {  // the payload step's word selectors
        if (kind == 1)
            word.valid = in.ConsumeBool(), word.index = in.ConsumeIntegral<int32_t>();
    }

    char full[kAmple];
    size_t fullLength = formatInto(step, &entry, full, kAmple, kAmple);
    FUZZ_CHECK(fullLength < kAmple - 1);

    char guarded[kMaxSize + 32];
    size_t length = formatInto(step, &entry, guarded, sizeof guarded, bufSize);
    for (size_t i = bufSize; i < sizeof guarded; i++)
        FUZZ_CHECK(static_cast<unsigned char>(guarded[i]) == kCanary);
    FUZZ_CHECK(length == (fullLength < bufSize - 1 ? fullLength : bufSize - 1));
    FUZZ_CHECK(memcmp(guarded, full, length) == 0);

    std::vector<char> exact(bufSize);
    formatInto(step, &entry, exact.data(), bufSize, bufSize);
    return 0;
}
