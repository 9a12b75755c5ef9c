// The trace API: buffers, manual traces, filters, frame tracing through the
// presets and custom filters, and device events, all checked record by
// record on real frames parsed by the reference host.
#include <gtest/gtest.h>

#include <string.h>

#include <memory>

#include "apiSupport.h"
#include "hostsimClock.h"
#include "syslogCapture.h"

namespace {

constexpr int32_t kSec = 1700000000;
constexpr int32_t kUsec = 42;
constexpr uint16_t B = TRACE_ENTRY_BEGIN;
constexpr uint16_t E = TRACE_ENTRY_END;
constexpr uint16_t P = TRACE_ENTRY_PORT;
constexpr uint16_t PP = TRACE_ENTRY_PORT_PAIR;
constexpr uint16_t RX = TRACE_ENTRY_RX;
constexpr uint16_t TX = TRACE_ENTRY_TX;

// Header words of the PLOGI and FCP_CMND frames as the FC header step packs them.
constexpr uint32_t kPlogiHdr1 = 0x22fffffc, kPlogiHdr2 = 0x01010200, kPlogiHdr3 = 0x1234ffff;
constexpr uint32_t kFcpHdr1 = 0x06020300, kFcpHdr2 = 0x08010200, kFcpHdr3 = 0x0042ffff;

std::vector<int> bufferIds(TraceApi& api)
{
    std::vector<int> ids;
    for (Element<TraceBuffer>* e = api.traceBuffers_m.get_first(); e != nullptr;
         e = e->get_next())
        ids.push_back(e->item()->bufferId);
    return ids;
}

class ApiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        hostsimClockSet(kSec, kUsec);
        syslogcap::clear();
        ASSERT_NE(idStep(), 0xFFFF) << "step registry exhausted";
    }
    void TearDown() override { hostsimClockUseReal(); }

    uint16_t idStep() { return api.identifier_m->stepId_m; }
    uint16_t fcStep() { return api.fcHeader_m->stepId_m; }
    uint16_t elsStep() { return api.els_m->stepId_m; }
    Rec idRec(uint16_t flags, uint32_t port) { return {idStep(), flags, kSec, kUsec, port}; }
    Rec plogiHdr(uint16_t flags) { return {fcStep(), flags, kPlogiHdr1, kPlogiHdr2, kPlogiHdr3}; }
    Rec plogiEls(uint16_t flags)
    {
        return {elsStep(), flags, 0x03000000, 0x20200000, 0x88000800};
    }

    // A filter for FC frames with R_CTL 0x22 (record word 25 holds R_CTL << 24 | D_ID).
    TraceFrameFilter* rctl22Filter(int bufferId, std::initializer_list<TraceStep*> steps)
    {
        auto* filter = new TraceFrameFilter();
        filter->rule.offset_from = kHostsimMatchFc;
        filter->rule.field_1 = {0xFF000000, 25, 0x22000000};
        filter->bufferId = bufferId;
        for (TraceStep* step : steps)
            filter->addStep(step);
        return filter;
    }

    TraceApi api;
    HostFcFrame plogi{plogiWire(), hostsimPort(7)};
    HostFcFrame fcp{fcpCommandWire(), hostsimPortPair(2, 7)};
    HostEthFrame ethVlan{ethWire(true), hostsimPort(3)};
    HostEthFrame eth{ethWire(false), hostsimPort(4)};
};

TEST_F(ApiTest, FramesParse)
{
    ASSERT_TRUE(plogi.ok() && fcp.ok() && ethVlan.ok() && eth.ok());
}

// ---------------------------------------------------------------------------
// Buffers

