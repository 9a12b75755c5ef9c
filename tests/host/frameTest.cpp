// The reference host's FC and Ethernet parsers and its matcher, fed frames
// laid out byte for byte as a capture shows them.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "hostsim.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Vals = std::vector<int64_t>;
using Words = std::vector<uint32_t>;

Bytes W(const Words& words)   // big-endian
{
    Bytes b;
    for (uint32_t w : words)
        b.insert(b.end(), {uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w)});
    return b;
}
Bytes operator+(Bytes a, const Bytes& b) { a.insert(a.end(), b.begin(), b.end()); return a; }
// Header words R_CTL|D_ID, S_ID, TYPE|F_CTL, OX_ID|RX_ID, then the payload.
Bytes fc(uint32_t rctlDid, uint32_t sid, uint32_t typeFctl, uint32_t oxRx, const Bytes& pl, uint32_t param = 0)
{
    return W({rctlDid, sid, typeFctl, 0, oxRx, param}) + pl;
}
Bytes fcWith(uint32_t rctl, const Bytes& pl, uint32_t param = 0)
{
    return fc(rctl << 24 | 0x010200, 0x020300, 0x01990000, 0x00420043, pl, param);
}
// ELS command and login parameters, the port and node names at payload 20 and 28.
const Bytes kLogin = W({0x20200000, 0x88000800, 0x00ff0000, 0x7d0, 0x10000005, 0x1e123456, 0x20000005,
                        0x1e123456}) + Bytes(80, 0);
const Bytes kPlogi = fc(0x22fffffc, 0x010200, 0x01290000, 0x1234ffff, W({0x03000000}) + kLogin);
const Bytes kLsAcc = fc(0x23010200, 0xfffffc, 0x01990000, 0x12340456, W({0x02000000}) + kLogin);
// FCP_CMND: LUN 1, read, READ(10) of 8 blocks, FCP_DL 4096.
const Bytes kFcpCmnd = fc(0x06020300, 0x010200, 0x08290000, 0x0042ffff,
                          W({0x00010000, 0, 2, 0x28000000, 0x10000000, 0x08000000, 0, 0x1000}));

const Words kMacs = {0x001b213a, 0x4f5e5254, 0x00123456};   // dst 001b213a4f5e, src 525400123456
const Words kIpv4 = {0x45000054, 0x1c464000, 0x4001a05b, 0xc0a8010a, 0xc0a80101};
constexpr uint32_t kCTag = 0x81006064, kSTag = 0x88a800c8, kOldSTag = 0x9100000a;
Bytes eth(const Words& tags, uint32_t type = 0x0800, const Bytes& pl = W(kIpv4))
{
    return W(kMacs) + W(tags) + Bytes{uint8_t(type >> 8), uint8_t(type)} + pl;
}

RegisterFrameEntry rule(uint32_t from, RegisterFieldMatch field = {}, RegisterRangeMatch range = {})
{
    RegisterFrameEntry r{};
    r.offset_from = from;
    r.field_1 = field;
    r.range = range;
    return r;
}

struct Host : ::testing::Test {
    std::unique_ptr<fcRawFrameStruct> raw = std::make_unique<fcRawFrameStruct>();
    fcFrame f{raw.get()};
    EthernetFrame e{raw.get()};

    HostsimStatus fcParse(const Bytes& b, HostsimFcOptions o = {}, port_id_t p = hostsimPort(1))
    {
        return hostsimParseFc(b.data(), b.size(), p, o, raw.get());
    }
    HostsimStatus ethParse(const Bytes& b, HostsimEthOptions o = {})
    {
        return hostsimParseEthernet(b.data(), b.size(), hostsimPort(4), o, raw.get());
    }
    int64_t d(HostsimDescriptor i) const { return raw->record[i]; }
    int64_t words() { unsigned w = 0; return f.GetLengthWords(&w) == 0 ? int64_t(w) : -1; }
    int64_t pld(unsigned at, unsigned n = 1) { unsigned w[2] = {}; return f.GetPayload(at, n, w) ? -1 : int64_t(w[0]); }
    Vals peekAll(uint32_t* (EthernetFrame::*peek)(unsigned))
    {
        Vals out;
        for (uint32_t* w; out.size() < 16 && (w = (e.*peek)(unsigned(out.size())));)
            out.push_back(*w);
        return out;
    }
    Bytes macs() { unsigned char m[12] = {1, 1}; e.Get_D_ID(m); e.Get_S_ID(m + 6); return Bytes(m, m + 12); }
    bool matches(RegisterFrameEntry r) { return FrameUtil::FrameMatchesEntry(raw.get(), &r) != 0; }
    bool fcMatches(const Bytes& b, const RegisterFrameEntry& r, HostsimFcOptions o = {})
    {
        return fcParse(b, o) == HOSTSIM_OK && matches(r);
    }
    bool ethMatches(const Bytes& b, const RegisterFrameEntry& r) { return ethParse(b) == HOSTSIM_OK && matches(r); }
};

