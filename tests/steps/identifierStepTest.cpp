// TraceIdentifier, with the time of day from the controllable
// clock (traceclock) and ports from frames the reference host parsed.
#include <gtest/gtest.h>

#include <memory>

#include "hostsim.h"
#include "hostsimClock.h"
#include "stepTestUtil.h"
#include "wire.h"

namespace {

const int32_t kSec = 1700000000;   // 2023-11-14 22:13:20 UTC
const int32_t kUsec = 123456;

std::string timeText(int32_t sec, int32_t usec)
{
    Timeval tv(sec, usec);
    TimevalString text(tv);
    return std::string(text.text_m);
}

class Identifier : public testing::Test {
protected:
    void SetUp() override { hostsimClockSet(kSec, kUsec); }
    void TearDown() override { hostsimClockUseReal(); }

    std::unique_ptr<HostFcFrame> fc(port_id_t port)
    {
        std::unique_ptr<HostFcFrame> f(new HostFcFrame(plogiRequest(), port));
        EXPECT_TRUE(f->ok());
        return f;
    }
    std::unique_ptr<HostEthFrame> eth(port_id_t port)
    {
        std::unique_ptr<HostEthFrame> f(new HostEthFrame(ethFrame({}, 0x0800, ipv4Ping()), port));
        EXPECT_TRUE(f->ok());
        return f;
    }

    TraceIdentifier step;
};

}  // namespace

TEST_F(Identifier, ManualCaptureRecordsTheTimeOnly)
{
    TraceEntry e;
    e.id = 5;
    e.flags = TRACE_ENTRY_BEGIN;
    step.capture(&e);
    EXPECT_EQ(e.word1, static_cast<uint32_t>(kSec));
    EXPECT_EQ(e.word2, static_cast<uint32_t>(kUsec));
    EXPECT_EQ(e.word3, 0u);
    EXPECT_EQ(e.flags, TRACE_ENTRY_BEGIN) << "no port flag";
    EXPECT_EQ(e.id, 5);
    EXPECT_EQ(formatted(step, e), timeText(kSec, kUsec)) << "the time alone";
    EXPECT_FALSE(timeText(kSec, kUsec).empty());
}

TEST_F(Identifier, TimeFollowsTheClock)
{
    TraceEntry a;
    step.capture(&a);
    hostsimClockAdvance(1000001);
    TraceEntry b;
    step.capture(&b);
    EXPECT_EQ(b.word1, static_cast<uint32_t>(kSec + 1));
    EXPECT_EQ(b.word2, static_cast<uint32_t>(kUsec + 1));
    hostsimClockSet(0, 999999);
    TraceEntry c;
    step.traceTime(&c);
    EXPECT_EQ(c.word1, 0u);
    EXPECT_EQ(c.word2, 999999u);
    EXPECT_EQ(c.flags, 0);
    EXPECT_EQ(formatted(step, c), timeText(0, 999999));
    hostsimClockSet(2147483647, 0);
    TraceEntry d;
    step.capture(&d);
    EXPECT_EQ(d.word1, 0x7fffffffu);
    EXPECT_EQ(formatted(step, d), timeText(2147483647, 0));
}

TEST_F(Identifier, TimeWordsAreReadBackAsSigned)
{
    TraceEntry e;
    e.word1 = 0xffffffffu;   // -1 seconds
    e.word2 = 500000;
    EXPECT_EQ(formatted(step, e), timeText(-1, 500000));
    e.word1 = 0x80000000u;
    e.word2 = 0;
    EXPECT_EQ(formatted(step, e), timeText(INT32_MIN, 0));
}

TEST_F(Identifier, FcFrameWithoutCallerPortRecordsTheFramePort)
{
    auto frame = fc(hostsimPort(5));
    TraceEntry e;
    e.flags = TRACE_ENTRY_BEGIN;
    step.capture(&e, &frame->frame, nullptr);
    EXPECT_EQ(e.word1, static_cast<uint32_t>(kSec));
    EXPECT_EQ(e.word2, static_cast<uint32_t>(kUsec));
    EXPECT_EQ(e.word3, 5u);
    EXPECT_EQ(e.flags, TRACE_ENTRY_BEGIN | TRACE_ENTRY_PORT);
    EXPECT_EQ(formatted(step, e), timeText(kSec, kUsec) + " port 5");
}

