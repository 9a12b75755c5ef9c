// What the reference host's utilities do beyond the host contract, which the
// host check kit covers: times past the 32-bit range and before 1970, the
// lengths strlcpy/strlcat return, and the controllable clock.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdint.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>

#include <cstdlib>
#include <utility>

#include "hostsim.h"
#include "hostsimClock.h"

namespace {

using Pair = std::pair<int64_t, int64_t>;
using GetTime = int (*)(struct timeval*, void*);

constexpr int32_t kMax = INT32_MAX;
constexpr int32_t kMin = INT32_MIN;
constexpr int32_t kSetSec = 1796487552;
constexpr int32_t kSetUsec = 250000;

TEST(HostTimeval, NormalizeCarriesManySecondsAndWraps)
{
    struct {
        int32_t sec, usec, wantSec, wantUsec;
    } cases[] = {{-1, -2500000, -4, 500000},
                 {0, kMin, -2148, 516352},
                 {kMax, 1000000, kMin, 0},
                 {kMax, kMax, -2147481502, 483647}};
    for (const auto& c : cases) {
        Timeval tv(c.sec, c.usec);
        tv.normalize();
        EXPECT_EQ(Pair(tv.tv_sec, tv.tv_usec), Pair(c.wantSec, c.wantUsec))
            << c.sec << " " << c.usec;
    }
}

// The text shows the normalized time and leaves the value alone.
TEST(HostTimeval, StringShowsTheNormalizedTime)
{
    Timeval tv(-1, -2500000);
    EXPECT_STREQ(TimevalString(tv).text_m, "1969-12-31 23:59:56.500000");
    EXPECT_EQ(Pair(tv.tv_sec, tv.tv_usec), Pair(-1, -2500000));
}

// The length each call tried to create; dst starts as "ab".
TEST(HostStrl, ReturnTheLengthTheyTriedToCreate)
{
    struct {
        bool append;
        const char* src;
        size_t size, length;
        const char* result;
    } cases[] = {{false, "hello", 0, 5, "ab"}, {false, "hello", 3, 5, "he"},
                 {true, "cde", 4, 5, "abc"},   {true, "cde", 2, 5, "ab"},  // no NUL within size
                 {true, "cde", 0, 3, "ab"},    {true, "", 3, 2, "ab"}};
    for (const auto& c : cases) {
        char dst[8] = "ab";
        size_t length = c.append ? strlcat(dst, c.src, c.size) : strlcpy(dst, c.src, c.size);
        EXPECT_EQ(length, c.length) << c.src << " " << c.size;
        EXPECT_STREQ(dst, c.result) << c.src << " " << c.size;
    }
}

int callGettimeofday(struct timeval* tv, void* tz)
{
    return gettimeofday(tv, static_cast<struct timezone*>(tz));
}

Pair now(GetTime get = callGettimeofday)
{
    struct timeval tv = {0, 0};
    if (get(&tv, nullptr) != 0)
        return Pair(-1, -1);
    return Pair(tv.tv_sec, tv.tv_usec);
}

// Shared libraries bind gettimeofday through the global scope: they must
// find the controllable clock, not the C library's, and it must stay put.
TEST(HostClock, EveryCallerSeesTheSetTime)
{
    void* symbol = dlsym(RTLD_DEFAULT, "gettimeofday");
    ASSERT_NE(symbol, nullptr);
    hostsimClockSet(kSetSec, kSetUsec);
    EXPECT_TRUE(hostsimClockIsSet());
    EXPECT_EQ(now(), Pair(kSetSec, kSetUsec));
    EXPECT_EQ(now(reinterpret_cast<GetTime>(symbol)), Pair(kSetSec, kSetUsec));
}

TEST(HostClock, AdvanceCarriesAcrossSeconds)
{
    hostsimClockSet(10, -1);
    hostsimClockAdvance(2);
    EXPECT_EQ(now(), Pair(10, 1));
    hostsimClockAdvance(-20000002);
    EXPECT_EQ(now(), Pair(-11, 999999));
}

TEST(HostClock, RealTimeIgnoresAdvance)
{
    hostsimClockSet(10, 0);
    hostsimClockUseReal();
    EXPECT_FALSE(hostsimClockIsSet());
    hostsimClockAdvance(1000000000);
    Pair real = now();
    EXPECT_LE(std::abs(real.first - int64_t(time(nullptr))), 2);
    EXPECT_LT(real.second, 1000000);
}

}  // namespace
