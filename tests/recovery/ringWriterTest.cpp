// The writing side of crash survival: the bytes of the ring and step files,
// the files the library creates in directories others may share, and the
// fatal-signal save in the deaths a host meets (a freed TraceApi, a fault
// inside the save, a stack overflow in any thread, a short address space).
// Hosts that install signal handlers or die run in forked children.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <alloca.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "apiSupport.h"
#include "fileText.h"
#include "traceRecovery.h"
#if defined(__has_include) && __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif

// Faults must reach the library's handler, not the sanitizer's.
extern "C" const char* __asan_default_options()
{
    return "handle_segv=0:handle_sigbus=0";
}

namespace {

namespace fs = std::filesystem;

std::string freshDir(mode_t mode = 0700)
{
    std::string dir = ::testing::TempDir() + "ringWriterXXXXXX";
    if (mkdtemp(dir.data()) == nullptr || chmod(dir.c_str(), mode) != 0)
        return "";
    return dir;
}

uint32_t u32(const std::string& bytes, size_t at)
{
    uint32_t value = 0;
    memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

uint16_t u16(const std::string& bytes, size_t at)
{
    uint16_t value = 0;
    memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

// Runs `host` in a forked child, which exits with what it returns; the wait
// status.
int inChild(const std::function<int()>& host)
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(host());
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

bool exited(int status, int code = 0)
{
    return WIFEXITED(status) && WEXITSTATUS(status) == code;
}
bool killedBy(int status, int signo)
{
    return WIFSIGNALED(status) && WTERMSIG(status) == signo;
}

// Names in dir with ".new" in them: files left half made.
std::vector<std::string> leftovers(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().find(".new") != std::string::npos)
            names.push_back(entry.path().filename());
    return names;
}

class HostStep : public TraceStep {
public:
    void format(TraceEntry*, char* buf, int size) override { snprintf(buf, size, "host"); }
};

// The byte layout of both files, field by field at fixed offsets, the
// numbers of the step kinds, and the zeroed reserved fields. A filter added
// after the buffer must reach the step file at once.
TEST(FileFormat, IsPinned)
{
    const std::string dir = freshDir();
    ASSERT_FALSE(dir.empty());
    TraceApi api;
    TraceDeviceEvent event;
    TraceFcPayload payload(0, 1, -1);
    HostStep host;
    ASSERT_EQ(traceKeepRingsIn(&api, dir.c_str()), 0);
    api.initTraceBuffer(3, cs("pinned"), 16, true);
    api.captureFcFrame();
    const std::string prefix = dir + "/trace-" + std::to_string(getpid());
    const std::string ring = readFile(prefix + "-3.ring"), steps = readFile(prefix + ".steps");

    ASSERT_EQ(ring.size(), 128u + 16 * 16 + strlen("pinned"));
    EXPECT_EQ(ring.substr(0, 8), "TRCRING1");
    const std::pair<size_t, uint32_t> ringFields[] = {
        {8, 0x01020304},
        {16, uint32_t(getpid())},
        {20, 3},
        {24, 16},
        {28, 0},
        {32, 64},
        {36, 2 * sizeof(void*) + 4},  // TraceBuffer::nextIndex
        {40, 2 * sizeof(void*) + 8},  // TraceBuffer::wrapped
        {44, 128},
        {48, 6},
        {60, 0}};
    for (auto [at, value] : ringFields)
        EXPECT_EQ(u32(ring, at), value) << "ring header offset " << at;
    EXPECT_EQ(u16(ring, 12), 2u) << "format version";
    EXPECT_EQ(uint8_t(ring[14]), sizeof(void*));
    EXPECT_EQ(uint8_t(ring[15]), 16u);
    EXPECT_EQ(ring.substr(ring.size() - 6), "pinned");

    EXPECT_EQ(steps.substr(0, 8), "TRCSTEP1");
    const std::pair<size_t, uint32_t> stepFields[] = {{8, 0x01020304},
                                                      {16, uint32_t(getpid())},
                                                      {20, api.identifier_m->stepId_m},
                                                      {28, 1},
                                                      {36, TraceStep::traceStepCount_m}};
    for (auto [at, value] : stepFields)
        EXPECT_EQ(u32(steps, at), value) << "step header offset " << at;
    EXPECT_EQ(u16(steps, 12), 2u);
    EXPECT_EQ(uint8_t(steps[15]), 0u) << "reserved byte";
    // One run id, high word first, in both files.
    EXPECT_EQ(u32(steps, 40), u32(ring, 52));
    EXPECT_EQ(u32(steps, 44), u32(ring, 56));
    EXPECT_NE(uint64_t(u32(ring, 52)) << 32 | u32(ring, 56), 0u);

    std::map<uint16_t, uint8_t> kinds;
    size_t at = 48;
    for (uint32_t i = 0; i < u32(steps, 24) && at + 24 <= steps.size(); i++) {
        kinds[u16(steps, at)] = uint8_t(steps[at + 2]);
        at += 24 + u32(steps, at + 16) + u32(steps, at + 20);
    }
    const std::pair<TraceStep*, uint8_t> expected[] = {
        {&host, 0},     {api.identifier_m, 1},  {api.fcHeader_m, 2}, {&payload, 3},
        {api.els_m, 4}, {api.ethDmacSmac_m, 5}, {api.ethData_m, 6},  {&event, 7}};
    for (auto [step, kind] : expected)
        EXPECT_EQ(kinds[step->stepId_m], kind) << "step id " << step->stepId_m;
    // The filter list follows the steps: the one filter's dump text.
    EXPECT_EQ(u32(steps, 32), steps.size() - at);
    EXPECT_GT(u32(steps, 32), 0u);
    fs::remove_all(dir);
}

TEST(FileFormat, RunIdDiffersBetweenProcesses)
{
    auto runIdOfChild = [](const std::string& dir) {
        inChild([&] {
            TraceApi* api = new TraceApi();
            traceKeepRingsIn(api, dir.c_str());
            api->initTraceBuffer(1, nullptr, 2, true);
            kill(getpid(), SIGKILL);
            return 1;
        });
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path().extension() == ".ring") {
                std::string ring = readFile(entry.path());
                return uint64_t(u32(ring, 52)) << 32 | u32(ring, 56);
            }
        return uint64_t(0);
    };
    const std::string first = freshDir(), second = freshDir();
    ASSERT_FALSE(first.empty() || second.empty());
    EXPECT_NE(runIdOfChild(first), runIdOfChild(second));
    fs::remove_all(first);
    fs::remove_all(second);
}

// Every name the library will use in the directory is planted as a symlink
// to a file the library must not touch; in a private directory and in a
// sticky one that everybody may write (like /dev/shm).
TEST(PlantedSymlinks, AreNeitherFollowedNorReused)
{
    for (mode_t mode : {0700, 01777}) {
        const std::string dir = freshDir(mode), victim = dir + "/victim";
        ASSERT_FALSE(dir.empty());
        std::ofstream(victim) << "precious";
        int status = inChild([&] {
            const std::string prefix = dir + "/trace-" + std::to_string(getpid());
            for (const char* name : {"-1.ring", "-1.ring.new", ".steps", ".steps.new"})
                symlink(victim.c_str(), (prefix + name).c_str());
            symlink(victim.c_str(), (dir + "/fatal.trace").c_str());
            TraceApi api;
            if (traceKeepRingsIn(&api, dir.c_str()) != 0 ||
                traceSaveOnFatalSignal(&api, (dir + "/fatal.trace").c_str()) != 0)
                return 2;
            api.initTraceBuffer(1, nullptr, 16, true);
            api.beginTrace();
            struct stat info;
            bool kept = lstat((prefix + "-1.ring").c_str(), &info) == 0 && S_ISREG(info.st_mode);
            return kept ? 0 : 3;
        });
        EXPECT_TRUE(exited(status)) << std::oct << mode << " status " << status;
        EXPECT_EQ(readFile(victim), "precious") << std::oct << mode;
        EXPECT_EQ(readFile(dir + "/fatal.trace"), "");
        fs::remove_all(dir);
    }
}

// A directory that others may write into is refused unless it is sticky.
TEST(SharedDirectories, AreRefusedUnlessSticky)
{
    const struct {
        mode_t mode;
        int error;
    } cases[] = {{0700, 0}, {0755, 0}, {01777, 0}, {0777, EPERM}, {0770, EPERM}, {0722, EPERM}};
    for (const auto& c : cases) {
        const std::string dir = freshDir(c.mode);
        ASSERT_FALSE(dir.empty());
        int status = inChild([&] {
            TraceApi api;
            int kept = traceKeepRingsIn(&api, dir.c_str());
            int saved = traceSaveOnFatalSignal(&api, (dir + "/fatal.trace").c_str());
            return kept == c.error && saved == c.error ? 0 : 1;
        });
        EXPECT_TRUE(exited(status)) << "mode " << std::oct << c.mode;
        fs::remove_all(dir);
    }
    // A symlink to a private directory, made by another user.
    const std::string dir = freshDir(01777), target = freshDir();
    const std::string link = dir + "/rings";
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    if (lchown(link.c_str(), 65534, 65534) == 0) {
        TraceApi api;
        EXPECT_EQ(traceKeepRingsIn(&api, link.c_str()), EPERM);
    }
    fs::remove_all(dir);
    fs::remove_all(target);
}

// The previous crash's trace must not look like this one's.
TEST(FatalSave, EmptiesThePreviousFileAtInstall)
{
    const std::string dir = freshDir(), fatal = dir + "/fatal.trace";
    ASSERT_FALSE(dir.empty());
    std::ofstream(fatal) << "the trace of the previous crash\n";
    int status = inChild([&] {
        TraceApi api;
        return traceSaveOnFatalSignal(&api, fatal.c_str());
    });
    EXPECT_TRUE(exited(status));
    EXPECT_EQ(readFile(fatal), "");
    EXPECT_TRUE(leftovers(dir).empty());
    fs::remove_all(dir);
}

// A host that deleted its TraceApi: the save must not read freed memory,
// and the process still dies by its own signal.
TEST(FatalSave, AfterTheApiIsDeletedSavesNothing)
{
    const std::string dir = freshDir(), fatal = dir + "/fatal.trace";
    ASSERT_FALSE(dir.empty());
    int status = inChild([&] {
        TraceApi* api = new TraceApi();
        api->initTraceBuffer(1, nullptr, 16, true);
        api->beginTrace();
        api->endTrace();
        traceSaveOnFatalSignal(api, fatal.c_str());
        delete api;
        abort();
        return 0;
    });
    EXPECT_TRUE(killedBy(status, SIGABRT)) << status;
    EXPECT_EQ(readFile(fatal), "");
    fs::remove_all(dir);
}

// A store into a page that allows no access: a real fault, which the
// undefined-behaviour sanitizer does not stop first as a null store.
__attribute__((noinline)) void segfault()
{
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *static_cast<volatile int*>(page) = 0;
}

// A step whose text cannot be made: each call is reported on a pipe, then
// faults.
int formatCalls = -1;
class FaultingStep : public TraceStep {
public:
    void format(TraceEntry*, char*, int) override
    {
        char mark = 'f';
        if (::write(formatCalls, &mark, 1) == 1)
            segfault();
    }
};

// A second fault inside the save ends the process by that signal at once:
// the save is not started again.
TEST(FatalSave, ASecondFaultDuringTheSaveEndsItAtOnce)
{
    const std::string dir = freshDir(), fatal = dir + "/fatal.trace";
    ASSERT_FALSE(dir.empty());
    int calls[2];
    ASSERT_EQ(pipe(calls), 0);
    int status = inChild([&] {
        formatCalls = calls[1];
        TraceApi* api = new TraceApi();
        FaultingStep* step = new FaultingStep();
        api->initTraceBuffer(1, nullptr, 16, true);
        api->beginTrace();
        api->addToTrace(step, 1, 2, 3);
        api->endTrace();
        traceSaveOnFatalSignal(api, fatal.c_str());
        abort();
        return 0;
    });
    close(calls[1]);
    char marks[4];
    EXPECT_EQ(read(calls[0], marks, sizeof marks), 1);
    close(calls[0]);
    EXPECT_TRUE(killedBy(status, SIGSEGV)) << status;
    fs::remove_all(dir);
}

// Deep enough to overflow any stack; alloca keeps the frames on the real
// stack whatever the sanitizers do with locals.
int recurse(int depth)
{
    volatile char* frame = static_cast<volatile char*>(alloca(1024));
    frame[0] = char(depth);
    return depth > 100000000 ? frame[0] : recurse(depth + 1) + frame[0];
}

void* overflowThread(void*)
{
    if (traceGiveThreadSignalStack() != 0)
        _exit(4);
    recurse(0);
    return nullptr;
}

// A stack overflow is saved in the installing thread and in a thread the
// host made afterwards that asked for a signal stack.
TEST(FatalSave, StackOverflowIsSavedInAnyThreadThatAsked)
{
    for (bool inThread : {false, true}) {
        const std::string dir = freshDir(), fatal = dir + "/fatal.trace", saved = dir + "/saved";
        ASSERT_FALSE(dir.empty());
        int status = inChild([&] {
            hostsimClockSet(1700000000, 0);
            TraceApi* api = new TraceApi();
            api->initTraceBuffer(1, nullptr, 16, true);
            api->captureFcFrame();
            HostFcFrame plogi{wire(kPlogi), hostsimPort(7)};
            api->traceRx(&plogi.frame);
            api->saveTrace(cs(saved.c_str()));
            if (traceSaveOnFatalSignal(api, fatal.c_str()) != 0)
                return 2;
            if (!inThread)
                return recurse(0);
            pthread_t thread;
            pthread_attr_t attr;
            pthread_attr_init(&attr);
            pthread_attr_setstacksize(&attr, 256 * 1024);
            pthread_create(&thread, &attr, overflowThread, nullptr);
            pthread_join(thread, nullptr);
            return 3;
        });
        EXPECT_TRUE(killedBy(status, SIGSEGV)) << "in thread " << inThread << " status " << status;
        EXPECT_EQ(readFile(fatal), readFile(saved)) << "in thread " << inThread;
        fs::remove_all(dir);
    }
}

TEST(FatalSave, ThreadSignalStackIsFreedWithItsThread)
{
    std::thread([] {
        EXPECT_EQ(traceGiveThreadSignalStack(), 0);
        stack_t stack;
        ASSERT_EQ(sigaltstack(nullptr, &stack), 0);
        EXPECT_FALSE(stack.ss_flags & SS_DISABLE);
    }).join();
}

size_t addressSpaceInUse()
{
    std::ifstream maps("/proc/self/maps");
    size_t total = 0;
    for (std::string line; std::getline(maps, line);) {
        unsigned long from = 0, to = 0;
        if (sscanf(line.c_str(), "%lx-%lx", &from, &to) == 2)
            total += to - from;
    }
    return total;
}

// The address space has room for the ring once, in the file's mapping: the
// buffer is kept there, with no copy of the ring on the heap.
TEST(KeptRing, NeedsRoomForItsRingOnlyOnce)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory does not fit an address space limit";
#endif
#if defined(RUNNING_ON_VALGRIND)
    if (RUNNING_ON_VALGRIND)
        GTEST_SKIP() << "valgrind manages the address space itself";
#endif
    const std::string dir = freshDir();
    ASSERT_FALSE(dir.empty());
    constexpr int kEntries = 1 << 22;  // 64 MiB of records
    constexpr size_t kRingBytes = size_t(kEntries) * sizeof(TraceEntry);
    int status = inChild([&] {
        TraceApi* api = new TraceApi();
        if (traceKeepRingsIn(api, dir.c_str()) != 0)
            return 2;
        struct rlimit limit;
        limit.rlim_cur = limit.rlim_max = addressSpaceInUse() + kRingBytes * 3 / 2;
        if (setrlimit(RLIMIT_AS, &limit) != 0)
            return 3;
        try {
            api->initTraceBuffer(1, nullptr, kEntries, true);
        } catch (const std::bad_alloc&) {
            return 4;
        }
        struct stat info;
        std::string ring = dir + "/trace-" + std::to_string(getpid()) + "-1.ring";
        return stat(ring.c_str(), &info) == 0 && size_t(info.st_size) > kRingBytes ? 0 : 5;
    });
    EXPECT_TRUE(exited(status)) << status;
    EXPECT_TRUE(leftovers(dir).empty());
    fs::remove_all(dir);
}

