// The trace API and its system-log mirror, checked record by record and line
// by line on frames parsed by the reference host.
#include <gtest/gtest.h>

#include <limits.h>
#include <string.h>

#include <regex>

#include "apiSupport.h"

namespace {

constexpr int32_t kSec = 1700000000, kUsec = 42;
using Lines = std::vector<std::string>;
const std::string kTime = "2023-11-14 22:13:20.000042 ";
const std::string kEls = "ELS PLOGI (03000000 20200000 88000800) ";
const std::string kPlogiHdr = "rx r_ctl 22 d_id fffffc s_id 010200 type 01 ox_id 1234 rx_id ffff ";
const uint32_t kPlogiEls[] = {0x03000000, 0x20200000, 0x88000800};
const uint32_t kWwnHigh = 0x10000005, kWwnLow = 0x1e123456;

// An API with buffer 1 of 16 records, the clock stopped, the log capture empty.
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
    // The records these tests expect, by step.
    Rec id(uint16_t flags, uint32_t port) { return {idStep, flags, kSec, kUsec, port}; }
    Rec plogiHdr(uint16_t flags) { return {fcStep, flags, 0x22fffffc, 0x01010200, 0x1234ffff}; }
    Rec fcpHdr(uint16_t flags) { return {fcStep, flags, 0x06020300, 0x08010200, 0x0042ffff}; }
    Rec plogiEls(uint16_t f) { return {elsStep, f, kPlogiEls[0], kPlogiEls[1], kPlogiEls[2]}; }
    Rec ev(uint16_t f, uint32_t address) { return {event.stepId_m, f, kWwnHigh, kWwnLow, address}; }
    // The buffer's records; the buffer is replaced by an empty one.
    Recs drain(int buffer)
    {
        Recs out = recs(api.findBuffer(buffer));
        EXPECT_TRUE(
            api.initTraceBuffer(buffer, nullptr, api.findBuffer(buffer)->numEntries, false));
        return out;
    }
    // A manual trace of one ELS record, not ended.
    void manual(uint32_t word1)
    {
        api.beginTrace();
        api.addToTrace(api.els_m, word1, kPlogiEls[1], kPlogiEls[2]);
    }

    TraceApi api;
    const uint16_t idStep = api.identifier_m->stepId_m, fcStep = api.fcHeader_m->stepId_m;
    const uint16_t elsStep = api.els_m->stepId_m;
    TraceDeviceEvent event;
    WorldWideName wwn{kWwnHigh, kWwnLow};
    HostFcFrame plogi{wire(kPlogi), hostsimPort(7)}, fcp{wire(kFcp), hostsimPortPair(2, 7)};
    HostEthFrame ethVlan{ethWire(true), hostsimPort(3)}, eth{ethWire(false), hostsimPort(4)};
    port_id_t pair = hostsimPortPair(0x0102, 0xfffe);
};

std::vector<int> ids(TraceApi& api)
{
    std::vector<int> out;
    for (auto* e = api.traceBuffers_m.get_first(); e != nullptr; e = e->get_next())
        out.push_back(e->item()->bufferId);
    return out;
}

TEST_F(ApiTest, SizesThatAreNotPowersOfTwoAreRefused)
{
    TraceApi bare;
    EXPECT_FALSE(bare.initTraceBuffer(1, nullptr, 0, true));
    EXPECT_EQ(bare.findBuffer(0), nullptr);
    api.beginTrace();
    for (int bad : {0, 3, -4, 6, INT_MIN})
        for (int id : {1, 2})
            EXPECT_FALSE(api.initTraceBuffer(id, cs("bad"), bad, true)) << bad;
    EXPECT_EQ(ids(api), std::vector<int>{1});
    EXPECT_EQ(api.findBuffer(0), api.findBuffer(1));
    EXPECT_EQ(drain(1).size(), 1u);
}

