// Traces that outlive their process. Each scenario runs a host in a forked
// child (no exec); the child saves its trace with saveTrace and then dies:
// killed by SIGKILL (its ring files must recover to that saved file byte for
// byte) or by a fault (the file written by traceSaveOnFatalSignal must be
// that saved file, and the child must still die by the same signal).
#include <gtest/gtest.h>

#include <signal.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "apiSupport.h"
#include "fileText.h"
#include "recovery.h"
#include "ringFormat.h"
#include "traceRecovery.h"

// The segfault scenario must reach the library's handler, not the address
// sanitizer's, in sanitized builds.
extern "C" const char* __asan_default_options()
{
    return "handle_segv=0:handle_sigbus=0";
}

namespace {

constexpr int32_t T0 = 1700000000;
constexpr int kStepUsec = 250000;
constexpr uint32_t kEventAddress = 0x010200;
constexpr int kHostFailed = 3;
const char* const kNames[] = {"", "alpha", "beta", "gamma"};

std::string freshDir()
{
    std::string dir = ::testing::TempDir() + "recoveryXXXXXX";
    return mkdtemp(dir.data()) != nullptr ? dir : "";
}

// Runs `host` in a child that reports on `ready` when done, then waits; the
// child is ended by `end` (or by itself). Returns the wait status.
int runChild(const std::function<void(int ready)>& host, const std::function<void(pid_t)>& end)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        host(fds[1]);
        char done = 'd';
        if (write(fds[1], &done, 1) == 1)
            for (;;)
                pause();
        _exit(kHostFailed);
    }
    close(fds[1]);
    char byte = 0;
    if (read(fds[0], &byte, 1) == 1 && byte == 'd')
        end(pid);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

struct Scenario {
    const char* name;
    int buffers;  // 1 to 3; buffer 2 takes ELS frames, the last one device events
    int ringSize;
    int rounds;
    bool reuseBuffer;          // buffer 1 is replaced half-way
    bool idZeroLater = false;  // then a buffer with id 0, current, one trace in it
};

// What the host traces: every kind of trace, a step destroyed after use and
// a prefixed device-event step, the clock moving on between rounds.
void traceEverything(TraceApi& api, const Scenario& s)
{
    HostFcFrame plogi{wire(kPlogi), hostsimPort(7)}, fcp{wire(kFcp), hostsimPortPair(2, 7)};
    HostEthFrame eth{ethWire(true), hostsimPort(3)};
    port_id_t port = hostsimPort(9);
    WorldWideName wwn(0x10000005, 0x1e123456);
    TraceDeviceEvent* event = new TraceDeviceEvent();
    event->fmtPrefix(cs("LOGIN"));
    for (int b = 1; b <= s.buffers; b++)
        api.initTraceBuffer(b, b == 1 ? nullptr : cs(kNames[b]), s.ringSize, false);
    api.captureFcFrame();
    api.captureEthFrame();
    api.captureELS();
    if (s.buffers > 1)
        api.addFrameFilter(rctl22(2, {api.fcHeader_m, api.els_m}));
    for (int round = 0; round < s.rounds; round++) {
        api.traceRx(&plogi.frame);
        api.traceRx(&fcp.frame);
        api.traceTx(&fcp.frame, &port);
        api.traceRx(&eth.frame);
        api.traceTx(&eth.frame, &port);
        api.traceDeviceEvent(kEventAddress, wwn, round, s.buffers, event->stepId_m);
        api.beginTrace();
        api.addToTrace(api.els_m, 0x03000000, round, 0);
        api.endTrace();
        hostsimClockAdvance(kStepUsec);
        if (s.reuseBuffer && round == s.rounds / 2)
            api.initTraceBuffer(1, cs("again"), s.ringSize, false);
    }
    if (s.idZeroLater) {
        api.initTraceBuffer(0, cs("zero"), 4096, true);
        api.traceRx(&plogi.frame);
    }
    TraceDeviceEvent* gone = new TraceDeviceEvent();
    api.traceDeviceEvent(kEventAddress, wwn, 1, 0, gone->stepId_m);
    delete gone;
}