TEST_F(Host, FcFieldsAsTheWireShowsThem)
{
    struct { const Bytes& wire; Vals fields; } cases[] = {
        {kPlogi, {0x22, 0xfffffc, 0x010200, 0x01, 0x1234, 0xffff, 29, 0x03000000, 7}},
        {kLsAcc, {0x23, 0x010200, 0xfffffc, 0x01, 0x1234, 0x0456, 29, 0x02000000, 7}},
        {kFcpCmnd, {0x06, 0x020300, 0x010200, 0x08, 0x0042, 0xffff, 8, 0x00010000, 7}}};
    for (const auto& c : cases) {
        ASSERT_EQ(fcParse(c.wire, {}, hostsimPort(7)), HOSTSIM_OK);
        EXPECT_EQ(Vals({f.Get_R_CTL(), f.Get_D_ID(), f.Get_S_ID(), f.Get_TYPE(), f.Get_OX_ID(), f.Get_RX_ID(),
                        words(), pld(0), f.GetOrigPortID().h0}), c.fields);
    }
    ASSERT_EQ(fcParse(kPlogi, {}, hostsimPortPair(3, 12)), HOSTSIM_OK);
    unsigned names[4] = {};
    ASSERT_EQ(f.GetPayload(20, 4, names), 0);
    EXPECT_EQ(Vals(names, names + 4), Vals({0x10000005, 0x1e123456, 0x20000005, 0x1e123456}));
    port_id_t port = f.GetOrigPortID();
    EXPECT_EQ(Vals({port.h0, port.h1, port.h2}), Vals({0xffff, 3, 12}));

    ASSERT_EQ(fcParse(kFcpCmnd), HOSTSIM_OK);   // reads stay within the 8 payload words
    EXPECT_EQ(Vals({pld(28), pld(32), pld(28, 2), pld(2), pld(0xfffffffc), pld(4, ~0u)}),
              Vals({0x1000, -1, -1, -1, -1, -1}));
    EXPECT_EQ(f.GetPayload(32, 0, nullptr), 0);
    ASSERT_EQ(fcParse(fcWith(0x22, {1, 2, 3, 4, 5, 6, 7})), HOSTSIM_OK);   // partial last word
    EXPECT_EQ(Vals({words(), pld(4)}), Vals({1, -1}));
    ASSERT_EQ(fcParse(fcWith(0x22, {})), HOSTSIM_OK);
    EXPECT_EQ(Vals({words(), pld(0)}), Vals({0, -1}));
}

TEST_F(Host, FcDelimitersAndCrcAreDecodedAndStripped)
{
    struct { uint32_t sof, eof; int64_t s, e; } cases[] = {
        {0xbcb55656, 0xbc957575, HOSTSIM_SOF_I3, HOSTSIM_EOF_T},
        {0xbcb53636, 0xbcb5d5d5, HOSTSIM_SOF_N3, HOSTSIM_EOF_N},
        {0xbcb55555, 0xbcb57575, HOSTSIM_SOF_I2, HOSTSIM_EOF_T},
        {0xbcb53535, 0xbc95d5d5, HOSTSIM_SOF_N2, HOSTSIM_EOF_N},
        {0xbcb55858, 0xbc95f5f5, HOSTSIM_SOF_F, HOSTSIM_EOF_A},
        {0xbcb55657, 0xbc951212, HOSTSIM_SOF_UNKNOWN, HOSTSIM_EOF_UNKNOWN},
        {0, 0xbd957575, HOSTSIM_SOF_UNKNOWN, HOSTSIM_EOF_UNKNOWN}};
    for (const auto& c : cases) {
        Bytes wire = W({c.sof}) + kFcpCmnd + W({0x4a1f7702, c.eof});
        ASSERT_EQ(fcParse(wire, {true, true}), HOSTSIM_OK);
        EXPECT_EQ(Vals({d(HOSTSIM_D_SOF), d(HOSTSIM_D_EOF), d(HOSTSIM_D_HAS_CHECK), d(HOSTSIM_D_CHECK_VALUE),
                        d(HOSTSIM_D_WIRE_BYTES), f.Get_OX_ID(), words(), pld(28)}),
                  Vals({c.s, c.e, 1, 0x4a1f7702, int64_t(wire.size()), 0x42, 8, 0x1000}));
    }
    ASSERT_EQ(fcParse(kPlogi + W({0xdeadbeef}), {false, true}), HOSTSIM_OK);
    EXPECT_EQ(Vals({d(HOSTSIM_D_SOF), d(HOSTSIM_D_CHECK_VALUE), words()}),
              Vals({HOSTSIM_SOF_NONE, 0xdeadbeef, 29}));
}

