// What the reference host does beyond the host contract, which the host
// check kit covers (HostCheck.hostsim): the parser's options, length limits
// and descriptor words, and the matcher's rule words that no preset uses.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "frameFilter.h"
#include "hostsim.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kPort = 4;
constexpr uint32_t kFcpDl = 0x1000;
constexpr uint32_t kFcpDlWord = 38;  // record word of FCP_DL, the frame's last
constexpr uint32_t kFcpPayloadBytes = 32;
constexpr uint32_t kOxIdWord = 29;
constexpr uint32_t kOxIdMask = 0xFFFF0000;
constexpr uint32_t kOxId = 0x00420000;
constexpr uint32_t kCrc = 0x4a1f7702;
constexpr uint32_t kSofI3 = 0xbcb55656;
constexpr uint32_t kEofT = 0xbc957575;
constexpr uint32_t kCTag = 0x81006064;
constexpr uint32_t kSTag = 0x88a800c8;
constexpr uint32_t kOldSTag = 0x9100000a;
constexpr uint32_t kFcoe = 0x8906;
constexpr uint32_t kVlanType = 0x8100;
constexpr uint32_t kEthPayloadBytes = 12;  // what eth() puts by default
constexpr uint32_t kQinQHeaderBytes = 22;
constexpr size_t kMax = kHostsimMaxFrameBytes;
constexpr size_t kMaxEthPayload = kMax - 14;

