// The trace API and its system-log mirror, checked record by record and line
// by line on frames parsed by the reference host.
#include <gtest/gtest.h>

#include <string.h>

#include <regex>

#include "apiSupport.h"

namespace {

constexpr int32_t kSec = 1700000000, kUsec = 42;
using Lines = std::vector<std::string>;
const std::string kTime = "2023-11-14 22:13:20.000042 ", kEls = "ELS PLOGI (03000000 20200000 88000800) ",
                  kPlogiHdr = "rx r_ctl 22 d_id fffffc s_id 010200 type 01 ox_id 1234 rx_id ffff ";

class ApiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        hostsimClockSet(kSec, kUsec);
        ASSERT_TRUE(plogi.ok() && fcp.ok() && eth.ok() && ethVlan.ok());
        ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 16, false));
        syslogClear();
    }
    void TearDown() override { hostsimClockUseReal(); }
    Rec id(uint16_t flags, uint32_t port) { return {api.identifier_m->stepId_m, flags, kSec, kUsec, port}; }
    Rec plogiHdr(uint16_t flags) { return {api.fcHeader_m->stepId_m, flags, 0x22fffffc, 0x01010200, 0x1234ffff}; }
    Rec fcpHdr(uint16_t flags) { return {api.fcHeader_m->stepId_m, flags, 0x06020300, 0x08010200, 0x0042ffff}; }
    Rec plogiEls(uint16_t flags) { return {api.els_m->stepId_m, flags, 0x03000000, 0x20200000, 0x88000800}; }
    Rec ev(uint16_t flags, uint32_t address) { return {event.stepId_m, flags, 0x10000005, 0x1e123456, address}; }
    // The buffer's records; the buffer is replaced by an empty one.
    Recs drain(int buffer)
    {
        Recs out = recs(api.findBuffer(buffer));
        EXPECT_TRUE(api.initTraceBuffer(buffer, nullptr, api.findBuffer(buffer)->numEntries, false));
        return out;
    }
    void manual(uint32_t word1) { api.beginTrace(), api.addToTrace(api.els_m, word1, 0x20200000, 0x88000800); }

    TraceApi api;
    TraceDeviceEvent event;
    WorldWideName wwn{0x10000005, 0x1e123456};
    HostFcFrame plogi{wire(kPlogi), hostsimPort(7)}, fcp{wire(kFcp), hostsimPortPair(2, 7)};
    HostEthFrame ethVlan{ethWire(true), hostsimPort(3)}, eth{ethWire(false), hostsimPort(4)};
};

TEST_F(ApiTest, Buffers)
{
    TraceApi fresh;
    auto ids = [&](std::vector<int> out = {}) {
        for (auto* e = fresh.traceBuffers_m.get_first(); e != nullptr; e = e->get_next())
            out.push_back(e->item()->bufferId);
        return out;
    };
    EXPECT_TRUE(fresh.findBuffer(0) == nullptr && !fresh.initTraceBuffer(1, cs("x"), 0, true));
    ASSERT_TRUE(fresh.initTraceBuffer(1, cs("one"), 8, false));   // the first is current anyway
    ASSERT_TRUE(fresh.initTraceBuffer(2, cs("two"), 8, false));
    TraceBuffer *one = fresh.findBuffer(1), *two = fresh.findBuffer(2);
    EXPECT_TRUE(one != nullptr && fresh.findBuffer(0) == one && !strcmp(one->bufferName, "one"));
    fresh.beginTrace();
    for (int bad : {0, 3, -4})
        for (int id : {1, 2, 5})
            EXPECT_FALSE(fresh.initTraceBuffer(id, cs("bad"), bad, true)) << bad;
    EXPECT_EQ(ids(), (std::vector<int>{1, 2}));
    EXPECT_TRUE(fresh.findBuffer(0) == one && fresh.findBuffer(2) == two && recs(one).size() == 1);
    ASSERT_TRUE(fresh.initTraceBuffer(3, cs("three"), 8, true));
    TraceBuffer* three = fresh.findBuffer(3);
    ASSERT_TRUE(fresh.initTraceBuffer(2, cs("two again"), 16, false));   // moves to the end
    EXPECT_TRUE(fresh.findBuffer(0) == three && fresh.findBuffer(2)->numEntries == 16);
    EXPECT_EQ(ids(), (std::vector<int>{1, 3, 2}));
    fresh.beginTrace();
    ASSERT_TRUE(fresh.initTraceBuffer(3, nullptr, 1, false));   // the replacement is current
    three = fresh.findBuffer(3);
    EXPECT_TRUE(three != nullptr && fresh.findBuffer(0) == three && fresh.findBuffer(99) == nullptr);
    EXPECT_STREQ(three->bufferName, "Trace Buffer 3");
    fresh.endTrace();   // nothing handed out yet: nothing to mark
    fresh.beginTrace(), fresh.beginTrace();
    EXPECT_EQ(recs(three), (Recs{{fresh.identifier_m->stepId_m, B, kSec, kUsec, 0}}));

    TraceApi bare;   // without buffers everything is a no-op
    bare.captureFcFrame(), bare.syslogEnable(true), bare.beginTrace(), bare.addToTrace(&event, 1, 2, 3);
    bare.endTrace(), bare.traceRx(&plogi.frame), bare.traceDeviceEvent(1, wwn, 1, 0, event.stepId_m);
    EXPECT_TRUE(syslogCap.count == 0 && !strcmp(bare.syslogMsg_m, ""));
}