TEST_F(Host, LengthLimitsAndTruncatedFrames)
{
    constexpr size_t kMax = kHostsimMaxFrameBytes;
    const HostsimFcOptions none{}, crc{false, true}, both{true, true};
    struct { size_t length; HostsimFcOptions o; HostsimStatus s; } fcCases[] = {
        {0, none, HOSTSIM_TOO_SHORT}, {23, none, HOSTSIM_TOO_SHORT}, {24, none, HOSTSIM_OK},
        {27, crc, HOSTSIM_TOO_SHORT}, {28, crc, HOSTSIM_OK}, {35, both, HOSTSIM_TOO_SHORT},
        {36, both, HOSTSIM_OK}, {kMax, none, HOSTSIM_OK}, {kMax + 1, none, HOSTSIM_TOO_LONG},
        {kMax + 12, both, HOSTSIM_OK}, {kMax + 13, both, HOSTSIM_TOO_LONG}};
    for (const auto& c : fcCases) {
        EXPECT_EQ(fcParse(Bytes(c.length, 0x22), c.o), c.s) << c.length;
        EXPECT_EQ(hostsimKind(raw.get()), c.s == HOSTSIM_OK ? HOSTSIM_KIND_FC : HOSTSIM_KIND_NONE);
    }
    const Bytes m = W(kMacs);
    struct { Bytes wire; bool fcs; } ethCases[] = {
        {{}, false}, {m, false}, {m + Bytes{0x08}, false}, {m + W({kCTag}), false},
        {m + W({kSTag}) + Bytes{0x81, 0, 0}, false}, {m + Bytes{8, 0, 1, 2, 3}, true}};
    for (const auto& c : ethCases) {
        EXPECT_EQ(ethParse(c.wire, {c.fcs}), HOSTSIM_TOO_SHORT) << c.wire.size();
        EXPECT_EQ(e.PeekHeader(0), nullptr);
        EXPECT_EQ(macs(), Bytes(12, 0));
    }
    Bytes jumbo = eth({}, 0x0800, Bytes(kMax - 14, 0x11));
    ASSERT_EQ(ethParse(jumbo), HOSTSIM_OK);
    EXPECT_NE(e.PeekPayload((kMax - 14) / 4 - 1), nullptr);
    EXPECT_EQ(ethParse(jumbo + Bytes{0}), HOSTSIM_TOO_LONG);
    EXPECT_EQ(hostsimParseFc(kPlogi.data(), 40, hostsimPort(1), {}, nullptr), HOSTSIM_NULL_ARGUMENT);
    EXPECT_EQ(hostsimParseFc(nullptr, 40, hostsimPort(1), {}, raw.get()), HOSTSIM_NULL_ARGUMENT);
}

TEST_F(Host, AReusedRecordShowsOnlyTheLatestFrame)
{
    ASSERT_EQ(fcParse(kPlogi), HOSTSIM_OK);
    ASSERT_EQ(fcParse(fcWith(0x01, {0xaa, 0xbb, 0xcc, 0xdd}), {}, hostsimPort(2)), HOSTSIM_OK);
    EXPECT_EQ(Vals({words(), pld(4), f.Get_R_CTL(), f.GetOrigPortID().h0}), Vals({1, -1, 1, 2}));
    EXPECT_EQ(fcParse(Bytes(10, 0)), HOSTSIM_TOO_SHORT);
    EXPECT_EQ(Vals({words(), f.Get_R_CTL()}), Vals({-1, 0}));
    ASSERT_EQ(ethParse(eth({})), HOSTSIM_OK);   // no FC view of an Ethernet frame
    EXPECT_EQ(Vals({words(), f.Get_D_ID()}), Vals({-1, 0}));
}