TEST_F(Identifier, PlainPortIgnoresTheOtherHalves)
{
    auto frame = fc(port_id_t{5, 0x1234, 0x5678});
    TraceEntry e;
    step.capture(&e, &frame->frame, nullptr);
    EXPECT_EQ(e.word3, 5u);
    EXPECT_EQ(e.flags, TRACE_ENTRY_PORT);

    auto high = fc(hostsimPort(0xfffe));
    TraceEntry h;
    step.capture(&h, &high->frame, nullptr);
    EXPECT_EQ(h.word3, 0xfffeu) << "zero-extended";
    EXPECT_EQ(formatted(step, h), timeText(kSec, kUsec) + " port 65534");
}

TEST_F(Identifier, PortPairFromTheFrame)
{
    auto frame = eth(hostsimPortPair(2, 7));
    TraceEntry e;
    step.capture(&e, &frame->frame, nullptr);
    EXPECT_EQ(e.word3, 2u * 65536u + 7u);
    EXPECT_EQ(e.flags, TRACE_ENTRY_PORT_PAIR);
    EXPECT_EQ(formatted(step, e), timeText(kSec, kUsec) + " port 2.7");

    auto wide = fc(hostsimPortPair(0xffff, 0xfffe));
    TraceEntry w;
    step.capture(&w, &wide->frame, nullptr);
    EXPECT_EQ(w.word3, 0xfffffffeu);
    EXPECT_EQ(formatted(step, w), timeText(kSec, kUsec) + " port 65535.65534");
}

TEST_F(Identifier, PlainPort0xFFFFIsAlwaysAPair)
{
    auto frame = fc(port_id_t{0xffff, 0, 0});
    TraceEntry e;
    step.capture(&e, &frame->frame, nullptr);
    EXPECT_EQ(e.flags, TRACE_ENTRY_PORT_PAIR);
    EXPECT_EQ(e.word3, 0u);
    EXPECT_EQ(formatted(step, e), timeText(kSec, kUsec) + " port 0.0");
}

TEST_F(Identifier, CallerPortOverridesTheFramePort)
{
    auto f = fc(hostsimPort(5));
    port_id_t caller = hostsimPort(12);
    TraceEntry e;
    step.capture(&e, &f->frame, &caller);
    EXPECT_EQ(e.word3, 12u);
    EXPECT_EQ(e.flags, TRACE_ENTRY_PORT);

    auto g = eth(hostsimPort(5));
    port_id_t pair = hostsimPortPair(3, 4);
    TraceEntry p;
    step.capture(&p, &g->frame, &pair);
    EXPECT_EQ(p.word3, 0x00030004u);
    EXPECT_EQ(p.flags, TRACE_ENTRY_PORT_PAIR);
    EXPECT_EQ(formatted(step, p), timeText(kSec, kUsec) + " port 3.4");

    auto h = eth(hostsimPortPair(9, 9));
    port_id_t plain = hostsimPort(0);
    TraceEntry q;
    step.capture(&q, &h->frame, &plain);
    EXPECT_EQ(q.word3, 0u);
    EXPECT_EQ(q.flags, TRACE_ENTRY_PORT) << "the caller's plain port replaces the frame's pair";
    EXPECT_EQ(formatted(step, q), timeText(kSec, kUsec) + " port 0");
}

TEST_F(Identifier, EthernetFrameWithoutCallerPort)
{
    auto frame = eth(hostsimPort(40));
    TraceEntry e;
    TraceStep& base = step;
    base.capture(&e, &frame->frame, nullptr);
    EXPECT_EQ(e.word1, static_cast<uint32_t>(kSec));
    EXPECT_EQ(e.word3, 40u);
    EXPECT_EQ(e.flags, TRACE_ENTRY_PORT);
}