Bytes bigEndian(std::initializer_list<uint32_t> words)
{
    Bytes bytes;
    for (uint32_t word : words)
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.push_back(uint8_t(word >> shift));
    return bytes;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Header: R_CTL|D_ID, S_ID 010200, TYPE 08|F_CTL, SEQ_*, OX_ID 0042|RX_ID, parameter.
Bytes fcWith(uint32_t rctl, const Bytes& payload = {}, uint32_t parameter = 0)
{
    return bigEndian({rctl << 24 | 0x020300, 0x010200, 0x08290000, 0, 0x0042ffff, parameter}) +
           payload;
}

// FCP_CMND: LUN 1, READ(10) of 8 blocks, FCP_DL in the last of its 8 payload words.
const Bytes kFcpCmnd =
    fcWith(0x06, bigEndian({0x00010000, 0, 2, 0x28000000, 0x10000000, 0x08000000, 0, kFcpDl}));

// The FCP_CMND between an SOF, and a CRC and EOF.
Bytes framed(uint32_t sof, uint32_t eof)
{
    return bigEndian({sof}) + kFcpCmnd + bigEndian({kCrc, eof});
}

const Bytes kMacs = bigEndian({0x001b213a, 0x4f5e5254, 0x00123456});

// MACs, VLAN tags, EtherType, payload (an IPv4 header unless given).
Bytes eth(std::initializer_list<uint32_t> tags, uint32_t type = 0x0800,
          const Bytes& payload = bigEndian({0x45000054, 0x1c464000, 0x4001a05b}))
{
    return kMacs + bigEndian(tags) + Bytes{uint8_t(type >> 8), uint8_t(type)} + payload;
}

// How the parser is asked to read the wire bytes.
enum Layout { kFc, kFcCrc, kFcFramed, kEth, kEthFcs };

HostsimStatus parse(Layout layout, const Bytes& wire, fcRawFrameStruct* raw)
{
    port_id_t port = hostsimPort(kPort);
    if (layout == kEth || layout == kEthFcs)
        return hostsimParseEthernet(wire.data(), wire.size(), port, {layout == kEthFcs}, raw);
    HostsimFcOptions options = {layout == kFcFramed, layout != kFc};
    return hostsimParseFc(wire.data(), wire.size(), port, options, raw);
}

template <class Case>
std::string caseName(const ::testing::TestParamInfo<Case>& info)
{
    return info.param.name;
}

// A parse, and one record word it must leave (a descriptor word by name).
struct ParseCase {
    const char* name;
    Layout layout;
    Bytes wire;
    HostsimStatus status;
    unsigned word;
    uint32_t value;
};

constexpr HostsimStatus kOk = HOSTSIM_OK;
constexpr HostsimStatus kShort = HOSTSIM_TOO_SHORT;
constexpr HostsimStatus kLong = HOSTSIM_TOO_LONG;
constexpr unsigned kKind = HOSTSIM_D_KIND;
constexpr uint32_t kNone = HOSTSIM_KIND_NONE;
const Bytes kFramedI3 = framed(kSofI3, kEofT);
const Bytes kFcpCrc = kFcpCmnd + bigEndian({kCrc});
const Bytes kQinQ = eth({kSTag, kCTag}, kFcoe);

const ParseCase kParseCases[] = {
    {"sofI3", kFcFramed, kFramedI3, kOk, HOSTSIM_D_SOF, HOSTSIM_SOF_I3},
    {"eofT", kFcFramed, kFramedI3, kOk, HOSTSIM_D_EOF, HOSTSIM_EOF_T},
    {"sofN3", kFcFramed, framed(0xbcb53636, kEofT), kOk, HOSTSIM_D_SOF, HOSTSIM_SOF_N3},
    {"eofN", kFcFramed, framed(kSofI3, 0xbcb5d5d5), kOk, HOSTSIM_D_EOF, HOSTSIM_EOF_N},
    {"sofUnknown", kFcFramed, framed(0xbcb55657, kEofT), kOk, HOSTSIM_D_SOF, HOSTSIM_SOF_UNKNOWN},
    {"eofUnknown", kFcFramed, framed(kSofI3, 0xbc951212), kOk, HOSTSIM_D_EOF, HOSTSIM_EOF_UNKNOWN},
    {"sofNotOrdered", kFcFramed, framed(0, kEofT), kOk, HOSTSIM_D_SOF, HOSTSIM_SOF_UNKNOWN},
    {"eofNotOrdered", kFcFramed, framed(kSofI3, 0xbd957575), kOk, HOSTSIM_D_EOF,
     HOSTSIM_EOF_UNKNOWN},
    {"framedCrc", kFcFramed, kFramedI3, kOk, HOSTSIM_D_CHECK_VALUE, kCrc},
    {"framedPayload", kFcFramed, kFramedI3, kOk, HOSTSIM_D_PAYLOAD_BYTES, kFcpPayloadBytes},
    {"framedLastWord", kFcFramed, kFramedI3, kOk, kFcpDlWord, kFcpDl},
    {"crcOnlyPayload", kFcCrc, kFcpCrc, kOk, HOSTSIM_D_PAYLOAD_BYTES, kFcpPayloadBytes},
    {"fcShortOfAHeader", kFc, Bytes(23), kShort, kKind, kNone},
    {"fcHeaderOnly", kFc, Bytes(24), kOk, kKind, HOSTSIM_KIND_FC},
    {"fcShortOfACrc", kFcCrc, Bytes(27), kShort, kKind, kNone},
    {"fcHeaderAndCrc", kFcCrc, Bytes(28), kOk, kKind, HOSTSIM_KIND_FC},
    {"fcShortOfDelimiters", kFcFramed, Bytes(35), kShort, kKind, kNone},
    {"fcHeaderAndTrailers", kFcFramed, Bytes(36), kOk, kKind, HOSTSIM_KIND_FC},
    {"fcLongest", kFcFramed, Bytes(kMax + 12), kOk, kKind, HOSTSIM_KIND_FC},
    {"fcTooLong", kFcFramed, Bytes(kMax + 13), kLong, kKind, kNone},
    {"ethHalfAnEtherType", kEth, kMacs + Bytes{0x08}, kShort, kKind, kNone},
    {"ethHeaderOnly", kEth, kMacs + Bytes{0x08, 0}, kOk, kKind, HOSTSIM_KIND_ETHERNET},
    {"ethTagAndHalfAnEtherType", kEth, kMacs + bigEndian({kCTag}) + Bytes{8}, kShort, kKind, kNone},
    {"ethSecondTagCut", kEth, kMacs + bigEndian({kSTag}) + Bytes{0x81, 0, 0}, kShort, kKind, kNone},
    {"ethShortOfAnFcs", kEthFcs, kMacs + Bytes{8, 0, 1, 2, 3}, kShort, kKind, kNone},
    {"ethJumbo", kEth, eth({}, kFcoe, Bytes(kMaxEthPayload)), kOk, kKind, HOSTSIM_KIND_ETHERNET},
    {"ethTooLong", kEth, eth({}, kFcoe, Bytes(kMaxEthPayload + 1)), kLong, kKind, kNone},
    {"ethOldSTag", kEth, eth({kOldSTag}), kOk, HOSTSIM_D_VLAN_TAGS, 1},
    {"ethQinQEtherType", kEth, kQinQ, kOk, HOSTSIM_D_ETHERTYPE, kFcoe},
    {"ethQinQOuterTag", kEth, kQinQ, kOk, HOSTSIM_D_OUTER_TAG, kSTag},
    {"ethQinQInnerTag", kEth, kQinQ, kOk, HOSTSIM_D_INNER_TAG, kCTag},
    {"ethThirdTagIsPayload", kEth, eth({kSTag, kCTag}, kVlanType), kOk, HOSTSIM_D_HEADER_BYTES,
     kQinQHeaderBytes},
    {"ethFcs", kEthFcs, eth({}) + bigEndian({kCrc}), kOk, HOSTSIM_D_CHECK_VALUE, kCrc},
    {"ethFcsStripped", kEthFcs, eth({}) + bigEndian({kCrc}), kOk, HOSTSIM_D_PAYLOAD_BYTES,
     kEthPayloadBytes},
};

class HostParse : public ::testing::TestWithParam<ParseCase> {};

// Each parse reuses a record that holds a frame: a failed one must leave none.
TEST_P(HostParse, Record)
{
    const ParseCase& c = GetParam();
    auto raw = std::make_unique<fcRawFrameStruct>();
    ASSERT_EQ(parse(kFc, kFcpCmnd, raw.get()), kOk);
    EXPECT_EQ(parse(c.layout, c.wire, raw.get()), c.status);
    EXPECT_EQ(raw->record[c.word], c.value);
}

INSTANTIATE_TEST_SUITE_P(Frames, HostParse, ::testing::ValuesIn(kParseCases), caseName<ParseCase>);

// An FC rule that sets one of its words.
template <class Word>
RegisterFrameEntry with(Word RegisterFrameEntry::*word, std::decay_t<Word> value)
{
    RegisterFrameEntry rule{};
    rule.offset_from = TraceFrameFilter::kFcFrames;
    rule.*word = value;
    return rule;
}

RegisterFrameEntry rejects(uint32_t exact)
{
    RegisterFrameEntry rule = with(&RegisterFrameEntry::exact_reject, exact);
    rule.only_rejects = 1;
    return rule;
}

constexpr auto kOffsetFrom = &RegisterFrameEntry::offset_from;
constexpr auto kField1 = &RegisterFrameEntry::field_1;
constexpr auto kField2 = &RegisterFrameEntry::field_2;
constexpr auto kField3 = &RegisterFrameEntry::field_3;
constexpr auto kRange = &RegisterFrameEntry::range;
constexpr auto kSofMask = &RegisterFrameEntry::sof_mask;
constexpr uint32_t kAnyReason = 0;
constexpr uint32_t kReason = 0x100;  // exact_reject: 0x100 | reason code
const Bytes kLsRjt = fcWith(0x23, bigEndian({0x01000000, 0x00092900}));  // reason 09
const Bytes kLsRjtShort = fcWith(0x23, bigEndian({0x01000000}));         // no reason
const Bytes kBaRjt = fcWith(0x85, bigEndian({0x00030000}));              // reason 03

// A rule against a frame (the FCP_CMND unless the case says otherwise).
struct MatchCase {
    const char* name;
    RegisterFrameEntry rule;
    bool match;
    Bytes wire = kFcpCmnd;
    Layout layout = kFc;
};

const MatchCase kMatchCases[] = {
    {"anyKind", with(kOffsetFrom, TraceFrameFilter::kAnyFrame), true},
    {"unknownKindSelectsNothing", with(kOffsetFrom, 3), false},
    {"maskHidesValueBits", with(kField1, {0xFF000000, 25, 0x06ABCDEF}), true},
    {"field2IsCompared", with(kField2, {0xFF000000, 27, 0x01000000}), false},
    {"field3IsCompared", with(kField3, {0x00FFFFFF, 26, 0x00010201}), false},
    {"zeroMaskSkipsTheField", with(kField2, {0, 27, 0x01000000}), true},
    {"rangeIncludesBothEnds", with(kRange, {kOxIdMask, kOxIdWord, kOxId, kOxId}), true},
    {"rangeBelowLo", with(kRange, {kOxIdMask, kOxIdWord, kOxId + 0x10000, ~0u}), false},
    {"rangeAboveHi", with(kRange, {kOxIdMask, kOxIdWord, 0, kOxId - 0x10000}), false},
    {"fieldAtTheLastWord", with(kField1, {~0u, kFcpDlWord, kFcpDl}), true},
    {"fieldPastTheFrame", with(kField1, {~0u, kFcpDlWord + 1, 0}), false},
    {"fieldInAPartialLastWord", with(kField1, {~0u, kFcpDlWord + 1, 0xAB000000}), true,
     kFcpCmnd + Bytes{0xAB}},
    {"rangeAtTheLastWord", with(kRange, {~0u, kFcpDlWord, 0, ~0u}), true},
    {"rangePastTheFrame", with(kRange, {~0u, kFcpDlWord + 1, 0, ~0u}), false},
    {"descriptorPort", with(kField1, {0xFFFF, HOSTSIM_D_PORT_H0, kPort}), true},
    {"descriptorOtherPort", with(kField1, {0xFFFF, HOSTSIM_D_PORT_H0, kPort + 1}), false},
    {"lsRjt", rejects(kAnyReason), true, kLsRjt},
    {"lsRjtReason", rejects(kReason | 9), true, kLsRjt},
    {"lsRjtOtherReason", rejects(kReason | 8), false, kLsRjt},
    {"lsAcc", rejects(kAnyReason), false, fcWith(0x23, bigEndian({0x02000000}))},
    {"elsRequest", rejects(kAnyReason), false, fcWith(0x22, bigEndian({0x01000000}))},
    {"lsRjtWithoutReason", rejects(kAnyReason), true, kLsRjtShort},
    {"lsRjtWithoutReasonExact", rejects(kReason | 0xff), false, kLsRjtShort},
    {"lsRjtCutBeforeItsReason", rejects(kReason), false, fcWith(0x23, Bytes{1, 0, 0, 0, 0})},
    {"baRjtReason", rejects(kReason | 3), true, kBaRjt},
    {"baAcc", rejects(kAnyReason), false, fcWith(0x84, bigEndian({0x00030000}))},
    {"fRjtReason", rejects(kReason | 0x0a), true, fcWith(0xc2, {}, 0x010a0000)},
    {"pRjtReasonZero", rejects(kReason), true, fcWith(0xc3, {}, 0x01000000)},
    {"sofInMask", with(kSofMask, 1u << HOSTSIM_SOF_I3), true, kFramedI3, kFcFramed},
    {"sofNotInMask", with(kSofMask, 1u << HOSTSIM_SOF_N3), false, kFramedI3, kFcFramed},
    {"sofMaskWithoutDelimiters", with(kSofMask, ~0u), false},
};

class HostMatcher : public ::testing::TestWithParam<MatchCase> {};

TEST_P(HostMatcher, Rule)
{
    const MatchCase& c = GetParam();
    auto raw = std::make_unique<fcRawFrameStruct>();
    ASSERT_EQ(parse(c.layout, c.wire, raw.get()), kOk);
    RegisterFrameEntry rule = c.rule;
    EXPECT_EQ(FrameUtil::FrameMatchesEntry(raw.get(), &rule) != 0, c.match);
}

INSTANTIATE_TEST_SUITE_P(Rules, HostMatcher, ::testing::ValuesIn(kMatchCases), caseName<MatchCase>);

// The library reads one whole word at a time; other reads are refused, even
// those that wrap around.
TEST(HostFrame, FcPayloadReadsStayWithinThePayload)
{
    auto raw = std::make_unique<fcRawFrameStruct>();
    ASSERT_EQ(parse(kFc, kFcpCmnd, raw.get()), kOk);
    fcFrame frame{raw.get()};
    unsigned word = 0;
    EXPECT_NE(frame.GetPayload(2, 1, &word), 0);
    EXPECT_NE(frame.GetPayload(0xfffffffc, 1, &word), 0);
    EXPECT_NE(frame.GetPayload(4, ~0u, &word), 0);
}

// Null arguments are refused, not followed.
TEST(HostFrame, NullArgumentsAreRefused)
{
    auto raw = std::make_unique<fcRawFrameStruct>();
    RegisterFrameEntry any = with(kOffsetFrom, TraceFrameFilter::kAnyFrame);
    port_id_t port = hostsimPort(kPort);
    EXPECT_EQ(hostsimParseFc(kFcpCmnd.data(), 40, port, {}, nullptr), HOSTSIM_NULL_ARGUMENT);
    EXPECT_EQ(hostsimParseFc(nullptr, 40, port, {}, raw.get()), HOSTSIM_NULL_ARGUMENT);
    EXPECT_EQ(FrameUtil::FrameMatchesEntry(nullptr, &any), 0);
    EXPECT_EQ(FrameUtil::FrameMatchesEntry(raw.get(), &any), 0);  // holds no frame
}

}  // namespace
