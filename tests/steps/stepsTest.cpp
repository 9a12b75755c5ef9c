// The capture steps on frames the reference host parses from wire bytes, with
// the time of day from the controllable clock.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "hostsim.h"
#include "hostsimClock.h"
#include "traceApi.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Steps = std::initializer_list<TraceStep*>;
const uint16_t kRx = TRACE_ENTRY_RX, kTx = TRACE_ENTRY_TX, kBegin = TRACE_ENTRY_BEGIN;
const uint16_t kEnd = TRACE_ENTRY_END, kPort = TRACE_ENTRY_PORT, kPair = TRACE_ENTRY_PORT_PAIR;
const uint32_t kUntouched = 0xdddddddd;  // a record word the capture must leave alone
const int32_t kSec = 1700000000, kUsec = 123456;
const uint16_t kStepId = 77;  // any id: the steps never change it

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes words(std::initializer_list<uint32_t> values)  // big-endian
{
    Bytes out;
    for (uint32_t w : values)
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<uint8_t>(w >> shift));
    return out;
}
// FC header: R_CTL|D_ID, CS_CTL|S_ID, TYPE|F_CTL, SEQ_ID|DF_CTL|SEQ_CNT, OX_ID|RX_ID, parameter.
const Bytes kPlogiHdr = words({0x22fffffc, 0x000000e8, 0x01290000, 0x01000000, 0x1234ffff, 0});
// A PLOGI and its LS_ACC, each cut after the command word.
const Bytes kPlogi = kPlogiHdr + words({0x03000000});
const Bytes kLsAcc =
    words({0x230000e8, 0xfffffc, 0x01990000, 0x01000000, 0x12340456, 0, 0x02000000});
// FCP_CMND: LUN 1, read, READ(10) of 8 blocks at LBA 0x10000000, FCP_DL 4096.
const Bytes kFcp = words({0x06020300, 0x00010200, 0x08290000, 0x07000000, 0x0042ffff, 0, 0x00010000,
                          0, 0x00000002, 0x28001000, 0, 0x08000000, 0, 0x00001000});
const Bytes kMacs = {0x0e, 0xfc, 0x00, 0x01, 0x0a, 0x0b, 0x00, 0xc0, 0xdd, 0x12, 0x34, 0x56};
Bytes eth(std::initializer_list<uint32_t> tags, const Bytes& ipv4)
{
    return kMacs + words(tags) + Bytes{0x08, 0x00} + ipv4;
}
// IPv4 header and ICMP echo request, padded to the 46-byte minimum.
const Bytes kPing =
    words({0x45000054, 0x1c464000, 0x4001a05b, 0xc0a8010a, 0xc0a80101, 0x0800f7fc, 0x00010002}) +
    Bytes(18, 0);

TraceEntry entry(uint16_t flags = 0, uint32_t w1 = 0, uint32_t w2 = 0, uint32_t w3 = 0)
{
    TraceEntry e;
    e.id = kStepId;
    e.flags = flags;
    e.word1 = w1;
    e.word2 = w2;
    e.word3 = w3;
    return e;
}
auto fields(const TraceEntry& e)
{
    return std::make_tuple(e.id, e.flags, e.word1, e.word2, e.word3);
}