TEST_F(ApiTest, BufferCreationReplacementAndCurrentBuffer)
{
    EXPECT_EQ(api.findBuffer(0), nullptr);

    // The first buffer becomes current although make-current is false.
    ASSERT_TRUE(api.initTraceBuffer(1, cs("one"), 8, false));
    TraceBuffer* one = api.findBuffer(1);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(api.currentBuffer_m, one);
    EXPECT_EQ(api.findBuffer(0), one);
    EXPECT_STREQ(one->bufferName, "one");

    ASSERT_TRUE(api.initTraceBuffer(2, cs("two"), 8, false));
    EXPECT_EQ(api.currentBuffer_m, one);
    ASSERT_TRUE(api.initTraceBuffer(3, cs("three"), 8, true));
    TraceBuffer* three = api.findBuffer(3);
    EXPECT_EQ(api.currentBuffer_m, three);
    EXPECT_EQ(api.findBuffer(0), three);
    EXPECT_EQ(bufferIds(api), (std::vector<int>{1, 2, 3}));

    // Replacing a non-current buffer keeps the current one and moves the id
    // to the end of the list.
    ASSERT_TRUE(api.initTraceBuffer(2, cs("two again"), 16, false));
    EXPECT_EQ(api.currentBuffer_m, three);
    EXPECT_EQ(bufferIds(api), (std::vector<int>{1, 3, 2}));
    EXPECT_EQ(api.findBuffer(2)->numEntries, 16);
    EXPECT_STREQ(api.findBuffer(2)->bufferName, "two again");

    // Replacing the current buffer makes the new, empty one current even
    // with make-current false.
    api.beginTrace();
    ASSERT_NE(three->getCurrentEntry(), nullptr);
    ASSERT_TRUE(api.initTraceBuffer(3, nullptr, 4, false));
    TraceBuffer* newThree = api.findBuffer(3);
    ASSERT_NE(newThree, nullptr);
    EXPECT_EQ(api.currentBuffer_m, newThree);
    EXPECT_EQ(newThree->numEntries, 4);
    EXPECT_STREQ(newThree->bufferName, "Trace Buffer 3");
    EXPECT_EQ(newThree->getCurrentEntry(), nullptr);
    EXPECT_EQ(bufferIds(api), (std::vector<int>{1, 2, 3}));
    // endTrace on a buffer that never handed out a record does nothing.
    api.endTrace();
    EXPECT_EQ(records(newThree).size(), 0u);

    // Make-current moves the current buffer to an existing id's replacement.
    ASSERT_TRUE(api.initTraceBuffer(1, cs("one again"), 2, true));
    EXPECT_EQ(api.findBuffer(0), api.findBuffer(1));
    EXPECT_EQ(api.findBuffer(1)->numEntries, 2);
    EXPECT_EQ(bufferIds(api), (std::vector<int>{2, 3, 1}));
    EXPECT_EQ(api.findBuffer(99), nullptr);
}

TEST_F(ApiTest, EntryCountsThatAreNotPowersOfTwoChangeNothing)
{
    EXPECT_FALSE(api.initTraceBuffer(1, cs("x"), 0, true));
    EXPECT_EQ(api.findBuffer(0), nullptr);
    EXPECT_EQ(api.traceBuffers_m.size(), 0);

    ASSERT_TRUE(api.initTraceBuffer(1, cs("one"), 8, false));
    ASSERT_TRUE(api.initTraceBuffer(2, cs("two"), 8, false));
    api.beginTrace();
    TraceBuffer* one = api.findBuffer(1);
    TraceBuffer* two = api.findBuffer(2);
    for (int bad : {0, 3, -4, 6, -1}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(api.initTraceBuffer(1, cs("bad"), bad, true));
        EXPECT_FALSE(api.initTraceBuffer(2, cs("bad"), bad, true));
        EXPECT_FALSE(api.initTraceBuffer(5, cs("bad"), bad, true));
        EXPECT_EQ(api.findBuffer(1), one);
        EXPECT_EQ(api.findBuffer(2), two);
        EXPECT_EQ(api.findBuffer(5), nullptr);
        EXPECT_EQ(api.currentBuffer_m, one);
        EXPECT_EQ(bufferIds(api), (std::vector<int>{1, 2}));
        EXPECT_EQ(records(one).size(), 1u);
    }

    ASSERT_TRUE(api.initTraceBuffer(7, nullptr, 1, false));
    EXPECT_EQ(api.findBuffer(7)->numEntries, 1);
    EXPECT_STREQ(api.findBuffer(7)->bufferName, "Trace Buffer 7");
    EXPECT_EQ(api.currentBuffer_m, one);
}

