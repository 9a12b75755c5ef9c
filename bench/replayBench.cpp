// tracereplay over 3,000,000 frames, run as the user runs it: frames in time
// order, in order but for one frame far out of place, and shuffled. The two
// out-of-order captures are sorted whole, the file being larger than the
// default sort memory, so they measure the spill to $TMPDIR and the merge.
// Reported: frames per second of wall time, and the peak resident memory of
// the tool (its getrusage maximum), which must stay near the in-order run's
// plus the sort memory however large the capture.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

constexpr uint32_t kFrames = 3000000;
constexpr int64_t kStartMicros = int64_t{1715679000} * 1000000;
constexpr uint32_t kLinkFc2 = 224;
constexpr uint32_t kFcHeaderBytes = 24;

enum class Order { InOrder, OneLate, Shuffled };

void put32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));  // the file's own order: little-endian
}

// A classic pcap file of FCP command headers 10 us apart, in $TMPDIR.
std::string writeCapture(Order order)
{
    std::vector<int64_t> slots(kFrames);
    std::iota(slots.begin(), slots.end(), 0);
    if (order == Order::OneLate)
        slots[kFrames / 2] = -1;  // before every other frame, in the middle of the file
    if (order == Order::Shuffled)
        std::shuffle(slots.begin(), slots.end(), std::mt19937(1));
    const char* dir = getenv("TMPDIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/replaybench-XXXXXX";
    const int fd = mkstemp(path.data());
    FILE* file = fdopen(fd, "wb");
    std::vector<uint8_t> out;
    for (uint32_t v : {0xA1B2C3D4u, 0x00040002u, 0u, 0u, 65535u, kLinkFc2})
        put32(out, v);
    for (uint32_t i = 0; i < kFrames; i++) {
        const int64_t micros = kStartMicros + slots[i] * 10;
        put32(out, static_cast<uint32_t>(micros / 1000000));
        put32(out, static_cast<uint32_t>(micros % 1000000));
        put32(out, kFcHeaderBytes);
        put32(out, kFcHeaderBytes);
        const uint8_t header[kFcHeaderBytes] = {0x06,
                                                0x01,
                                                0x04,
                                                0x00,
                                                0x00,
                                                0x01,
                                                0x02,
                                                0x00,
                                                0x08,
                                                0,
                                                0,
                                                0,
                                                0,
                                                0,
                                                0,
                                                0,
                                                uint8_t(i >> 8),
                                                uint8_t(i),
                                                0xFF,
                                                0xFF};
        out.insert(out.end(), header, header + kFcHeaderBytes);
        if (out.size() > (1 << 20)) {
            fwrite(out.data(), 1, out.size(), file);
            out.clear();
        }
    }
    fwrite(out.data(), 1, out.size(), file);
    fclose(file);
    return path;
}

// One run of the tool; false when it failed. Peak RSS in bytes.
bool runTool(const std::string& capture, double& peakRss)
{
    const pid_t child = fork();
    if (child == 0) {
        execl(TRACEREPLAY_PATH, "tracereplay", "--quiet", "-o", "/dev/null", capture.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(child, &status, 0, &usage) != child)
        return false;
    peakRss = static_cast<double>(usage.ru_maxrss) * 1024;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void replayCapture(benchmark::State& state, Order order)
{
    const std::string capture = writeCapture(order);
    double peakRss = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!runTool(capture, peakRss)) {
            state.SkipWithError("tracereplay failed");
            break;
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
    }
    unlink(capture.c_str());
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFrames);
    state.counters["peak_rss"] = peakRss;
}

// Seconds a run: one iteration, one repetition, whatever the command line asks.
BENCHMARK_CAPTURE(replayCapture, in_order, Order::InOrder)
    ->Name("replay/in_order")
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(replayCapture, one_late, Order::OneLate)
    ->Name("replay/one_late")
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(replayCapture, shuffled, Order::Shuffled)
    ->Name("replay/shuffled")
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
