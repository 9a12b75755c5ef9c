// The reference host's times, names, string copies and controllable clock.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdint.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>

#include <cstdlib>
#include <string>

#include "hostsim.h"
#include "hostsimClock.h"

namespace {

using Pair = std::pair<int64_t, int64_t>;

constexpr int32_t kMax = INT32_MAX;
constexpr int32_t kMin = INT32_MIN;

// normalize() carries microseconds into seconds, wrapping at 32 bits.
TEST(HostTimeval, NormalizeCarriesMicrosecondsAndWraps)
{
    struct {
        int32_t sec, usec, wantSec, wantUsec;
    } cases[] = {
        {5, 999999, 5, 999999},           {0, 1000000, 1, 0},       {5, -1, 4, 999999},
        {-1, -2500000, -4, 500000},       {0, kMin, -2148, 516352}, {kMax, 1000000, kMin, 0},
        {kMax, kMax, -2147481502, 483647}};
    for (const auto& c : cases) {
        Timeval tv(c.sec, c.usec);
        tv.normalize();
        EXPECT_EQ(Pair(tv.tv_sec, tv.tv_usec), Pair(c.wantSec, c.wantUsec))
            << c.sec << " " << c.usec;
    }
}

// The text shows the normalized time and leaves the value alone.
TEST(HostTimeval, StringShowsTheNormalizedTimeInUtc)
{
    Timeval tv(-1, -2500000);
    EXPECT_STREQ(TimevalString(tv).text_m, "1969-12-31 23:59:56.500000");
    EXPECT_EQ(Pair(tv.tv_sec, tv.tv_usec), Pair(-1, -2500000));
    Timeval last(kMax, 999999);
    EXPECT_STREQ(TimevalString(last).text_m, "2038-01-19 03:14:07.999999");
}

TEST(HostWorldWideName, UnknownStyleFormatsAsDefault)
{
    WorldWideName name(0x10000005, 0x1e123456);
    WorldWideNameString text(name, WorldWideNameString::Style(7));
    EXPECT_STREQ(text.text_m, "10:00:00:05:1e:12:34:56");
}

// dst starts as `start` then '#'s; afterwards it holds `result` and nothing
// past the result's (or the start's) NUL is written.
TEST(HostStrl, CopyAndAppendCutToSizeAndTerminate)
{
    struct {
        bool cat;
        const char *start, *src;
        size_t size, ret;
        const char* result;
    } cases[] = {{false, "", "hello", 0, 5, nullptr}, {false, "", "hello", 1, 5, ""},
                 {false, "", "hello", 5, 5, "hell"},  {false, "", "hello", 6, 5, "hello"},
                 {true, "ab", "cde", 6, 5, "abcde"},  {true, "ab", "cde", 5, 5, "abcd"},
                 {true, "ab", "cde", 3, 5, "ab"},     {true, "ab", "cde", 2, 5, "ab"},
                 {true, "ab", "cde", 0, 3, "ab"},     {true, "ab", "", 3, 2, "ab"}};
    for (const auto& c : cases) {
        char dst[16];
        memset(dst, '#', sizeof dst);
        if (c.cat)
            memcpy(dst, c.start, strlen(c.start) + 1);
        std::string want = c.result ? std::string(c.result) + '\0' : "";
        want.resize(std::max(want.size(), c.cat ? strlen(c.start) + 1 : 0));
        want.resize(sizeof dst, '#');
        size_t ret = c.cat ? strlcat(dst, c.src, c.size) : strlcpy(dst, c.src, c.size);
        EXPECT_EQ(ret, c.ret) << c.src << " " << c.size;
        EXPECT_EQ(std::string(dst, sizeof dst), want) << c.src << " " << c.size;
    }
}

Pair now(int (*get)(struct timeval*, void*))
{
    struct timeval tv = {0, 0};
    if (get(&tv, nullptr) != 0)
        return Pair(-1, -1);
    return Pair(tv.tv_sec, tv.tv_usec);
}

int callGettimeofday(struct timeval* tv, void* tz)
{
    return gettimeofday(tv, static_cast<struct timezone*>(tz));
}

TEST(HostClock, SetTimeStaysPut)
{
    hostsimClockSet(1796487552, 250000);
    EXPECT_TRUE(hostsimClockIsSet());
    EXPECT_EQ(now(callGettimeofday), Pair(1796487552, 250000));
    EXPECT_EQ(now(callGettimeofday), Pair(1796487552, 250000));
}

// Shared libraries bind gettimeofday through the global scope: they must
// find the controllable clock, not the C library's.
TEST(HostClock, SharedLibrariesFindTheSetClock)
{
    void* symbol = dlsym(RTLD_DEFAULT, "gettimeofday");
    ASSERT_NE(symbol, nullptr);
    hostsimClockSet(1796487552, 250000);
    EXPECT_EQ(now(reinterpret_cast<int (*)(struct timeval*, void*)>(symbol)),
              Pair(1796487552, 250000));
}

TEST(HostClock, AdvanceCarriesAcrossSeconds)
{
    hostsimClockSet(10, -1);
    hostsimClockAdvance(2);
    EXPECT_EQ(now(callGettimeofday), Pair(10, 1));
    hostsimClockAdvance(-20000002);
    EXPECT_EQ(now(callGettimeofday), Pair(-11, 999999));
}

TEST(HostClock, RealTimeIgnoresAdvance)
{
    hostsimClockSet(10, 0);
    hostsimClockUseReal();
    EXPECT_FALSE(hostsimClockIsSet());
    hostsimClockAdvance(1000000000);
    Pair real = now(callGettimeofday);
    EXPECT_LE(std::abs(real.first - int64_t(time(nullptr))), 2);
    EXPECT_LT(real.second, 1000000);
}

}  // namespace