void PrintTo(const Scenario& s, std::ostream* os)
{
    *os << s.name;
}

class KilledHost : public ::testing::TestWithParam<Scenario> {};

TEST_P(KilledHost, RingFilesRecoverTheSavedTrace)
{
    const std::string dir = freshDir(), saved = dir + "/saved.trace";
    ASSERT_FALSE(dir.empty());
    int status = runChild(
        [&](int) {
            hostsimClockSet(T0, 0);
            TraceApi* api = new TraceApi();
            if (traceKeepRingsIn(api, dir.c_str()) != 0)
                _exit(kHostFailed);
            traceEverything(*api, GetParam());
            api->saveTrace(cs(saved.c_str()));
        },
        [](pid_t pid) { kill(pid, SIGKILL); });
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

    Recovery recovery = recoverRings({dir});
    EXPECT_TRUE(recovery.errors.empty()) << recovery.errors.front();
    ASSERT_EQ(recovery.processes.size(), 1u);
    EXPECT_EQ(recovery.processes[0].text, readFile(saved));
    std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, KilledHost,
                         ::testing::Values(Scenario{"OneBuffer", 1, 256, 2, false},
                                           Scenario{"Wrapped", 1, 16, 5, false},
                                           Scenario{"SeveralBuffers", 3, 64, 3, false},
                                           Scenario{"BufferIdReused", 2, 64, 4, true},
                                           Scenario{"BufferIdZeroLater", 1, 16, 3, false, true}),
                         [](const auto& p) { return std::string(p.param.name); });

// Damaged copies of a good ring file, and entries that are no ring file at
// all, are each one error naming the entry; the good files are still
// recovered, and nothing blocks or reads without bound.
TEST(DamagedFiles, AreReportedAndTheOthersRecovered)
{
    const std::string dir = freshDir(), saved = dir + "/saved.trace";
    ASSERT_FALSE(dir.empty());
    pid_t child = 0;
    runChild(
        [&](int) {
            hostsimClockSet(T0, 0);
            TraceApi* api = new TraceApi();
            traceKeepRingsIn(api, dir.c_str());
            traceEverything(*api, {"", 1, 64, 1, false});
            api->saveTrace(cs(saved.c_str()));
        },
        [&](pid_t pid) {
            child = pid;
            kill(pid, SIGKILL);
        });
    const std::string good = readFile(dir + "/trace-" + std::to_string(child) + "-1.ring");
    constexpr size_t kByteOrderAt = offsetof(RingFileHeader, byteOrder);
    static constexpr uint16_t kFutureVersion = 99;
    static constexpr uint32_t kFarOffset = 0xfffffffd;  // + 4 wraps in 32 bits
    const struct {
        const char* file;
        std::function<void(std::string&)> damage;
        const char* reason;
    } cases[] = {
        {"cut.ring", [](std::string& b) { b.resize(b.size() / 2); }, "truncated"},
        {"long.ring", [](std::string& b) { b += "x"; }, "longer than its header states"},
        {"mark.ring", [](std::string& b) { b.replace(kByteOrderAt, 4, "\1\1\1\1"); },
         "damaged header"},
        {"position.ring",
         [](std::string& b) {
             memcpy(&b[offsetof(RingFileHeader, nextIndexOffset)], &kFarOffset, sizeof kFarOffset);
         },
         "damaged header"},
        {"future.ring",
         [](std::string& b) {
             memcpy(&b[offsetof(RingFileHeader, version)], &kFutureVersion, sizeof kFutureVersion);
         },
         "format version 99"},
        {"text.ring", [](std::string& b) { b = "not a ring\n"; }, "not a file of kept trace rings"},
    };
    for (const auto& c : cases) {
        std::string bytes = good;
        c.damage(bytes);
        std::ofstream(dir + "/" + c.file, std::ios::binary) << bytes;
    }
    const struct {
        const char* file;
        std::function<int(const std::string&)> make;
        const char* reason;
    } oddEntries[] = {
        {"dir.ring", [](const std::string& p) { return mkdir(p.c_str(), 0700); }, "a directory"},
        {"fifo.ring", [](const std::string& p) { return mkfifo(p.c_str(), 0600); },
         "not a regular file"},
        {"zero.ring", [](const std::string& p) { return symlink("/dev/zero", p.c_str()); },
         "not a regular file"},
        {"dangling.ring", [](const std::string& p) { return symlink("nowhere", p.c_str()); },
         "cannot open"},
        {"loop.ring", [](const std::string& p) { return symlink(p.c_str(), p.c_str()); },
         "cannot open"},
    };
    for (const auto& odd : oddEntries)
        ASSERT_EQ(odd.make(dir + "/" + odd.file), 0) << odd.file;
    Recovery recovery = recoverRings({dir});
    ASSERT_EQ(recovery.errors.size(), std::size(cases) + std::size(oddEntries));
    auto expectError = [&](const char* file, const char* reason) {
        auto named = [&](const std::string& e) { return e.find(file) != std::string::npos; };
        auto error = std::find_if(recovery.errors.begin(), recovery.errors.end(), named);
        ASSERT_NE(error, recovery.errors.end()) << file;
        EXPECT_NE(error->find(reason), std::string::npos) << *error;
    };
    for (const auto& c : cases)
        expectError(c.file, c.reason);
    for (const auto& odd : oddEntries)
        expectError(odd.file, odd.reason);
    ASSERT_EQ(recovery.processes.size(), 1u);
    EXPECT_EQ(recovery.processes[0].text, readFile(saved));
    std::filesystem::remove_all(dir);
}

bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The lines of a saved trace file without the buffer summaries, which count
// traces, and without the traces cut by the death.
std::vector<std::string> tracesOf(const std::string& text)
{
    std::vector<std::string> lines = linesOf(text);
    auto drop = [&](const std::string& line) {
        return line.find(" Number Events ") != std::string::npos || endsWith(line, kCutMark);
    };
    lines.erase(std::remove_if(lines.begin(), lines.end(), drop), lines.end());
    return lines;
}

// What a death leaves in the middle of recording: a trace without its end
// mark (made earlier than the other buffers' last traces, so that the next
// trace in time order would follow it on its line), one whose second record
// was handed out and never written, a slot with a stale BEGIN and nothing
// else (what a clear ordered after the move of the ring's position left),
// and a step built after the step file was last written. Complete traces
// are printed as saved, each cut one alone on its line with the mark, the
// late step's words raw, and nothing else; the summaries count the cut
// traces.
TEST(KilledMidTrace, LeavesCompleteTracesAsSavedAndMarksTheCutOne)
{
    const std::string dir = freshDir(), saved = dir + "/saved.trace";
    ASSERT_FALSE(dir.empty());
    runChild(
        [&](int) {
            hostsimClockSet(T0, 0);
            TraceApi* api = new TraceApi();
            traceKeepRingsIn(api, dir.c_str());
            traceEverything(*api, {"", 3, 64, 2, false});
            api->saveTrace(cs(saved.c_str()));
            TraceFcPayload* late = new TraceFcPayload(0, 1, 2);
            hostsimClockSet(T0, kStepUsec);
            TraceBuffer* gamma = api->findBuffer(3);
            TraceEntry* open = gamma->getFreeEntry();
            open->flags |= TRACE_ENTRY_BEGIN;
            api->identifier_m->capture(open);
            open->id = api->identifier_m->stepId_m;
            *gamma->getFreeEntry() = TraceEntry();
            gamma->getCurrentEntry()->id = late->stepId_m;
            gamma->getCurrentEntry()->word1 = 0xa;
            gamma->getCurrentEntry()->word2 = 0xb;
            gamma->getCurrentEntry()->word3 = 0xc;
            api->findBuffer(2)->getFreeEntry()->flags = TRACE_ENTRY_BEGIN;
            api->beginTrace();
            api->findBuffer(1)->getFreeEntry();
        },
        [](pid_t pid) { kill(pid, SIGKILL); });
    Recovery recovery = recoverRings({dir});
    EXPECT_TRUE(recovery.errors.empty()) << recovery.errors.front();
    ASSERT_EQ(recovery.processes.size(), 1u);
    EXPECT_EQ(recovery.processes[0].cutTraces, 2);
    const std::string text = recovery.processes[0].text;
    std::vector<std::string> cut = linesOf(text);
    cut.erase(std::remove_if(cut.begin(), cut.end(),
                             [](const std::string& line) { return !endsWith(line, kCutMark); }),
              cut.end());
    ASSERT_EQ(cut.size(), 2u) << text;
    std::sort(cut.begin(), cut.end());
    EXPECT_EQ(cut[0].substr(0, 3), "1: ");
    EXPECT_TRUE(endsWith(cut[0], std::string(".250000") + kCutMark)) << cut[0];
    EXPECT_EQ(cut[1].substr(0, 3), "3: ");
    EXPECT_TRUE(endsWith(cut[1], std::string(".250000  0000000a 0000000b 0000000c") + kCutMark))
        << cut[1];
    EXPECT_EQ(tracesOf(text), tracesOf(readFile(saved)));
    // Buffer 1 ends with its cut trace, whose one record is an identifier.
    EXPECT_NE(text.find(".250000 Number Events 12\n"), std::string::npos) << text;
    std::filesystem::remove_all(dir);
}

