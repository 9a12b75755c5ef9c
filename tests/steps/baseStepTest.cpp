// The step base as the concrete steps inherit it, and the
// TraceDeviceEvent step: base captures, write, prefix and
// postfix, and the assertion failures of every capture.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "hostsim.h"
#include "hostsimClock.h"
#include "stepTestUtil.h"
#include "wire.h"

namespace {

std::unique_ptr<HostFcFrame> plogiFrame()
{
    std::unique_ptr<HostFcFrame> f(new HostFcFrame(plogiRequest(), hostsimPort(3)));
    EXPECT_TRUE(f->ok());
    return f;
}

std::unique_ptr<HostEthFrame> pingFrame()
{
    std::unique_ptr<HostEthFrame> f(
        new HostEthFrame(ethFrame({vlanTag(0x8100, 0x0064)}, 0x0800, ipv4Ping()), hostsimPort(4)));
    EXPECT_TRUE(f->ok());
    return f;
}

TraceEntry dirty(uint16_t flags)
{
    TraceEntry e;
    e.id = 1234;
    e.flags = flags;
    e.word1 = 0x11111111;
    e.word2 = 0x22222222;
    e.word3 = 0x33333333;
    return e;
}

void expectZeroWords(const TraceEntry& e, uint16_t flags, const char* what)
{
    EXPECT_EQ(e.word1, 0u) << what;
    EXPECT_EQ(e.word2, 0u) << what;
    EXPECT_EQ(e.word3, 0u) << what;
    EXPECT_EQ(e.id, 1234) << what << ": id is not touched";
    EXPECT_EQ(e.flags, flags) << what << ": flags are not touched";
}

std::string wwnText(uint32_t first, uint32_t second)
{
    WorldWideName name(first, second);
    WorldWideNameString text(name, WorldWideNameString::STYLE_DEFAULT);
    return std::string(text.text_m);
}

// A step whose text is as long as asked, to see write's 100-byte buffer.
class LongStep : public TraceStep {
public:
    explicit LongStep(size_t length) : length_(length) {}
    void format(TraceEntry*, char* buf, int size) override
    {
        ++calls;
        seenSize = size;
        handedInEmpty = buf[0] == '\0';
        std::string text(length_, 'x');
        for (size_t i = 0; i < length_; ++i)
            text[i] = static_cast<char>('0' + i % 10);
        snprintf(buf, static_cast<size_t>(size), "%s", text.c_str());
    }
    int calls = 0;
    int seenSize = 0;
    bool handedInEmpty = false;

private:
    size_t length_;
};

char* text(std::string& s) { return &s[0]; }

}  // namespace

// ---------------------------------------------------------------------------
// Base captures

TEST(BaseCapture, FrameStepsRecordZerosForTheOtherFrameKind)
{
    auto fc = plogiFrame();
    auto eth = pingFrame();
    TraceFcHeader header;
    TraceFcPayload payload(0, 1, 2);
    TraceEls els;
    TraceEthDmacSmac addresses;
    TraceEthData data;
    TraceDeviceEvent event;
    port_id_t port = hostsimPort(7);
    const uint16_t flags = TRACE_ENTRY_RX | TRACE_ENTRY_BEGIN;

    // Fibre Channel steps given an Ethernet frame, through the virtual call.
    for (TraceStep* step : std::vector<TraceStep*>{&header, &payload, &els, &event}) {
        TraceEntry e = dirty(flags);
        step->capture(&e, &eth->frame, &port);
        expectZeroWords(e, flags, "FC step, Ethernet frame");
        TraceEntry n = dirty(flags);
        step->capture(&n, &eth->frame, nullptr);
        expectZeroWords(n, flags, "FC step, Ethernet frame, no port");
    }
    // Ethernet steps given a Fibre Channel frame.
    for (TraceStep* step : std::vector<TraceStep*>{&addresses, &data, &event}) {
        TraceEntry e = dirty(flags);
        step->capture(&e, &fc->frame, &port);
        expectZeroWords(e, flags, "Ethernet step, FC frame");
    }
    // And the same through the classes themselves.
    TraceEntry h = dirty(0);
    header.capture(&h, &eth->frame, nullptr);
    expectZeroWords(h, 0, "TraceFcHeader");
    EXPECT_EQ(formatted(header, h),
              "tx r_ctl 00 d_id 000000 s_id 000000 type 00 ox_id 0000 rx_id 0000");
    TraceEntry p = dirty(0);
    payload.capture(&p, &eth->frame, nullptr);
    expectZeroWords(p, 0, "TraceFcPayload: no missing flag for a foreign frame");
    TraceEntry a = dirty(TRACE_ENTRY_TX);
    addresses.capture(&a, &fc->frame, nullptr);
    expectZeroWords(a, TRACE_ENTRY_TX, "TraceEthDmacSmac");
    EXPECT_EQ(formatted(addresses, a), "tx dmac 00:00:00:00:00:00 smac 00:00:00:00:00:00");
    TraceEntry d = dirty(0);
    data.capture(&d, &fc->frame, nullptr);
    expectZeroWords(d, 0, "TraceEthData");
    EXPECT_EQ(formatted(data, d), "00000000 00000000 00000000 ");
}

