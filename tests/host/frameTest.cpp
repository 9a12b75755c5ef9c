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
// Header words R_CTL|D_ID, S_ID, TYPE|F_CTL, SEQ_*, OX_ID|RX_ID, parameter, then the payload.
Bytes fcWith(uint32_t rctl, const Bytes& pl = {}, uint32_t param = 0)
{
    return W({rctl << 24 | 0x010200, 0x020300, 0x01990000, 0, 0x00420043, param}) + pl;
}
// ELS command and login parameters, the port and node names at payload 20 and 28.
const Bytes kLogin = W({0x20200000, 0x88000800, 0x00ff0000, 0x7d0, 0x10000005, 0x1e123456, 0x20000005,
                        0x1e123456}) + Bytes(80, 0);
const Bytes kPlogi = W({0x22fffffc, 0x010200, 0x01290000, 0, 0x1234ffff, 0, 0x03000000}) + kLogin;
const Bytes kLsAcc = W({0x23010200, 0xfffffc, 0x01990000, 0, 0x12340456, 0, 0x02000000}) + kLogin;
// FCP_CMND: LUN 1, read, READ(10) of 8 blocks, FCP_DL 4096.
const Bytes kFcpCmnd = W({0x06020300, 0x010200, 0x08290000, 0, 0x0042ffff, 0, 0x00010000, 0, 2, 0x28000000,
                          0x10000000, 0x08000000, 0, 0x1000});

const Words kMacs = {0x001b213a, 0x4f5e5254, 0x00123456};   // dst 001b213a4f5e, src 525400123456
const Words kIpv4 = {0x45000054, 0x1c464000, 0x4001a05b, 0xc0a8010a, 0xc0a80101};
constexpr uint32_t kCTag = 0x81006064, kSTag = 0x88a800c8, kOldSTag = 0x9100000a;
Bytes eth(const Words& tags, uint32_t type = 0x0800, const Bytes& pl = W(kIpv4))
{
    return W(kMacs) + W(tags) + Bytes{uint8_t(type >> 8), uint8_t(type)} + pl;
}

RegisterFrameEntry rule(uint32_t from, RegisterFieldMatch field = {}, RegisterRangeMatch range = {},
                        uint32_t sofMask = 0, uint32_t onlyRejects = 0, uint32_t exactReject = 0)
{
    RegisterFrameEntry r{};
    r.offset_from = from, r.field_1 = field, r.range = range;
    r.sof_mask = sofMask, r.only_rejects = onlyRejects, r.exact_reject = exactReject;
    return r;
}

struct Host : ::testing::Test {
    std::unique_ptr<fcRawFrameStruct> raw = std::make_unique<fcRawFrameStruct>();
    fcFrame f{raw.get()};
    EthernetFrame e{raw.get()};

    HostsimStatus fcParse(const Bytes& b, HostsimFcOptions o = {}, port_id_t p = hostsimPort(1))
    { return hostsimParseFc(b.data(), b.size(), p, o, raw.get()); }
    HostsimStatus ethParse(const Bytes& b, HostsimEthOptions o = {})
    { return hostsimParseEthernet(b.data(), b.size(), hostsimPort(4), o, raw.get()); }
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
    ASSERT_EQ(fcParse(fcWith(0x22, {1, 2, 3, 4, 5, 6, 7})), HOSTSIM_OK);   // partial last word
    EXPECT_EQ(Vals({words(), pld(4)}), Vals({1, -1}));
}

