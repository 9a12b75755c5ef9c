// Arbitrary sequences of trace API calls: buffers made and replaced at any
// size, manual traces, filters with arbitrary rules and step lists, the
// presets, frames traced in both directions, device events with any step id,
// system-log mirroring switched on and off, prefixes and postfixes of any
// length, a clock that jumps about, and the saved file and debug dump.
//
// One trace API serves every input (each one would take five registry ids
// for good); it is brought back to its starting state before each input:
// no buffers, no filters, mirroring off, the fuzzer's steps without prefix
// or postfix.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzzCheck.h"
#include "hostsim.h"
#include "hostsimClock.h"
#include "syslogCapture.h"
#include "traceApi.h"

namespace {

const int kMaxCalls = 128;
const int kMaxFilters = 16;
const size_t kMaxFrameBytes = 160;
const size_t kMaxText = 300;

struct Harness {
    TraceApi api;
    TraceFcPayload payload{0, 3, 9};
    TraceFcPayload sparsePayload{-1, 40, -1};
    TraceDeviceEvent deviceEvent;
    TraceFcHeader fcHeader;
    TraceEthData ethData;
    std::vector<TraceStep*> ownSteps;
    std::vector<TraceStep*> allSteps;
    char scratch[64];

    Harness()
    {
        ownSteps = {&payload, &sparsePayload, &deviceEvent, &fcHeader, &ethData};
        allSteps = ownSteps;
        allSteps.insert(allSteps.end(), {api.fcHeader_m, api.ethDmacSmac_m, api.ethData_m,
                                         api.els_m, api.identifier_m});
        int fd = -1;
        for (const char* dir : {"/dev/shm", "/tmp"}) {
            snprintf(scratch, sizeof scratch, "%s/tracelib-fuzz-api-XXXXXX", dir);
            fd = mkstemp(scratch);
            if (fd >= 0)
                break;
        }
        FUZZ_CHECK(fd >= 0);
        close(fd);
    }