TEST_F(Host, EthernetHeaderWordsFollowTheTags)
{
    for (const Words& tags : {Words{}, {kCTag}, {kOldSTag}, {kSTag, kCTag}}) {
        uint32_t type = tags.size() == 1 ? 0x8906 : 0x0800;
        ASSERT_EQ(ethParse(eth(tags, type)), HOSTSIM_OK);
        EXPECT_EQ(Vals({d(HOSTSIM_D_VLAN_TAGS), d(HOSTSIM_D_ETHERTYPE), d(HOSTSIM_D_HEADER_BYTES)}),
                  Vals({int64_t(tags.size()), type, int64_t(14 + 4 * tags.size())}));
        Vals header(kMacs.begin(), kMacs.end());
        header.insert(header.end(), tags.begin(), tags.end());
        EXPECT_EQ(peekAll(&EthernetFrame::PeekHeader), header);
        EXPECT_EQ(peekAll(&EthernetFrame::PeekPayload), Vals(kIpv4.begin(), kIpv4.end()));
        EXPECT_EQ(macs(), W(kMacs));
        EXPECT_EQ(e.GetOrigPortID().h0, 4u);
    }
    EXPECT_EQ(Vals({d(HOSTSIM_D_OUTER_TAG), d(HOSTSIM_D_INNER_TAG)}), Vals({kSTag, kCTag}));
    ASSERT_EQ(ethParse(eth({kSTag, kCTag}, 0x8100, W({0x00050800}))), HOSTSIM_OK);   // 3rd tag
    EXPECT_EQ(Vals({d(HOSTSIM_D_VLAN_TAGS), d(HOSTSIM_D_ETHERTYPE), *e.PeekPayload(0)}),
              Vals({2, 0x8100, 0x00050800}));

    Bytes withFcs = eth({}) + W({0x12345678});
    ASSERT_EQ(ethParse(withFcs), HOSTSIM_OK);
    EXPECT_EQ(peekAll(&EthernetFrame::PeekPayload).back(), 0x12345678);
    ASSERT_EQ(ethParse(withFcs, {true}), HOSTSIM_OK);
    EXPECT_EQ(Vals({int64_t(peekAll(&EthernetFrame::PeekPayload).size()), d(HOSTSIM_D_CHECK_VALUE),
                    d(HOSTSIM_D_PAYLOAD_BYTES)}), Vals({5, 0x12345678, 20}));
    for (size_t bytes : {0, 3, 4, 7, 46}) {   // only whole payload words
        ASSERT_EQ(ethParse(eth({kCTag}, 0x0800, Bytes(bytes, 0xab))), HOSTSIM_OK);
        EXPECT_EQ(peekAll(&EthernetFrame::PeekPayload).size(), bytes / 4);
        EXPECT_EQ(e.PeekPayload(~0u), nullptr);
    }
}

