// The capture steps on frames the reference host parses from wire bytes, with
// the time of day from the controllable clock.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "hostsim.h"
#include "hostsimClock.h"
#include "traceApi.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Steps = std::initializer_list<TraceStep*>;
const uint16_t RX = TRACE_ENTRY_RX, TX = TRACE_ENTRY_TX, BEGIN = TRACE_ENTRY_BEGIN,
               END = TRACE_ENTRY_END, PORT = TRACE_ENTRY_PORT, PAIR = TRACE_ENTRY_PORT_PAIR;
const uint32_t D = 0xdddddddd;   // a data word the capture must leave alone
const int32_t kSec = 1700000000, kUsec = 123456;

Bytes operator+(Bytes a, const Bytes& b) { return a.insert(a.end(), b.begin(), b.end()), a; }
Bytes words(std::initializer_list<uint32_t> ws)   // big-endian
{
    Bytes out;
    for (uint32_t w : ws)
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<uint8_t>(w >> shift));
    return out;
}
// FC header: R_CTL|D_ID, CS_CTL|S_ID, TYPE|F_CTL, SEQ_ID|DF_CTL|SEQ_CNT, OX_ID|RX_ID, parameter.
const Bytes kPlogiHdr = words({0x22fffffc, 0x000000e8, 0x01290000, 0x01000000, 0x1234ffff, 0});
// PLOGI or LS_ACC: service parameters, port/node names, classes 1-4 (3 valid), vendor version.
Bytes plogi(uint32_t command = 0x03000000, const Bytes& header = kPlogiHdr)
{
    return header + words({command, 0x2020000a, 0x88000800, 0x00ff001f, 0x000007d0, 0x10000005,
                           0x1e123456, 0x20000005, 0x1e123456}) + Bytes(32, 0) +
           words({0x88000000, 0x00000800, 0x00ff0000, 0x00010000}) + Bytes(32, 0);
}
const Bytes kLsAcc =
    plogi(0x02000000, words({0x230000e8, 0xfffffc, 0x01990000, 0x01000000, 0x12340456, 0}));
// FCP_CMND: LUN 1, read, READ(10) of 8 blocks at LBA 0x10000000, FCP_DL 4096.
const Bytes kFcp = words({0x06020300, 0x00010200, 0x08290000, 0x07000000, 0x0042ffff, 0, 0x00010000,
                          0, 0x00000002, 0x28001000, 0, 0x08000000, 0, 0x00001000});
const Bytes kMacs = {0x0e, 0xfc, 0x00, 0x01, 0x0a, 0x0b, 0x00, 0xc0, 0xdd, 0x12, 0x34, 0x56};
Bytes eth(std::initializer_list<uint32_t> tags, uint16_t type, const Bytes& payload)
{ return kMacs + words(tags) + Bytes{uint8_t(type >> 8), uint8_t(type)} + payload; }
// IPv4 header and ICMP echo request, padded to the 46-byte minimum.
const Bytes kPing = words({0x45000054, 0x1c464000, 0x4001a05b, 0xc0a8010a, 0xc0a80101, 0x0800f7fc,
                           0x00010002}) + Bytes(18, 0);