// ---------------------------------------------------------------------------
// Manual traces

TEST_F(ApiTest, ManualTraceRecordsExactEntries)
{
    TraceDeviceEvent event;
    ASSERT_TRUE(api.initTraceBuffer(1, cs("manual"), 8, false));
    api.beginTrace();
    api.addToTrace(api.els_m, 1, 2, 3);
    api.addToTrace(&event, 0xdeadbeef, 0, 0xffffffff);
    api.endTrace();
    TraceBuffer* buffer = api.findBuffer(1);
    EXPECT_EQ(diffRecords(buffer, {{idStep(), B, kSec, kUsec, 0},
                                   {elsStep(), 0, 1, 2, 3},
                                   {event.stepId_m, E, 0xdeadbeef, 0, 0xffffffff}}),
              "");
    EXPECT_EQ(buffer->nextIndex, 3);
    EXPECT_FALSE(buffer->wrapped);
}

TEST_F(ApiTest, WithoutBuffersNothingIsRecordedOrLogged)
{
    TraceDeviceEvent event;
    WorldWideName wwn(0x10000005, 0x1e123456);
    api.captureFcFrame();
    api.captureELS();
    api.captureEthFrame();
    api.syslogTrace(true, nullptr);
    syslogcap::clear();

    api.beginTrace();
    api.addToTrace(&event, 1, 2, 3);
    api.endTrace();
    api.traceRx(&plogi.frame);
    api.traceTx(&fcp.frame, nullptr);
    api.traceRx(&eth.frame);
    api.traceTx(&ethVlan.frame, nullptr);
    api.traceDeviceEvent(1, wwn, 1, 0, event.stepId_m);
    api.traceRx(static_cast<fcFrame*>(nullptr));
    api.traceTx(static_cast<EthernetFrame*>(nullptr), nullptr);

    EXPECT_EQ(syslogcap::count(), 0u);
    EXPECT_STREQ(api.syslogMsg_m, "");
    ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 8, false));
    EXPECT_EQ(records(api.findBuffer(1)).size(), 0u);
}

TEST_F(ApiTest, ManualTraceInterleavedWithFrameTraces)
{
    TraceDeviceEvent event;
    api.captureFcFrame();
    ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 16, false));

    // The frame lands between the manual entries; endTrace marks whatever
    // was written last, so the manual trace's own entry stays unmarked.
    api.beginTrace();
    api.addToTrace(&event, 4, 5, 6);
    api.traceRx(&plogi.frame);
    api.endTrace();
    // A frame between begin and add: endTrace marks the manual entry.
    api.beginTrace();
    api.traceRx(&plogi.frame);
    api.addToTrace(&event, 7, 8, 9);
    api.endTrace();

    EXPECT_EQ(diffRecords(api.findBuffer(1), {idRec(B, 0),
                                              {event.stepId_m, 0, 4, 5, 6},
                                              idRec(B | P, 7),
                                              plogiHdr(RX | E),
                                              idRec(B, 0),
                                              idRec(B | P, 7),
                                              plogiHdr(RX | E),
                                              {event.stepId_m, E, 7, 8, 9}}),
              "");
}

TEST(ApiDeathTest, AddToTraceWithoutStepDiesEvenWithoutBuffer)
{
    TraceApi api;
    EXPECT_DEATH(api.addToTrace(nullptr, 1, 2, 3), "step");
    ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 8, false));
    EXPECT_DEATH(api.addToTrace(nullptr, 1, 2, 3), "step");
}

TEST(ApiDeathTest, AddStepWithoutStepDies)
{
    TraceFrameFilter filter;
    EXPECT_DEATH(filter.addStep(nullptr), "step");
}

// ---------------------------------------------------------------------------
// Filters

struct DumpCase {
    const char* name;
    void (*setup)(TraceFrameFilter&);
    const char* expected;
};

class FilterDumpTest : public ::testing::TestWithParam<DumpCase> {};

