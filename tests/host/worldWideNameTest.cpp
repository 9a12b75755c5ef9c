#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <set>
#include <string>
#include <vector>

#include "hostsim.h"

namespace {

struct NameCase {
    unsigned first, second;
    const char* text;
};

class WwnText : public ::testing::TestWithParam<NameCase> {};

TEST_P(WwnText, IsColonSeparatedHexFirstWordFirst)
{
    const NameCase& c = GetParam();
    WorldWideName name(c.first, c.second);
    EXPECT_EQ(name.word_m[0], c.first);
    EXPECT_EQ(name.word_m[1], c.second);
    WorldWideNameString text(name, WorldWideNameString::STYLE_DEFAULT);
    EXPECT_STREQ(text.text_m, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Names, WwnText,
    ::testing::Values(NameCase{0x10000005, 0x1e123456, "10:00:00:05:1e:12:34:56"},
                      NameCase{0x20000025, 0xb5a0b0c0, "20:00:00:25:b5:a0:b0:c0"},
                      NameCase{0, 0, "00:00:00:00:00:00:00:00"},
                      NameCase{0xffffffff, 0xffffffff, "ff:ff:ff:ff:ff:ff:ff:ff"}));

TEST(WwnString, UnknownStyleFormatsAsDefault)
{
    WorldWideNameString text(WorldWideName(0x10000005, 0x1e123456),
                             static_cast<WorldWideNameString::Style>(7));
    EXPECT_STREQ(text.text_m, "10:00:00:05:1e:12:34:56");
}

TEST(WwnString, RingKeepsTheLastSlotsTextsApart)
{
    std::vector<WorldWideNameString*> live;
    std::set<std::string> seen;
    for (unsigned i = 0; i < kHostsimWwnRingSlots; ++i)
        live.push_back(new WorldWideNameString(WorldWideName(i, 0), WorldWideNameString::STYLE_DEFAULT));
    for (unsigned i = 0; i < kHostsimWwnRingSlots; ++i) {
        char expected[32];
        snprintf(expected, sizeof expected, "00:00:00:%02x:00:00:00:00", i);
        EXPECT_STREQ(live[i]->text_m, expected);
        seen.insert(live[i]->text_m);
    }
    EXPECT_EQ(seen.size(), kHostsimWwnRingSlots);
    for (WorldWideNameString* text : live)
        delete text;
}

}  // namespace