TEST_F(Identifier, DeviceEventCaptureRecordsTheIntPort)
{
    WorldWideName name(0x10000005u, 0x1e123456u);
    TraceEntry e;
    e.flags = TRACE_ENTRY_BEGIN;
    TraceStep& base = step;
    base.capture(&e, name, 0xabcdef, 70000);
    EXPECT_EQ(e.word1, static_cast<uint32_t>(kSec));
    EXPECT_EQ(e.word2, static_cast<uint32_t>(kUsec));
    EXPECT_EQ(e.word3, 70000u) << "name and value are not used";
    EXPECT_EQ(e.flags, TRACE_ENTRY_BEGIN | TRACE_ENTRY_PORT);
    EXPECT_EQ(formatted(step, e), timeText(kSec, kUsec) + " port 70000")
        << "wider than 16 bits";

    TraceEntry m;
    step.capture(&m, name, 0, -1);
    EXPECT_EQ(m.word3, 0xffffffffu);
    EXPECT_EQ(formatted(step, m), timeText(kSec, kUsec) + " port -1");
}

TEST_F(Identifier, TracePortWithAnInt)
{
    TraceEntry e;
    step.tracePort(&e, -1);
    EXPECT_EQ(e.word3, 0xffffffffu);
    EXPECT_EQ(e.flags, TRACE_ENTRY_PORT);
    EXPECT_EQ(e.word1, 0u) << "tracePort records no time";
    TraceEntry m;
    step.tracePort(&m, INT32_MIN);
    EXPECT_EQ(m.word3, 0x80000000u);
    EXPECT_EQ(formatted(step, m), timeText(0, 0) + " port -2147483648");
}

TEST_F(Identifier, TracePortWithAPortId)
{
    TraceEntry e;
    port_id_t pair = hostsimPortPair(2, 7);
    step.tracePort(&e, pair);
    EXPECT_EQ(e.word3, 0x00020007u);
    EXPECT_EQ(e.flags, TRACE_ENTRY_PORT_PAIR);
    // Flags are only added: a second call adds the plain flag.
    port_id_t plain = hostsimPort(5);
    step.tracePort(&e, plain);
    EXPECT_EQ(e.word3, 5u);
    EXPECT_EQ(e.flags, TRACE_ENTRY_PORT_PAIR | TRACE_ENTRY_PORT);
    EXPECT_EQ(formatted(step, e), timeText(0, 0) + " port 5") << "the plain form wins";
}

TEST_F(Identifier, BothPortFlagsPrintThePlainForm)
{
    TraceEntry e;
    e.word1 = kSec;
    e.word2 = kUsec;
    e.word3 = 0x00020007;
    e.flags = TRACE_ENTRY_PORT | TRACE_ENTRY_PORT_PAIR;
    EXPECT_EQ(formatted(step, e), timeText(kSec, kUsec) + " port 131079");
    e.flags = TRACE_ENTRY_PORT_PAIR | TRACE_ENTRY_END;
    EXPECT_EQ(formatted(step, e), timeText(kSec, kUsec) + " port 2.7");
    e.flags = TRACE_ENTRY_END | TRACE_ENTRY_RX;
    EXPECT_EQ(formatted(step, e), timeText(kSec, kUsec));
}

TEST_F(Identifier, FormatAppendsToTheTextHandedIn)
{
    TraceEntry e;
    e.word1 = kSec;
    e.word2 = kUsec;
    e.word3 = 5;
    e.flags = TRACE_ENTRY_PORT;
    char buf[100];
    strcpy(buf, "A ");
    step.format(&e, buf, sizeof buf);
    EXPECT_EQ(std::string(buf), "A " + timeText(kSec, kUsec) + " port 5");
}

TEST_F(Identifier, BoundedAtEverySize)
{
    auto frame = fc(hostsimPortPair(65535, 65535));
    TraceEntry pair;
    step.capture(&pair, &frame->frame, nullptr);
    expectBoundedAtEverySize(step, pair, timeText(kSec, kUsec) + " port 65535.65535");

    TraceEntry plain;
    WorldWideName name(1, 2);
    step.capture(&plain, name, 0, INT32_MIN);
    expectBoundedAtEverySize(step, plain, timeText(kSec, kUsec) + " port -2147483648");

    TraceEntry none;
    step.capture(&none);
    expectBoundedAtEverySize(step, none, timeText(kSec, kUsec));
}