TEST_P(FilterDumpTest, Text)
{
    TraceFrameFilter filter;
    GetParam().setup(filter);
    EXPECT_EQ(streamText([&](FILE* f) { filter.dump(f); }), GetParam().expected);
}

const DumpCase kDumpCases[] = {
    {"NewFilter", [](TraceFrameFilter&) {},
     "only rejects false exact reject 0x0 sof_mask 0x0 offset from 0\n"
     "buffer 0, 0 steps\n"},
    {"OnlyField2",
     [](TraceFrameFilter& f) { f.rule.field_2 = {0xff, 0x1a, 0x12}; },
     "only rejects false exact reject 0x0 sof_mask 0x0 offset from 0\n"
     "field_2: mask 0xff offset 0x1a value 0x12\n"
     "buffer 0, 0 steps\n"},
    {"Field3ValueWithoutMask",
     [](TraceFrameFilter& f) {
         f.rule.field_3.offset = 30;
         f.rule.field_3.value = 0x1234;
     },
     "only rejects false exact reject 0x0 sof_mask 0x0 offset from 0\n"
     "buffer 0, 0 steps\n"},
    {"EveryWordSet",
     [](TraceFrameFilter& f) {
         for (uint32_t& word : f.rule.reserved0)
             word = 0xffffffff;
         f.rule.field_1 = {1, 2, 3};
         f.rule.field_2 = {4, 5, 6};
         f.rule.field_3 = {0xabcdef01, 0x20, 0x0};
         f.rule.range = {0xffff, 0x1d, 0x10, 0x20};
         f.rule.only_rejects = 7;
         f.rule.exact_reject = 0x10b;
         f.rule.sof_mask = 0x1c;
         f.rule.offset_from = 2;
         f.bufferId = -3;
     },
     "only rejects true exact reject 0x10b sof_mask 0x1c offset from 2\n"
     "field_1: mask 0x1 offset 0x2 value 0x3\n"
     "field_2: mask 0x4 offset 0x5 value 0x6\n"
     "field_3: mask 0xabcdef01 offset 0x20 value 0x0\n"
     "range: mask 0xffff, offset 0x1d lo 0x10 hi 0x20\n"
     "buffer -3, 0 steps\n"},
};

INSTANTIATE_TEST_SUITE_P(, FilterDumpTest, ::testing::ValuesIn(kDumpCases),
                         [](const ::testing::TestParamInfo<DumpCase>& param) {
                             return param.param.name;
                         });

TEST_F(ApiTest, PresetDumpsNewestFirst)
{
    api.captureFcFrame();
    api.captureEthFrame();
    api.captureELS();
    std::string dump;
    for (Element<TraceFrameFilter>* e = api.frameFilters_m->get_first(); e != nullptr;
         e = e->get_next())
        dump += streamText([&](FILE* f) { e->item()->dump(f); });
    EXPECT_EQ(dump,
              "only rejects false exact reject 0x0 sof_mask 0x0 offset from 1\n"
              "field_1: mask 0xf0000000 offset 0x19 value 0x20000000\n"
              "buffer 0, 2 steps\n" +
                  describeText(api.fcHeader_m) + describeText(api.els_m) +
                  "only rejects false exact reject 0x0 sof_mask 0x0 offset from 2\n"
                  "buffer 0, 2 steps\n" +
                  describeText(api.ethDmacSmac_m) + describeText(api.ethData_m) +
                  "only rejects false exact reject 0x0 sof_mask 0x0 offset from 1\n"
                  "buffer 0, 1 steps\n" +
                  describeText(api.fcHeader_m));
}

// ---------------------------------------------------------------------------
// Frame tracing

TEST_F(ApiTest, FcPresetTracesHeader)
{
    api.captureFcFrame();
    ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 8, false));
    api.traceRx(&plogi.frame);
    api.traceTx(&fcp.frame, nullptr);
    EXPECT_EQ(diffRecords(api.findBuffer(0),
                          {idRec(B | P, 7), plogiHdr(RX | E), idRec(B | PP, 0x00020007),
                           {fcStep(), TX | E, kFcpHdr1, kFcpHdr2, kFcpHdr3}}),
              "");
}

