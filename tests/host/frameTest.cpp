// The reference host's FC and Ethernet parsers and its matcher, fed frames
// laid out byte for byte as a capture shows them.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "hostsim.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Values = std::vector<int64_t>;
using Words = std::vector<uint32_t>;

constexpr int64_t kFailed = -1;

Bytes bigEndian(const Words& words)
{
    Bytes bytes;
    for (uint32_t w : words)
        bytes.insert(bytes.end(),
                     {uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w)});
    return bytes;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Header words R_CTL|D_ID, S_ID, TYPE|F_CTL, SEQ_*, OX_ID|RX_ID (0042, 0043), parameter.
Bytes fcWith(uint32_t rctl, const Bytes& payload = {}, uint32_t parameter = 0)
{
    return bigEndian({rctl << 24 | 0x010200, 0x020300, 0x01990000, 0, 0x00420043, parameter}) +
           payload;
}

// PLOGI from 010200 to fffffc; port name 10000005:1e123456 at payload byte 20.
const Bytes kPlogi =
    bigEndian({0x22fffffc, 0x010200, 0x01290000, 0, 0x1234ffff, 0, 0x03000000, 0x20200000,
               0x88000800, 0x00ff0000, 0x7d0, 0x10000005, 0x1e123456}) +
    Bytes(88, 0);
// FCP_CMND: LUN 1, READ(10) of 8 blocks, FCP_DL 4096 in the last of 8 payload words.
const Bytes kFcpCmnd = bigEndian({0x06020300, 0x010200, 0x08290000, 0, 0x0042ffff, 0, 0x00010000, 0,
                                  2, 0x28000000, 0x10000000, 0x08000000, 0, 0x1000});
constexpr uint32_t kFcpDlOffset = 28;
constexpr uint32_t kFcpDlRecordWord = 38;
constexpr uint32_t kFcpOxId = 0x0042;

const Words kMacs = {0x001b213a, 0x4f5e5254, 0x00123456};  // dst 001b213a4f5e, src 525400123456
const Words kIpv4 = {0x45000054, 0x1c464000, 0x4001a05b, 0xc0a8010a, 0xc0a80101};
constexpr uint32_t kCTag = 0x81006064;
constexpr uint32_t kSTag = 0x88a800c8;
constexpr uint32_t kOldSTag = 0x9100000a;
constexpr uint32_t kIpv4Type = 0x0800;
constexpr uint32_t kFcoeType = 0x8906;

Bytes eth(const Words& tags, uint32_t type = kIpv4Type, const Bytes& payload = bigEndian(kIpv4))
{
    return bigEndian(kMacs) + bigEndian(tags) + Bytes{uint8_t(type >> 8), uint8_t(type)} + payload;
}

RegisterFrameEntry rule(uint32_t offsetFrom, RegisterFieldMatch field = {},
                        RegisterRangeMatch range = {})
{
    RegisterFrameEntry entry{};
    entry.offset_from = offsetFrom;
    entry.field_1 = field;
    entry.range = range;
    return entry;
}

struct HostFrameTest : ::testing::Test {
    std::unique_ptr<fcRawFrameStruct> raw = std::make_unique<fcRawFrameStruct>();
    fcFrame fc{raw.get()};
    EthernetFrame ethernet{raw.get()};

    HostsimStatus parseFc(const Bytes& bytes, HostsimFcOptions options = {},
                          port_id_t port = hostsimPort(1))
    {
        return hostsimParseFc(bytes.data(), bytes.size(), port, options, raw.get());
    }
    HostsimStatus parseEthernet(const Bytes& bytes, HostsimEthOptions options = {})
    {
        return hostsimParseEthernet(bytes.data(), bytes.size(), hostsimPort(4), options, raw.get());
    }
    int64_t descriptor(HostsimDescriptor word) const { return raw->record[word]; }
    int64_t lengthWords()
    {
        unsigned words = 0;
        return fc.GetLengthWords(&words) == 0 ? int64_t(words) : kFailed;
    }
    int64_t payload(unsigned offset, unsigned count = 1)
    {
        unsigned words[2] = {};
        return fc.GetPayload(offset, count, words) == 0 ? int64_t(words[0]) : kFailed;
    }
    Values peekAll(uint32_t* (EthernetFrame::*peek)(unsigned))
    {
        Values out;
        for (uint32_t* word; (word = (ethernet.*peek)(unsigned(out.size())));)
            out.push_back(*word);
        return out;
    }
    Bytes macs()
    {
        unsigned char mac[12] = {1, 1};
        ethernet.Get_D_ID(mac);
        ethernet.Get_S_ID(mac + 6);
        return Bytes(mac, mac + 12);
    }
    bool matches(RegisterFrameEntry entry)
    {
        return FrameUtil::FrameMatchesEntry(raw.get(), &entry) != 0;
    }
};