TEST_F(Host, FcDelimitersAndCrcAreDecodedAndStripped)
{
    struct { uint32_t sof, eof; int64_t s, e; } cases[] = {
        {0xbcb55656, 0xbc957575, HOSTSIM_SOF_I3, HOSTSIM_EOF_T}, {0xbcb53636, 0xbcb5d5d5, HOSTSIM_SOF_N3, HOSTSIM_EOF_N},
        {0xbcb55555, 0xbc95f5f5, HOSTSIM_SOF_I2, HOSTSIM_EOF_A}, {0xbcb55858, 0xbc957575, HOSTSIM_SOF_F, HOSTSIM_EOF_T},
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
    EXPECT_EQ(Vals({d(HOSTSIM_D_SOF), d(HOSTSIM_D_CHECK_VALUE), words()}), Vals({HOSTSIM_SOF_NONE, 0xdeadbeef, 29}));
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
    for (const auto& c : fcCases) {   // a failed parse leaves no trace of the frame before
        ASSERT_EQ(fcParse(kPlogi), HOSTSIM_OK);
        EXPECT_EQ(fcParse(Bytes(c.length, 0x22), c.o), c.s) << c.length;
        bool ok = c.s == HOSTSIM_OK;
        int64_t payload = int64_t(c.length) - 24 - 4 * c.o.crc - 8 * c.o.delimiters;
        EXPECT_EQ(Vals({hostsimKind(raw.get()), words(), f.Get_R_CTL()}),
                  Vals({ok ? HOSTSIM_KIND_FC : HOSTSIM_KIND_NONE, ok ? payload / 4 : -1, ok ? 0x22 : 0}));
    }
    const Bytes m = W(kMacs);
    struct { Bytes wire; bool fcs; } ethCases[] = {
        {{}, false}, {m + Bytes{0x08}, false}, {m + W({kCTag}), false}, {m + W({kSTag}) + Bytes{0x81, 0, 0}, false},
        {m + Bytes{8, 0, 1, 2, 3}, true}};
    for (const auto& c : ethCases) {
        EXPECT_EQ(ethParse(c.wire, {c.fcs}), HOSTSIM_TOO_SHORT) << c.wire.size();
        EXPECT_TRUE(e.PeekHeader(0) == nullptr && macs() == Bytes(12, 0)) << c.wire.size();
    }
    Bytes jumbo = eth({}, 0x0800, Bytes(kMax - 14, 0x11));
    ASSERT_EQ(ethParse(jumbo), HOSTSIM_OK);
    EXPECT_NE(e.PeekPayload((kMax - 14) / 4 - 1), nullptr);
    EXPECT_EQ(Vals({ethParse(jumbo + Bytes{0}), words()}), Vals({HOSTSIM_TOO_LONG, -1}));
    EXPECT_EQ(hostsimParseFc(kPlogi.data(), 40, hostsimPort(1), {}, nullptr), HOSTSIM_NULL_ARGUMENT);
    EXPECT_EQ(hostsimParseFc(nullptr, 40, hostsimPort(1), {}, raw.get()), HOSTSIM_NULL_ARGUMENT);
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
        EXPECT_TRUE(macs() == W(kMacs) && e.GetOrigPortID().h0 == 4 && words() == -1);   // no FC view
    }
    EXPECT_EQ(Vals({d(HOSTSIM_D_OUTER_TAG), d(HOSTSIM_D_INNER_TAG)}), Vals({kSTag, kCTag}));
    ASSERT_EQ(ethParse(eth({kSTag, kCTag}, 0x8100, W({0x00050800}))), HOSTSIM_OK);   // 3rd tag
    EXPECT_EQ(Vals({d(HOSTSIM_D_VLAN_TAGS), d(HOSTSIM_D_ETHERTYPE), *e.PeekPayload(0)}), Vals({2, 0x8100, 0x00050800}));
    ASSERT_EQ(ethParse(eth({}) + W({0x12345678}), {true}), HOSTSIM_OK);
    EXPECT_EQ(Vals({int64_t(peekAll(&EthernetFrame::PeekPayload).size()), d(HOSTSIM_D_CHECK_VALUE),
                    d(HOSTSIM_D_PAYLOAD_BYTES)}), Vals({5, 0x12345678, 20}));
    for (size_t bytes : {0, 3, 4, 7, 46}) {   // only whole payload words
        ASSERT_EQ(ethParse(eth({kCTag}, 0x0800, Bytes(bytes, 0xab))), HOSTSIM_OK);
        EXPECT_TRUE(peekAll(&EthernetFrame::PeekPayload).size() == bytes / 4 && !e.PeekPayload(~0u)) << bytes;
    }
}

