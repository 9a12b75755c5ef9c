// A host tracing numbered events into three kept rings (two of them wrap
// many times), killed by SIGKILL at random instants, again and again. Every
// recovery must be well formed (each trace on a line of its own, at most one
// cut trace a ring, no ghost), the numbers each ring carries must run on
// without a gap or a repeat, and every trace the host last saved that the
// rings still hold must come back byte for byte. The seed is printed;
// KILL_ANYWHERE_SEED and KILL_ANYWHERE_ROUNDS repeat or lengthen a run.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "fileText.h"
#include "hostsimClock.h"
#include "recovery.h"
#include "traceApi.h"
#include "traceRecovery.h"

namespace {

constexpr int32_t T0 = 1700000000;
constexpr int kBuffers = 3;
constexpr int kRingSizes[kBuffers] = {16, 64, 1024};
constexpr uint32_t kSaveAt = 2000;  // once: a save takes far longer than tracing

char* cs(const char* text)
{
    return const_cast<char*>(text);
}

unsigned envOr(const char* name, unsigned fallback)
{
    const char* value = getenv(name);
    return value != nullptr ? unsigned(strtoul(value, nullptr, 10)) : fallback;
}

// Event n goes to buffer 1 + n % 3 as a device event carrying n; every
// fourth n also gets a manual trace of two ELS records carrying n in the
// current buffer (1). The trace is saved once, after event kSaveAt.
[[noreturn]] void traceForever(const std::string& dir, int started)
{
    hostsimClockSet(T0, 0);
    TraceApi* api = new TraceApi();
    if (traceKeepRingsIn(api, dir.c_str()) != 0)
        _exit(3);
    TraceDeviceEvent* event = new TraceDeviceEvent();
    event->fmtPrefix(cs("EVENT"));
    const char* names[kBuffers] = {"small", "medium", "large"};
    for (int b = 0; b < kBuffers; b++)
        api->initTraceBuffer(b + 1, cs(names[b]), kRingSizes[b], false);
    WorldWideName wwn(0x10000005, 0x1e123456);
    if (write(started, "s", 1) != 1)
        _exit(3);
    const std::string saved = dir + "/saved.trace", partial = saved + ".partial";
    for (uint32_t n = 0;; n++) {
        hostsimClockAdvance(1000);
        api->traceDeviceEvent(n, wwn, int(n % 7), 1 + int(n % kBuffers), event->stepId_m);
        if (n % 4 == 0) {
            api->beginTrace();
            api->addToTrace(api->els_m, 0x03000000, n, 0);
            api->addToTrace(api->els_m, 0x03000000, n, 1);
            api->endTrace();
        }
        if (n == kSaveAt) {
            api->saveTrace(cs(partial.c_str()));
            rename(partial.c_str(), saved.c_str());
        }
    }
}

// The number a trace line carries, by kind: "EVENT <n>/" or "ELS PLOGI (03000000 <n> ".
struct Carried {
    std::string kind;  // buffer and kind, e.g. "1: EVENT"
    uint32_t number;
};

std::optional<Carried> carried(const std::string& line)
{
    for (const char* kind : {"EVENT ", "ELS PLOGI (03000000 "}) {
        size_t at = line.find(kind);
        if (at != std::string::npos)
            return Carried{line.substr(0, 3) + kind,
                           uint32_t(std::stoul(line.substr(at + strlen(kind), 8), nullptr, 16))};
    }
    return std::nullopt;
}

std::vector<std::string> traceLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    bool traces = false;
    for (std::string line; std::getline(in, line);) {
        traces = traces || (line.size() > 3 && line.compare(1, 2, ": ") == 0);
        if (traces)
            lines.push_back(line);
    }
    return lines;
}

bool isCut(const std::string& line)
{
    const std::string mark = kCutMark;
    return line.size() >= mark.size() &&
           line.compare(line.size() - mark.size(), mark.size(), mark) == 0;
}