// Files of other runs beside a run's own: the old run's rings after its pid
// was reused, a step file of another process renamed to this pid, one of
// another run, none at all. One run is recovered, from the step file's run
// or else as raw words, and every other file is named on a line of its own.
TEST(OtherRuns, AreNamedAndOneRunIsRecovered)
{
    const std::string dir = freshDir();
    ASSERT_FALSE(dir.empty());
    pid_t pids[2] = {};
    for (int run = 0; run < 2; run++) {
        const std::string runDir = dir + "/run" + std::to_string(run);
        ASSERT_EQ(mkdir(runDir.c_str(), 0700), 0);
        runChild(
            [&](int) {
                hostsimClockSet(T0 + run, 0);
                TraceApi* api = new TraceApi();
                traceKeepRingsIn(api, runDir.c_str());
                traceEverything(*api, {"", run == 0 ? 3 : 1, 64, 2, false});
                api->saveTrace(cs((runDir + "/saved.trace").c_str()));
            },
            [&](pid_t pid) {
                pids[run] = pid;
                kill(pid, SIGKILL);
            });
    }
    const std::string a = std::to_string(pids[0]), b = std::to_string(pids[1]);
    auto fileOf = [&](int run, const std::string& name) {
        return dir + "/run" + std::to_string(run) + "/" + name;
    };
    // Copies `name` of `run` into `to` under run 0's pid, in its name and,
    // with `pidAt`, in its header.
    auto place = [&](const std::string& to, int run, const std::string& name, size_t pidAt) {
        std::string bytes = readFile(fileOf(run, "trace-" + std::to_string(pids[run]) + name));
        if (pidAt != 0)
            memcpy(&bytes[pidAt], &pids[0], sizeof(uint32_t));
        std::ofstream(to + "/trace-" + a + name, std::ios::binary) << bytes;
    };
    const size_t ringPid = offsetof(RingFileHeader, pid), stepPid = offsetof(StepFileHeader, pid);
    auto runZeroRings = [&](const std::string& to) {
        for (const char* ring : {"-1.ring", "-2.ring", "-3.ring"})
            place(to, 0, ring, 0);
    };
    const struct {
        const char* name;
        std::function<void(const std::string&)> make;
        std::vector<std::string> errors;
        bool raw;  // else run 1's saved trace
    } cases[] = {
        {"PidReused",
         [&](const std::string& to) {
             runZeroRings(to);
             place(to, 1, "-1.ring", ringPid);
             place(to, 1, ".steps", stepPid);
         },
         {"-2.ring: of another run of process " + a, "-3.ring: of another run"},
         false},
        {"StepFileOfAnotherProcess",
         [&](const std::string& to) {
             runZeroRings(to);
             place(to, 1, ".steps", 0);
         },
         {".steps: written by process " + b + "; records printed as raw words"},
         true},
        {"StepFileOfAnotherRun",
         [&](const std::string& to) {
             runZeroRings(to);
             place(to, 1, ".steps", stepPid);
         },
         {".steps: of another run than the ring files; records printed as raw words"},
         true},
        {"NoStepFile", runZeroRings, {".steps: cannot open"}, true},
    };
    const std::string savedRaw = readFile(fileOf(0, "saved.trace"));
    auto traceLineCount = [](const std::string& text) {
        const std::vector<std::string> lines = linesOf(text);
        return std::count_if(lines.begin(), lines.end(),
                             [](const std::string& l) { return l.size() > 2 && l[1] == ':'; });
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string caseDir = dir + "/" + c.name;
        ASSERT_EQ(mkdir(caseDir.c_str(), 0700), 0);
        c.make(caseDir);
        Recovery recovery = recoverRings({caseDir});
        ASSERT_EQ(recovery.errors.size(), c.errors.size());
        for (size_t i = 0; i < c.errors.size(); i++)
            EXPECT_NE(recovery.errors[i].find(c.errors[i]), std::string::npos)
                << recovery.errors[i];
        ASSERT_EQ(recovery.processes.size(), 1u);
        const std::string& text = recovery.processes[0].text;
        if (!c.raw) {
            EXPECT_EQ(text, readFile(fileOf(1, "saved.trace")));
            continue;
        }
        EXPECT_EQ(traceLineCount(text), traceLineCount(savedRaw));
        for (const char* formatted : {"ELS ", "LOGIN", "NULL trace step id", "port "})
            EXPECT_EQ(text.find(formatted), std::string::npos) << formatted;
    }
    std::filesystem::remove_all(dir);
}

