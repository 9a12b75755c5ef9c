#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/time.h>
#include <time.h>

#include "hostsimClock.h"

namespace {

class Clock : public ::testing::Test {
protected:
    void TearDown() override { hostsimClockUseReal(); }

    static struct timeval now()
    {
        struct timeval tv = {0, 0};
        EXPECT_EQ(gettimeofday(&tv, nullptr), 0);
        return tv;
    }
};

TEST_F(Clock, ReportsTheSetTime)
{
    hostsimClockSet(1796487552, 250000);
    EXPECT_TRUE(hostsimClockIsSet());
    struct timeval tv = now();
    EXPECT_EQ(tv.tv_sec, 1796487552);
    EXPECT_EQ(tv.tv_usec, 250000);
    tv = now();                                   // stays put until moved
    EXPECT_EQ(tv.tv_usec, 250000);
}

TEST_F(Clock, SetTimeIsNormalisedAndAdvances)
{
    hostsimClockSet(10, -1);
    struct timeval tv = now();
    EXPECT_EQ(tv.tv_sec, 9);
    EXPECT_EQ(tv.tv_usec, 999999);
    hostsimClockAdvance(2);
    tv = now();
    EXPECT_EQ(tv.tv_sec, 10);
    EXPECT_EQ(tv.tv_usec, 1);
    hostsimClockAdvance(-20000002);              // 10.000001 s -> -10.000001 s
    tv = now();
    EXPECT_EQ(tv.tv_sec, -11);
    EXPECT_EQ(tv.tv_usec, 999999);
}

TEST_F(Clock, RealTimeIsTheDefaultAgain)
{
    hostsimClockSet(5, 0);
    hostsimClockUseReal();
    EXPECT_FALSE(hostsimClockIsSet());
    hostsimClockAdvance(1000000);                 // no effect on the real clock
    struct timespec ref;
    clock_gettime(CLOCK_REALTIME, &ref);
    struct timeval tv = now();
    EXPECT_NEAR(static_cast<double>(tv.tv_sec), static_cast<double>(ref.tv_sec), 2.0);
    EXPECT_GE(tv.tv_usec, 0);
    EXPECT_LT(tv.tv_usec, 1000000);
}

// A shared library binds gettimeofday through the process's global scope;
// it must find this program's definition, not the C library's.
TEST_F(Clock, ProcessWideLookupFindsTheControllableClock)
{
    using Fn = int (*)(struct timeval*, void*);
    Fn global = reinterpret_cast<Fn>(dlsym(RTLD_DEFAULT, "gettimeofday"));
    ASSERT_NE(global, nullptr);
    hostsimClockSet(42, 7);
    struct timeval tv = {0, 0};
    global(&tv, nullptr);
    EXPECT_EQ(tv.tv_sec, 42);
    EXPECT_EQ(tv.tv_usec, 7);
}

}  // namespace