TEST(ApiDeathTest, NullStepsDie)
{
    TraceApi api;
    EXPECT_DEATH(api.addToTrace(nullptr, 1, 2, 3), "step");
    ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 8, false));
    EXPECT_DEATH(api.addToTrace(nullptr, 1, 2, 3), "step");
    EXPECT_DEATH(TraceFrameFilter().addStep(nullptr), "step");
}

TEST_F(ApiTest, ManualTracesInterleavedWithFrames)
{
    api.captureFcFrame();
    api.beginTrace(), api.addToTrace(&event, 4, 5, 6), api.traceRx(&plogi.frame);
    api.endTrace();   // marks whatever was written last
    api.beginTrace(), api.traceRx(&plogi.frame), api.addToTrace(api.els_m, 7, 8, 9), api.endTrace();
    EXPECT_EQ(drain(1), (Recs{id(B, 0), {event.stepId_m, 0, 4, 5, 6}, id(B | P, 7), plogiHdr(RX | E), id(B, 0),
                              id(B | P, 7), plogiHdr(RX | E), {api.els_m->stepId_m, E, 7, 8, 9}}));
}

TEST_F(ApiTest, FilterDumps)
{
    auto dump = [](TraceFrameFilter* f) { return streamText([f](FILE* s) { f->dump(s); }); };
    const std::string head = "only rejects false exact reject 0x0 sof_mask 0x0 offset from ";
    TraceFrameFilter plain, second, third;
    second.rule.field_2 = {0xff, 0x1a, 0x12};
    third.rule.field_3 = {0, 30, 0x1234};   // no mask: not shown
    EXPECT_EQ(dump(&plain) + dump(&second) + dump(&third),
              head + "0\nbuffer 0, 0 steps\n" + head + "0\nfield_2: mask 0xff offset 0x1a value 0x12\n" +
                  "buffer 0, 0 steps\n" + head + "0\nbuffer 0, 0 steps\n");
    api.captureFcFrame(), api.captureELS();   // newest first
    EXPECT_EQ(dump(api.frameFilters_m->get_first()->item()),
              head + "1\nfield_1: mask 0xf0000000 offset 0x19 value 0x20000000\nbuffer 0, 2 steps\n" +
                  describeText(api.fcHeader_m) + describeText(api.els_m));
}