TraceEntry ent(uint16_t flags = 0, uint32_t w1 = 0, uint32_t w2 = 0, uint32_t w3 = 0)
{
    TraceEntry e;
    e.id = 77, e.flags = flags, e.word1 = w1, e.word2 = w2, e.word3 = w3;
    return e;
}
auto fields(const TraceEntry& e) { return std::make_tuple(e.id, e.flags, e.word1, e.word2, e.word3); }
// At every size 100..0: the text cut to size - 1 characters, terminated, nothing written from
// `size` on, the entry unchanged. Only the identifier reads the buffer; the others get garbage.
void expectText(TraceStep& step, const TraceEntry& entry, const std::string& text)
{
    for (int size = 100; size >= 0; --size) {
        char buf[116];
        memset(buf, 0xA5, sizeof buf);
        if (size > 0 && dynamic_cast<TraceIdentifier*>(&step))
            buf[0] = '\0';
        TraceEntry e = entry;
        step.format(&e, buf, size);
        std::string got(buf, strnlen(buf, static_cast<size_t>(size)));
        EXPECT_EQ(got, text.substr(0, size > 0 ? size - 1 : 0)) << "size " << size;
        EXPECT_TRUE(size == 0 || got.size() < static_cast<size_t>(size)) << "unterminated " << size;
        EXPECT_EQ(std::count(buf + size, buf + sizeof buf, '\xA5'), 116 - size) << "overrun " << size;
        EXPECT_EQ(fields(e), fields(entry)) << "size " << size;
    }
}
std::string written(TraceStep& step, TraceEntry e)
{
    char out[512] = {};
    FILE* stream = fmemopen(out, sizeof out - 1, "w");
    EXPECT_EQ(step.write(&e, stream), 1);
    fclose(stream);
    return out;
}
std::string wwn(WorldWideName n) { return WorldWideNameString(n, WorldWideNameString::STYLE_DEFAULT).text_m; }
std::string timeText(Timeval tv) { return TimevalString(tv).text_m; }
// A step whose text is n characters long.
struct LongStep : TraceStep {
    explicit LongStep(size_t length) : n(length) {}
    void format(TraceEntry*, char* buf, int size) override
    {
        handedEmpty = buf[0] == '\0';
        snprintf(buf, static_cast<size_t>(size), "%s", std::string(n, 'x').c_str());
    }
    size_t n;
    bool handedEmpty = false;
};
struct AllSteps {   // one step of every kind
    TraceFcHeader header; TraceFcPayload payload{0, 1, 2}; TraceEls els; TraceEthData data;
    TraceEthDmacSmac addresses; TraceIdentifier id; TraceDeviceEvent event;
};

}  // namespace

TEST(FcHeader, PacksAndPrintsRealHeaders)
{
    const struct { Bytes frame; uint16_t flags; uint32_t w1, w2, w3; const char* text; } rows[] = {
        {plogi(), RX | TX, 0x22fffffc, 0x010000e8, 0x1234ffff,
         "rx r_ctl 22 d_id fffffc s_id 0000e8 type 01 ox_id 1234 rx_id ffff"},
        {kLsAcc, 0, 0x230000e8, 0x01fffffc, 0x12340456,
         "tx r_ctl 23 d_id 0000e8 s_id fffffc type 01 ox_id 1234 rx_id 0456"},
        {kFcp, RX | BEGIN, 0x06020300, 0x08010200, 0x0042ffff,
         "rx r_ctl 06 d_id 020300 s_id 010200 type 08 ox_id 0042 rx_id ffff"},
    };
    for (const auto& r : rows) {
        HostFcFrame f(r.frame, hostsimPort(3));
        TraceFcHeader header;
        TraceEntry e = ent(r.flags, D, D, D);
        static_cast<TraceStep&>(header).capture(&e, &f.frame, nullptr);
        EXPECT_EQ(fields(e), fields(ent(r.flags, r.w1, r.w2, r.w3)));
        expectText(header, e, r.text);
    }
}

TEST(FcPayload, SelectsWordsAndFlagsMissingOnes)
{
    const Bytes twoWords = kPlogiHdr + words({0x05000000, 0x00010203});
    // The text shows every word read; a word not read keeps its D.
    const struct { Bytes frame; int sel[3]; bool missing; const char* text; } rows[] = {
        {kFcp, {0, 1, 2}, false, "pld 0 00010000 pld 1 00000000 pld 2 00000002"},
        {kFcp, {3, 7, 5}, false, "pld 3 28001000 pld 7 00001000 pld 5 08000000"},
        {kFcp, {-1, 4, -1}, false, " pld 4 00000000"},
        {kFcp, {-1, -7, 7}, false, " pld 7 00001000"},
        {twoWords, {0, 1, 2}, true, "pld 0 05000000 pld 1 00010203 pld 2 dddddddd"},
        {twoWords, {9, 1, 0}, true, "pld 9 dddddddd pld 1 00010203 pld 0 05000000"},
        {kPlogiHdr + words({0x03000000}) + Bytes{0xaa, 0xbb}, {0, 1, -1}, true,
         "pld 0 03000000 pld 1 dddddddd"},
        {kPlogiHdr, {-1, -1, -1}, false, ""},
        // Too short for a frame: the length query fails and no word is read.
        {Bytes(12, 1), {-1, -1, -1}, true, ""},
        {Bytes(23, 1), {0, 1, 2}, true, "pld 0 dddddddd pld 1 dddddddd pld 2 dddddddd"},
        // Each piece is cut to 19 characters.
        {kFcp, {0, 100000, 2147483647}, true, "pld 0 00010000 pld 100000 ddddddd pld 2147483647 ddd"},
        {kFcp, {-1, -1, 100000}, true, " pld 100000 ddddddd"},
        {kFcp, {100000, -1, -1}, true, "pld 100000 dddddddd"},
    };
    for (const auto& r : rows) {
        HostFcFrame f(r.frame, hostsimPort(3));
        TraceFcPayload step(r.sel[0], r.sel[1], r.sel[2]);
        TraceEntry e = ent(TX, D, D, D);
        step.capture(&e, &f.frame, nullptr);
        EXPECT_TRUE((r.sel[0] >= 0 || e.word1 == D) && (r.sel[1] >= 0 || e.word2 == D) &&
                    (r.sel[2] >= 0 || e.word3 == D));
        EXPECT_EQ(e.flags, r.missing ? TX | TRACE_ENTRY_PAYLOAD_MISSING : TX);
        expectText(step, e, r.text);
    }
}

