// The recording paths: every case traced by the library and by its floor
// (floors.h). Each case's library setup is built once per run and reused by
// every repetition: steps take ids from a process-wide registry of limited
// size, so a TraceApi per run of a benchmark would exhaust it.
#include <stdint.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "benchFrames.h"
#include "floors.h"
#include "measure.h"
#include "traceApi.h"
#include "traceRecovery.h"

namespace {

constexpr int kRingEntries = 1024;  // 16 KiB of records, library and floor alike

// A TraceApi with one current buffer and the filters that `install` adds.
template <class Install>
TraceApi* newApi(Install install)
{
    TraceApi* api = new TraceApi();
    api->initTraceBuffer(1, nullptr, kRingEntries, true);
    install(*api);
    return api;
}

TraceApi& fcPresetApi()
{
    static TraceApi* api = newApi([](TraceApi& a) { a.captureFcFrame(); });
    return *api;
}

TraceApi& elsPresetApi()
{
    static TraceApi* api = newApi([](TraceApi& a) {
        a.captureFcFrame();
        a.captureELS();
    });
    return *api;
}

TraceApi& ethPresetApi()
{
    static TraceApi* api = newApi([](TraceApi& a) { a.captureEthFrame(); });
    return *api;
}

// The FC preset with its buffer kept in a ring file, in a directory that
// goes when the run ends. Null if no ring file could be made here.
std::string ringDirectory;

TraceApi* persistentApi()
{
    static TraceApi* api = [] {
        TraceApi* a = new TraceApi();
        std::string dir = std::filesystem::temp_directory_path() / "tracelibBenchXXXXXX";
        if (mkdtemp(dir.data()) == nullptr || traceKeepRingsIn(a, dir.c_str()) != 0)
            return static_cast<TraceApi*>(nullptr);
        a->initTraceBuffer(1, nullptr, kRingEntries, true);
        a->captureFcFrame();
        ringDirectory = dir;
        atexit([] { std::filesystem::remove_all(ringDirectory); });
        return a;
    }();
    return api;
}

// `tracerecover --follow` on the kept ring for as long as the object lives,
// its output thrown away.
class Follower {
public:
    explicit Follower(const std::string& dir)
    {
        pid_ = fork();
        if (pid_ == 0) {
            int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            execl(TRACELIB_TRACERECOVER, "tracerecover", "--follow", dir.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        // Time to map the ring before the timed loop starts.
        usleep(200000);
    }
    ~Follower()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

private:
    pid_t pid_ = -1;
};

TraceApi& mirroredApi()
{
    static TraceApi* api = newApi([](TraceApi& a) {
        a.captureFcFrame();
        a.syslogTrace(true, nullptr);
    });
    return *api;
}

// Rules that FC frames are tried against but that the FCP command (R_CTL
// 06) never matches: each asks for another R_CTL value.
RegisterFrameEntry missRule(unsigned i)
{
    RegisterFrameEntry rule{};
    rule.offset_from = 1;
    rule.field_1.mask = 0xFF000000;
    rule.field_1.offset = 25;
    rule.field_1.value = (0x40u + i) << 24;
    return rule;
}

std::vector<RegisterFrameEntry> missRules(unsigned count)
{
    std::vector<RegisterFrameEntry> rules;
    for (unsigned i = 0; i < count; i++)
        rules.push_back(missRule(i));
    return rules;
}

TraceApi& noMatchApi(unsigned filters)
{
    static TraceApi* apis[65] = {};
    if (apis[filters] == nullptr) {
        apis[filters] = newApi([filters](TraceApi& a) {
            for (unsigned i = 0; i < filters; i++) {
                TraceFrameFilter* filter = new TraceFrameFilter();
                filter->rule = missRule(i);
                filter->addStep(a.fcHeader_m);
                a.addFrameFilter(filter);
            }
        });
    }
    return *apis[filters];
}

// The rules the presets install, as the floors hold them.
RegisterFrameEntry fcRule()
{
    RegisterFrameEntry rule{};
    rule.offset_from = 1;
    return rule;
}

RegisterFrameEntry elsRule()
{
    RegisterFrameEntry rule = fcRule();
    rule.field_1.mask = 0xF0000000;
    rule.field_1.offset = 25;
    rule.field_1.value = 0x20000000;
    return rule;
}

RegisterFrameEntry ethRule()
{
    RegisterFrameEntry rule{};
    rule.offset_from = 2;
    return rule;
}

// Records that one library call adds to the current buffer.
template <class Trace>
int recordsOf(TraceApi& api, Trace trace)
{
    TraceBuffer* buffer = api.findBuffer(0);
    const int before = buffer->nextIndex;
    trace();
    return (buffer->nextIndex - before + buffer->numEntries) % buffer->numEntries;
}

// Measures `trace` after checking, once, that a call stores `expected` records.
template <class Trace>
void runLibrary(benchmark::State& state, TraceApi& api, int expected, Trace trace)
{
    if (recordsOf(api, trace) != expected) {
        state.SkipWithError("the library did not record the expected trace");
        return;
    }
    measureLoop(state, trace);
}

template <class Trace>
void runFloor(benchmark::State& state, int expected, Trace trace)
{
    if (trace() != expected) {
        state.SkipWithError("the floor did not record the expected trace");
        return;
    }
    measureLoop(state, trace);
}

const WorldWideName kEventName(0x10000005, 0x1E123456);
constexpr uint32_t kEventAddress = 0x010200;

// The words of the two records a manual trace adds after its opening one.
constexpr uint32_t kManualFirst[3] = {0x06010300, 0x08010200, 0x1234FFFF};
constexpr uint32_t kManualSecond[3] = {0x07010200, 0x08010300, 0x1234ABCD};

TraceDeviceEvent& eventStep()
{
    static TraceDeviceEvent* step = new TraceDeviceEvent();
    return *step;
}

void registerAll()
{
    using benchmark::RegisterBenchmark;
    using benchmark::State;

    RegisterBenchmark("clock/gettimeofday", [](State& state) {
        measureLoop(state, [] { benchmark::DoNotOptimize(floorClock()); });
    });

    RegisterBenchmark("fc_rx/lib", [](State& state) {
        TraceApi& api = fcPresetApi();
        fcFrame* frame = &benchFrames().fcpCommand.frame;
        runLibrary(state, api, 2, [&] { api.traceRx(frame); });
    });
    RegisterBenchmark("fc_rx/floor", [](State& state) {
        HandRing ring(kRingEntries);
        RegisterFrameEntry rule = fcRule();
        fcFrame* frame = &benchFrames().fcpCommand.frame;
        runFloor(state, 2, [&] { return floorFcRx(ring, frame, &rule); });
    });

    RegisterBenchmark("els_rx/lib", [](State& state) {
        TraceApi& api = elsPresetApi();
        fcFrame* frame = &benchFrames().plogi.frame;
        runLibrary(state, api, 3, [&] { api.traceRx(frame); });
    });
    RegisterBenchmark("els_rx/floor", [](State& state) {
        HandRing ring(kRingEntries);
        RegisterFrameEntry rule = elsRule();
        fcFrame* frame = &benchFrames().plogi.frame;
        runFloor(state, 3, [&] { return floorElsRx(ring, frame, &rule); });
    });

    RegisterBenchmark("eth_rx/lib", [](State& state) {
        TraceApi& api = ethPresetApi();
        EthernetFrame* frame = &benchFrames().ipv4Udp.frame;
        runLibrary(state, api, 3, [&] { api.traceRx(frame); });
    });
    RegisterBenchmark("eth_rx/floor", [](State& state) {
        HandRing ring(kRingEntries);
        RegisterFrameEntry rule = ethRule();
        EthernetFrame* frame = &benchFrames().ipv4Udp.frame;
        runFloor(state, 3, [&] { return floorEthRx(ring, frame, &rule); });
    });

    RegisterBenchmark("fc_tx_port/lib", [](State& state) {
        TraceApi& api = fcPresetApi();
        fcFrame* frame = &benchFrames().fcpCommand.frame;
        port_id_t port = hostsimPort(9);
        runLibrary(state, api, 2, [&] { api.traceTx(frame, &port); });
    });
    RegisterBenchmark("fc_tx_port/floor", [](State& state) {
        HandRing ring(kRingEntries);
        RegisterFrameEntry rule = fcRule();
        fcFrame* frame = &benchFrames().fcpCommand.frame;
        port_id_t port = hostsimPort(9);
        runFloor(state, 2, [&] { return floorFcTx(ring, frame, &rule, port); });
    });

    for (unsigned filters : {1u, 8u, 64u}) {
        std::string name = "no_match_" + std::to_string(filters);
        RegisterBenchmark((name + "/lib").c_str(), [filters](State& state) {
            TraceApi& api = noMatchApi(filters);
            fcFrame* frame = &benchFrames().fcpCommand.frame;
            runLibrary(state, api, 0, [&] { api.traceRx(frame); });
        });
        RegisterBenchmark((name + "/floor").c_str(), [filters](State& state) {
            std::vector<RegisterFrameEntry> rules = missRules(filters);
            fcFrame* frame = &benchFrames().fcpCommand.frame;
            runFloor(state, 0, [&] { return floorNoMatch(frame, rules.data(), rules.size()); });
        });
    }

    RegisterBenchmark("device_event/lib", [](State& state) {
        TraceApi& api = fcPresetApi();
        WorldWideName name = kEventName;
        uint16_t stepId = eventStep().stepId_m;
        runLibrary(state, api, 2,
                   [&] { api.traceDeviceEvent(kEventAddress, name, kBenchPort, 0, stepId); });
    });
    RegisterBenchmark("device_event/floor", [](State& state) {
        HandRing ring(kRingEntries);
        WorldWideName name = kEventName;
        runFloor(state, 2, [&] { return floorDeviceEvent(ring, kEventAddress, name, kBenchPort); });
    });

    RegisterBenchmark("manual/lib", [](State& state) {
        TraceApi& api = fcPresetApi();
        TraceStep* step = api.fcHeader_m;
        runLibrary(state, api, 3, [&] {
            api.beginTrace();
            api.addToTrace(step, kManualFirst[0], kManualFirst[1], kManualFirst[2]);
            api.addToTrace(step, kManualSecond[0], kManualSecond[1], kManualSecond[2]);
            api.endTrace();
        });
    });
    RegisterBenchmark("manual/floor", [](State& state) {
        HandRing ring(kRingEntries);
        runFloor(state, 3, [&] { return floorManual(ring, kManualFirst, kManualSecond); });
    });

    RegisterBenchmark("fc_rx_persistent/lib", [](State& state) {
        TraceApi* api = persistentApi();
        if (api == nullptr) {
            state.SkipWithError("no ring file could be made");
            return;
        }
        fcFrame* frame = &benchFrames().fcpCommand.frame;
        runLibrary(state, *api, 2, [&] { api->traceRx(frame); });
    });
    RegisterBenchmark("fc_rx_followed/lib", [](State& state) {
        TraceApi* api = persistentApi();
        if (api == nullptr) {
            state.SkipWithError("no ring file could be made");
            return;
        }
        Follower follower(ringDirectory);
        if (!follower.running()) {
            state.SkipWithError("tracerecover --follow did not start");
            return;
        }
        fcFrame* frame = &benchFrames().fcpCommand.frame;
        runLibrary(state, *api, 2, [&] { api->traceRx(frame); });
    });
    RegisterBenchmark("fc_rx_persistent/floor", [](State& state) {
        HandRing ring(kRingEntries);
        RegisterFrameEntry rule = fcRule();
        fcFrame* frame = &benchFrames().fcpCommand.frame;
        runFloor(state, 2, [&] { return floorFcRx(ring, frame, &rule); });
    });

    RegisterBenchmark("fc_rx_mirrored/lib", [](State& state) {
        TraceApi& api = mirroredApi();
        fcFrame* frame = &benchFrames().fcpCommand.frame;
        runLibrary(state, api, 2, [&] { api.traceRx(frame); });
    });
    RegisterBenchmark("fc_rx_mirrored/floor", [](State& state) {
        HandRing ring(kRingEntries);
        RegisterFrameEntry rule = fcRule();
        fcFrame* frame = &benchFrames().fcpCommand.frame;
        static char line[kFloorLineSize];
        runFloor(state, 2, [&] { return floorFcRxMirrored(ring, frame, &rule, line); });
    });
}

const bool kRegistered = (registerAll(), true);

}  // namespace
