// The reference host's times, names, string copies and controllable clock.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdint.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>

#include <memory>
#include <vector>
#include <string>

#include "hostsim.h"
#include "hostsimClock.h"

namespace {

TEST(Timeval, NormalizeAndString)
{
    struct { int32_t sec, usec, wantSec, wantUsec; } norm[] = {
        {5, 999999, 5, 999999}, {0, 1000000, 1, 0}, {0, 1500000, 1, 500000}, {5, -1, 4, 999999},
        {5, -1000000, 4, 0}, {-1, -2500000, -4, 500000}, {0, INT32_MAX, 2147, 483647},
        {0, INT32_MIN, -2148, 516352}, {INT32_MAX, 1000000, INT32_MIN, 0}};
    for (const auto& c : norm) {
        Timeval tv(c.sec, c.usec);
        tv.normalize();
        EXPECT_EQ(std::make_pair(tv.tv_sec, tv.tv_usec), std::make_pair(c.wantSec, c.wantUsec)) << c.sec;
    }
    if constexpr (sizeof(long) > 4) {   // wide longs are cut to 32 bits
        Timeval wide(static_cast<long>(0x100000005LL), static_cast<long>(0x1FFFFFFFFLL));
        EXPECT_EQ(std::make_pair(wide.tv_sec, wide.tv_usec), std::make_pair(5, -1));
    }
    struct { int32_t sec, usec; const char* text; } text[] = {
        {0, 0, "1970-01-01 00:00:00.000000"}, {1000000000, 123456, "2001-09-09 01:46:40.123456"},
        {INT32_MAX, 999999, "2038-01-19 03:14:07.999999"}, {INT32_MIN, 0, "1901-12-13 20:45:52.000000"},
        {-1, 0, "1969-12-31 23:59:59.000000"}, {0, -1, "1969-12-31 23:59:59.999999"},
        {10, 2500000, "1970-01-01 00:00:12.500000"}, {INT32_MAX, INT32_MAX, "1901-12-13 21:21:38.483647"}};
    for (const auto& c : text) {
        Timeval tv(c.sec, c.usec);
        TimevalString s(tv);
        EXPECT_STREQ(s.text_m, c.text);
        EXPECT_EQ(std::make_pair(tv.tv_sec, tv.tv_usec), std::make_pair(c.sec, c.usec));   // left alone
        EXPECT_EQ(static_cast<void*>(&s), static_cast<void*>(s.text_m));
    }
}

TEST(WorldWideName, StringIsColonSeparatedHex)
{
    auto str = [](unsigned a, unsigned b, int style = WorldWideNameString::STYLE_DEFAULT) {
        return std::string(WorldWideNameString(WorldWideName(a, b), WorldWideNameString::Style(style)).text_m);
    };
    EXPECT_EQ(str(0x10000005, 0x1e123456), "10:00:00:05:1e:12:34:56");
    EXPECT_EQ(str(0x20000025, 0xb5a0b0c0), "20:00:00:25:b5:a0:b0:c0");
    EXPECT_EQ(str(0, 0), "00:00:00:00:00:00:00:00");
    EXPECT_EQ(str(~0u, ~0u), "ff:ff:ff:ff:ff:ff:ff:ff");
    EXPECT_EQ(str(0x10000005, 0x1e123456, 7), "10:00:00:05:1e:12:34:56");   // unknown style
    // The texts of the last ring-size names formatted stay valid and apart.
    std::vector<std::unique_ptr<WorldWideNameString>> live;
    for (unsigned i = 0; i < kHostsimWwnRingSlots; ++i)
        live.emplace_back(new WorldWideNameString(WorldWideName(i, 0), WorldWideNameString::STYLE_DEFAULT));
    for (unsigned i = 0; i < kHostsimWwnRingSlots; ++i) {
        char expected[32];
        snprintf(expected, sizeof expected, "00:00:00:%02x:00:00:00:00", i);
        EXPECT_STREQ(live[i]->text_m, expected);
    }
}

// dst starts as `start` then '#'s; afterwards it holds `result` and nothing
// past the result's (or the start's) NUL is written.
void strl(bool cat, const char* start, const char* src, size_t size, size_t ret, const char* result)
{
    char dst[16];
    memset(dst, '#', sizeof dst);
    std::string want = result ? std::string(result) + '\0' : "";
    if (start) {
        memcpy(dst, start, strlen(start) + 1);
        want.resize(std::max(want.size(), strlen(start) + 1));
    }
    want.resize(sizeof dst, '#');
    EXPECT_EQ(cat ? strlcat(dst, src, size) : strlcpy(dst, src, size), ret) << src << " " << size;
    EXPECT_EQ(std::string(dst, sizeof dst), want) << src << " " << size;
}

TEST(Strl, CopyAndAppendCutToSizeAndTerminate)
{
    strl(false, nullptr, "hello", 0, 5, nullptr), strl(false, nullptr, "hello", 1, 5, "");
    strl(false, nullptr, "hello", 5, 5, "hell"), strl(false, nullptr, "hello", 6, 5, "hello");
    strl(false, nullptr, "hello", 16, 5, "hello"), strl(false, nullptr, "", 0, 0, nullptr);
    strl(true, "ab", "cde", 16, 5, "abcde"), strl(true, "ab", "cde", 6, 5, "abcde");   // exact fit
    strl(true, "ab", "cde", 5, 5, "abcd"), strl(true, "ab", "cde", 3, 5, "ab");        // cut, full
    strl(true, "ab", "cde", 2, 5, "ab"), strl(true, "ab", "cde", 0, 3, "ab");          // no NUL in size
    strl(true, "", "xyz", 1, 3, ""), strl(true, "ab", "", 3, 2, "ab");
}

TEST(Clock, SetAdvanceRealAndProcessWideLookup)
{
    auto now = [](auto get) {
        struct timeval tv = {0, 0};
        EXPECT_EQ(get(&tv, nullptr), 0);
        return std::pair<int64_t, int64_t>(tv.tv_sec, tv.tv_usec);
    };
    // Shared libraries bind gettimeofday through the global scope: they must
    // find the controllable clock, not the C library's.
    auto global = reinterpret_cast<int (*)(struct timeval*, void*)>(dlsym(RTLD_DEFAULT, "gettimeofday"));
    ASSERT_NE(global, nullptr);
    hostsimClockSet(1796487552, 250000);
    EXPECT_TRUE(hostsimClockIsSet());
    EXPECT_EQ(now(gettimeofday), std::make_pair(int64_t{1796487552}, int64_t{250000}));
    EXPECT_EQ(now(global), std::make_pair(int64_t{1796487552}, int64_t{250000}));   // stays put
    hostsimClockSet(10, -1);
    hostsimClockAdvance(2);
    EXPECT_EQ(now(gettimeofday), std::make_pair(int64_t{10}, int64_t{1}));
    hostsimClockAdvance(-20000002);
    EXPECT_EQ(now(gettimeofday), std::make_pair(int64_t{-11}, int64_t{999999}));
    hostsimClockUseReal();
    EXPECT_FALSE(hostsimClockIsSet());
    hostsimClockAdvance(1000000);   // no effect on the real clock
    struct timespec ref;
    clock_gettime(CLOCK_REALTIME, &ref);
    auto [sec, usec] = now(gettimeofday);
    EXPECT_NEAR(double(sec), double(ref.tv_sec), 2.0);
    EXPECT_TRUE(usec >= 0 && usec < 1000000);
}

}  // namespace
