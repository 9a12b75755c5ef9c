#include <gtest/gtest.h>

#include <memory>

#include "frameBytes.h"
#include "hostsim.h"

namespace {

RegisterFrameEntry rule(uint32_t offsetFrom)
{
    RegisterFrameEntry r{};
    r.offset_from = offsetFrom;
    return r;
}

RegisterFrameEntry elsRule()
{
    RegisterFrameEntry r = rule(1);
    r.field_1 = {0xF0000000, 25, 0x20000000};
    return r;
}

class Matcher : public ::testing::Test {
protected:
    bool matches(const Bytes& fcBytes, RegisterFrameEntry r, HostsimFcOptions options = {})
    {
        EXPECT_EQ(hostsimParseFc(fcBytes.data(), fcBytes.size(), hostsimPort(1), options,
                                 raw.get()),
                  HOSTSIM_OK);
        return FrameUtil::FrameMatchesEntry(raw.get(), &r) != 0;
    }
    bool matchesEth(const Bytes& ethBytes, RegisterFrameEntry r)
    {
        EXPECT_EQ(hostsimParseEthernet(ethBytes.data(), ethBytes.size(), hostsimPort(1), {},
                                       raw.get()),
                  HOSTSIM_OK);
        return FrameUtil::FrameMatchesEntry(raw.get(), &r) != 0;
    }
    std::unique_ptr<fcRawFrameStruct> raw = std::make_unique<fcRawFrameStruct>();
};

TEST_F(Matcher, ElsRuleTakesExactlyExtendedLinkServices)
{
    struct { uint8_t rctl; bool els; } cases[] = {
        {0x22, true}, {0x23, true}, {0x06, false}, {0x01, false}, {0x32, false}, {0x02, false},
        {0x2f, true}, {0x85, false}, {0xc2, false}};
    for (auto c : cases)
        EXPECT_EQ(matches(fcFrameWith(c.rctl, {0x03, 0, 0, 0}), elsRule()), c.els)
            << std::hex << unsigned(c.rctl);
    EXPECT_TRUE(matches(plogiRequest(), elsRule()));
    EXPECT_TRUE(matches(plogiAccept(), elsRule()));
    EXPECT_FALSE(matches(fcpCommand(), elsRule()));
}

TEST_F(Matcher, ElsRuleIgnoresEthernetFramesWithTheSameFirstByte)
{
    Bytes eth = ethernetFrame({}, 0x0800, ipv4Header());
    eth[0] = 0x22;
    EXPECT_FALSE(matchesEth(eth, elsRule()));
    RegisterFrameEntry anyKind = elsRule();
    anyKind.offset_from = 0;
    EXPECT_TRUE(matchesEth(eth, anyKind));
}

TEST_F(Matcher, OffsetFromSelectsTheFrameKind)
{
    struct { uint32_t offsetFrom; bool fc; bool eth; } cases[] = {
        {0, true, true}, {1, true, false}, {2, false, true}, {3, false, false},
        {0xffffffff, false, false}};
    for (auto c : cases) {
        EXPECT_EQ(matches(fcpCommand(), rule(c.offsetFrom)), c.fc) << c.offsetFrom;
        EXPECT_EQ(matchesEth(ethernetFrame({}, 0x0800, {}), rule(c.offsetFrom)), c.eth)
            << c.offsetFrom;
    }
}

TEST_F(Matcher, EveryFieldGroupMustHold)
{
    RegisterFrameEntry r = rule(1);
    r.field_1 = {0xFF000000, 25, 0x06ABCDEF};   // R_CTL FCP_CMND; bits outside the mask ignored
    r.field_2 = {0xFF000000, 27, 0x08000000};   // TYPE FCP
    r.field_3 = {0x00FFFFFF, 26, 0x00010200};   // S_ID
    EXPECT_TRUE(matches(fcpCommand(), r));
    r.field_3.value = 0x00010201;
    EXPECT_FALSE(matches(fcpCommand(), r));
    r.field_3 = {};
    r.field_2.value = 0x01000000;
    EXPECT_FALSE(matches(fcpCommand(), r));
    r.field_2.mask = 0;                         // a zero mask turns the group off
    EXPECT_TRUE(matches(fcpCommand(), r));
}

TEST_F(Matcher, RangeComparesTheMaskedWordUnsigned)
{
    struct { uint32_t lo, hi; bool match; } cases[] = {
        {0x00420000, 0x00420000, true}, {0x00000000, 0x00410000, false},
        {0x00430000, 0xffff0000, false}, {0x00400000, 0x00500000, true},
        {0x00500000, 0x00400000, false}};   // empty range
    for (auto c : cases) {
        RegisterFrameEntry r = rule(1);
        r.range = {0xFFFF0000, 29, c.lo, c.hi};   // OX_ID 0x0042
        EXPECT_EQ(matches(fcpCommand(), r), c.match) << std::hex << c.lo << "-" << c.hi;
    }
}

TEST_F(Matcher, OffsetsPastTheFrameFailTheGroup)
{
    // FCP_CMND: 24-byte header + 32-byte payload = 14 words, record words 25..38.
    struct { uint32_t offset; bool match; } cases[] = {
        {38, true}, {39, false}, {kHostsimRecordWords, false}, {0xffffffff, false}};
    for (auto c : cases) {
        RegisterFrameEntry withField = rule(1);
        withField.field_2 = {0xFFFFFFFF, c.offset, 0x00001000};   // FCP_DL
        EXPECT_EQ(matches(fcpCommand(), withField), c.match) << c.offset;
        RegisterFrameEntry withRange = rule(1);
        withRange.range = {0xFFFFFFFF, c.offset, 0, 0xFFFFFFFF};
        EXPECT_EQ(matches(fcpCommand(), withRange), c.match) << c.offset;
    }
}

TEST_F(Matcher, StaleWordsOfAnEarlierFrameAreOutOfRange)
{
    RegisterFrameEntry r = rule(1);
    r.field_1 = {0xFFFFFFFF, 38, 0x00001000};
    EXPECT_TRUE(matches(fcpCommand(), r));
    EXPECT_FALSE(matches(fcFrameWith(0x06, {}), r));   // same record, shorter frame
}

TEST_F(Matcher, DescriptorWordsCanBeMatched)
{
    RegisterFrameEntry twoTags = rule(2);
    twoTags.field_1 = {0xFFFFFFFF, HOSTSIM_D_VLAN_TAGS, 2};
    const Bytes tag = {0x81, 0x00, 0x00, 0x64};
    EXPECT_TRUE(matchesEth(ethernetFrame({tag, tag}, 0x0800, {}), twoTags));
    EXPECT_FALSE(matchesEth(ethernetFrame({tag}, 0x0800, {}), twoTags));

    RegisterFrameEntry port = rule(0);
    port.field_1 = {0xFFFF, HOSTSIM_D_PORT_H0, 1};
    EXPECT_TRUE(matches(fcpCommand(), port));
}

// LS_RJT: command 0x01, reserved, reason 0x09 (unable to perform), explanation.
const Bytes kLsRjt = {0x01, 0x00, 0x00, 0x00, 0x00, 0x09, 0x29, 0x00};
const Bytes kLsAcc = {0x02, 0x00, 0x00, 0x00};
const Bytes kBaRjt = {0x00, 0x03, 0x00, 0x00};            // reason 0x03 logical error

struct RejectCase {
    const char* name;
    uint8_t rctl;
    Bytes payload;
    uint32_t parameter;
    int reason;              // -1 not a reject
};

class MatcherRejects : public Matcher, public ::testing::WithParamInterface<RejectCase> {};

TEST_P(MatcherRejects, OnlyRejectsAndExactReason)
{
    const RejectCase& c = GetParam();
    Bytes frame = fcFrameWith(c.rctl, c.payload, c.parameter);
    RegisterFrameEntry onlyRejects = rule(1);
    onlyRejects.only_rejects = 1;
    EXPECT_EQ(matches(frame, onlyRejects), c.reason != -1);
    EXPECT_EQ(hostsimRejectReason(raw.get()), c.reason);

    RegisterFrameEntry exact = onlyRejects;
    exact.exact_reject = c.reason >= 0 ? 0x100u | unsigned(c.reason) : 0x1ff;
    EXPECT_EQ(matches(frame, exact), c.reason >= 0);
    exact.exact_reject ^= 0x01;
    EXPECT_FALSE(matches(frame, exact));

    RegisterFrameEntry exactAlone = rule(1);     // without only_rejects: ignored
    exactAlone.exact_reject = 0x42;
    EXPECT_TRUE(matches(frame, exactAlone));
}

INSTANTIATE_TEST_SUITE_P(
    Frames, MatcherRejects,
    ::testing::Values(RejectCase{"LsRjt", 0x23, kLsRjt, 0, 0x09},
                      RejectCase{"LsAcc", 0x23, kLsAcc, 0, -1},
                      RejectCase{"LsRjtAsRequest", 0x22, kLsRjt, 0, -1},
                      RejectCase{"LsRjtWithoutReason", 0x23, {0x01, 0, 0, 0}, 0, -2},
                      RejectCase{"BaRjt", 0x85, kBaRjt, 0, 0x03},
                      RejectCase{"BaAcc", 0x84, kBaRjt, 0, -1},
                      RejectCase{"BaRjtEmpty", 0x85, {}, 0, -2},
                      RejectCase{"FRjt", 0xc2, {}, 0x010a0000, 0x0a},
                      RejectCase{"PRjtReasonZero", 0xc3, {}, 0x01000000, 0x00},
                      RejectCase{"FcpCmnd", 0x06, kLsRjt, 0, -1}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(Matcher, EthernetFramesAreNeverRejectsAndHaveNoSof)
{
    RegisterFrameEntry r = rule(0);
    r.only_rejects = 1;
    EXPECT_FALSE(matchesEth(ethernetFrame({}, 0x0800, ipv4Header()), r));
    r = rule(0);
    r.sof_mask = 0xffffffff;
    EXPECT_FALSE(matchesEth(ethernetFrame({}, 0x0800, {}), r));
}

TEST_F(Matcher, SofMaskNeedsTheFramesDelimiter)
{
    Bytes sofi3 = concat({{0xbc, 0xb5, 0x56, 0x56}, plogiRequest(), {0xbc, 0x95, 0x75, 0x75}});
    HostsimFcOptions delimited{true, false};
    RegisterFrameEntry r = rule(1);
    r.sof_mask = 1u << HOSTSIM_SOF_I3;
    EXPECT_TRUE(matches(sofi3, r, delimited));
    r.sof_mask = (1u << HOSTSIM_SOF_N3) | (1u << HOSTSIM_SOF_I2);
    EXPECT_FALSE(matches(sofi3, r, delimited));
    r.sof_mask = 0xffffffff;
    EXPECT_FALSE(matches(plogiRequest(), r));              // no delimiters: SOF none
}

TEST_F(Matcher, NothingMatchesWithoutAFrameOrRule)
{
    RegisterFrameEntry r = rule(0);
    EXPECT_EQ(FrameUtil::FrameMatchesEntry(nullptr, &r), 0);
    ASSERT_TRUE(matches(plogiRequest(), r));
    EXPECT_EQ(FrameUtil::FrameMatchesEntry(raw.get(), nullptr), 0);
    Bytes tooShort(5, 0);
    hostsimParseFc(tooShort.data(), tooShort.size(), hostsimPort(1), {}, raw.get());
    EXPECT_EQ(FrameUtil::FrameMatchesEntry(raw.get(), &r), 0);
}

}  // namespace