// Checks one recovery; `saved` is the host's last saved trace, if any.
void checkRecovery(const RecoveredProcess& recovered, const std::string& saved)
{
    const std::string& text = recovered.text;
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find("NULL trace step id"), std::string::npos);
    EXPECT_LE(recovered.cutTraces, kBuffers);
    int cuts = 0;
    std::map<std::string, uint32_t> last;   // kind -> number last seen
    std::map<std::string, uint32_t> first;  // kind -> oldest number recovered
    uint32_t newestEvent = 0;
    bool anyEvent = false;
    for (const std::string& line : traceLines(text)) {
        ASSERT_TRUE(line.size() > 3 && line[0] >= '1' && line[0] <= '3' &&
                    line.compare(1, 2, ": ") == 0)
            << "not a trace line: " << line;
        if (isCut(line)) {
            cuts++;
            continue;
        }
        std::optional<Carried> c = carried(line);
        ASSERT_TRUE(c) << line;
        const bool event = c->kind.find("EVENT") != std::string::npos;
        const uint32_t stride = event ? kBuffers : 4;
        if (last.count(c->kind) != 0)
            EXPECT_EQ(c->number, last[c->kind] + stride) << "gap or repeat at: " << line;
        else
            first[c->kind] = c->number;
        last[c->kind] = c->number;
        if (event) {
            EXPECT_TRUE(!anyEvent || c->number > newestEvent) << "out of time order: " << line;
            newestEvent = c->number;
            anyEvent = true;
        }
    }
    EXPECT_EQ(cuts, recovered.cutTraces);
    // Saved traces the rings still hold are recovered as they were saved.
    for (const std::string& line : traceLines(saved)) {
        std::optional<Carried> c = carried(line);
        if (c && first.count(c->kind) != 0 && c->number >= first[c->kind]) {
            EXPECT_NE(text.find(line + "\n"), std::string::npos) << "saved trace lost: " << line;
        }
    }
}

// Recovers in a child process: the steps a recovery makes enter the step
// registry, which the next host would inherit through fork and describe in
// its step file.
Recovery recoverAside(const std::string& dir)
{
    const std::string path = dir + ".recovered";
    pid_t pid = fork();
    if (pid == 0) {
        bool written = false;
        {  // everything freed before _exit, for leak checkers
            Recovery recovery = recoverRings({dir});
            std::ofstream out(path, std::ios::binary);
            out << recovery.errors.size() << '\n';
            for (const std::string& error : recovery.errors)
                out << error << '\n';
            for (const RecoveredProcess& process : recovery.processes)
                out << process.cutTraces << ' ' << process.text.size() << '\n' << process.text;
            written = bool(out.flush());
        }
        _exit(written ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    Recovery recovery;
    std::ifstream in(path, std::ios::binary);
    size_t errors = 0;
    in >> errors;
    in.ignore(1);
    for (std::string line; errors > 0 && std::getline(in, line); errors--)
        recovery.errors.push_back(line);
    for (RecoveredProcess process; in >> process.cutTraces;) {
        size_t size = 0;
        in >> size;
        in.ignore(1);
        process.text.resize(size);
        in.read(process.text.data(), std::streamsize(size));
        recovery.processes.push_back(process);
    }
    std::filesystem::remove(path);
    return recovery;
}

TEST(KillAnywhere, EveryRecoveryIsWellFormedAndLosesNothingSaved)
{
    const unsigned seed = envOr("KILL_ANYWHERE_SEED", unsigned(time(nullptr)));
    const unsigned rounds = envOr("KILL_ANYWHERE_ROUNDS", 40);
    printf("kill-anywhere seed %u, %u rounds\n", seed, rounds);
    RecordProperty("seed", int(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delayUsec(0, 3000);
    unsigned recovered = 0, cut = 0;
    for (unsigned round = 0; round < rounds; round++) {
        std::string dir = ::testing::TempDir() + "killAnywhereXXXXXX";
        ASSERT_NE(mkdtemp(dir.data()), nullptr);
        // Mostly once the host traces (an emulator or valgrind starts it
        // slowly), sometimes while it sets up.
        int started[2];
        ASSERT_EQ(pipe(started), 0);
        pid_t pid = fork();
        if (pid == 0)
            traceForever(dir, started[1]);
        close(started[1]);
        char byte;
        if (random() % 8 != 0) {
            EXPECT_EQ(read(started[0], &byte, 1), 1) << "the host did not start";
        }
        close(started[0]);
        usleep(useconds_t(delayUsec(random)));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round << ": the host ended by itself";

        Recovery recovery = recoverAside(dir);
        const bool rings = !recovery.processes.empty();
        SCOPED_TRACE("seed " + std::to_string(seed) + ", round " + std::to_string(round));
        EXPECT_TRUE(recovery.errors.empty() || !rings) << recovery.errors.front();
        recovered += rings ? 1 : 0;
        cut += rings && recovery.processes.front().cutTraces > 0 ? 1 : 0;
        if (rings)
            checkRecovery(recovery.processes.front(), readFile(dir + "/saved.trace"));
        std::filesystem::remove_all(dir);
        if (HasFailure())
            break;
    }
    printf("%u recoveries, %u of them with a cut trace\n", recovered, cut);
}

}  // namespace