TEST_F(ApiTest, ReusingAnIdReplacesTheBufferAtTheEndOfTheList)
{
    ASSERT_TRUE(api.initTraceBuffer(2, cs("two"), 8, false));
    ASSERT_TRUE(api.initTraceBuffer(3, cs("three"), 8, true));
    ASSERT_TRUE(api.initTraceBuffer(2, cs("two again"), 4, false));
    EXPECT_EQ(api.findBuffer(0), api.findBuffer(3));
    EXPECT_EQ(api.findBuffer(2)->numEntries, 4);
    EXPECT_EQ(ids(api), (std::vector<int>{1, 3, 2}));
}

TEST_F(ApiTest, ReplacingTheCurrentBufferMakesTheEmptyReplacementCurrent)
{
    ASSERT_TRUE(api.initTraceBuffer(3, cs("three"), 8, true));
    api.beginTrace();
    ASSERT_TRUE(api.initTraceBuffer(3, nullptr, 1, false));
    EXPECT_EQ(api.findBuffer(0), api.findBuffer(3));
    EXPECT_STREQ(api.findBuffer(3)->bufferName, "Trace Buffer 3");
    EXPECT_EQ(drain(3), Recs{});
}

TEST_F(ApiTest, BeginTraceRecordsTheTimeAndEndTraceMarksOnlyWhatWasWritten)
{
    ASSERT_TRUE(api.initTraceBuffer(3, nullptr, 1, true));
    api.endTrace();  // nothing handed out yet: nothing to mark
    api.beginTrace();
    api.beginTrace();
    EXPECT_EQ(drain(3), Recs{id(kBegin, 0)});
}

TEST_F(ApiTest, WithoutBuffersEveryCallDoesNothing)
{
    TraceApi bare;
    bare.captureFcFrame();
    bare.syslogEnable(true);
    bare.beginTrace();
    bare.addToTrace(&event, 1, 2, 3);
    bare.endTrace();
    bare.traceRx(&plogi.frame);
    bare.traceDeviceEvent(1, wwn, 1, 0, event.stepId_m);
    EXPECT_EQ(syslogCap.count, 0u);
    EXPECT_STREQ(bare.syslogMsg_m, "");
}

TEST(ApiDeathTest, NullStepsDie)
{
    TraceApi api;
    EXPECT_DEATH(api.addToTrace(nullptr, 1, 2, 3), "step");
    ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 8, false));
    EXPECT_DEATH(api.addToTrace(nullptr, 1, 2, 3), "step");
    EXPECT_DEATH(TraceFrameFilter().addStep(nullptr), "step");
}

TEST_F(ApiTest, EndTraceMarksWhateverWasWrittenLast)
{
    api.captureFcFrame();
    api.beginTrace();
    api.addToTrace(&event, 4, 5, 6);
    api.traceRx(&plogi.frame);
    api.endTrace();
    api.beginTrace();
    api.traceRx(&plogi.frame);
    api.addToTrace(api.els_m, 7, 8, 9);
    api.endTrace();
    EXPECT_EQ(drain(1), (Recs{id(kBegin, 0),
                              {event.stepId_m, 0, 4, 5, 6},
                              id(kBegin | kPort, 7),
                              plogiHdr(kRx | kEnd),
                              id(kBegin, 0),
                              id(kBegin | kPort, 7),
                              plogiHdr(kRx | kEnd),
                              {api.els_m->stepId_m, kEnd, 7, 8, 9}}));
}

std::string dump(TraceFrameFilter* filter)
{
    return streamText([filter](FILE* s) { filter->dump(s); });
}
const std::string kDumpHead = "only rejects false exact reject 0x0 sof_mask 0x0 offset from ";

