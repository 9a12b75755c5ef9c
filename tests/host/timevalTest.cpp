#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include "hostsim.h"

namespace {

struct NormalizeCase {
    int32_t sec, usec;
    int32_t wantSec, wantUsec;
};

class TimevalNormalize : public ::testing::TestWithParam<NormalizeCase> {};

TEST_P(TimevalNormalize, CarriesMicrosecondsIntoSeconds)
{
    const NormalizeCase& c = GetParam();
    Timeval tv(c.sec, c.usec);
    tv.normalize();
    EXPECT_EQ(tv.tv_sec, c.wantSec);
    EXPECT_EQ(tv.tv_usec, c.wantUsec);
}

INSTANTIATE_TEST_SUITE_P(
    Values, TimevalNormalize,
    ::testing::Values(NormalizeCase{5, 999999, 5, 999999}, NormalizeCase{0, 1000000, 1, 0},
                      NormalizeCase{0, 1500000, 1, 500000}, NormalizeCase{5, -1, 4, 999999},
                      NormalizeCase{5, -1000000, 4, 0}, NormalizeCase{-1, -2500000, -4, 500000},
                      NormalizeCase{0, INT32_MAX, 2147, 483647},
                      NormalizeCase{0, INT32_MIN, -2148, 516352},
                      NormalizeCase{INT32_MAX, 1000000, INT32_MIN, 0}));

TEST(Timeval, WideLongsAreTruncated)
{
    if constexpr (sizeof(long) > 4) {
        Timeval wide(static_cast<long>(0x100000005LL), static_cast<long>(0x1FFFFFFFFLL));
        EXPECT_EQ(wide.tv_sec, 5);
        EXPECT_EQ(wide.tv_usec, -1);
    }
}

struct TextCase {
    int32_t sec, usec;
    const char* text;
};

class TimevalText : public ::testing::TestWithParam<TextCase> {};

TEST_P(TimevalText, IsUtcWithMicroseconds)
{
    const TextCase& c = GetParam();
    Timeval tv(c.sec, c.usec);
    TimevalString text(tv);
    EXPECT_STREQ(text.text_m, c.text);
    EXPECT_LT(strlen(text.text_m), 64u);     // the saved file keeps 63 characters
    EXPECT_EQ(tv.tv_sec, c.sec);             // formatting leaves its argument alone
    EXPECT_EQ(tv.tv_usec, c.usec);
    EXPECT_EQ(static_cast<void*>(&text), static_cast<void*>(text.text_m));
}

INSTANTIATE_TEST_SUITE_P(
    Values, TimevalText,
    ::testing::Values(TextCase{0, 0, "1970-01-01 00:00:00.000000"},
                      TextCase{1000000000, 123456, "2001-09-09 01:46:40.123456"},
                      TextCase{INT32_MAX, 999999, "2038-01-19 03:14:07.999999"},
                      TextCase{INT32_MIN, 0, "1901-12-13 20:45:52.000000"},
                      TextCase{-1, 0, "1969-12-31 23:59:59.000000"},
                      TextCase{0, -1, "1969-12-31 23:59:59.999999"},
                      TextCase{10, 2500000, "1970-01-01 00:00:12.500000"},
                      TextCase{INT32_MAX, INT32_MAX, "1901-12-13 21:21:38.483647"}));

}  // namespace
