// Recording must not touch the heap, mirrored or not. The executable counts
// malloc-family calls (operator new goes through malloc); under
// AddressSanitizer, which owns the allocator, its allocation hook does.
#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "apiSupport.h"
#include "traceRecovery.h"
#if defined(__has_include) && __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif

static size_t allocations = 0;
static bool counting = false;
static long failIn = -1;  // the allocation that many from now fails; -1: none

#if defined(__SANITIZE_ADDRESS__)
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*));
static const int hooked = __sanitizer_install_malloc_and_free_hooks(
    [](const volatile void*, size_t) { allocations += counting; }, [](const volatile void*) {});
#else
static bool failNow()
{
    return failIn >= 0 && failIn-- == 0;
}

extern "C" {
void *__libc_malloc(size_t), *__libc_calloc(size_t, size_t), *__libc_realloc(void*, size_t);
void* malloc(size_t size)
{
    allocations += counting;
    return failNow() ? nullptr : __libc_malloc(size);
}
void* calloc(size_t n, size_t size)
{
    allocations += counting;
    return failNow() ? nullptr : __libc_calloc(n, size);
}
void* realloc(void* p, size_t size)
{
    allocations += counting;
    return failNow() ? nullptr : __libc_realloc(p, size);
}
}
#endif

namespace {

size_t counted(const std::function<void()>& run)
{
    allocations = 0;
    counting = true;
    run();
    counting = false;
    return allocations;
}

void* volatile sink;

class Alloc : public ::testing::Test {
protected:
    void SetUp() override
    {
#if defined(RUNNING_ON_VALGRIND)
        if (RUNNING_ON_VALGRIND)
            GTEST_SKIP() << "valgrind replaces the allocator";
#endif
    }
    TraceApi api;
};

// The counter sees the C library's calls and operator new in the library.
TEST_F(Alloc, TheCounterSeesEveryAllocation)
{
    EXPECT_EQ(counted([] { free(sink = malloc(24)); }), 1u);
    EXPECT_EQ(counted([&] { api.syslogEnable(true); }), 1u);
}

TEST_F(Alloc, RecordingAllocatesNothingMirroredOrNot)
{
    TraceDeviceEvent event;
    WorldWideName wwn{0x10000005, 0x1e123456};
    ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 16, false));
    api.captureFcFrame();
    api.captureEthFrame();
    api.captureELS();
    HostFcFrame plogi(wire(kPlogi), hostsimPort(7));
    HostEthFrame eth(ethWire(true), hostsimPortPair(3, 4));
    port_id_t port = hostsimPort(12);
    auto traceAll = [&](int rounds) {
        for (int i = 0; i < rounds; i++) {
            api.traceRx(&plogi.frame);
            api.traceTx(&plogi.frame, &port);
            api.traceRx(&eth.frame);
            api.traceTx(&eth.frame, &port);
            api.traceDeviceEvent(0x010203, wwn, 5, 1, event.stepId_m);
            api.beginTrace();
            api.addToTrace(&event, 1, 2, 3);
            api.endTrace();
            hostsimClockAdvance(1);
        }
    };
    const int kRounds = 100, kTracesPerRound = 6;
    hostsimClockSet(1700000000, 42);
    api.syslogEnable(true);
    traceAll(1);  // one-time work outside the library: the time zone set-up of the first text
    for (bool mirror : {false, true}) {
        api.syslogEnable(mirror);
        syslogClear();
        EXPECT_EQ(counted([&] { traceAll(kRounds); }), 0u) << mirror;
        EXPECT_EQ(syslogCap.count, mirror ? size_t(kRounds * kTracesPerRound) : 0u);
    }
    hostsimClockUseReal();
    EXPECT_TRUE(api.findBuffer(1)->wrapped);
}

size_t openDescriptors()
{
    size_t count = 0;
    for ([[maybe_unused]] const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
        count++;
    return count;
}

// Mappings of files in dir, and files in it with ".new" in their names.
std::pair<size_t, size_t> traces(const std::string& dir)
{
    size_t maps = 0, halfMade = 0;
    std::ifstream in("/proc/self/maps");
    for (std::string line; std::getline(in, line);)
        maps += line.find(dir) != std::string::npos;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        halfMade += entry.path().filename().string().find(".new") != std::string::npos;
    return {maps, halfMade};
}

// Running out of memory at any allocation while a kept ring is made: the
// failure reaches the caller, and no half-made file, descriptor or mapping
// is left behind.
TEST_F(Alloc, KeptRingOutOfMemoryAnywhereLeavesNothingBehind)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator cannot be made to fail";
#endif
    std::string dir = ::testing::TempDir() + "allocRingXXXXXX";
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    ASSERT_EQ(traceKeepRingsIn(&api, dir.c_str()), 0);
    const size_t descriptors = openDescriptors();
    int failures = 0;
    bool reachedTheEnd = false;
    for (long n = 0; n < 1000 && !reachedTheEnd; n++) {
        bool threw = false;
        failIn = n;
        try {
            api.initTraceBuffer(1, cs("ring"), 64, true);
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        reachedTheEnd = failIn >= 0;  // no allocation was made to fail
        failIn = -1;
        failures += threw;
        EXPECT_EQ(openDescriptors(), descriptors) << n;
        EXPECT_EQ(traces(dir), std::make_pair(size_t(threw ? 0 : 1), size_t(0))) << n;
    }
    EXPECT_TRUE(reachedTheEnd);
    EXPECT_GE(failures, 4);
    EXPECT_NE(api.findBuffer(1), nullptr);
    std::filesystem::remove_all(dir);
}

}  // namespace