TEST(Els, EveryCodeNamesItsCommand)
{
    const std::map<int, std::string> names = {
        {0x01, "LS_RJT"}, {0x02, "LS_ACC"}, {0x03, "PLOGI"}, {0x04, "FLOGI"}, {0x05, "LOGO"},
        {0x06, "ABTX"}, {0x07, "RCS"}, {0x08, "RES"}, {0x09, "RSS"}, {0x0A, "RSI"}, {0x0B, "ESTS"},
        {0x0C, "ESTC"}, {0x0D, "ADVC"}, {0x0E, "RTV"}, {0x0F, "RLS"}, {0x10, "ECHO_ELS"},
        {0x11, "TEST_ELS"}, {0x12, "RRQ"}, {0x13, "REC"}, {0x20, "PRLI"}, {0x21, "PRLO"},
        {0x24, "TPRLO"}, {0x30, "GAID"}, {0x31, "FACT"}, {0x32, "FDACT"}, {0x50, "PDISC"},
        {0x51, "FDISC"}, {0x52, "ADISC"}, {0x54, "FARP_REQ"}, {0x55, "FARP_REPLY"}, {0x56, "RPS"},
        {0x57, "RPL"}, {0x58, "RPBC"}, {0x60, "FAN"}, {0x61, "RSCN"}, {0x62, "SCR"}, {0x70, "LINIT"},
        {0x71, "LPC"}, {0x72, "LSTS"}, {0x78, "RNID"}, {0x79, "RLIR"}, {0x7A, "LIRR"}, {0x7B, "SCL"},
        {0x7F, "EVFP"}, {0x90, "AUTH_ELS"}, {0xFF, "RTIN"},
    };
    ASSERT_EQ(names.size(), 46u);
    TraceEls step;
    for (uint32_t code = 0; code <= 0xff; ++code) {
        auto it = names.find(static_cast<int>(code));
        for (uint32_t low : {0x000000u, 0x800001u, 0xffffffu}) {
            TraceEntry e = ent(static_cast<uint16_t>(code), code << 24 | low, ~low, low ^ code);
            char text[100];
            snprintf(text, sizeof text, "ELS %s (%8.8x %8.8x %8.8x)",
                     it == names.end() ? "CMD" : it->second.c_str(), e.word1, e.word2, e.word3);
            expectText(step, e, text);
        }
    }
    HostFcFrame accept(kLsAcc, hostsimPort(3));
    TraceEntry e = ent(RX);
    step.capture(&e, &accept.frame, nullptr);
    expectText(step, e, "ELS LS_ACC (02000000 2020000a 88000800)");
}

