// Up to 128 calls on one trace API, reset before every input: buffers of any
// size and id, manual traces, filters with raw rules, presets, frames both
// ways, device events with any step id, prefixes, postfixes, clock jumps.
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzzCheck.h"
#include "hostsim.h"
#include "hostsimClock.h"
#include "traceApi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fcRawFrameStruct raw;
    static TraceApi& api = *new TraceApi();  // never destroyed: the registry keeps its steps
    static const std::vector<TraceStep*> own{new TraceFcPayload(0, 3, 9),
                                             new TraceFcPayload(-1, 40, -1), new TraceDeviceEvent};
    static const std::vector<TraceStep*> all{own[0], own[1], own[2], api.fcHeader_m,
                                             api.ethDmacSmac_m, api.ethData_m, api.els_m,
                                             api.identifier_m};
    api.frameFilters_m->purge_list(false);
    api.traceBuffers_m.purge_list(false);
    api.currentBuffer_m = nullptr;
    api.syslogEnable(false);
    for (TraceStep* step : own) {
        delete[] step->prefix_m;
        delete[] step->postfix_m;
        step->prefix_m = step->postfix_m = nullptr;
    }
    hostsimClockSet(1700000000, 0);

    FuzzedDataProvider in(data, size);
    auto pick = [&](const std::vector<TraceStep*>& v) {
        return v[in.ConsumeIntegralInRange<size_t>(0, v.size() - 1)];
    };
    for (int call = 0, filters = 0; call < 128 && in.remaining_bytes() > 0; call++) {
        int id = in.ConsumeIntegralInRange<int>(-2, 99);  // a buffer id, where one is needed
        std::string text;  // a name, frame bytes or decoration, where one is needed
        auto takeText = [&] { return &(text = in.ConsumeRandomLengthString(300))[0]; };
        uint32_t w[3] = {in.ConsumeIntegral<uint32_t>(), in.ConsumeIntegral<uint32_t>(),
                         in.ConsumeIntegral<uint32_t>()};
        switch (in.ConsumeIntegralInRange<int>(0, 11)) {
        case 0: {
            int entries = in.ConsumeBool() ? 1 << (w[0] % 13) : static_cast<int>(w[0] % 80) - 9;
            bool made = api.initTraceBuffer(id, w[1] & 1 ? takeText() : nullptr, entries, w[1] & 2);
            FUZZ_CHECK(made == (entries > 0 && (entries & (entries - 1)) == 0));
            if (made && (id != 0 || api.currentBuffer_m->bufferId == 0))  // 0: the current one
                FUZZ_CHECK(api.findBuffer(id) && api.findBuffer(id)->numEntries == entries);
            break;
        }
        case 1: api.beginTrace(); break;
        case 2: api.addToTrace(pick(all), w[0], w[1], w[2]); break;
        case 3: api.endTrace(); break;
        case 4:
            if (filters++ < 16) {
                TraceFrameFilter* filter = new TraceFrameFilter();
                in.ConsumeData(&filter->rule, sizeof filter->rule);
                filter->bufferId = id;
                for (uint32_t i = w[0] % 7; i > 0; i--)
                    filter->addStep(pick(all));
                api.addFrameFilter(filter);
            }
            break;
        case 5:
            if (filters++ < 16)
                w[0] % 3 == 0 ? api.captureFcFrame() : w[0] % 3 == 1 ? api.captureEthFrame() : api.captureELS();
            break;
        case 6: {  // a frame parsed from the text, traced with a view of its kind
            port_id_t port{uint16_t(w[1]), uint16_t(w[1] >> 16), uint16_t(w[2])};
            HostsimFcOptions options{(w[0] & 8) != 0};
            const uint8_t* bytes = reinterpret_cast<const uint8_t*>(takeText());
            bytes = text.empty() ? nullptr : bytes;
            bool fc = w[0] & 1, rx = w[0] & 2;
            fc ? hostsimParseFc(bytes, text.size(), port, options, &raw)
               : hostsimParseEthernet(bytes, text.size(), port, HostsimEthOptions(), &raw);
            fcFrame fcView{&raw};
            EthernetFrame ethView{&raw};
            port_id_t* via = w[0] & 4 ? &port : nullptr;
            rx ? (fc ? api.traceRx(&fcView) : api.traceRx(&ethView))
               : (fc ? api.traceTx(&fcView, via) : api.traceTx(&ethView, via));
            break;
        }
        case 7: {
            WorldWideName name(w[1], w[2]);
            api.traceDeviceEvent(w[0], name, static_cast<int>(w[1] ^ w[2]), id,
                                 in.ConsumeBool() ? own[2]->stepId_m : static_cast<uint16_t>(w[2]));
            break;
        }
        case 8: api.syslogTrace(w[0] & 1, nullptr); break;
        case 9:
            (pick(own)->*(w[0] & 1 ? &TraceStep::fmtPrefix : &TraceStep::fmtPostfix))(takeText());
            break;
        case 10:
            w[0] & 1 ? hostsimClockSet(static_cast<int32_t>(w[1]), static_cast<int32_t>(w[2]))
                     : hostsimClockAdvance(static_cast<int32_t>(w[1]) % 5000000);
            break;
        default: api.findBuffer(id); break;
        }
    }
    api.saveTrace(fuzzScratchPath());
    api.debugDump(fuzzScratchPath());
    return 0;
}