TEST_F(ApiTest, ElsPresetTakesElsFramesAndLeavesOthersToTheFcPreset)
{
    api.captureFcFrame();
    api.captureELS();
    ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 8, false));
    api.traceRx(&plogi.frame);
    api.traceRx(&fcp.frame);
    EXPECT_EQ(diffRecords(api.findBuffer(0),
                          {idRec(B | P, 7), plogiHdr(RX), plogiEls(RX | E),
                           idRec(B | PP, 0x00020007),
                           {fcStep(), RX | E, kFcpHdr1, kFcpHdr2, kFcpHdr3}}),
              "");
}

TEST_F(ApiTest, NewestMatchingFilterWins)
{
    // The FC preset, added last, matches the PLOGI before the ELS preset.
    api.captureELS();
    api.captureFcFrame();
    ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 8, false));
    api.traceRx(&plogi.frame);
    EXPECT_EQ(diffRecords(api.findBuffer(0), {idRec(B | P, 7), plogiHdr(RX | E)}), "");
}

TEST_F(ApiTest, EthernetPresetTracesAddressesAndDataWords)
{
    api.captureEthFrame();
    api.captureFcFrame();   // newer, but matches FC frames only
    ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 8, false));
    port_id_t pair = hostsimPortPair(2, 7);
    api.traceTx(&ethVlan.frame, &pair);
    api.traceRx(&eth.frame);

    // DMAC in record bytes 4-9, SMAC in bytes 10-15.
    const unsigned char macs[12] = {0x00, 0x1b, 0x21, 0x3a, 0x4f, 0x5e,
                                    0x52, 0x54, 0x00, 0x12, 0x34, 0x56};
    uint32_t w[3];
    memcpy(w, macs, sizeof macs);
    const uint16_t dmacStep = api.ethDmacSmac_m->stepId_m;
    const uint16_t dataStep = api.ethData_m->stepId_m;
    EXPECT_EQ(diffRecords(api.findBuffer(0),
                          {idRec(B | PP, 0x00020007),
                           {dmacStep, TX, w[0], w[1], w[2]},
                           {dataStep, TX | E, 0x81000064, 0x45000054, 0x1c464000},
                           idRec(B | P, 4),
                           {dmacStep, RX, w[0], w[1], w[2]},
                           {dataStep, RX | E, 0x45000054, 0x1c464000, 0x4001a05b}}),
              "");
}

TEST_F(ApiTest, FramesOfTheOtherKindAreNotTraced)
{
    ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 8, false));
    api.captureFcFrame();
    api.captureELS();
    api.traceRx(&eth.frame);
    api.traceTx(&ethVlan.frame, nullptr);
    EXPECT_EQ(records(api.findBuffer(0)).size(), 0u);

    TraceApi ethOnly;
    ASSERT_TRUE(ethOnly.initTraceBuffer(1, nullptr, 8, false));
    ethOnly.captureEthFrame();
    ethOnly.traceRx(&plogi.frame);
    ethOnly.traceTx(&fcp.frame, nullptr);
    EXPECT_EQ(records(ethOnly.findBuffer(0)).size(), 0u);
}

TEST_F(ApiTest, CustomFilterWritesToItsBufferInStepOrder)
{
    ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 8, false));
    ASSERT_TRUE(api.initTraceBuffer(2, nullptr, 8, false));
    api.addFrameFilter(rctl22Filter(2, {api.els_m, api.fcHeader_m, api.els_m}));
    api.traceRx(&plogi.frame);
    api.traceRx(&fcp.frame);   // R_CTL 0x06: no filter matches
    EXPECT_EQ(records(api.findBuffer(1)).size(), 0u);
    EXPECT_EQ(diffRecords(api.findBuffer(2),
                          {idRec(B | P, 7), plogiEls(RX), plogiHdr(RX), plogiEls(RX | E)}),
              "");
}