TEST(BaseCapture, ForeignFrameIsNotLookedAt)
{
    // The base frame captures ignore frame and port: null is fine.
    TraceFcHeader header;
    TraceEthData data;
    TraceEntry e = dirty(0);
    header.capture(&e, static_cast<EthernetFrame*>(nullptr), nullptr);
    expectZeroWords(e, 0, "null Ethernet frame");
    TraceEntry f = dirty(0);
    data.capture(&f, static_cast<fcFrame*>(nullptr), nullptr);
    expectZeroWords(f, 0, "null FC frame");
}

TEST(BaseCapture, EntryOnlyCaptureZeroesTheWords)
{
    TraceFcHeader header;
    TraceFcPayload payload(0, -1, 3);
    TraceEls els;
    TraceEthDmacSmac addresses;
    TraceEthData data;
    TraceDeviceEvent event;
    for (TraceStep* step :
         std::vector<TraceStep*>{&header, &payload, &els, &addresses, &data, &event}) {
        TraceEntry e = dirty(TRACE_ENTRY_END);
        step->capture(&e);
        expectZeroWords(e, TRACE_ENTRY_END, "capture(TraceEntry*)");
    }
}

TEST(BaseCapture, WorldWideNameCaptureStoresNameAndValue)
{
    TraceFcHeader header;
    TraceEls els;
    TraceEthData data;
    TraceDeviceEvent event;
    WorldWideName name(0x10000005u, 0x1e123456u);
    for (TraceStep* step : std::vector<TraceStep*>{&header, &els, &data, &event}) {
        TraceEntry e = dirty(TRACE_ENTRY_BEGIN);
        step->capture(&e, name, 0x00abcdef, 77);
        EXPECT_EQ(e.word1, 0x10000005u) << "first word of the name";
        EXPECT_EQ(e.word2, 0x1e123456u) << "second word of the name";
        EXPECT_EQ(e.word3, 0x00abcdefu) << "the value";
        EXPECT_EQ(e.id, 1234);
        EXPECT_EQ(e.flags, TRACE_ENTRY_BEGIN) << "the port is not used, no flag";
    }
}

// ---------------------------------------------------------------------------
// TraceDeviceEvent

TEST(DeviceEvent, NonVirtualCaptureStoresTheSameWords)
{
    TraceDeviceEvent step;
    WorldWideName name(0x20000005u, 0x1e123456u);
    TraceEntry e = dirty(TRACE_ENTRY_RX);
    step.capture(&e, 0x0000ef, name);
    EXPECT_EQ(e.word1, 0x20000005u);
    EXPECT_EQ(e.word2, 0x1e123456u);
    EXPECT_EQ(e.word3, 0x0000efu);
    EXPECT_EQ(e.id, 1234) << "no step id is set";
    EXPECT_EQ(e.flags, TRACE_ENTRY_RX) << "no flag is set";
    TraceEntry v = dirty(TRACE_ENTRY_RX);
    step.capture(&v, name, 0x0000ef, 3);
    EXPECT_EQ(memcmp(&e, &v, sizeof e), 0);
}