TEST_F(HostFrameTest, FcPayloadReadsStayWithinThePayload)
{
    ASSERT_EQ(parseFc(kFcpCmnd), HOSTSIM_OK);
    struct {
        unsigned offset, count;
        int64_t word;
    } cases[] = {{kFcpDlOffset, 1, 0x1000},  {kFcpDlOffset + 4, 1, kFailed},
                 {kFcpDlOffset, 2, kFailed}, {2, 1, kFailed},
                 {0xfffffffc, 1, kFailed},   {4, ~0u, kFailed}};
    for (const auto& c : cases)
        EXPECT_EQ(payload(c.offset, c.count), c.word) << c.offset << " " << c.count;
}

TEST_F(HostFrameTest, FcDelimitersAreDecodedAndStripped)
{
    constexpr uint32_t kCrc = 0x4a1f7702;
    struct {
        uint32_t sof, eof;
        int64_t decodedSof, decodedEof;
    } cases[] = {{0xbcb55656, 0xbc957575, HOSTSIM_SOF_I3, HOSTSIM_EOF_T},
                 {0xbcb53636, 0xbcb5d5d5, HOSTSIM_SOF_N3, HOSTSIM_EOF_N},
                 {0xbcb55858, 0xbc95f5f5, HOSTSIM_SOF_F, HOSTSIM_EOF_A},
                 {0xbcb55657, 0xbc951212, HOSTSIM_SOF_UNKNOWN, HOSTSIM_EOF_UNKNOWN},
                 {0, 0xbd957575, HOSTSIM_SOF_UNKNOWN, HOSTSIM_EOF_UNKNOWN}};
    for (const auto& c : cases) {
        Bytes wire = bigEndian({c.sof}) + kFcpCmnd + bigEndian({kCrc, c.eof});
        ASSERT_EQ(parseFc(wire, {true, true}), HOSTSIM_OK);
        Values got = {descriptor(HOSTSIM_D_SOF), descriptor(HOSTSIM_D_EOF),
                      descriptor(HOSTSIM_D_CHECK_VALUE), fc.Get_OX_ID(), payload(kFcpDlOffset)};
        EXPECT_EQ(got, Values({c.decodedSof, c.decodedEof, kCrc, kFcpOxId, 0x1000})) << c.sof;
    }
}

TEST_F(HostFrameTest, FcCrcWithoutDelimitersIsStripped)
{
    ASSERT_EQ(parseFc(kPlogi + bigEndian({0xdeadbeef}), {false, true}), HOSTSIM_OK);
    EXPECT_EQ(descriptor(HOSTSIM_D_SOF), HOSTSIM_SOF_NONE);
    EXPECT_EQ(descriptor(HOSTSIM_D_CHECK_VALUE), 0xdeadbeef);
    EXPECT_EQ(lengthWords(), int64_t(kPlogi.size() / 4 - 6));
}

// A failed parse leaves no trace of the frame parsed into the record before.
TEST_F(HostFrameTest, FcLengthLimits)
{
    constexpr size_t kMax = kHostsimMaxFrameBytes;
    const HostsimFcOptions none{};
    const HostsimFcOptions crc{false, true};
    const HostsimFcOptions both{true, true};
    struct {
        size_t length;
        HostsimFcOptions options;
        HostsimStatus status;
    } cases[] = {{23, none, HOSTSIM_TOO_SHORT}, {24, none, HOSTSIM_OK},
                 {27, crc, HOSTSIM_TOO_SHORT},  {28, crc, HOSTSIM_OK},
                 {35, both, HOSTSIM_TOO_SHORT}, {36, both, HOSTSIM_OK},
                 {kMax + 12, both, HOSTSIM_OK}, {kMax + 13, both, HOSTSIM_TOO_LONG}};
    for (const auto& c : cases) {
        ASSERT_EQ(parseFc(kPlogi), HOSTSIM_OK);
        EXPECT_EQ(parseFc(Bytes(c.length, 0x22), c.options), c.status) << c.length;
        bool ok = c.status == HOSTSIM_OK;
        EXPECT_EQ(fc.Get_R_CTL(), ok ? 0x22u : 0u) << c.length;
    }
}

TEST_F(HostFrameTest, NullArgumentsAreRefused)
{
    EXPECT_EQ(hostsimParseFc(kPlogi.data(), 40, hostsimPort(1), {}, nullptr),
              HOSTSIM_NULL_ARGUMENT);
    EXPECT_EQ(hostsimParseFc(nullptr, 40, hostsimPort(1), {}, raw.get()), HOSTSIM_NULL_ARGUMENT);
}