// At every size 100..0: the text cut to size - 1 characters, terminated, nothing written from
// `size` on, the entry unchanged. Only the identifier reads the buffer; the others get garbage.
void expectText(TraceStep& step, const TraceEntry& record, const std::string& text)
{
    const char kGarbage = '\xA5';
    for (int size = 100; size >= 0; --size) {
        char buf[116];
        memset(buf, kGarbage, sizeof buf);
        if (size > 0 && dynamic_cast<TraceIdentifier*>(&step))
            buf[0] = '\0';
        TraceEntry e = record;
        step.format(&e, buf, size);
        std::string got(buf, strnlen(buf, static_cast<size_t>(size)));
        EXPECT_EQ(got, text.substr(0, size > 0 ? size - 1 : 0)) << "size " << size;
        EXPECT_TRUE(size == 0 || got.size() < static_cast<size_t>(size)) << "unterminated " << size;
        EXPECT_EQ(std::count(buf + size, buf + sizeof buf, kGarbage), 116 - size)
            << "overrun " << size;
        EXPECT_EQ(fields(e), fields(record)) << "size " << size;
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
std::string wwnText(WorldWideName n)
{
    return WorldWideNameString(n, WorldWideNameString::STYLE_DEFAULT).text_m;
}
std::string timeText(int32_t sec, int32_t usec)
{
    Timeval time(sec, usec);
    return TimevalString(time).text_m;
}

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
struct AllSteps {  // one step of every kind
    TraceFcHeader header;
    TraceFcPayload payload{0, 1, 2};
    TraceEls els;
    TraceEthData data;
    TraceEthDmacSmac addresses;
    TraceIdentifier id;
    TraceDeviceEvent event;
};

TEST(FcHeader, PacksAndPrintsRealHeaders)
{
    const struct {
        Bytes frame;
        uint16_t flags;
        uint32_t w1, w2, w3;
        const char* text;
    } rows[] = {
        {kPlogi, kRx | kTx, 0x22fffffc, 0x010000e8, 0x1234ffff,
         "rx r_ctl 22 d_id fffffc s_id 0000e8 type 01 ox_id 1234 rx_id ffff"},
        {kLsAcc, 0, 0x230000e8, 0x01fffffc, 0x12340456,
         "tx r_ctl 23 d_id 0000e8 s_id fffffc type 01 ox_id 1234 rx_id 0456"},
        {kFcp, kRx | kBegin, 0x06020300, 0x08010200, 0x0042ffff,
         "rx r_ctl 06 d_id 020300 s_id 010200 type 08 ox_id 0042 rx_id ffff"},
    };
    for (const auto& r : rows) {
        HostFcFrame f(r.frame, hostsimPort(3));
        TraceFcHeader header;
        TraceEntry e = entry(r.flags, kUntouched, kUntouched, kUntouched);
        static_cast<TraceStep&>(header).capture(&e, &f.frame, nullptr);
        EXPECT_EQ(fields(e), fields(entry(r.flags, r.w1, r.w2, r.w3)));
        expectText(header, e, r.text);
    }
}

TEST(FcPayload, SelectsWordsAndFlagsMissingOnes)
{
    const Bytes twoWords = kPlogiHdr + words({0x05000000, 0x00010203});
    // The text shows every word read; a word not read keeps its kUntouched.
    const struct {
        Bytes frame;
        int sel[3];
        bool missing;
        const char* text;
    } rows[] = {
        {kFcp, {3, 7, 5}, false, "pld 3 28001000 pld 7 00001000 pld 5 08000000"},
        {kFcp, {-1, 4, -1}, false, " pld 4 00000000"},
        {kFcp, {-1, -7, 7}, false, " pld 7 00001000"},
        {twoWords, {0, 1, 2}, true, "pld 0 05000000 pld 1 00010203 pld 2 dddddddd"},
        {twoWords, {9, 1, 0}, true, "pld 9 dddddddd pld 1 00010203 pld 0 05000000"},
        {kPlogi + Bytes{0xaa, 0xbb}, {0, 1, -1}, true, "pld 0 03000000 pld 1 dddddddd"},
        {kPlogiHdr, {-1, -1, -1}, false, ""},
        // Too short for a frame: the length query fails and no word is read.
        {Bytes(12, 1), {-1, -1, -1}, true, ""},
        {Bytes(23, 1), {0, 1, 2}, true, "pld 0 dddddddd pld 1 dddddddd pld 2 dddddddd"},
        // Each piece is cut to 19 characters.
        {kFcp,
         {0, 100000, 2147483647},
         true,
         "pld 0 00010000 pld 100000 ddddddd pld 2147483647 ddd"},
    };
    for (const auto& r : rows) {
        HostFcFrame f(r.frame, hostsimPort(3));
        TraceFcPayload step(r.sel[0], r.sel[1], r.sel[2]);
        TraceEntry e = entry(kTx, kUntouched, kUntouched, kUntouched);
        step.capture(&e, &f.frame, nullptr);
        EXPECT_TRUE(r.sel[0] >= 0 || e.word1 == kUntouched);
        EXPECT_TRUE(r.sel[1] >= 0 || e.word2 == kUntouched);
        EXPECT_TRUE(r.sel[2] >= 0 || e.word3 == kUntouched);
        EXPECT_EQ(e.flags, r.missing ? kTx | TRACE_ENTRY_PAYLOAD_MISSING : kTx);
        expectText(step, e, r.text);
    }
}

// The command is the top byte of word 1; the first, a middle and the last
// code of the table, and codes it lacks.
TEST(Els, NamesTheCommandOrCmd)
{
    const struct {
        uint32_t code;
        const char* name;
    } rows[] = {{0x01, "LS_RJT"}, {0x03, "PLOGI"}, {0x7F, "EVFP"}, {0xFF, "RTIN"},
                {0x00, "CMD"},    {0x14, "CMD"},   {0xFE, "CMD"}};
    TraceEls step;
    for (const auto& r : rows) {
        const uint32_t low = 0x800001 + r.code;
        TraceEntry e = entry(0, r.code << 24 | low, ~low, low ^ r.code);
        char text[100];
        snprintf(text, sizeof text, "ELS %s (%8.8x %8.8x %8.8x)", r.name, e.word1, e.word2,
                 e.word3);
        expectText(step, e, text);
    }
}

// Ethernet frames and the words the data step records: tags, then payload.
const struct {
    Bytes frame;
    uint32_t w1, w2, w3;
} kEthRows[] = {
    {eth({}, kPing), 0x45000054, 0x1c464000, 0x4001a05b},
    {eth({0x81000064}, kPing), 0x81000064, 0x45000054, 0x1c464000},
    {eth({0x88a8000a, 0x81000064}, kPing), 0x88a8000a, 0x81000064, 0x45000054},
    {eth({}, {0x45, 0, 0, 0x54, 0x1c, 0x46}), 0x45000054, 0, 0},
    {eth({0x91000001, 0x81000002}, {}), 0x91000001, 0x81000002, 0},
    {Bytes(9, 0x42), 0, 0, 0},  // unparsable: the scan still ends
};

TEST(EthData, ScansTagsThenPayload)
{
    for (const auto& r : kEthRows) {
        HostEthFrame f(r.frame, hostsimPort(4));
        TraceEthData data;
        TraceEntry e = entry(kTx);
        static_cast<TraceStep&>(data).capture(&e, &f.frame, nullptr);
        EXPECT_EQ(fields(e), fields(entry(kTx, r.w1, r.w2, r.w3)));
    }
    TraceEthData data;
    expectText(data, entry(0, 0x45000054, ~0u, 0), "45000054 ffffffff 00000000 ");
}

TEST(EthDmacSmac, RecordsBothAddressesInRecordBytes4To15)
{
    const size_t kMacsAt = 4;
    for (const auto& r : kEthRows) {
        HostEthFrame f(r.frame, hostsimPort(4));
        TraceEthDmacSmac addresses;
        TraceEntry e = entry(kRx, kUntouched, kUntouched, kUntouched);
        addresses.capture(&e, &f.frame, nullptr);
        const unsigned char* record = reinterpret_cast<unsigned char*>(&e);
        EXPECT_EQ(Bytes(record + kMacsAt, record + sizeof e), f.ok() ? kMacs : Bytes(12, 0));
        expectText(addresses, e,
                   f.ok() ? "rx dmac 0e:fc:00:01:0a:0b smac 00:c0:dd:12:34:56"
                          : "rx dmac 00:00:00:00:00:00 smac 00:00:00:00:00:00");
    }
}

class IdentifierTest : public testing::Test {
protected:
    void SetUp() override { hostsimClockSet(kSec, kUsec); }
    void TearDown() override { hostsimClockUseReal(); }
    TraceIdentifier step;
    TraceStep& base = step;
};

TEST_F(IdentifierTest, RecordsTheTimeAndThePort)
{
    const port_id_t p5 = hostsimPort(5);
    const port_id_t p12 = hostsimPort(12);
    const port_id_t p34 = hostsimPortPair(3, 4);
    WorldWideName name(1, 2);
    // f, e: FC or Ethernet frame from port `frame` (caller's port wins); i: int port word3.
    const struct {
        char kind;
        port_id_t frame;
        const port_id_t* caller;
        uint32_t word3;
        uint16_t flags;
        const char* text;
    } rows[] = {
        {'f', p5, nullptr, 5, kPort, " port 5"},
        {'e', port_id_t{5, 0x1234, 0x5678}, nullptr, 5, kPort, " port 5"},
        {'f', hostsimPort(0xfffe), nullptr, 0xfffe, kPort, " port 65534"},
        {'e', port_id_t{0xFFFF, 2, 7}, nullptr, 0x20007, kPair, " port 2.7"},
        {'f', port_id_t{0xFFFF, 0xffff, 0xffff}, nullptr, ~0u, kPair, " port 65535.65535"},
        {'f', p5, &p12, 12, kPort, " port 12"},
        {'e', p5, &p34, 0x30004, kPair, " port 3.4"},
        {'i', p5, nullptr, 70000, kPort, " port 70000"},
        {'i', p5, nullptr, ~0u, kPort, " port -1"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text);
        HostFcFrame fc(kPlogi, r.frame);
        HostEthFrame en(eth({}, kPing), r.frame);
        port_id_t* by = const_cast<port_id_t*>(r.caller);
        TraceEntry e = entry(kBegin);
        if (r.kind == 'f')
            base.capture(&e, &fc.frame, by);
        if (r.kind == 'e')
            base.capture(&e, &en.frame, by);
        if (r.kind == 'i')
            base.capture(&e, name, 0xabcdef, static_cast<int>(r.word3));
        EXPECT_EQ(fields(e), fields(entry(kBegin | r.flags, kSec, kUsec, r.word3)));
        expectText(step, e, timeText(kSec, kUsec) + r.text);
    }
}

// With both port flags the plain form wins; the seconds are signed; the text is appended.
TEST_F(IdentifierTest, FormatAppendsToTheCallersText)
{
    TraceEntry e = entry(kPair | kPort, ~0u, 500000, 5);
    char buf[100] = "A ";
    step.format(&e, buf, sizeof buf);
    EXPECT_EQ(buf, "A " + timeText(-1, 500000) + " port 5");
}

TEST(BaseCapture, OtherFrameKindsRecordZerosAndEventsTheName)
{
    HostEthFrame en(eth({0x81000064}, kPing), hostsimPort(4));
    AllSteps all;
    port_id_t port = hostsimPort(7);
    WorldWideName name(0x10000005u, 0x1e123456u);
    for (TraceStep* s :
         Steps{&all.header, &all.payload, &all.els, &all.addresses, &all.data, &all.event}) {
        TraceEntry e = entry(kRx | kBegin, kUntouched, kUntouched, kUntouched);
        s->capture(&e);
        EXPECT_EQ(fields(e), fields(entry(kRx | kBegin)));
        e = entry(kTx, kUntouched, kUntouched, kUntouched);
        if (s == &all.addresses || s == &all.data)
            s->capture(&e, static_cast<fcFrame*>(nullptr), &port);
        else
            s->capture(&e, &en.frame, &port);
        EXPECT_EQ(fields(e), fields(entry(kTx)));
        s->capture(&e, name, 0xabcdef, 3);
        EXPECT_EQ(fields(e), fields(entry(kTx, 0x10000005, 0x1e123456, 0xabcdef)));
    }
}

TEST(DeviceEvent, RecordsTheNameAndTheAddress)
{
    TraceDeviceEvent event;
    WorldWideName name(0x10000005u, 0x1e123456u);
    TraceEntry e = entry(kRx);
    event.capture(&e, 0x1f, name);
    EXPECT_EQ(fields(e), fields(entry(kRx, 0x10000005, 0x1e123456, 0x1f)));
    expectText(event, e, "00001f/" + wwnText(name));
    expectText(event, entry(0, 0, ~0u, 0xabcdef12), "abcdef12/" + wwnText(WorldWideName(0, ~0u)));
}

TEST(Write, PrefixTextPostfixThenNewlineOrBlank)
{
    LongStep bare(3);
    EXPECT_EQ(bare.write(nullptr, nullptr), 0);
    EXPECT_EQ(written(bare, entry()), "xxx ");
    for (size_t n : {98u, 99u, 100u, 400u}) {
        LongStep step(n);
        std::string prefix = "A", postfix = "B";
        step.fmtPrefix(&prefix[0]);
        step.fmtPostfix(&postfix[0]);
        const bool last = n % 2 == 0;
        EXPECT_EQ(written(step, entry(last ? kEnd : uint16_t(0xffff & ~kEnd))),
                  "A " + std::string(std::min<size_t>(n, 99), 'x') + " B" + (last ? "\n" : " "));
        EXPECT_TRUE(step.handedEmpty);
    }
}

// Each is built before the old text goes, so a step's own text may be passed back.
TEST(Write, PrefixAndPostfixAreCopies)
{
    LongStep step(3);
    std::string prefix = "A", longText(300, 'L');
    step.fmtPrefix(&prefix[0]);
    prefix[0] = 'X';
    step.fmtPrefix(step.prefix_m);
    step.fmtPostfix(&longText[0]);
    step.fmtPostfix(step.postfix_m);
    EXPECT_EQ(written(step, entry()), "A  xxx  " + longText + " ");
}

TEST(StepDeathTest, NullEntryFrameOrText)
{
    HostFcFrame fc(kPlogi, hostsimPort(3));
    HostEthFrame en(eth({}, kPing), hostsimPort(4));
    const char* kEntry = "Assertion `entry' failed";
    const char* kFrame = "Assertion `frame' failed";
    WorldWideName name(1, 2);
    AllSteps all;
    for (TraceStep* s : Steps{&all.header, &all.payload, &all.els, &all.addresses, &all.data,
                              &all.id, &all.event}) {
        EXPECT_DEATH(s->capture(nullptr), kEntry);
        EXPECT_DEATH(s->capture(nullptr, name, 1, 2), kEntry);
        EXPECT_DEATH(s->capture(nullptr, &fc.frame, nullptr), kEntry);
        EXPECT_DEATH(s->capture(nullptr, &en.frame, nullptr), kEntry);
    }
    // The frame is checked first.
    for (TraceStep* s : Steps{&all.header, &all.payload, &all.els, &all.id})
        EXPECT_DEATH(s->capture(nullptr, static_cast<fcFrame*>(nullptr), nullptr), kFrame);
    for (TraceStep* s : Steps{&all.addresses, &all.data, &all.id})
        EXPECT_DEATH(s->capture(nullptr, static_cast<EthernetFrame*>(nullptr), nullptr), kFrame);
    EXPECT_DEATH(all.event.capture(nullptr, 1u, name), kEntry);
    EXPECT_DEATH(all.data.fmtPrefix(nullptr), "Assertion `str' failed");
    EXPECT_DEATH(all.data.fmtPostfix(nullptr), "Assertion `str' failed");
}

}  // namespace