TEST_F(ApiTest, Presets)
{
    port_id_t five = hostsimPort(5), pair = hostsimPortPair(0x0102, 0xfffe);
    api.captureFcFrame();
    api.traceRx(&plogi.frame), api.traceTx(&fcp.frame, nullptr);   // without a port: the frame's own
    api.traceTx(&plogi.frame, &five), api.traceTx(&plogi.frame, &pair), api.traceRx(&eth.frame);
    EXPECT_EQ(drain(1), (Recs{id(B | P, 7), plogiHdr(RX | E), id(B | PP, 0x20007), fcpHdr(TX | E), id(B | P, 5),
                              plogiHdr(TX | E), id(B | PP, 0x0102fffe), plogiHdr(TX | E)}));
    api.captureELS(), api.captureEthFrame();   // the newest, but for Ethernet frames only
    api.traceRx(&plogi.frame), api.traceRx(&fcp.frame), api.traceTx(&ethVlan.frame, &pair), api.traceRx(&eth.frame);
    uint32_t w[3];   // DMAC in record bytes 4-9, SMAC in 10-15
    memcpy(w, wire("001b213a4f5e 525400123456").data(), sizeof w);
    const uint16_t mac = api.ethDmacSmac_m->stepId_m, data = api.ethData_m->stepId_m;
    EXPECT_EQ(drain(1), (Recs{id(B | P, 7), plogiHdr(RX), plogiEls(RX | E), id(B | PP, 0x20007), fcpHdr(RX | E),
                              id(B | PP, 0x0102fffe), {mac, TX, w[0], w[1], w[2]},
                              {data, TX | E, 0x81000064, 0x45000054, 0x1c464000}, id(B | P, 4),
                              {mac, RX, w[0], w[1], w[2]}, {data, RX | E, 0x45000054, 0x1c464000, 0x4001a05b}}));
    api.captureFcFrame();   // the newest matching filter wins
    ASSERT_TRUE(api.initTraceBuffer(2, nullptr, 8, true));   // presets follow the current buffer
    api.traceRx(&plogi.frame);
    EXPECT_EQ(drain(2), (Recs{id(B | P, 7), plogiHdr(RX | E)}));
    EXPECT_EQ(drain(1), Recs{});
}

TEST_F(ApiTest, CustomFilters)
{
    ASSERT_TRUE(api.initTraceBuffer(2, nullptr, 8, false));
    api.captureFcFrame(), api.addFrameFilter(rctl22(2, {api.els_m, api.fcHeader_m, api.els_m}));
    api.traceRx(&plogi.frame);
    EXPECT_EQ(drain(2), (Recs{id(B | P, 7), plogiEls(RX), plogiHdr(RX), plogiEls(RX | E)}));
    api.addFrameFilter(rctl22(99, {api.fcHeader_m}));   // no buffer 99: hides the older filters
    api.traceRx(&plogi.frame), api.traceRx(&fcp.frame);
    EXPECT_EQ(drain(1), (Recs{id(B | PP, 0x20007), fcpHdr(RX | E)}));
    api.addFrameFilter(rctl22(0, {})), api.syslogEnable(true);   // no steps: nothing recorded or logged
    api.traceRx(&plogi.frame);
    EXPECT_EQ(recs(api.findBuffer(1)).size() + recs(api.findBuffer(2)).size() + syslogCap.count, 0u);
    TraceStepList none, one;   // called directly, an empty list still records the identifier
    one.add(new Element<TraceStep>(api.fcHeader_m, false));
    api.syslogEnable(false);
    api.frameTrace(true, api.findBuffer(1), none, &plogi.frame, nullptr);
    api.frameTrace(false, api.findBuffer(1), one, &plogi.frame, nullptr);
    EXPECT_EQ(drain(1), (Recs{id(B | P | E, 7), id(B | P, 7), plogiHdr(TX | E)}));
}

TEST_F(ApiTest, DeviceEventsAndSmallRings)
{
    ASSERT_TRUE(api.initTraceBuffer(2, nullptr, 8, false));
    uint16_t destroyed = TraceDeviceEvent().stepId_m;
    api.syslogEnable(true);
    for (uint32_t step : {TraceStep::traceStepCount_m, uint32_t(destroyed), 0u, 0xFFFFu})
        api.traceDeviceEvent(1, wwn, 1, 0, uint16_t(step));
    api.traceDeviceEvent(1, wwn, 1, 42, event.stepId_m);
    EXPECT_EQ(recs(api.findBuffer(1)).size() + syslogCap.count, 0u);
    api.syslogEnable(false);
    api.traceDeviceEvent(0x1f, wwn, 9, 0, event.stepId_m);
    api.traceDeviceEvent(0x12345678, wwn, -1, 2, event.stepId_m);
    api.traceDeviceEvent(0x1f, wwn, 70000, 2, api.identifier_m->stepId_m);   // time and port again
    EXPECT_EQ(drain(1), (Recs{id(B | P, 9), ev(E, 0x1f)}));
    EXPECT_EQ(drain(2), (Recs{id(B | P, ~0u), ev(E, 0x12345678), id(B | P, 70000), id(E | P, 70000)}));
    api.captureFcFrame(), api.captureELS();   // rings of 1 and 2 keep the newest records
    ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 1, false));
    api.traceRx(&fcp.frame);
    EXPECT_EQ(drain(1), (Recs{fcpHdr(RX | E)}));
    api.traceDeviceEvent(0x1f, wwn, 9, 1, event.stepId_m);
    EXPECT_EQ(drain(1), (Recs{ev(E, 0x1f)}));
    ASSERT_TRUE(api.initTraceBuffer(2, nullptr, 2, true));
    api.traceRx(&plogi.frame);
    EXPECT_EQ(drain(2), (Recs{plogiHdr(RX), plogiEls(RX | E)}));
}