TEST(DeviceEvent, FormatsAddressSlashName)
{
    TraceDeviceEvent step;
    TraceEntry e;
    e.word1 = 0x10000005;
    e.word2 = 0x1e123456;
    e.word3 = 0x1f;
    std::string name = wwnText(0x10000005, 0x1e123456);
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(formatted(step, e), "00001f/" + name);
    e.word3 = 0;
    EXPECT_EQ(formatted(step, e), "000000/" + name);
    e.word3 = 0x010200;
    EXPECT_EQ(formatted(step, e), "010200/" + name);
    e.word3 = 0xabcdef12;
    EXPECT_EQ(formatted(step, e), "abcdef12/" + name) << "wider than 24 bits: every digit";
    e.word3 = 0x1000000;
    EXPECT_EQ(formatted(step, e), "1000000/" + name);
    e.word1 = 0;
    e.word2 = 0xffffffff;
    e.word3 = 0xfffffc;
    EXPECT_EQ(formatted(step, e), "fffffc/" + wwnText(0, 0xffffffff));
    e.flags = TRACE_ENTRY_RX | TRACE_ENTRY_END;
    EXPECT_EQ(formatted(step, e), "fffffc/" + wwnText(0, 0xffffffff)) << "flags play no part";
}

TEST(DeviceEvent, FormatWritesInsteadOfAppending)
{
    TraceDeviceEvent step;
    TraceEntry e;
    e.word3 = 0x1f;
    char buf[100];
    strcpy(buf, "left over");
    step.format(&e, buf, sizeof buf);
    EXPECT_EQ(std::string(buf), "00001f/" + wwnText(0, 0));
}

TEST(DeviceEvent, BoundedAtEverySize)
{
    TraceDeviceEvent step;
    TraceEntry e;
    e.word1 = 0x10000005;
    e.word2 = 0x1e123456;
    e.word3 = 0x1f;
    expectBoundedAtEverySize(step, e, "00001f/" + wwnText(0x10000005, 0x1e123456));
    e.word3 = 0xffffffff;
    expectBoundedAtEverySize(step, e, "ffffffff/" + wwnText(0x10000005, 0x1e123456));
}

// ---------------------------------------------------------------------------
// write, fmtPrefix, fmtPostfix

TEST(Write, EndsWithANewlineOnlyForTheLastRecord)
{
    TraceEthData step;
    TraceEntry e;
    e.word1 = 1;
    e.word2 = 2;
    e.word3 = 3;
    {
        MemStream out;
        EXPECT_EQ(step.write(&e, out.get()), 1);
        EXPECT_EQ(out.text(), "00000001 00000002 00000003  ");
    }
    e.flags = TRACE_ENTRY_END;
    {
        MemStream out;
        EXPECT_EQ(step.write(&e, out.get()), 1);
        EXPECT_EQ(out.text(), "00000001 00000002 00000003 \n");
    }
    e.flags = TRACE_ENTRY_BEGIN | TRACE_ENTRY_END | TRACE_ENTRY_RX;
    {
        MemStream out;
        step.write(&e, out.get());
        EXPECT_EQ(out.text(), "00000001 00000002 00000003 \n");
    }
    e.flags = 0xffff & ~TRACE_ENTRY_END;
    {
        MemStream out;
        step.write(&e, out.get());
        EXPECT_EQ(out.text(), "00000001 00000002 00000003  ");
    }
}

TEST(Write, PrefixAndPostfixSurroundTheText)
{
    TraceEls step;
    TraceEntry e;
    e.word1 = 0x03000000;
    e.flags = TRACE_ENTRY_END;
    std::string a = "A";
    std::string b = "B";
    step.fmtPrefix(text(a));
    step.fmtPostfix(text(b));
    EXPECT_STREQ(step.prefix_m, "A ");
    EXPECT_STREQ(step.postfix_m, " B");
    MemStream out;
    EXPECT_EQ(step.write(&e, out.get()), 1);
    e.flags = 0;
    EXPECT_EQ(step.write(&e, out.get()), 1);
    EXPECT_EQ(out.text(),
              "A ELS PLOGI (03000000 00000000 00000000) B\n"
              "A ELS PLOGI (03000000 00000000 00000000) B ");
}