TEST_F(Host, MatcherKindsAndFieldGroups)
{
    const RegisterFrameEntry els = rule(1, {0xF0000000, 25, 0x20000000});
    for (auto [rctl, ok] : {std::pair{0x22u, true}, {0x23u, true}, {0x2fu, true}, {0x06u, false},
                            {0x01u, false}, {0x32u, false}, {0x02u, false}, {0x85u, false}, {0xc2u, false}})
        EXPECT_EQ(fcMatches(fcWith(rctl, W({0x03000000})), els), ok) << std::hex << rctl;
    for (auto [from, fcOk, ethOk] : {std::tuple{0u, true, true}, {1u, true, false},
                                     {2u, false, true}, {3u, false, false}, {~0u, false, false}}) {
        EXPECT_EQ(fcMatches(kFcpCmnd, rule(from)), fcOk) << from;
        EXPECT_EQ(ethMatches(eth({}, 0x0800, {}), rule(from)), ethOk) << from;
    }
    RegisterFrameEntry r = rule(1, {0xFF000000, 25, 0x06ABCDEF});   // R_CTL, bits outside mask
    r.field_2 = {0xFF000000, 27, 0x08000000};                       // TYPE
    r.field_3 = {0x00FFFFFF, 26, 0x00010200};                       // S_ID
    EXPECT_TRUE(fcMatches(kFcpCmnd, r));
    r.field_3.value = 0x00010201;
    EXPECT_FALSE(matches(r));
    r.field_3 = {};
    r.field_2.value = 0x01000000;
    EXPECT_FALSE(matches(r));
    r.field_2.mask = 0;   // a zero mask turns the group off
    EXPECT_TRUE(matches(r));
    for (auto [lo, hi, ok] : {std::tuple{0x00420000u, 0x00420000u, true}, {0u, 0x00410000u, false},
                              {0x00430000u, ~0u, false}, {0x00400000u, 0x00500000u, true},
                              {0x00500000u, 0x00400000u, false}})   // OX_ID 0042, unsigned
        EXPECT_EQ(matches(rule(1, {}, {0xFFFF0000, 29, lo, hi})), ok) << std::hex << lo << "-" << hi;
    // FCP_CMND fills record words 25..38; a group on a word past the frame fails.
    for (auto [offset, ok] : {std::pair{38u, true}, {39u, false}, {kHostsimRecordWords, false}, {~0u, false}}) {
        EXPECT_EQ(matches(rule(1, {~0u, offset, 0x1000})), ok) << offset;
        EXPECT_EQ(matches(rule(1, {}, {~0u, offset, 0, ~0u})), ok) << offset;
    }
    EXPECT_FALSE(fcMatches(fcWith(0x06, {}), rule(1, {~0u, 38, 0x1000})));   // stale words
    RegisterFrameEntry twoTags = rule(2, {~0u, HOSTSIM_D_VLAN_TAGS, 2});
    EXPECT_TRUE(ethMatches(eth({kCTag, kCTag}), twoTags));
    EXPECT_FALSE(ethMatches(eth({kCTag}), twoTags));
    EXPECT_TRUE(fcMatches(kFcpCmnd, rule(0, {0xFFFF, HOSTSIM_D_PORT_H0, 1})));
}

TEST_F(Host, MatcherRejectsAndSof)
{
    const Bytes lsRjt = W({0x01000000, 0x00092900}), baRjt = W({0x00030000});
    struct { uint32_t rctl; Bytes pl; uint32_t param; int reason; } cases[] = {   // -1: no reject
        {0x23, lsRjt, 0, 0x09}, {0x23, W({0x02000000}), 0, -1}, {0x22, lsRjt, 0, -1},
        {0x23, W({0x01000000}), 0, -2}, {0x85, baRjt, 0, 0x03}, {0x84, baRjt, 0, -1},
        {0x85, {}, 0, -2}, {0xc2, {}, 0x010a0000, 0x0a}, {0xc3, {}, 0x01000000, 0}, {0x06, lsRjt, 0, -1}};
    for (const auto& c : cases) {
        RegisterFrameEntry r = rule(1);
        r.only_rejects = 1;
        EXPECT_EQ(fcMatches(fcWith(c.rctl, c.pl, c.param), r), c.reason != -1) << std::hex << c.rctl;
        EXPECT_EQ(hostsimRejectReason(raw.get()), c.reason);
        r.exact_reject = c.reason >= 0 ? 0x100u | unsigned(c.reason) : 0x1ff;
        EXPECT_EQ(matches(r), c.reason >= 0);
        r.exact_reject ^= 1;
        EXPECT_FALSE(matches(r));
        r.only_rejects = 0;   // exact_reject alone is ignored
        EXPECT_TRUE(matches(r));
    }
    RegisterFrameEntry r = rule(0);
    r.only_rejects = 1;
    EXPECT_FALSE(ethMatches(eth({}), r));

    Bytes sofI3 = W({0xbcb55656}) + kPlogi + W({0xbc957575});
    r = rule(1);
    r.sof_mask = 1u << HOSTSIM_SOF_I3;
    EXPECT_TRUE(fcMatches(sofI3, r, {true, false}));
    r.sof_mask = (1u << HOSTSIM_SOF_N3) | (1u << HOSTSIM_SOF_I2);
    EXPECT_FALSE(matches(r));
    r.sof_mask = ~0u;
    EXPECT_FALSE(fcMatches(kPlogi, r));   // no delimiters: SOF none
    r.offset_from = 0;
    EXPECT_FALSE(ethMatches(eth({}), r));

    r = rule(0);
    EXPECT_EQ(FrameUtil::FrameMatchesEntry(nullptr, &r), 0);
    ASSERT_TRUE(fcMatches(kPlogi, r));
    EXPECT_EQ(FrameUtil::FrameMatchesEntry(raw.get(), nullptr), 0);
    fcParse(Bytes(5, 0));
    EXPECT_FALSE(matches(r));
}

}  // namespace
