// Every step's format on arbitrary records, at every buffer size from 1 to
// 100 bytes.
//
// The input chooses the step, the buffer size, the whole record (id, flags,
// three words) and, for the payload step, its three word selectors. Each
// format must:
//  - write nothing past `size` bytes: the buffer is followed by a canary, and
//    a second call writes into a heap block of exactly `size` bytes for
//    AddressSanitizer to watch;
//  - leave a terminated text within those bytes;
//  - give the text it gives with ample room, cut to size - 1 characters.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzzCheck.h"
#include "traceApi.h"

namespace {

const int kMaxSize = 100;
const int kAmpleSize = 512;
const size_t kCanaryBytes = 32;
const unsigned char kCanary = 0xA5;

enum StepKind {
    kFcHeader,
    kFcPayload,
    kEls,
    kDmacSmac,
    kEthData,
    kIdentifier,
    kDeviceEvent,
    kStepKinds
};

// Built once: every step enters the process-wide registry for good.
TraceStep* stepOf(int kind)
{
    static TraceFcHeader fcHeader;
    static TraceFcPayload fcPayload(0, 1, 2);
    static TraceEls els;
    static TraceEthDmacSmac dmacSmac;
    static TraceEthData ethData;
    static TraceIdentifier identifier;
    static TraceDeviceEvent deviceEvent;
    static TraceStep* const steps[kStepKinds] = {
        &fcHeader, &fcPayload, &els, &dmacSmac, &ethData, &identifier, &deviceEvent};
    return steps[kind];
}

// A buffer as format receives it: empty text, whatever bytes after it.
void handOver(char* buf, size_t bytes)
{
    memset(buf, kCanary, bytes);
    buf[0] = '\0';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    int kind = input.ConsumeIntegralInRange<int>(0, kStepKinds - 1);
    int bufSize = input.ConsumeIntegralInRange<int>(1, kMaxSize);

    TraceEntry entry;
    entry.id = input.ConsumeIntegral<uint16_t>();
    entry.flags = input.ConsumeIntegral<uint16_t>();
    entry.word1 = input.ConsumeIntegral<uint32_t>();
    entry.word2 = input.ConsumeIntegral<uint32_t>();
    entry.word3 = input.ConsumeIntegral<uint32_t>();

    TraceStep* step = stepOf(kind);
    if (kind == kFcPayload) {
        for (TracePayloadWord& word : step->payload_m) {
            word.valid = input.ConsumeBool();
            word.index = input.ConsumeIntegral<int32_t>();
        }
    }

    // The whole text, with room to spare.
    char full[kAmpleSize];
    handOver(full, sizeof full);
    step->format(&entry, full, kAmpleSize);
    const void* fullEnd = memchr(full, '\0', sizeof full);
    FUZZ_CHECK(fullEnd != nullptr);
    size_t fullLength = static_cast<size_t>(static_cast<const char*>(fullEnd) - full);
    FUZZ_CHECK(fullLength < static_cast<size_t>(kAmpleSize) - 1);

    // The chosen size, followed by a canary.
    char guarded[kMaxSize + kCanaryBytes];
    handOver(guarded, sizeof guarded);
    step->format(&entry, guarded, bufSize);
    for (size_t i = static_cast<size_t>(bufSize); i < sizeof guarded; i++)
        FUZZ_CHECK(static_cast<unsigned char>(guarded[i]) == kCanary);
    const void* end = memchr(guarded, '\0', static_cast<size_t>(bufSize));
    FUZZ_CHECK(end != nullptr);
    size_t length = static_cast<size_t>(static_cast<const char*>(end) - guarded);
    size_t expected = fullLength < static_cast<size_t>(bufSize) - 1
                          ? fullLength
                          : static_cast<size_t>(bufSize) - 1;
    FUZZ_CHECK(length == expected);
    FUZZ_CHECK(memcmp(guarded, full, length) == 0);

    // The chosen size exactly, on the heap.
    char* exact = new char[static_cast<size_t>(bufSize)];
    handOver(exact, static_cast<size_t>(bufSize));
    step->format(&entry, exact, bufSize);
    FUZZ_CHECK(memchr(exact, '\0', static_cast<size_t>(bufSize)) != nullptr);
    delete[] exact;
    return 0;
}