// A kill can land between any two instructions of recording. A child is
// stepped through beginTrace one instruction at a time: the slot it hands
// out must never be in the ring (nextIndex past it) while it still holds
// the flags of the record it replaces.
TEST(KeptRing, HandsOutASlotOnlyOnceItIsCleared)
{
#if defined(RUNNING_ON_VALGRIND)
    if (RUNNING_ON_VALGRIND)
        GTEST_SKIP() << "stepping valgrind steps its translations";
#endif
    const std::string dir = freshDir();
    ASSERT_FALSE(dir.empty());
    pid_t pid = fork();
    if (pid == 0) {
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)
            _exit(77);
        TraceApi* api = new TraceApi();
        traceKeepRingsIn(api, dir.c_str());
        api->initTraceBuffer(1, nullptr, 2, true);
        api->captureFcFrame();
        HostFcFrame plogi{wire(kPlogi), hostsimPort(7)};
        api->traceRx(&plogi.frame);  // slot 0 BEGIN, slot 1 RX | END
        api->beginTrace();           // slot 0 again; slot 1 is next
        raise(SIGSTOP);
        api->beginTrace();  // stepped
        raise(SIGSTOP);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (exited(status, 77))
        GTEST_SKIP() << "no ptrace here";
    ASSERT_TRUE(WIFSTOPPED(status) && WSTOPSIG(status) == SIGSTOP) << status;
    const std::string path = dir + "/trace-" + std::to_string(pid) + "-1.ring";
    int fd = open(path.c_str(), O_RDONLY);
    void* map = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
    ASSERT_NE(map, MAP_FAILED);
    const char* base = static_cast<const char*>(map);
    auto nextIndex = reinterpret_cast<const volatile int32_t*>(base + 64 + 2 * sizeof(void*) + 4);
    auto flags = reinterpret_cast<const volatile uint16_t*>(base + 128 + 16 + 2);  // slot 1
    ASSERT_EQ(*nextIndex, 1);
    ASSERT_EQ(*flags, kRx | kEnd);
    int steps = 0, staleInRing = 0;
    while (ptrace(PTRACE_SINGLESTEP, pid, nullptr, nullptr) == 0 &&
           waitpid(pid, &status, 0) == pid && WIFSTOPPED(status) && WSTOPSIG(status) == SIGTRAP) {
        steps++;
        staleInRing += *nextIndex == 0 && (*flags & ~kBegin) != 0;
    }
    EXPECT_GT(steps, 10);
    EXPECT_EQ(staleInRing, 0);
    EXPECT_EQ(*nextIndex, 0);
    EXPECT_EQ(*flags, kBegin);
    munmap(map, 4096);
    close(fd);
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    fs::remove_all(dir);
}

}  // namespace