TEST(EthSteps, ScanTagsThenPayloadAndRecordTheAddresses)
{
    const struct { Bytes frame; uint32_t w1, w2, w3; } rows[] = {
        {eth({}, 0x0800, kPing), 0x45000054, 0x1c464000, 0x4001a05b},
        {eth({0x81000064}, 0x0800, kPing), 0x81000064, 0x45000054, 0x1c464000},
        {eth({0x88a8000a, 0x81000064}, 0x0800, kPing), 0x88a8000a, 0x81000064, 0x45000054},
        {eth({}, 0x0800, {0x45, 0, 0, 0x54, 0x1c, 0x46}), 0x45000054, 0, 0},
        {eth({0x91000001, 0x81000002}, 0x0800, {}), 0x91000001, 0x81000002, 0},
        {Bytes(9, 0x42), 0, 0, 0},   // unparsable: the scan still ends
    };
    for (const auto& r : rows) {
        HostEthFrame f(r.frame, hostsimPort(4));
        TraceEthData data;
        TraceEntry e = ent(TX);
        static_cast<TraceStep&>(data).capture(&e, &f.frame, nullptr);
        EXPECT_EQ(fields(e), fields(ent(TX, r.w1, r.w2, r.w3)));
        TraceEthDmacSmac addresses;
        TraceEntry a = ent(RX, D, D, D);
        addresses.capture(&a, &f.frame, nullptr);
        const unsigned char* record = reinterpret_cast<unsigned char*>(&a);   // bytes 4-9, 10-15
        EXPECT_EQ(Bytes(record + 4, record + 16), f.ok() ? kMacs : Bytes(12, 0));
        expectText(addresses, a, f.ok() ? "rx dmac 0e:fc:00:01:0a:0b smac 00:c0:dd:12:34:56"
                                        : "rx dmac 00:00:00:00:00:00 smac 00:00:00:00:00:00");
    }
}

TEST(Identifier, RecordsTheTimeAndAPort)
{
    hostsimClockSet(kSec, kUsec);
    const std::string time = timeText(Timeval(kSec, kUsec));
    TraceIdentifier step;
    TraceStep& base = step;
    const port_id_t p5 = hostsimPort(5), p12 = hostsimPort(12), p34 = {0xFFFF, 3, 4};
    WorldWideName name(1, 2);
    // f, e: FC or Ethernet frame from port `frame` (caller's port wins); i: int port word3.
    const struct { char kind; port_id_t frame; const port_id_t* caller; uint32_t word3;
                   uint16_t flags; const char* text; } rows[] = {
        {'f', p5, nullptr, 5, PORT, " port 5"},
        {'e', port_id_t{5, 0x1234, 0x5678}, nullptr, 5, PORT, " port 5"},
        {'f', hostsimPort(0xfffe), nullptr, 0xfffe, PORT, " port 65534"},
        {'e', port_id_t{0xFFFF, 2, 7}, nullptr, 0x20007, PAIR, " port 2.7"},
        {'f', port_id_t{0xFFFF, 0xffff, 0xffff}, nullptr, ~0u, PAIR, " port 65535.65535"},
        {'f', port_id_t{0xFFFF, 0, 0}, nullptr, 0, PAIR, " port 0.0"},
        {'f', p5, &p12, 12, PORT, " port 12"},
        {'e', p5, &p34, 0x30004, PAIR, " port 3.4"},
        {'i', p5, nullptr, 70000, PORT, " port 70000"},
        {'i', p5, nullptr, ~0u, PORT, " port -1"},
        {'i', p5, nullptr, 0x80000000, PORT, " port -2147483648"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text);
        HostFcFrame fc(plogi(), r.frame);
        HostEthFrame en(eth({}, 0x0800, kPing), r.frame);
        port_id_t* by = const_cast<port_id_t*>(r.caller);
        TraceEntry e = ent(BEGIN);
        if (r.kind == 'f')
            base.capture(&e, &fc.frame, by);
        if (r.kind == 'e')
            base.capture(&e, &en.frame, by);
        if (r.kind == 'i')
            base.capture(&e, name, 0xabcdef, static_cast<int>(r.word3));
        EXPECT_EQ(fields(e), fields(ent(BEGIN | r.flags, kSec, kUsec, r.word3)));
        expectText(step, e, time + r.text);
    }
    hostsimClockAdvance(1000001);
    TraceEntry t = ent(BEGIN);
    step.capture(&t);
    hostsimClockUseReal();
    EXPECT_EQ(fields(t), fields(ent(BEGIN, kSec + 1, kUsec + 1)));
    expectText(step, t, timeText(Timeval(kSec + 1, kUsec + 1)));
    // With both port flags the plain form wins; the seconds are signed; the text is appended.
    TraceEntry e = ent(PAIR | PORT, ~0u, 500000, 5);
    char buf[100] = "A ";
    step.format(&e, buf, sizeof buf);
    EXPECT_EQ(buf, "A " + timeText(Timeval(-1, 500000)) + " port 5");
}

