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

// normalize() carries microseconds into seconds, wrapping at 32 bits; the
// text shows the normalized time and leaves the value alone.
TEST(Timeval, NormalizeAndString)
{
    const int32_t kMax = INT32_MAX, kMin = INT32_MIN;
    struct { int32_t sec, usec, wantSec, wantUsec; const char* text; } cases[] = {
        {5, 999999, 5, 999999, "1970-01-01 00:00:05.999999"}, {0, 1000000, 1, 0, "1970-01-01 00:00:01.000000"},
        {5, -1, 4, 999999, "1970-01-01 00:00:04.999999"}, {5, -1000000, 4, 0, "1970-01-01 00:00:04.000000"},
        {-1, -2500000, -4, 500000, "1969-12-31 23:59:56.500000"}, {0, -1, -1, 999999, "1969-12-31 23:59:59.999999"},
        {0, kMax, 2147, 483647, "1970-01-01 00:35:47.483647"}, {0, kMin, -2148, 516352, "1969-12-31 23:24:12.516352"},
        {kMax, 1000000, kMin, 0, "1901-12-13 20:45:52.000000"}, {0, 0, 0, 0, "1970-01-01 00:00:00.000000"},
        {1000000000, 123456, 1000000000, 123456, "2001-09-09 01:46:40.123456"},
        {kMax, 999999, kMax, 999999, "2038-01-19 03:14:07.999999"},
        {kMax, kMax, -2147481502, 483647, "1901-12-13 21:21:38.483647"}};
    for (const auto& c : cases) {
        Timeval tv(c.sec, c.usec);
        EXPECT_STREQ(TimevalString(tv).text_m, c.text);
        EXPECT_EQ(Pair(tv.tv_sec, tv.tv_usec), Pair(c.sec, c.usec));
        tv.normalize();
        EXPECT_EQ(Pair(tv.tv_sec, tv.tv_usec), Pair(c.wantSec, c.wantUsec)) << c.text;
    }
}

TEST(WorldWideName, StringIsColonSeparatedHex)
{
    struct { unsigned high, low; int style; const char* text; } cases[] = {
        {0x10000005, 0x1e123456, WorldWideNameString::STYLE_DEFAULT, "10:00:00:05:1e:12:34:56"},
        {0x20000025, 0xb5a0b0c0, WorldWideNameString::STYLE_DEFAULT, "20:00:00:25:b5:a0:b0:c0"},
        {0, 0, WorldWideNameString::STYLE_DEFAULT, "00:00:00:00:00:00:00:00"},
        {~0u, ~0u, WorldWideNameString::STYLE_DEFAULT, "ff:ff:ff:ff:ff:ff:ff:ff"},
        {0x10000005, 0x1e123456, 7, "10:00:00:05:1e:12:34:56"}};   // unknown style
    for (const auto& c : cases)
        EXPECT_STREQ(WorldWideNameString(WorldWideName(c.high, c.low), WorldWideNameString::Style(c.style)).text_m,
                     c.text);
}

// dst starts as `start` then '#'s; afterwards it holds `result` and nothing
// past the result's (or the start's) NUL is written.
TEST(Strl, CopyAndAppendCutToSizeAndTerminate)
{
    struct { bool cat; const char *start, *src; size_t size, ret; const char* result; } cases[] = {
        {false, "", "hello", 0, 5, nullptr}, {false, "", "hello", 1, 5, ""}, {false, "", "hello", 5, 5, "hell"},
        {false, "", "hello", 6, 5, "hello"}, {false, "", "hello", 16, 5, "hello"}, {false, "", "", 0, 0, nullptr},
        {true, "ab", "cde", 16, 5, "abcde"}, {true, "ab", "cde", 6, 5, "abcde"},   // exact fit
        {true, "ab", "cde", 5, 5, "abcd"}, {true, "ab", "cde", 3, 5, "ab"},       // cut, full
        {true, "ab", "cde", 2, 5, "ab"}, {true, "ab", "cde", 0, 3, "ab"},         // no NUL in size
        {true, "", "xyz", 1, 3, ""}, {true, "ab", "", 3, 2, "ab"}};
    for (const auto& c : cases) {
        char dst[16];
        memset(dst, '#', sizeof dst);
        if (c.cat)
            memcpy(dst, c.start, strlen(c.start) + 1);
        std::string want = c.result ? std::string(c.result) + '\0' : "";
        want.resize(std::max(want.size(), c.cat ? strlen(c.start) + 1 : 0));
        want.resize(sizeof dst, '#');
        EXPECT_EQ(c.cat ? strlcat(dst, c.src, c.size) : strlcpy(dst, c.src, c.size), c.ret) << c.src << " " << c.size;
        EXPECT_EQ(std::string(dst, sizeof dst), want) << c.src << " " << c.size;
    }
}

TEST(Clock, SetAdvanceRealAndProcessWideLookup)
{
    auto now = [](auto get) {
        struct timeval tv = {0, 0};
        return get(&tv, nullptr) ? Pair(-1, -1) : Pair(tv.tv_sec, tv.tv_usec);
    };
    // Shared libraries bind gettimeofday through the global scope: they must
    // find the controllable clock, not the C library's.
    auto global = reinterpret_cast<int (*)(struct timeval*, void*)>(dlsym(RTLD_DEFAULT, "gettimeofday"));
    ASSERT_NE(global, nullptr);
    hostsimClockSet(1796487552, 250000);
    EXPECT_TRUE(hostsimClockIsSet() && now(gettimeofday) == Pair(1796487552, 250000));
    EXPECT_EQ(now(global), Pair(1796487552, 250000));   // stays put
    hostsimClockSet(10, -1);
    hostsimClockAdvance(2);
    EXPECT_EQ(now(gettimeofday), Pair(10, 1));
    hostsimClockAdvance(-20000002);
    EXPECT_EQ(now(gettimeofday), Pair(-11, 999999));
    hostsimClockUseReal();
    EXPECT_FALSE(hostsimClockIsSet());
    hostsimClockAdvance(1000000);   // no effect on the real clock
    auto [sec, usec] = now(gettimeofday);
    EXPECT_TRUE(std::abs(sec - int64_t(time(nullptr))) <= 2 && usec >= 0 && usec < 1000000) << sec;
}

}  // namespace