TEST_F(Host, MatcherRules)
{
    enum { FC, DELIM, ETH };
    const Bytes eth0 = eth({}, 0x0800, {}), sofI3 = W({0xbcb55656}) + kPlogi + W({0xbc957575});
    const Bytes rjtPl = W({0x01000000, 0x00092900}), lsRjt = fcWith(0x23, rjtPl), baRjt = W({0x00030000});
    const RegisterFrameEntry els = rule(1, {0xF0000000, 25, 0x20000000});
    RegisterFrameEntry groups = rule(1, {0xFF000000, 25, 0x06ABCDEF});   // R_CTL, bits outside the mask
    groups.field_2 = {0xFF000000, 27, 0x08000000};                       // TYPE
    groups.field_3 = {0x00FFFFFF, 26, 0x00010200};                       // S_ID
    RegisterFrameEntry wrongSid = groups, wrongType = groups, typeOff;
    wrongSid.field_3.value = 0x00010201;
    wrongType.field_3 = {}, wrongType.field_2.value = 0x01000000;
    typeOff = wrongType, typeOff.field_2.mask = 0;   // a zero mask turns the group off
    auto ox = [](uint32_t lo, uint32_t hi) { return rule(1, {}, {0xFFFF0000, 29, lo, hi}); };   // OX_ID 0042
    auto rej = [](uint32_t exact = 0, uint32_t only = 1) { return rule(1, {}, {}, 0, only, exact); };
    const Bytes& cmd = kFcpCmnd;
    struct { Bytes wire; RegisterFrameEntry r; bool want; int how = FC; } cases[] = {
        {fcWith(0x22), els, true}, {fcWith(0x23), els, true}, {fcWith(0x2f), els, true}, {fcWith(0x06), els, false},
        {fcWith(0x01), els, false}, {fcWith(0x32), els, false}, {fcWith(0x02), els, false},
        {fcWith(0x85), els, false}, {fcWith(0xc2), els, false},
        // offset_from: 0 any frame, 1 FC only, 2 Ethernet only, anything else nothing
        {cmd, rule(0), true}, {cmd, rule(1), true}, {cmd, rule(2), false}, {cmd, rule(3), false},
        {cmd, rule(~0u), false}, {eth0, rule(0), true, ETH}, {eth0, rule(1), false, ETH},
        {eth0, rule(2), true, ETH}, {eth0, rule(3), false, ETH}, {cmd, groups, true}, {cmd, wrongSid, false},
        {cmd, wrongType, false}, {cmd, typeOff, true}, {cmd, ox(0x00420000, 0x00420000), true},
        {cmd, ox(0, 0x00410000), false}, {cmd, ox(0x00430000, ~0u), false},
        {cmd, ox(0x00400000, 0x00500000), true}, {cmd, ox(0x00500000, 0x00400000), false},
        // FCP_CMND fills record words 25..38; a group on a word past the frame fails.
        {cmd, rule(1, {~0u, 38, 0x1000}), true}, {cmd, rule(1, {~0u, 39, 0}), false},
        {cmd, rule(1, {~0u, kHostsimRecordWords, 0}), false}, {cmd, rule(1, {~0u, ~0u, 0}), false},
        {cmd, rule(1, {}, {~0u, 38, 0, ~0u}), true}, {cmd, rule(1, {}, {~0u, 39, 0, ~0u}), false},
        {cmd, rule(1, {}, {~0u, ~0u, 0, ~0u}), false}, {fcWith(0x06), rule(1, {~0u, 38, 0x1000}), false},
        {eth({kCTag, kCTag}), rule(2, {~0u, HOSTSIM_D_VLAN_TAGS, 2}), true, ETH},
        {eth({kCTag}), rule(2, {~0u, HOSTSIM_D_VLAN_TAGS, 2}), false, ETH},
        {cmd, rule(0, {0xFFFF, HOSTSIM_D_PORT_H0, 1}), true},
        // Rejects: LS_RJT and its reason, BA_RJT, F_RJT and P_RJT by the parameter word.
        {lsRjt, rej(), true}, {lsRjt, rej(0x109), true}, {lsRjt, rej(0x108), false}, {lsRjt, rej(0x108, 0), true},
        {fcWith(0x23, W({0x02000000})), rej(), false}, {fcWith(0x22, rjtPl), rej(), false},
        {fcWith(0x06, rjtPl), rej(), false}, {fcWith(0x23, W({0x01000000})), rej(), true},
        {fcWith(0x23, W({0x01000000})), rej(0x1ff), false}, {fcWith(0x85, baRjt), rej(0x103), true},
        {fcWith(0x85, baRjt), rej(0x102), false}, {fcWith(0x84, baRjt), rej(), false}, {fcWith(0x85), rej(), true},
        {fcWith(0xc2, {}, 0x010a0000), rej(0x10a), true}, {fcWith(0xc3, {}, 0x01000000), rej(0x100), true},
        {eth0, rule(0, {}, {}, 0, 1), false, ETH}, {sofI3, rule(1, {}, {}, 1u << HOSTSIM_SOF_I3), true, DELIM},
        {sofI3, rule(1, {}, {}, (1u << HOSTSIM_SOF_N3) | (1u << HOSTSIM_SOF_I2)), false, DELIM},
        {kPlogi, rule(1, {}, {}, ~0u), false}, {eth0, rule(0, {}, {}, ~0u), false, ETH}};
    for (const auto& c : cases) {
        ASSERT_EQ(c.how == ETH ? ethParse(c.wire) : fcParse(c.wire, {c.how == DELIM, false}), HOSTSIM_OK);
        EXPECT_EQ(matches(c.r), c.want) << "row " << &c - cases;
    }
    EXPECT_EQ(FrameUtil::FrameMatchesEntry(nullptr, &cases[0].r), 0);
    EXPECT_EQ(FrameUtil::FrameMatchesEntry(raw.get(), nullptr), 0);
    fcParse(Bytes(5, 0));
    EXPECT_FALSE(matches(rule(0)));
}

}  // namespace