TEST(FrameFilter, DumpShowsAFieldOnlyWhenItHasAMask)
{
    TraceFrameFilter plain, second, third, range;
    second.rule.field_2 = {0xff, 0x1a, 0x12};
    second.rule.field_3 = {0, 30, 0x1234};
    third.rule.field_1 = {0, 30, 0x1234};
    third.rule.field_3 = {0x1, 0x1e, 0x1};
    range.rule.range = {0xf, 2, 3, 4};
    const std::string buffer = "buffer 0, 0 steps\n";
    EXPECT_EQ(dump(&plain), kDumpHead + "0\n" + buffer);
    EXPECT_EQ(dump(&second), kDumpHead + "0\nfield_2: mask 0xff offset 0x1a value 0x12\n" + buffer);
    EXPECT_EQ(dump(&third), kDumpHead + "0\nfield_3: mask 0x1 offset 0x1e value 0x1\n" + buffer);
    EXPECT_EQ(dump(&range), kDumpHead + "0\nrange: mask 0xf, offset 0x2 lo 0x3 hi 0x4\n" + buffer);
}

TEST_F(ApiTest, PresetsGoAtTheHeadOfTheFilterList)
{
    api.captureFcFrame();
    api.captureELS();
    EXPECT_EQ(dump(api.frameFilters_m->get_first()->item()),
              kDumpHead + "1\nfield_1: mask 0xf0000000 offset 0x19 value 0x20000000\n" +
                  "buffer 0, 2 steps\n" + describeText(api.fcHeader_m) + describeText(api.els_m));
}

TEST_F(ApiTest, FcPresetRecordsTheHeaderWithTheCallersPortOrTheFramesOwn)
{
    port_id_t five = hostsimPort(5);
    api.captureFcFrame();
    api.traceRx(&plogi.frame);
    api.traceTx(&fcp.frame, nullptr);
    api.traceTx(&plogi.frame, &five);
    api.traceTx(&plogi.frame, &pair);
    api.traceRx(&eth.frame);  // no Ethernet filter
    EXPECT_EQ(drain(1),
              (Recs{id(kBegin | kPort, 7), plogiHdr(kRx | kEnd), id(kBegin | kPair, 0x20007),
                    fcpHdr(kTx | kEnd), id(kBegin | kPort, 5), plogiHdr(kTx | kEnd),
                    id(kBegin | kPair, 0x0102fffe), plogiHdr(kTx | kEnd)}));
}

TEST_F(ApiTest, ElsAndEthernetPresetsRecordTheirSteps)
{
    api.captureFcFrame();
    api.captureELS();
    api.captureEthFrame();  // the newest, but for Ethernet frames only
    api.traceRx(&plogi.frame);
    api.traceRx(&fcp.frame);
    api.traceTx(&ethVlan.frame, &pair);
    api.traceRx(&eth.frame);
    uint32_t macs[3];  // DMAC in record bytes 4-9, SMAC in 10-15
    memcpy(macs, wire("001b213a4f5e 525400123456").data(), sizeof macs);
    const uint16_t mac = api.ethDmacSmac_m->stepId_m, data = api.ethData_m->stepId_m;
    EXPECT_EQ(drain(1), (Recs{id(kBegin | kPort, 7),
                              plogiHdr(kRx),
                              plogiEls(kRx | kEnd),
                              id(kBegin | kPair, 0x20007),
                              fcpHdr(kRx | kEnd),
                              id(kBegin | kPair, 0x0102fffe),
                              {mac, kTx, macs[0], macs[1], macs[2]},
                              {data, kTx | kEnd, 0x81000064, 0x45000054, 0x1c464000},
                              id(kBegin | kPort, 4),
                              {mac, kRx, macs[0], macs[1], macs[2]},
                              {data, kRx | kEnd, 0x45000054, 0x1c464000, 0x4001a05b}}));
}

TEST_F(ApiTest, PresetsFollowTheCurrentBufferAndTheNewestMatchWins)
{
    api.captureELS();
    api.captureFcFrame();
    ASSERT_TRUE(api.initTraceBuffer(2, nullptr, 8, true));
    api.traceRx(&plogi.frame);
    EXPECT_EQ(drain(2), (Recs{id(kBegin | kPort, 7), plogiHdr(kRx | kEnd)}));
    EXPECT_EQ(drain(1), Recs{});
}