TEST(Write, PrefixOrPostfixAlone)
{
    TraceDeviceEvent step;
    TraceEntry e;
    e.word3 = 0x1f;
    e.flags = TRACE_ENTRY_END;
    const std::string name = wwnText(0, 0);
    std::string login = "login";
    step.fmtPrefix(text(login));
    {
        MemStream out;
        step.write(&e, out.get());
        EXPECT_EQ(out.text(), "login 00001f/" + name + "\n");
    }
    TraceDeviceEvent other;
    std::string done = "done";
    other.fmtPostfix(text(done));
    {
        MemStream out;
        other.write(&e, out.get());
        EXPECT_EQ(out.text(), "00001f/" + name + " done\n");
    }
}

TEST(Write, PrefixTextsAreCopiesAndReplaceEachOther)
{
    TraceEthData step;
    std::string first = "first";
    step.fmtPrefix(text(first));
    first[0] = 'X';
    EXPECT_STREQ(step.prefix_m, "first ") << "a copy of the caller's text";
    std::string second = "second prefix";
    step.fmtPrefix(text(second));
    EXPECT_STREQ(step.prefix_m, "second prefix ");
    std::string empty;
    step.fmtPrefix(text(empty));
    EXPECT_STREQ(step.prefix_m, " ") << "an empty text gives one blank";
    step.fmtPostfix(text(empty));
    EXPECT_STREQ(step.postfix_m, " ");
    std::string post = "p";
    step.fmtPostfix(text(post));
    EXPECT_STREQ(step.postfix_m, " p");
    std::string longText(300, 'L');
    step.fmtPostfix(text(longText));
    EXPECT_EQ(std::string(step.postfix_m), " " + longText) << "any length";
    step.fmtPrefix(text(longText));
    EXPECT_EQ(std::string(step.prefix_m), longText + " ");
    TraceEntry e;
    MemStream out;
    step.write(&e, out.get());
    EXPECT_EQ(out.text(), longText + " 00000000 00000000 00000000  " + longText + " ");
}

TEST(Write, PrefixMayBeBuiltFromTheCurrentText)
{
    // The new text is built before the old one is released.
    TraceEthData step;
    std::string a = "A";
    step.fmtPrefix(text(a));
    step.fmtPrefix(step.prefix_m);
    EXPECT_STREQ(step.prefix_m, "A  ");
    std::string b = "B";
    step.fmtPostfix(text(b));
    step.fmtPostfix(step.postfix_m);
    EXPECT_STREQ(step.postfix_m, "  B");
}

TEST(Write, NewStepHasNoPrefixOrPostfix)
{
    TraceFcHeader step;
    EXPECT_EQ(step.prefix_m, nullptr);
    EXPECT_EQ(step.postfix_m, nullptr);
    for (const TracePayloadWord& w : step.payload_m) {
        EXPECT_FALSE(w.valid);
        EXPECT_EQ(w.index, -1);
    }
}

TEST(Write, NullStreamReturnsZeroAndFormatsNothing)
{
    LongStep step(10);
    TraceEntry e;
    EXPECT_EQ(step.write(&e, nullptr), 0);
    EXPECT_EQ(step.calls, 0);
    std::string a = "A";
    step.fmtPrefix(text(a));
    EXPECT_EQ(step.write(&e, nullptr), 0);
}

TEST(Write, FormatsIntoAnEmptyHundredByteBuffer)
{
    LongStep step(10);
    TraceEntry e;
    MemStream out;
    step.write(&e, out.get());
    EXPECT_EQ(step.calls, 1);
    EXPECT_EQ(step.seenSize, 100);
    EXPECT_TRUE(step.handedInEmpty);
    EXPECT_EQ(out.text(), "0123456789 ");
}