TEST_F(ApiTest, MatchingFilterWithoutBufferHidesOlderFilters)
{
    ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 8, false));
    api.captureFcFrame();
    api.addFrameFilter(rctl22Filter(99, {api.fcHeader_m}));
    api.traceRx(&plogi.frame);
    EXPECT_EQ(records(api.findBuffer(1)).size(), 0u);

    // Frames the newer filter does not match still reach the preset.
    api.traceRx(&fcp.frame);
    EXPECT_EQ(records(api.findBuffer(1)).size(), 2u);

    ASSERT_TRUE(api.initTraceBuffer(99, nullptr, 8, false));
    api.traceRx(&plogi.frame);
    EXPECT_EQ(diffRecords(api.findBuffer(99), {idRec(B | P, 7), plogiHdr(RX | E)}), "");
}

TEST_F(ApiTest, MatchingFilterWithoutStepsRecordsNothing)
{
    ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 8, false));
    api.captureFcFrame();
    api.addFrameFilter(rctl22Filter(0, {}));
    api.syslogTrace(true, nullptr);
    syslogcap::clear();
    api.traceRx(&plogi.frame);
    EXPECT_EQ(records(api.findBuffer(1)).size(), 0u);
    EXPECT_EQ(syslogcap::count(), 0u);
}

TEST_F(ApiTest, TransmitRecordsCallersPortReceiveRecordsFramesPort)
{
    struct Case {
        const char* name;
        bool rx;
        bool givePort;
        port_id_t port;
        HostFcFrame* frame;
        uint16_t idFlags;
        uint32_t word3;
    };
    const Case cases[] = {
        {"tx port 5", false, true, hostsimPort(5), &plogi, B | P, 5},
        {"tx port pair", false, true, hostsimPortPair(0x0102, 0xfffe), &plogi, B | PP,
         0x0102fffe},
        {"tx no port", false, false, {}, &plogi, B | P, 7},
        {"tx no port, frame pair", false, false, {}, &fcp, B | PP, 0x00020007},
        {"rx", true, false, {}, &plogi, B | P, 7},
        {"rx frame pair", true, false, {}, &fcp, B | PP, 0x00020007},
    };
    api.captureFcFrame();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 8, false));
        port_id_t port = c.port;
        if (c.rx)
            api.traceRx(&c.frame->frame);
        else
            api.traceTx(&c.frame->frame, c.givePort ? &port : nullptr);
        std::vector<TraceEntry> recs = records(api.findBuffer(1));
        ASSERT_EQ(recs.size(), 2u);
        EXPECT_EQ(recText(recs[0]), recText(idRec(c.idFlags, c.word3)));
        EXPECT_EQ(recs[1].flags, (c.rx ? RX : TX) | E);
    }
}

TEST_F(ApiTest, PresetsFollowTheCurrentBuffer)
{
    api.captureFcFrame();
    ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 8, false));
    api.traceRx(&plogi.frame);
    ASSERT_TRUE(api.initTraceBuffer(2, nullptr, 8, true));
    api.traceRx(&plogi.frame);
    api.traceRx(&plogi.frame);
    EXPECT_EQ(records(api.findBuffer(1)).size(), 2u);
    EXPECT_EQ(records(api.findBuffer(2)).size(), 4u);
}

TEST_F(ApiTest, SmallRingsKeepTheNewestRecords)
{
    api.captureFcFrame();
    api.captureELS();
    ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 1, false));
    ASSERT_TRUE(api.initTraceBuffer(2, nullptr, 2, false));
    api.traceRx(&fcp.frame);
    EXPECT_EQ(diffRecords(api.findBuffer(1), {{fcStep(), RX | E, kFcpHdr1, kFcpHdr2, kFcpHdr3}}),
              "");
    EXPECT_TRUE(api.findBuffer(1)->wrapped);

    ASSERT_TRUE(api.initTraceBuffer(2, nullptr, 2, true));
    api.traceRx(&plogi.frame);
    EXPECT_EQ(diffRecords(api.findBuffer(2), {plogiHdr(RX), plogiEls(RX | E)}), "");
    EXPECT_TRUE(api.findBuffer(2)->wrapped);
}