TEST_F(ApiTest, FilterForAMissingBufferHidesOlderFiltersForItsFrames)
{
    api.captureFcFrame();
    api.addFrameFilter(rctl22(99, {api.fcHeader_m}));
    api.traceRx(&plogi.frame);
    api.traceRx(&fcp.frame);
    EXPECT_EQ(drain(1), (Recs{id(kBegin | kPair, 0x20007), fcpHdr(kRx | kEnd)}));
}

TEST_F(ApiTest, FilterWithoutStepsRecordsAndLogsNothing)
{
    api.captureFcFrame();
    api.addFrameFilter(rctl22(0, {}));
    api.syslogEnable(true);
    api.traceRx(&plogi.frame);
    EXPECT_EQ(recs(api.findBuffer(1)), Recs{});
    EXPECT_EQ(syslogCap.count, 0u);
}

// Called directly, an empty list still records the identifier, which then ends the trace.

TEST_F(ApiTest, FrameTraceEndsTheTraceAtItsLastRecord)
{
    TraceStepList none, one;
    one.add(new Element<TraceStep>(api.fcHeader_m, false));
    api.frameTrace(true, api.findBuffer(1), none, &plogi.frame, nullptr);
    api.frameTrace(false, api.findBuffer(1), one, &plogi.frame, nullptr);
    EXPECT_EQ(drain(1),
              (Recs{id(kBegin | kPort | kEnd, 7), id(kBegin | kPort, 7), plogiHdr(kTx | kEnd)}));
}

TEST_F(ApiTest, DeviceEventForAnUnknownBufferOrStepIsDropped)
{
    uint16_t destroyed = TraceDeviceEvent().stepId_m;
    api.syslogEnable(true);
    for (uint32_t step : {TraceStep::traceStepCount_m, uint32_t(destroyed), 0u, 0xFFFFu})
        api.traceDeviceEvent(1, wwn, 1, 0, uint16_t(step));
    api.traceDeviceEvent(1, wwn, 1, 42, event.stepId_m);
    EXPECT_EQ(recs(api.findBuffer(1)), Recs{});
    EXPECT_EQ(syslogCap.count, 0u);
}

TEST_F(ApiTest, DeviceEventRecordsTheIdentifierThenTheEvent)
{
    ASSERT_TRUE(api.initTraceBuffer(2, nullptr, 8, false));
    api.traceDeviceEvent(0x1f, wwn, 9, 0, event.stepId_m);
    api.traceDeviceEvent(0x12345678, wwn, -1, 2, event.stepId_m);
    api.traceDeviceEvent(0x1f, wwn, 70000, 2, api.identifier_m->stepId_m);  // time and port again
    EXPECT_EQ(drain(1), (Recs{id(kBegin | kPort, 9), ev(kEnd, 0x1f)}));
    EXPECT_EQ(drain(2), (Recs{id(kBegin | kPort, ~0u), ev(kEnd, 0x12345678),
                              id(kBegin | kPort, 70000), id(kEnd | kPort, 70000)}));
}

TEST_F(ApiTest, RingOfOneKeepsTheNewestRecord)
{
    api.captureFcFrame();
    api.captureELS();
    ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 1, false));
    api.traceRx(&fcp.frame);
    EXPECT_EQ(drain(1), (Recs{fcpHdr(kRx | kEnd)}));
    api.traceDeviceEvent(0x1f, wwn, 9, 1, event.stepId_m);
    EXPECT_EQ(drain(1), (Recs{ev(kEnd, 0x1f)}));
}

// Destroying an API leaves the host's steps alone, closes the system log once
// and drops a partial line.

TEST_F(ApiTest, Destruction)
{
    {
        TraceApi owner;
        owner.addFrameFilter(rctl22(0, {&event}));
        owner.addFrameFilter(rctl22(0, {&event}));
        ASSERT_TRUE(owner.initTraceBuffer(1, nullptr, 8, false));
        owner.syslogEnable(true);
        owner.beginTrace();
        EXPECT_EQ(syslogCap.closelogs, 0);
    }
    EXPECT_EQ(syslogCap.closelogs, 1);
    EXPECT_EQ(syslogCap.count, 0u);
    EXPECT_EQ(TraceStep::getStep(event.stepId_m), &event);
}