TEST(Write, TextsLongerThan99CharactersAreCut)
{
    for (size_t length : {98u, 99u, 100u, 101u, 150u, 400u}) {
        LongStep step(length);
        TraceEntry e;
        e.flags = TRACE_ENTRY_END;
        std::string b = "B";
        step.fmtPostfix(text(b));
        MemStream out;
        step.write(&e, out.get());
        std::string expected(length < 99 ? length : 99, '?');
        for (size_t i = 0; i < expected.size(); ++i)
            expected[i] = static_cast<char>('0' + i % 10);
        EXPECT_EQ(out.text(), expected + " B\n") << "length " << length;
    }
}

TEST(Write, WritesTheIdentifierRecord)
{
    hostsimClockSet(1700000000, 5);
    TraceIdentifier step;
    TraceEntry e;
    e.flags = TRACE_ENTRY_BEGIN;
    WorldWideName name(0, 0);
    step.capture(&e, name, 0, 8);
    hostsimClockUseReal();
    Timeval tv(1700000000, 5);
    TimevalString time(tv);
    MemStream out;
    step.write(&e, out.get());
    EXPECT_EQ(out.text(), std::string(time.text_m) + " port 8 ");
}

// ---------------------------------------------------------------------------
// Assertion failures

TEST(StepDeathTest, NullEntryInTheBaseCaptures)
{
    TraceFcHeader header;
    TraceDeviceEvent event;
    WorldWideName name(1, 2);
    EXPECT_DEATH(header.capture(nullptr), "Assertion `entry' failed");
    EXPECT_DEATH(event.capture(nullptr, name, 1, 2), "Assertion `entry' failed");
    EXPECT_DEATH(event.capture(nullptr), "Assertion `entry' failed");
    EXPECT_DEATH(event.capture(static_cast<TraceEntry*>(nullptr), 1u, name), "entry");
    // A base frame capture reaches the entry check too.
    auto eth = pingFrame();
    auto fc = plogiFrame();
    EXPECT_DEATH(header.capture(nullptr, &eth->frame, nullptr), "Assertion `entry' failed");
    TraceEthData data;
    EXPECT_DEATH(data.capture(nullptr, &fc->frame, nullptr), "Assertion `entry' failed");
}

TEST(StepDeathTest, FrameCapturesCheckTheFrameFirst)
{
    auto fc = plogiFrame();
    auto eth = pingFrame();
    TraceEntry e;
    TraceFcHeader header;
    TraceFcPayload payload(0, 1, 2);
    TraceEls els;
    TraceEthDmacSmac addresses;
    TraceEthData data;
    TraceIdentifier identifier;
    fcFrame* noFc = nullptr;
    EthernetFrame* noEth = nullptr;
    for (TraceStep* step : std::vector<TraceStep*>{&header, &payload, &els, &identifier}) {
        EXPECT_DEATH(step->capture(&e, noFc, nullptr), "Assertion `frame' failed");
        EXPECT_DEATH(step->capture(nullptr, noFc, nullptr), "Assertion `frame' failed");
        EXPECT_DEATH(step->capture(nullptr, &fc->frame, nullptr), "Assertion `entry' failed");
    }
    for (TraceStep* step : std::vector<TraceStep*>{&addresses, &data, &identifier}) {
        EXPECT_DEATH(step->capture(&e, noEth, nullptr), "Assertion `frame' failed");
        EXPECT_DEATH(step->capture(nullptr, noEth, nullptr), "Assertion `frame' failed");
        EXPECT_DEATH(step->capture(nullptr, &eth->frame, nullptr), "Assertion `entry' failed");
    }
}

TEST(StepDeathTest, IdentifierChecksItsEntry)
{
    TraceIdentifier identifier;
    WorldWideName name(1, 2);
    EXPECT_DEATH(identifier.capture(nullptr), "Assertion `entry' failed");
    EXPECT_DEATH(identifier.capture(nullptr, name, 0, 1), "Assertion `entry' failed");
}

TEST(StepDeathTest, NullPrefixOrPostfix)
{
    TraceEthData step;
    EXPECT_DEATH(step.fmtPrefix(nullptr), "Assertion `str' failed");
    EXPECT_DEATH(step.fmtPostfix(nullptr), "Assertion `str' failed");
}