TEST_F(ApiTest, FrameTraceWithEmptyStepListMarksTheIdentifierEntry)
{
    ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 8, false));
    TraceStepList none;
    TraceStepList one;
    one.add(new Element<TraceStep>(api.fcHeader_m, false));
    api.frameTrace(true, api.findBuffer(1), none, &plogi.frame, nullptr);
    api.frameTrace(false, api.findBuffer(1), one, &plogi.frame, nullptr);
    EXPECT_EQ(diffRecords(api.findBuffer(1), {idRec(B | P | E, 7), idRec(B | P, 7),
                                              plogiHdr(TX | E)}),
              "");
}

// ---------------------------------------------------------------------------
// Device events

TEST_F(ApiTest, DeviceEventRecordsTwoEntries)
{
    TraceDeviceEvent event;
    WorldWideName wwn(0x10000005, 0x1e123456);
    ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 8, false));
    ASSERT_TRUE(api.initTraceBuffer(2, nullptr, 8, false));
    api.traceDeviceEvent(0x1f, wwn, 9, 0, event.stepId_m);
    api.traceDeviceEvent(0x12345678, wwn, -1, 2, event.stepId_m);
    // The identifier as the event's step records time and port again.
    api.traceDeviceEvent(0x1f, wwn, 70000, 2, idStep());
    EXPECT_EQ(diffRecords(api.findBuffer(1),
                          {idRec(B | P, 9), {event.stepId_m, E, 0x10000005, 0x1e123456, 0x1f}}),
              "");
    EXPECT_EQ(diffRecords(api.findBuffer(2),
                          {idRec(B | P, 0xffffffff),
                           {event.stepId_m, E, 0x10000005, 0x1e123456, 0x12345678},
                           idRec(B | P, 70000), idRec(E | P, 70000)}),
              "");
}

TEST_F(ApiTest, DeviceEventWithoutStepOrBufferRecordsNothing)
{
    WorldWideName wwn(1, 2);
    uint16_t destroyedId;
    {
        TraceDeviceEvent gone;
        destroyedId = gone.stepId_m;
    }
    TraceDeviceEvent event;
    ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 8, false));
    api.syslogTrace(true, nullptr);
    syslogcap::clear();
    const struct {
        int bufferId;
        uint32_t stepId;
    } cases[] = {
        {0, TraceStep::traceStepCount_m}, {0, destroyedId}, {0, 0}, {0, 0xFFFF},
        {42, event.stepId_m},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stepId);
        api.traceDeviceEvent(1, wwn, 1, c.bufferId, static_cast<uint16_t>(c.stepId));
        EXPECT_EQ(records(api.findBuffer(1)).size(), 0u);
        EXPECT_EQ(syslogcap::count(), 0u);
    }
}

TEST_F(ApiTest, DeviceEventInRingOfOneKeepsTheEventEntry)
{
    TraceDeviceEvent event;
    WorldWideName wwn(0x10000005, 0x1e123456);
    ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 1, false));
    api.traceDeviceEvent(0x1f, wwn, 9, 1, event.stepId_m);
    EXPECT_EQ(diffRecords(api.findBuffer(1), {{event.stepId_m, E, 0x10000005, 0x1e123456, 0x1f}}),
              "");
}

// ---------------------------------------------------------------------------
// Lifetime

TEST(ApiLifetime, DestroyingTheApiLeavesHostStepsAlive)
{
    TraceDeviceEvent shared;
    uint16_t identifierId;
    {
        TraceApi api;
        identifierId = api.identifier_m->stepId_m;
        ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 8, false));
        for (int i = 0; i < 2; i++) {
            auto* filter = new TraceFrameFilter();
            filter->addStep(&shared);
            filter->addStep(api.fcHeader_m);
            api.addFrameFilter(filter);
        }
        HostFcFrame plogi(plogiWire(), hostsimPort(7));
        api.traceRx(&plogi.frame);
        EXPECT_EQ(records(api.findBuffer(1)).size(), 3u);
    }
    EXPECT_EQ(TraceStep::getStep(shared.stepId_m), &shared);
    EXPECT_EQ(TraceStep::getStep(identifierId), nullptr);
    shared.fmtPrefix(cs("still here"));
    EXPECT_STREQ(shared.prefix_m, "still here ");
}

}  // namespace