// Destroying an API leaves the host's steps alone, closes the system log once
// and drops a partial line.
TEST_F(ApiTest, Destruction)
{
    {
        TraceApi owner;
        owner.addFrameFilter(rctl22(0, {&event})), owner.addFrameFilter(rctl22(0, {&event}));
        ASSERT_TRUE(owner.initTraceBuffer(1, nullptr, 8, false));
        owner.syslogEnable(true), owner.beginTrace();
        EXPECT_EQ(syslogCap.closelogs, 0);
    }
    EXPECT_TRUE(syslogCap.closelogs == 1 && syslogCap.count == 0);
    EXPECT_EQ(TraceStep::getStep(event.stepId_m), &event);
    event.fmtPrefix(cs("still here"));
    EXPECT_STREQ(event.prefix_m, "still here ");
}

// Mirroring: one line per trace at priority 134.
TEST_F(ApiTest, SyslogSwitches)
{
    api.syslogTrace(false, nullptr);   // already off
    api.syslogTrace(true, nullptr);
    ASSERT_NE(api.syslogMsg_m, nullptr);
    api.syslogTrace(true, cs("ignored")), api.syslogTrace(false, nullptr);
    EXPECT_EQ(api.syslogMsg_m, nullptr);
    api.syslogTrace(false, nullptr);
    Lines lines = syslogLines();   // proves the capture sees the library's own calls
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(src/traceApi\.cpp\.[0-9]+: traceLib to syslog enabled)")));
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(src/traceApi\.cpp\.[0-9]+: traceLib to syslog disabled)")));
    api.beginTrace(), api.syslogEnable(true);   // silent; only what follows is logged
    api.addToTrace(api.els_m, 0x03000000, 0x20200000, 0x88000800), api.endTrace();
    manual(1), api.syslogEnable(false), api.endTrace();   // the partial line is dropped
    api.syslogEnable(true), manual(0x03000000), api.endTrace();
    api.captureFcFrame(), api.beginTrace();   // an unended trace runs on into the frame's line
    api.traceRx(&plogi.frame);
    EXPECT_EQ(syslogLines(), (Lines{kEls, kTime + kEls, kTime + kTime + "port 7 " + kPlogiHdr}));
}

TEST_F(ApiTest, SyslogLines)
{
    api.captureFcFrame(), api.captureEthFrame();
    api.addFrameFilter(rctl22(0, {api.fcHeader_m, api.fcHeader_m, api.fcHeader_m, api.fcHeader_m, api.els_m}));
    event.fmtPrefix(cs("LOGIN")), event.fmtPostfix(cs("ok"));
    TraceDeviceEvent percent;
    percent.fmtPrefix(cs("100%s%d%n")), percent.fmtPostfix(cs("%%x%"));
    api.syslogEnable(true);
    port_id_t pair = hostsimPortPair(2, 7);
    api.traceTx(&ethVlan.frame, &pair);
    api.traceDeviceEvent(0x1f, wwn, 9, 0, event.stepId_m);
    api.traceDeviceEvent(0x10203040, wwn, -2, 1, percent.stepId_m);
    api.traceRx(&plogi.frame), manual(0x03000000), api.endTrace();
    std::string cut = kTime + "port 7 " + kPlogiHdr + kPlogiHdr + kPlogiHdr + kPlogiHdr + kEls;
    EXPECT_EQ(syslogLines(), (Lines{kTime + "port 2.7 tx dmac 00:1b:21:3a:4f:5e smac 52:54:00:12:34:56 "
                                            "81000064 45000054 1c464000  ",
                                    kTime + "port 9 LOGIN 00001f/" + kWwn + " ok",
                                    kTime + "port -2 100%s%d%n 10203040/" + kWwn + " %%x%", cut.substr(0, 254),
                                    kTime + kEls}));
    EXPECT_STREQ(api.syslogMsg_m, "");
    EXPECT_EQ(recs(api.findBuffer(1)).size(), 15u);   // recorded as well
}

}  // namespace