struct Fault {
    const char* name;
    int signal;
    void (*fault)(TraceApi& api);
    bool hostHandler;  // the host installed a handler of its own before
};

void PrintTo(const Fault& f, std::ostream* os)
{
    *os << f.name;
}

int hostHandlerPipe = -1;
void hostHandler(int signo)
{
    char mark = 'h';
    if (write(hostHandlerPipe, &mark, 1) == 1)
        signal(signo, SIG_DFL);
}

class FaultingHost : public ::testing::TestWithParam<Fault> {};

TEST_P(FaultingHost, LeavesTheSavedTraceAndDiesByItsSignal)
{
    const std::string dir = freshDir(), saved = dir + "/saved.trace", fatal = dir + "/fatal.trace";
    ASSERT_FALSE(dir.empty());
    int marks[2];
    ASSERT_EQ(pipe(marks), 0);
    int status = runChild(
        [&](int ready) {
            hostsimClockSet(T0, 0);
            TraceApi* api = new TraceApi();
            traceEverything(*api, {"", 2, 64, 2, false});
            api->saveTrace(cs(saved.c_str()));
            hostHandlerPipe = marks[1];
            if (GetParam().hostHandler)
                signal(GetParam().signal, hostHandler);
            if (traceSaveOnFatalSignal(api, fatal.c_str()) != 0)
                _exit(kHostFailed);
            close(ready);
            GetParam().fault(*api);
        },
        [](pid_t) {});
    close(marks[1]);
    char mark = 0;
    const bool handled = read(marks[0], &mark, 1) == 1;
    close(marks[0]);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == GetParam().signal) << status;
    EXPECT_EQ(handled, GetParam().hostHandler);
    EXPECT_EQ(readFile(fatal), readFile(saved));
    std::filesystem::remove_all(dir);
}

// A store into a page that allows no access: a real fault, and one that the
// undefined-behaviour sanitizer does not stop first as a null store.
void segfault(TraceApi&)
{
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *static_cast<volatile int*>(page) = 1;
}
void abortNow(TraceApi&)
{
    abort();
}
void failAssertion(TraceApi& api)
{
    api.addToTrace(nullptr, 0, 0, 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultingHost,
                         ::testing::Values(Fault{"Segfault", SIGSEGV, segfault, false},
                                           Fault{"SegfaultChained", SIGSEGV, segfault, true},
                                           Fault{"Abort", SIGABRT, abortNow, false},
                                           Fault{"LibraryAssertion", SIGABRT, failAssertion, true}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