TEST_F(ApiTest, SyslogTraceLogsEachSwitchOnceAndIgnoresItsText)
{
    const std::regex kSwitch(R"(src/\w+\.cpp\.[0-9]+: traceLib to syslog (en|dis)abled)");
    api.syslogTrace(false, nullptr);  // already off
    api.syslogTrace(true, nullptr);
    ASSERT_NE(api.syslogMsg_m, nullptr);
    api.syslogTrace(true, cs("ignored"));
    api.syslogTrace(false, nullptr);
    EXPECT_EQ(api.syslogMsg_m, nullptr);
    api.syslogTrace(false, nullptr);
    Lines lines = syslogLines();  // proves the capture sees the library's own calls
    ASSERT_EQ(lines.size(), 2u);
    std::smatch match;
    EXPECT_TRUE(std::regex_match(lines[0], match, kSwitch) && match[1] == "en") << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], match, kSwitch) && match[1] == "dis") << lines[1];
}

// One line per trace; switched on mid-trace only what follows is logged, and
// switched off mid-trace the partial line is dropped.

TEST_F(ApiTest, MirrorLogsEachEndedTrace)
{
    api.beginTrace();
    api.syslogEnable(true);
    api.addToTrace(api.els_m, kPlogiEls[0], kPlogiEls[1], kPlogiEls[2]);
    api.endTrace();
    manual(1);
    api.syslogEnable(false);
    api.endTrace();
    api.syslogEnable(true);
    manual(kPlogiEls[0]);
    api.endTrace();
    api.captureFcFrame();
    api.beginTrace();  // an unended trace runs on into the frame's line
    api.traceRx(&plogi.frame);
    EXPECT_EQ(syslogLines(), (Lines{kEls, kTime + kEls, kTime + kTime + "port 7 " + kPlogiHdr}));
}

TEST_F(ApiTest, MirrorLinesOfFramesEventsAndManualTraces)
{
    api.captureFcFrame();
    api.captureEthFrame();
    api.addFrameFilter(
        rctl22(0, {api.fcHeader_m, api.fcHeader_m, api.fcHeader_m, api.fcHeader_m, api.els_m}));
    event.fmtPrefix(cs("LOGIN"));
    event.fmtPostfix(cs("ok"));
    TraceDeviceEvent percent;
    percent.fmtPrefix(cs("100%s%d%n"));
    percent.fmtPostfix(cs("%%x%"));
    api.syslogEnable(true);
    port_id_t twoSeven = hostsimPortPair(2, 7);
    api.traceTx(&ethVlan.frame, &twoSeven);
    api.traceDeviceEvent(0x1f, wwn, 9, 0, event.stepId_m);
    api.traceDeviceEvent(0x10203040, wwn, -2, 1, percent.stepId_m);
    api.traceRx(&plogi.frame);
    manual(kPlogiEls[0]);
    api.endTrace();
    const size_t kLineLength = 254;  // a longer line is cut
    std::string cut = kTime + "port 7 " + kPlogiHdr + kPlogiHdr + kPlogiHdr + kPlogiHdr + kEls;
    EXPECT_EQ(syslogLines(),
              (Lines{kTime + "port 2.7 tx dmac 00:1b:21:3a:4f:5e smac 52:54:00:12:34:56 "
                             "81000064 45000054 1c464000  ",
                     kTime + "port 9 LOGIN 00001f/" + kWwnText + " ok",
                     kTime + "port -2 100%s%d%n 10203040/" + kWwnText + " %%x%",
                     cut.substr(0, kLineLength), kTime + kEls}));
    EXPECT_EQ(recs(api.findBuffer(1)).size(), 15u);  // recorded as well
}

}  // namespace