TEST(BaseCapture, OtherFrameKindsAndEventsRecordZerosOrTheName)
{
    HostEthFrame en(eth({0x81000064}, 0x0800, kPing), hostsimPort(4));
    AllSteps a;
    port_id_t port = hostsimPort(7);
    WorldWideName name(0x10000005u, 0x1e123456u);
    for (TraceStep* s : Steps{&a.header, &a.payload, &a.els, &a.addresses, &a.data, &a.event}) {
        TraceEntry e = ent(RX | BEGIN, D, D, D);
        s->capture(&e);
        EXPECT_EQ(fields(e), fields(ent(RX | BEGIN)));
        e = ent(TX, D, D, D);
        if (s == &a.addresses || s == &a.data)
            s->capture(&e, static_cast<fcFrame*>(nullptr), &port);
        else
            s->capture(&e, &en.frame, &port);
        EXPECT_EQ(fields(e), fields(ent(TX)));
        s->capture(&e, name, 0xabcdef, 3);
        EXPECT_EQ(fields(e), fields(ent(TX, 0x10000005, 0x1e123456, 0xabcdef)));
    }
    TraceEntry e = ent(RX);
    a.event.capture(&e, 0x1f, name);
    EXPECT_EQ(fields(e), fields(ent(RX, 0x10000005, 0x1e123456, 0x1f)));
    expectText(a.event, e, "00001f/" + wwn(name));
    expectText(a.event, ent(0, 0, ~0u, 0xabcdef12), "abcdef12/" + wwn(WorldWideName(0, ~0u)));
    expectText(a.data, ent(0, 0x45000054, ~0u, 0), "45000054 ffffffff 00000000 ");
}


TEST(Write, PrefixTextPostfixThenNewlineOrBlank)
{
    LongStep bare(3);
    TraceEntry e;
    EXPECT_EQ(bare.write(&e, nullptr), 0);
    EXPECT_EQ(written(bare, ent()), "xxx ");
    for (size_t n : {98u, 99u, 100u, 400u}) {
        LongStep step(n);
        std::string a = "A", b = "B";
        step.fmtPrefix(&a[0]);
        step.fmtPostfix(&b[0]);
        const bool last = n % 2 == 0;
        EXPECT_EQ(written(step, ent(last ? END : uint16_t(0xffff & ~END))),
                  "A " + std::string(n < 99 ? n : 99, 'x') + " B" + (last ? "\n" : " "));
        EXPECT_TRUE(step.handedEmpty);
    }
    // Prefix and postfix are copies, each built before the old text goes.
    std::string a = "A", longText(300, 'L');
    bare.fmtPrefix(&a[0]);
    a[0] = 'X';
    bare.fmtPrefix(bare.prefix_m);
    bare.fmtPostfix(&longText[0]);
    bare.fmtPostfix(bare.postfix_m);
    EXPECT_EQ(written(bare, ent()), "A  xxx  " + longText + " ");
}

TEST(StepDeathTest, NullEntryFrameOrText)
{
    HostFcFrame fc(plogi(), hostsimPort(3));
    HostEthFrame en(eth({}, 0x0800, kPing), hostsimPort(4));
    const char *kEntry = "Assertion `entry' failed", *kFrame = "Assertion `frame' failed";
    WorldWideName name(1, 2);
    AllSteps a;
    for (TraceStep* s : Steps{&a.header, &a.payload, &a.els, &a.addresses, &a.data, &a.id, &a.event}) {
        EXPECT_DEATH(s->capture(nullptr), kEntry);
        EXPECT_DEATH(s->capture(nullptr, name, 1, 2), kEntry);
        EXPECT_DEATH(s->capture(nullptr, &fc.frame, nullptr), kEntry);
        EXPECT_DEATH(s->capture(nullptr, &en.frame, nullptr), kEntry);
    }
    // The frame is checked first.
    for (TraceStep* s : Steps{&a.header, &a.payload, &a.els, &a.id})
        EXPECT_DEATH(s->capture(nullptr, static_cast<fcFrame*>(nullptr), nullptr), kFrame);
    for (TraceStep* s : Steps{&a.addresses, &a.data, &a.id})
        EXPECT_DEATH(s->capture(nullptr, static_cast<EthernetFrame*>(nullptr), nullptr), kFrame);
    EXPECT_DEATH(a.event.capture(nullptr, 1u, name), kEntry);
    EXPECT_DEATH(a.data.fmtPrefix(nullptr), "Assertion `str' failed");
    EXPECT_DEATH(a.data.fmtPostfix(nullptr), "Assertion `str' failed");
}
