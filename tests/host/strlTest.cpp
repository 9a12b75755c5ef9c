#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>

#include "hostUtil.h"

namespace {

constexpr char kGuard = '#';

struct CopyCase {
    const char* src;
    size_t size;
    const char* result;      // nullptr: destination untouched
};

class Strlcpy : public ::testing::TestWithParam<CopyCase> {};

TEST_P(Strlcpy, CutsToSizeAndTerminates)
{
    const CopyCase& c = GetParam();
    char dst[16];
    memset(dst, kGuard, sizeof dst);
    EXPECT_EQ(strlcpy(dst, c.src, c.size), strlen(c.src));
    if (c.result) {
        EXPECT_STREQ(dst, c.result);
    } else {
        EXPECT_EQ(dst[0], kGuard);
    }
    size_t written = c.size == 0 ? 0 : strlen(c.result) + 1;
    for (size_t i = written; i < sizeof dst; ++i)
        ASSERT_EQ(dst[i], kGuard) << "byte " << i << " written";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Strlcpy,
    ::testing::Values(CopyCase{"hello", 0, nullptr}, CopyCase{"hello", 1, ""},
                      CopyCase{"hello", 5, "hell"}, CopyCase{"hello", 6, "hello"},
                      CopyCase{"hello", 16, "hello"}, CopyCase{"", 1, ""},
                      CopyCase{"", 0, nullptr}));

struct CatCase {
    const char* start;       // contents of dst (its NUL included)
    const char* src;
    size_t size;
    size_t returned;
    const char* result;
};

class Strlcat : public ::testing::TestWithParam<CatCase> {};

TEST_P(Strlcat, AppendsWithinSize)
{
    const CatCase& c = GetParam();
    char dst[16];
    memset(dst, kGuard, sizeof dst);
    memcpy(dst, c.start, strlen(c.start) + 1);
    EXPECT_EQ(strlcat(dst, c.src, c.size), c.returned);
    EXPECT_STREQ(dst, c.result);
    size_t end = std::max(strlen(c.result) + 1, strlen(c.start) + 1);
    for (size_t i = end; i < sizeof dst; ++i)
        ASSERT_EQ(dst[i], kGuard) << "byte " << i << " written";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Strlcat,
    ::testing::Values(CatCase{"ab", "cde", 16, 5, "abcde"},
                      CatCase{"ab", "cde", 6, 5, "abcde"},      // exact fit
                      CatCase{"ab", "cde", 5, 5, "abcd"},       // cut
                      CatCase{"ab", "cde", 3, 5, "ab"},         // full already
                      CatCase{"ab", "cde", 2, 5, "ab"},         // no NUL within size
                      CatCase{"ab", "cde", 0, 3, "ab"},
                      CatCase{"", "xyz", 1, 3, ""},
                      CatCase{"ab", "", 3, 2, "ab"}));

}  // namespace
