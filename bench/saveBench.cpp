// The output files: saveTrace and debugDump of 1, 8 and 64 buffers holding
// 1,000,000 records in all, in records and bytes per second of the calling
// thread's CPU time (the wall time is reported beside it: the file goes to
// the page cache, and a busy machine stretches the wall time). The records are
// FC and Ethernet traces dealt round-robin to the buffers as they are taken,
// so the saved file's time merge interleaves every buffer.
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include <benchmark/benchmark.h>

#include "benchFrames.h"
#include "measure.h"
#include "traceApi.h"

namespace {

constexpr int kTotalRecords = 1000000;
constexpr int kPairRecords = 5;  // an FC trace of 2 records, an Ethernet trace of 3

int ringSizeFor(int records)
{
    int size = 1;
    while (size < records)
        size *= 2;
    return size;
}

TraceFrameFilter* newestFilter(TraceApi& api)
{
    return api.frameFilters_m->get_first()->item();
}

// Every buffer holds exactly its share of the records, none has wrapped.
bool holdsShares(TraceApi& api, int share)
{
    for (Element<TraceBuffer>* e = api.traceBuffers_m.get_first(); e != nullptr; e = e->get_next())
        if (e->item()->nextIndex != share || e->item()->wrapped)
            return false;
    return true;
}

TraceApi* newFilledApi(int buffers)
{
    const int share = kTotalRecords / buffers;
    TraceApi* api = new TraceApi();
    for (int id = 1; id <= buffers; id++)
        api->initTraceBuffer(id, nullptr, ringSizeFor(share), id == 1);
    api->captureFcFrame();
    TraceFrameFilter* fc = newestFilter(*api);
    api->captureEthFrame();
    TraceFrameFilter* eth = newestFilter(*api);

    BenchFrames& frames = benchFrames();
    for (int pair = 0; pair < kTotalRecords / kPairRecords; pair++) {
        const int id = pair % buffers + 1;
        fc->bufferId = id;
        api->traceRx(&frames.fcpCommand.frame);
        eth->bufferId = id;
        api->traceRx(&frames.ipv4Udp.frame);
    }
    return holdsShares(*api, share) ? api : nullptr;
}

// Built once per run for each buffer count.
TraceApi* filledApi(int buffers)
{
    static TraceApi* apis[65] = {};
    if (apis[buffers] == nullptr)
        apis[buffers] = newFilledApi(buffers);
    return apis[buffers];
}

std::string outputPath(const char* what, int buffers)
{
    return "/tmp/tracelib-bench-" + std::to_string(getpid()) + "-" + what + "-" +
           std::to_string(buffers) + ".txt";
}

long fileBytes(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : 0;
}

template <class Write>
void runOutput(benchmark::State& state, const char* what, int buffers, Write write)
{
    TraceApi* api = filledApi(buffers);
    if (api == nullptr) {
        state.SkipWithError("the buffers do not hold the records they should");
        return;
    }
    std::string path = outputPath(what, buffers);
    const auto start = std::chrono::steady_clock::now();
    measureLoop(state, [&] { write(*api, &path[0]); });
    const std::chrono::duration<double, std::milli> wall = std::chrono::steady_clock::now() - start;
    const long bytes = fileBytes(path);
    remove(path.c_str());
    if (bytes == 0) {
        state.SkipWithError("no output file was written");
        return;
    }
    state.SetItemsProcessed(state.iterations() * kTotalRecords);
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["file_bytes"] = static_cast<double>(bytes);
    state.counters["wall_ms"] =
        benchmark::Counter(wall.count(), benchmark::Counter::kAvgIterations);
}

void registerAll()
{
    for (int buffers : {1, 8, 64}) {
        const std::string count = std::to_string(buffers);
        benchmark::RegisterBenchmark(
            ("save_" + count).c_str(),
            [buffers](benchmark::State& state) {
                runOutput(state, "save", buffers,
                          [](TraceApi& api, char* path) { api.saveTrace(path); });
            })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
        benchmark::RegisterBenchmark(
            ("dump_" + count).c_str(),
            [buffers](benchmark::State& state) {
                runOutput(state, "dump", buffers,
                          [](TraceApi& api, char* path) { api.debugDump(path); });
            })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    }
}

const bool kRegistered = (registerAll(), true);

}  // namespace