    void reset()
    {
        api.frameFilters_m->purge_list(false);
        api.traceBuffers_m.purge_list(false);
        api.currentBuffer_m = nullptr;
        api.syslogEnable(false);
        for (TraceStep* step : ownSteps) {
            delete[] step->prefix_m;
            step->prefix_m = nullptr;
            delete[] step->postfix_m;
            step->postfix_m = nullptr;
        }
        hostsimClockSet(1700000000, 0);
    }
};

// Never destroyed: the API and its steps live as long as the process.
Harness* theHarness = nullptr;

void removeScratch()
{
    unlink(theHarness->scratch);
}

Harness& harness()
{
    if (theHarness == nullptr) {
        theHarness = new Harness();
        atexit(removeScratch);
    }
    return *theHarness;
}

int bufferId(FuzzedDataProvider& in)
{
    return in.ConsumeIntegralInRange<int>(-2, 99);
}

TraceStep* anyStep(FuzzedDataProvider& in, Harness& h)
{
    return h.allSteps[in.ConsumeIntegralInRange<size_t>(0, h.allSteps.size() - 1)];
}

void newBuffer(FuzzedDataProvider& in, TraceApi& api)
{
    int id = bufferId(in);
    std::string name = in.ConsumeRandomLengthString(kMaxText);
    bool useName = in.ConsumeBool();
    int entries = in.ConsumeBool() ? 1 << in.ConsumeIntegralInRange<int>(0, 12)
                                   : in.ConsumeIntegralInRange<int>(-9, 70);
    bool makeCurrent = in.ConsumeBool();
    bool valid = entries > 0 && (entries & (entries - 1)) == 0;
    bool made = api.initTraceBuffer(id, useName ? &name[0] : nullptr, entries, makeCurrent);
    FUZZ_CHECK(made == valid);
    // Id 0 looks up the current buffer, whichever that is.
    if (made && (id != 0 || api.currentBuffer_m->bufferId == 0)) {
        TraceBuffer* buffer = api.findBuffer(id);
        FUZZ_CHECK(buffer != nullptr && buffer->numEntries == entries);
    }
}

RegisterFieldMatch field(FuzzedDataProvider& in)
{
    RegisterFieldMatch match;
    match.mask = in.ConsumeBool() ? 0 : in.ConsumeIntegral<uint32_t>();
    match.offset = in.ConsumeIntegralInRange<uint32_t>(0, 48);
    match.value = in.ConsumeIntegral<uint32_t>();
    return match;
}

void newFilter(FuzzedDataProvider& in, Harness& h)
{
    TraceFrameFilter* filter = new TraceFrameFilter();
    filter->rule.offset_from = in.ConsumeIntegralInRange<uint32_t>(0, 3);
    filter->rule.field_1 = field(in);
    filter->rule.field_2 = field(in);
    if (in.ConsumeBool()) {
        filter->rule.range.mask = in.ConsumeIntegral<uint32_t>();
        filter->rule.range.offset = in.ConsumeIntegralInRange<uint32_t>(0, 48);
        filter->rule.range.lo = in.ConsumeIntegral<uint32_t>();
        filter->rule.range.hi = in.ConsumeIntegral<uint32_t>();
    }
    filter->rule.only_rejects = in.ConsumeBool();
    filter->rule.exact_reject = in.ConsumeIntegralInRange<uint32_t>(0, 0x1FF);
    filter->rule.sof_mask = in.ConsumeBool() ? 0 : in.ConsumeIntegral<uint32_t>();
    filter->bufferId = bufferId(in);
    int steps = in.ConsumeIntegralInRange<int>(0, 6);
    for (int i = 0; i < steps; i++)
        filter->addStep(anyStep(in, h));
    h.api.addFrameFilter(filter);
}

void traceFrame(FuzzedDataProvider& in, TraceApi& api, fcRawFrameStruct* raw)
{
    bool fc = in.ConsumeBool();
    bool received = in.ConsumeBool();
    bool withPort = in.ConsumeBool();
    port_id_t port = in.ConsumeBool()
                         ? hostsimPort(in.ConsumeIntegral<uint16_t>())
                         : hostsimPortPair(in.ConsumeIntegral<uint16_t>(),
                                           in.ConsumeIntegral<uint16_t>());
    std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(
        in.ConsumeIntegralInRange<size_t>(0, kMaxFrameBytes));
    const uint8_t* data = bytes.empty() ? nullptr : bytes.data();
    if (fc) {
        HostsimFcOptions options;
        options.delimiters = in.ConsumeBool();
        hostsimParseFc(data, bytes.size(), port, options, raw);
        fcFrame frame{raw};
        if (received)
            api.traceRx(&frame);
        else
            api.traceTx(&frame, withPort ? &port : nullptr);
    } else {
        hostsimParseEthernet(data, bytes.size(), port, HostsimEthOptions(), raw);
        EthernetFrame frame{raw};
        if (received)
            api.traceRx(&frame);
        else
            api.traceTx(&frame, withPort ? &port : nullptr);
    }
}

void deviceEvent(FuzzedDataProvider& in, Harness& h)
{
    uint32_t address = in.ConsumeIntegral<uint32_t>();
    WorldWideName name(in.ConsumeIntegral<uint32_t>(), in.ConsumeIntegral<uint32_t>());
    int port = in.ConsumeIntegral<int>();
    int id = bufferId(in);
    uint16_t stepId = in.ConsumeBool() ? h.deviceEvent.stepId_m : in.ConsumeIntegral<uint16_t>();
    h.api.traceDeviceEvent(address, name, port, id, stepId);
}

void decorate(FuzzedDataProvider& in, Harness& h)
{
    TraceStep* step = h.ownSteps[in.ConsumeIntegralInRange<size_t>(0, h.ownSteps.size() - 1)];
    std::string text = in.ConsumeRandomLengthString(kMaxText);
    if (in.ConsumeBool())
        step->fmtPrefix(&text[0]);
    else
        step->fmtPostfix(&text[0]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fcRawFrameStruct raw;
    Harness& h = harness();
    h.reset();
    TraceApi& api = h.api;
    FuzzedDataProvider in(data, size);
    int filters = 0;

    for (int call = 0; call < kMaxCalls && in.remaining_bytes() > 0; call++) {
        switch (in.ConsumeIntegralInRange<int>(0, 13)) {
        case 0: newBuffer(in, api); break;
        case 1: api.beginTrace(); break;
        case 2: {
            TraceStep* step = anyStep(in, h);
            uint32_t w1 = in.ConsumeIntegral<uint32_t>();
            uint32_t w2 = in.ConsumeIntegral<uint32_t>();
            api.addToTrace(step, w1, w2, in.ConsumeIntegral<uint32_t>());
            break;
        }
        case 3: api.endTrace(); break;
        case 4:
            if (filters++ < kMaxFilters)
                newFilter(in, h);
            break;
        case 5:
            if (filters++ < kMaxFilters) {
                switch (in.ConsumeIntegralInRange<int>(0, 2)) {
                case 0: api.captureFcFrame(); break;
                case 1: api.captureEthFrame(); break;
                default: api.captureELS(); break;
                }
            }
            break;
        case 6:
        case 7: traceFrame(in, api, &raw); break;
        case 8: deviceEvent(in, h); break;
        case 9: api.syslogTrace(in.ConsumeBool(), nullptr); break;
        case 10: decorate(in, h); break;
        case 11:
            if (in.ConsumeBool())
                hostsimClockSet(in.ConsumeIntegral<int32_t>(), in.ConsumeIntegral<int32_t>());
            else
                hostsimClockAdvance(in.ConsumeIntegralInRange<int64_t>(-5000000, 5000000));
            break;
        case 12: api.findBuffer(bufferId(in)); break;
        default:
            api.saveTrace(h.scratch);
            api.debugDump(h.scratch);
            break;
        }
    }
    api.saveTrace(h.scratch);
    api.debugDump(h.scratch);
    return 0;
}