TEST_F(HostFrameTest, EthernetRuntsAreRefused)
{
    const Bytes macBytes = bigEndian(kMacs);
    struct {
        Bytes wire;
        bool fcs;
    } cases[] = {{{}, false},
                 {macBytes + Bytes{0x08}, false},
                 {macBytes + bigEndian({kCTag}), false},
                 {macBytes + bigEndian({kSTag}) + Bytes{0x81, 0, 0}, false},
                 {macBytes + Bytes{8, 0, 1, 2, 3}, true}};
    for (const auto& c : cases) {
        EXPECT_EQ(parseEthernet(c.wire, {c.fcs}), HOSTSIM_TOO_SHORT) << c.wire.size();
        EXPECT_EQ(ethernet.PeekHeader(0), nullptr) << c.wire.size();
        EXPECT_EQ(macs(), Bytes(12, 0)) << c.wire.size();
    }
}

TEST_F(HostFrameTest, EthernetJumboFrameFitsAndOneByteMoreDoesNot)
{
    constexpr size_t kPayloadBytes = kHostsimMaxFrameBytes - 14;
    Bytes jumbo = eth({}, kIpv4Type, Bytes(kPayloadBytes, 0x11));
    ASSERT_EQ(parseEthernet(jumbo), HOSTSIM_OK);
    EXPECT_NE(ethernet.PeekPayload(kPayloadBytes / 4 - 1), nullptr);
    EXPECT_EQ(parseEthernet(jumbo + Bytes{0}), HOSTSIM_TOO_LONG);
}

TEST_F(HostFrameTest, EthernetDescriptorNamesTagsAndEtherType)
{
    for (const Words& tags : {Words{}, {kCTag}, {kOldSTag}, {kSTag, kCTag}}) {
        ASSERT_EQ(parseEthernet(eth(tags, kFcoeType)), HOSTSIM_OK);
        Values got = {descriptor(HOSTSIM_D_VLAN_TAGS), descriptor(HOSTSIM_D_ETHERTYPE),
                      descriptor(HOSTSIM_D_HEADER_BYTES)};
        EXPECT_EQ(got, Values({int64_t(tags.size()), kFcoeType, int64_t(14 + 4 * tags.size())}));
        EXPECT_EQ(peekAll(&EthernetFrame::PeekPayload), Values(kIpv4.begin(), kIpv4.end()));
    }
    EXPECT_EQ(descriptor(HOSTSIM_D_OUTER_TAG), kSTag);
    EXPECT_EQ(descriptor(HOSTSIM_D_INNER_TAG), kCTag);
}

TEST_F(HostFrameTest, EthernetThirdTagStartsThePayload)
{
    constexpr uint32_t kThirdTagRest = 0x00050800;
    ASSERT_EQ(parseEthernet(eth({kSTag, kCTag}, 0x8100, bigEndian({kThirdTagRest}))), HOSTSIM_OK);
    EXPECT_EQ(descriptor(HOSTSIM_D_ETHERTYPE), 0x8100);
    EXPECT_EQ(*ethernet.PeekPayload(0), kThirdTagRest);
}

TEST_F(HostFrameTest, EthernetFcsIsStripped)
{
    ASSERT_EQ(parseEthernet(eth({}) + bigEndian({0x12345678}), {true}), HOSTSIM_OK);
    EXPECT_EQ(descriptor(HOSTSIM_D_CHECK_VALUE), 0x12345678);
    EXPECT_EQ(peekAll(&EthernetFrame::PeekPayload).size(), kIpv4.size());
}

TEST_F(HostFrameTest, MatcherFieldGroupsCompareUnderTheirMask)
{
    RegisterFrameEntry all = rule(1, {0xFF000000, 25, 0x06ABCDEF});  // R_CTL; bits outside mask
    all.field_2 = {0xFF000000, 27, 0x08000000};                      // TYPE
    all.field_3 = {0x00FFFFFF, 26, 0x00010200};                      // S_ID
    RegisterFrameEntry wrongSid = all;
    wrongSid.field_3.value = 0x00010201;
    RegisterFrameEntry typeOff = all;
    typeOff.field_2 = {0, 27, 0x01000000};  // a zero mask turns the group off
    ASSERT_EQ(parseFc(kFcpCmnd), HOSTSIM_OK);
    EXPECT_TRUE(matches(all));
    EXPECT_FALSE(matches(wrongSid));
    EXPECT_TRUE(matches(typeOff));
}

