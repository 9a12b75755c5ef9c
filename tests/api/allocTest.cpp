// Recording must not touch the heap: rings are preallocated and the
// system-log line is allocated once, when mirroring is switched on. Every
// recording path runs here many times, with and without mirroring, while
// the process-wide allocation counter is on.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <memory>
#include <string>

#include "allocCounter.h"
#include "apiSupport.h"
#include "hostsimClock.h"
#include "syslogCapture.h"

namespace {

void* volatile sink;

TEST(AllocCounter, CountsMallocAndNew)
{
    if (!alloccount::available())
        GTEST_SKIP() << "allocations cannot be counted under valgrind";
    alloccount::start();
    void* p = malloc(24);
    sink = p;
    free(p);
    int* q = new int[8];
    sink = q;
    delete[] q;
    auto text = std::make_unique<std::string>(200, 'x');
    sink = text.get();
    size_t counted = alloccount::stop();
    EXPECT_GE(counted, 4u);

    // Allocations inside the library and inside the C library count too.
    TraceApi api;
    alloccount::start();
    api.syslogEnable(true);
    EXPECT_EQ(alloccount::stop(), 1u);
    alloccount::start();
    FILE* file = tmpfile();
    counted = alloccount::stop();
    ASSERT_NE(file, nullptr);
    fclose(file);
    EXPECT_GE(counted, 1u);
}

class AllocTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!alloccount::available())
            GTEST_SKIP() << "allocations cannot be counted under valgrind";
        hostsimClockSet(1700000000, 42);
        ASSERT_TRUE(api.initTraceBuffer(1, cs("current"), 64, false));
        ASSERT_TRUE(api.initTraceBuffer(2, cs("events"), 16, false));
        ASSERT_TRUE(api.initTraceBuffer(3, cs("custom"), 8, false));
        api.captureFcFrame();
        api.captureEthFrame();
        api.captureELS();
        auto* custom = new TraceFrameFilter();
        custom->rule.offset_from = kHostsimMatchFc;
        custom->rule.field_1 = {0xFF000000, 25, 0x06000000};
        custom->bufferId = 3;
        custom->addStep(api.fcHeader_m);
        custom->addStep(api.els_m);
        custom->addStep(api.ethData_m);
        api.addFrameFilter(custom);
        direct.add(new Element<TraceStep>(api.fcHeader_m, false));
        direct.add(new Element<TraceStep>(&event, false));
        event.fmtPrefix(cs("EVENT"));
        event.fmtPostfix(cs("seen"));
        // One mirrored round first, so that one-time work outside the
        // library (time zone set-up for the time texts) is done.
        api.syslogTrace(true, nullptr);
        traceEverything(1);
    }
    void TearDown() override { hostsimClockUseReal(); }

    void traceEverything(int rounds)
    {
        port_id_t port = hostsimPort(12);
        port_id_t pair = hostsimPortPair(1, 2);
        for (int i = 0; i < rounds; i++) {
            api.traceRx(&plogi->frame);
            api.traceTx(&plogi->frame, &port);
            api.traceRx(&fcp->frame);
            api.traceTx(&fcp->frame, nullptr);
            api.traceRx(&eth->frame);
            api.traceTx(&ethVlan->frame, &pair);
            api.traceDeviceEvent(0x010203, wwn, 5, 2, event.stepId_m);
            api.traceDeviceEvent(0x010203, wwn, 5, 0, api.identifier_m->stepId_m);
            api.beginTrace();
            api.addToTrace(&event, 1, 2, 3);
            api.addToTrace(api.els_m, 0x03000000, 0, 0);
            api.endTrace();
            api.frameTrace(false, api.findBuffer(2), direct, &fcp->frame, &port);
            api.frameTrace(true, api.findBuffer(2), direct, &eth->frame, nullptr);
            hostsimClockAdvance(1);
        }
    }

    TraceApi api;
    TraceDeviceEvent event;
    TraceStepList direct;
    WorldWideName wwn{0x10000005, 0x1e123456};
    std::unique_ptr<HostFcFrame> plogi = std::make_unique<HostFcFrame>(plogiWire(), hostsimPort(7));
    std::unique_ptr<HostFcFrame> fcp = std::make_unique<HostFcFrame>(fcpCommandWire(), hostsimPort(8));
    std::unique_ptr<HostEthFrame> eth = std::make_unique<HostEthFrame>(ethWire(false), hostsimPort(9));
    std::unique_ptr<HostEthFrame> ethVlan =
        std::make_unique<HostEthFrame>(ethWire(true), hostsimPortPair(3, 4));
};

TEST_F(AllocTest, RecordingWithoutMirroringAllocatesNothing)
{
    api.syslogTrace(false, nullptr);
    syslogcap::clear();
    alloccount::start();
    traceEverything(200);
    size_t counted = alloccount::stop();
    EXPECT_EQ(counted, 0u);
    EXPECT_EQ(syslogcap::count(), 0u);
    EXPECT_TRUE(api.findBuffer(3)->wrapped);
}

TEST_F(AllocTest, RecordingWithMirroringAllocatesNothing)
{
    syslogcap::clear();
    alloccount::start();
    traceEverything(200);
    size_t counted = alloccount::stop();
    EXPECT_EQ(counted, 0u);
    // One line per trace: six frames, two events, one manual, two direct.
    EXPECT_EQ(syslogcap::count(), 200u * 11);
}

}  // namespace
