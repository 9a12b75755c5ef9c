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
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "apiSupport.h"
#include "fileText.h"
#include "recovery.h"
#include "ringFormat.h"
#include "traceRecovery.h"

// The segfault scenario must reach the library's handler, not the address
// sanitizer's, in sanitized builds.
extern "C" const char* __asan_default_options() { return "handle_segv=0:handle_sigbus=0"; }

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
    int buffers;       // 1 to 3; buffer 2 takes ELS frames, the last one device events
    int ringSize;
    int rounds;
    bool reuseBuffer;  // buffer 1 is replaced half-way
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
    TraceDeviceEvent* gone = new TraceDeviceEvent();
    api.traceDeviceEvent(kEventAddress, wwn, 1, 0, gone->stepId_m);
    delete gone;
}

void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

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
                                           Scenario{"BufferIdReused", 2, 64, 4, true}),
                         [](const auto& p) { return std::string(p.param.name); });

// Damaged copies of a good ring file are each one error naming the file;
// the good files are still recovered.
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
    const struct {
        const char* file;
        std::function<void(std::string&)> damage;
        const char* reason;
    } cases[] = {
        {"cut.ring", [](std::string& b) { b.resize(b.size() / 2); }, "truncated"},
        {"swapped.ring",
         [](std::string& b) { std::reverse(&b[kByteOrderAt], &b[kByteOrderAt + 4]); },
         "written with the other byte order"},
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
    Recovery recovery = recoverRings({dir});
    ASSERT_EQ(recovery.errors.size(), std::size(cases));
    for (const auto& c : cases) {
        auto named = [&](const std::string& e) { return e.find(c.file) != std::string::npos; };
        auto error = std::find_if(recovery.errors.begin(), recovery.errors.end(), named);
        ASSERT_NE(error, recovery.errors.end()) << c.file;
        EXPECT_NE(error->find(c.reason), std::string::npos) << *error;
    }
    ASSERT_EQ(recovery.processes.size(), 1u);
    EXPECT_EQ(recovery.processes[0].text, readFile(saved));
    std::filesystem::remove_all(dir);
}

struct Fault {
    const char* name;
    int signal;
    void (*fault)(TraceApi& api);
    bool hostHandler;   // the host installed a handler of its own before
};

void PrintTo(const Fault& f, std::ostream* os) { *os << f.name; }

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
void abortNow(TraceApi&) { abort(); }
void failAssertion(TraceApi& api) { api.addToTrace(nullptr, 0, 0, 0); }

INSTANTIATE_TEST_SUITE_P(Faults, FaultingHost,
                         ::testing::Values(Fault{"Segfault", SIGSEGV, segfault, false},
                                           Fault{"SegfaultChained", SIGSEGV, segfault, true},
                                           Fault{"Abort", SIGABRT, abortNow, false},
                                           Fault{"LibraryAssertion", SIGABRT, failAssertion, true}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