TEST_F(HostFrameTest, MatcherRangeIsInclusive)
{
    constexpr uint32_t kOxIdMask = 0xFFFF0000;
    struct {
        uint32_t lo, hi;
        bool match;
    } cases[] = {{0x00420000, 0x00420000, true},
                 {0, 0x00410000, false},
                 {0x00430000, ~0u, false},
                 {0x00500000, 0x00400000, false}};
    ASSERT_EQ(parseFc(kFcpCmnd), HOSTSIM_OK);
    for (const auto& c : cases)
        EXPECT_EQ(matches(rule(1, {}, {kOxIdMask, 29, c.lo, c.hi})), c.match) << c.lo;
}

TEST_F(HostFrameTest, MatcherWordsPastTheFrameFail)
{
    ASSERT_EQ(parseFc(kFcpCmnd), HOSTSIM_OK);
    EXPECT_TRUE(matches(rule(1, {~0u, kFcpDlRecordWord, 0x1000})));
    EXPECT_FALSE(matches(rule(1, {~0u, kFcpDlRecordWord + 1, 0})));
    EXPECT_FALSE(matches(rule(1, {~0u, ~0u, 0})));
    EXPECT_TRUE(matches(rule(1, {}, {~0u, kFcpDlRecordWord, 0, ~0u})));
    EXPECT_FALSE(matches(rule(1, {}, {~0u, kFcpDlRecordWord + 1, 0, ~0u})));
}

TEST_F(HostFrameTest, MatcherReadsDescriptorWords)
{
    ASSERT_EQ(parseEthernet(eth({kCTag, kCTag})), HOSTSIM_OK);
    EXPECT_TRUE(matches(rule(2, {~0u, HOSTSIM_D_VLAN_TAGS, 2})));
    EXPECT_TRUE(matches(rule(0, {0xFFFF, HOSTSIM_D_PORT_H0, 4})));
    EXPECT_FALSE(matches(rule(0, {0xFFFF, HOSTSIM_D_PORT_H0, 1})));
}

TEST_F(HostFrameTest, MatcherRejectsByKindAndReason)
{
    const Bytes lsRjt = fcWith(0x23, bigEndian({0x01000000, 0x00092900}));  // reason 09
    const Bytes baRjt = fcWith(0x85, bigEndian({0x00030000}));              // reason 03
    constexpr uint32_t kAnyReason = 0;
    constexpr uint32_t kReason = 0x100;  // exact_reject: 0x100 | reason code
    struct {
        Bytes wire;
        uint32_t exact;
        bool match;
    } cases[] = {{lsRjt, kAnyReason, true},
                 {lsRjt, kReason | 9, true},
                 {lsRjt, kReason | 8, false},
                 {fcWith(0x23, bigEndian({0x02000000})), kAnyReason, false},  // LS_ACC
                 {fcWith(0x22, bigEndian({0x01000000})), kAnyReason, false},
                 {fcWith(0x23, bigEndian({0x01000000})), kAnyReason, true},
                 {fcWith(0x23, bigEndian({0x01000000})), kReason | 0xff, false},  // no reason
                 {baRjt, kReason | 3, true},
                 {fcWith(0x84, bigEndian({0x00030000})), kAnyReason, false},
                 {fcWith(0xc2, {}, 0x010a0000), kReason | 0x0a, true},
                 {fcWith(0xc3, {}, 0x01000000), kReason, true}};
    for (const auto& c : cases) {
        ASSERT_EQ(parseFc(c.wire), HOSTSIM_OK);
        RegisterFrameEntry entry = rule(1);
        entry.only_rejects = 1;
        entry.exact_reject = c.exact;
        EXPECT_EQ(matches(entry), c.match) << &c - cases;
    }
}

TEST_F(HostFrameTest, MatcherSofMaskNeedsADelimiter)
{
    const Bytes sofI3 = bigEndian({0xbcb55656}) + kPlogi + bigEndian({0xbc957575});
    RegisterFrameEntry entry = rule(1);
    ASSERT_EQ(parseFc(sofI3, {true, false}), HOSTSIM_OK);
    entry.sof_mask = 1u << HOSTSIM_SOF_I3;
    EXPECT_TRUE(matches(entry));
    entry.sof_mask = 1u << HOSTSIM_SOF_N3;
    EXPECT_FALSE(matches(entry));
    ASSERT_EQ(parseFc(kPlogi), HOSTSIM_OK);
    entry.sof_mask = ~0u;
    EXPECT_FALSE(matches(entry));
}

TEST_F(HostFrameTest, MatcherNeverMatchesNullOrEmpty)
{
    RegisterFrameEntry any = rule(0);
    EXPECT_EQ(FrameUtil::FrameMatchesEntry(nullptr, &any), 0);
    EXPECT_EQ(FrameUtil::FrameMatchesEntry(raw.get(), nullptr), 0);
    EXPECT_EQ(parseFc(Bytes(5, 0)), HOSTSIM_TOO_SHORT);
    EXPECT_FALSE(matches(any));
}

}  // namespace
