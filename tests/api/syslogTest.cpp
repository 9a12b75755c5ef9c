// Mirroring traces to the system log: one line per trace at priority 134,
// the switch messages, cutting, and what happens to partial lines.
#include <gtest/gtest.h>

#include <regex>

#include "apiSupport.h"
#include "hostsimClock.h"
#include "syslogCapture.h"

namespace {

using syslogcap::kTracePriority;

const std::string kTime = "2023-11-14 22:13:20.000042";
const std::string kPlogiHeader =
    "rx r_ctl 22 d_id fffffc s_id 010200 type 01 ox_id 1234 rx_id ffff";
const std::string kPlogiEls = "ELS PLOGI (03000000 20200000 88000800)";
const std::string kWwnText = "10:00:00:05:1e:12:34:56";

std::vector<std::string> texts(int priority)
{
    std::vector<std::string> out;
    for (const SyslogLine& line : syslogcap::lines()) {
        EXPECT_EQ(line.priority, priority) << line.text;
        out.push_back(line.text);
    }
    return out;
}

class SyslogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        hostsimClockSet(1700000000, 42);
        ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 64, false));
        syslogcap::clear();
    }
    void TearDown() override
    {
        hostsimClockUseReal();
        syslogcap::setHook(nullptr);
    }

    // Switches mirroring on and forgets the enabled message.
    void mirror()
    {
        api.syslogTrace(true, nullptr);
        syslogcap::clear();
    }

    TraceApi api;
    HostFcFrame plogi{plogiWire(), hostsimPort(7)};
    HostEthFrame ethVlan{ethWire(true), hostsimPort(3)};
    WorldWideName wwn{0x10000005, 0x1e123456};
};

// Everything below relies on the capture seeing the library's own calls.
TEST_F(SyslogTest, CaptureSeesTheLibrarysCalls)
{
    api.syslogTrace(true, nullptr);
    std::vector<SyslogLine> lines = syslogcap::lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].priority, kTracePriority);
    EXPECT_TRUE(std::regex_match(lines[0].text,
                                 std::regex(R"(src/traceApi\.cpp\.[0-9]+: traceLib to syslog enabled)")))
        << lines[0].text;
}

TraceApi* observedApi = nullptr;
std::vector<bool> lineBufferAtLog;

void recordLineBuffer()
{
    lineBufferAtLog.push_back(observedApi->syslogMsg_m != nullptr);
}

TEST_F(SyslogTest, SwitchMessagesOnceEachAroundTheLineBuffer)
{
    observedApi = &api;
    lineBufferAtLog.clear();
    syslogcap::setHook(recordLineBuffer);

    api.syslogTrace(false, nullptr);   // already off: nothing
    api.syslogTrace(true, nullptr);
    ASSERT_NE(api.syslogMsg_m, nullptr);
    api.syslogTrace(true, cs("ignored"));
    api.syslogTrace(false, nullptr);
    EXPECT_EQ(api.syslogMsg_m, nullptr);
    api.syslogTrace(false, nullptr);

    std::vector<std::string> lines = texts(kTracePriority);
    ASSERT_EQ(lines.size(), 2u);
    std::smatch on, off;
    ASSERT_TRUE(std::regex_match(lines[0], on,
                                 std::regex(R"(src/traceApi\.cpp\.([0-9]+): traceLib to syslog enabled)")))
        << lines[0];
    ASSERT_TRUE(std::regex_match(lines[1], off,
                                 std::regex(R"(src/traceApi\.cpp\.([0-9]+): traceLib to syslog disabled)")))
        << lines[1];
    EXPECT_NE(on[1], off[1]);
    // Enabled is logged once the line exists, disabled before it is freed.
    EXPECT_EQ(lineBufferAtLog, (std::vector<bool>{true, true}));
}

TEST_F(SyslogTest, SyslogEnableSwitchesSilentlyAndKeepsAPartialLine)
{
    api.syslogEnable(true);
    api.beginTrace();
    api.syslogEnable(true);
    api.addToTrace(api.els_m, 0x03000000, 0x20200000, 0x88000800);
    api.endTrace();
    EXPECT_EQ(texts(kTracePriority),
              (std::vector<std::string>{kTime + " " + kPlogiEls + " "}));
    api.syslogEnable(false);
    api.syslogEnable(false);
    EXPECT_EQ(api.syslogMsg_m, nullptr);
    EXPECT_EQ(syslogcap::count(), 1u);
}

TEST_F(SyslogTest, FrameTraceLines)
{
    struct Case {
        const char* name;
        void (*preset)(TraceApi&);
        std::function<void()> trace;
        std::string line;
    };
    port_id_t pair = hostsimPortPair(2, 7);
    const Case cases[] = {
        {"fc", [](TraceApi& a) { a.captureFcFrame(); }, [&] { api.traceRx(&plogi.frame); },
         kTime + " port 7 " + kPlogiHeader + " "},
        {"els", [](TraceApi& a) { a.captureELS(); }, [&] { api.traceRx(&plogi.frame); },
         kTime + " port 7 " + kPlogiHeader + " " + kPlogiEls + " "},
        {"ethernet", [](TraceApi& a) { a.captureEthFrame(); },
         [&] { api.traceTx(&ethVlan.frame, &pair); },
         kTime +
             " port 2.7 tx dmac 00:1b:21:3a:4f:5e smac 52:54:00:12:34:56 "
             "81000064 45000054 1c464000  "},
    };
    mirror();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.preset(api);
        syslogcap::clear();
        size_t before = records(api.findBuffer(1)).size();
        c.trace();
        EXPECT_EQ(texts(kTracePriority), (std::vector<std::string>{c.line}));
        EXPECT_STREQ(api.syslogMsg_m, "");
        EXPECT_GT(records(api.findBuffer(1)).size(), before) << "mirroring replaced recording";
    }
}

TEST_F(SyslogTest, ManualTraceLineWithPrefixAndPostfix)
{
    TraceDeviceEvent event;
    event.fmtPrefix(cs("EV"));
    event.fmtPostfix(cs("done"));
    mirror();
    api.beginTrace();
    api.addToTrace(&event, 0x10000005, 0x1e123456, 0x1f);
    api.addToTrace(api.els_m, 0x03000000, 0x20200000, 0x88000800);
    api.endTrace();
    EXPECT_EQ(texts(kTracePriority),
              (std::vector<std::string>{kTime + " EV 00001f/" + kWwnText + " done " +
                                        kPlogiEls + " "}));
}

TEST_F(SyslogTest, DeviceEventLineHasNoTrailingBlank)
{
    TraceDeviceEvent event;
    event.fmtPrefix(cs("LOGIN"));
    event.fmtPostfix(cs("ok"));
    TraceDeviceEvent bare;
    mirror();
    api.traceDeviceEvent(0x1f, wwn, 9, 0, event.stepId_m);
    api.traceDeviceEvent(0x10203040, wwn, -2, 1, bare.stepId_m);
    EXPECT_EQ(texts(kTracePriority),
              (std::vector<std::string>{kTime + " port 9 LOGIN 00001f/" + kWwnText + " ok",
                                        kTime + " port -2 10203040/" + kWwnText}));
}

TEST_F(SyslogTest, LongTraceIsCutTo254Characters)
{
    auto* filter = new TraceFrameFilter();
    filter->rule.offset_from = kHostsimMatchFc;
    for (int i = 0; i < 4; i++)
        filter->addStep(api.fcHeader_m);
    filter->addStep(api.els_m);
    api.addFrameFilter(filter);
    mirror();
    api.traceRx(&plogi.frame);
    std::string full = kTime + " port 7 ";
    for (int i = 0; i < 4; i++)
        full += kPlogiHeader + " ";
    full += kPlogiEls + " ";
    ASSERT_GT(full.size(), 254u);
    std::vector<std::string> lines = texts(kTracePriority);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 254u);
    EXPECT_EQ(lines[0], full.substr(0, 254));

    // The next line starts empty again.
    syslogcap::clear();
    api.beginTrace();
    api.endTrace();
    EXPECT_EQ(texts(kTracePriority), (std::vector<std::string>{kTime + " "}));
}

TEST_F(SyslogTest, SwitchingMidTrace)
{
    // On after beginTrace: only the entries written afterwards.
    api.beginTrace();
    mirror();
    api.addToTrace(api.els_m, 0x03000000, 0x20200000, 0x88000800);
    api.endTrace();
    EXPECT_EQ(texts(kTracePriority), (std::vector<std::string>{kPlogiEls + " "}));

    // Off before endTrace: the partial line is dropped, endTrace logs nothing.
    syslogcap::clear();
    api.beginTrace();
    api.addToTrace(api.els_m, 1, 2, 3);
    api.syslogTrace(false, nullptr);
    api.endTrace();
    std::vector<std::string> lines = texts(kTracePriority);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("traceLib to syslog disabled"), std::string::npos);

    // Back on: the old partial text does not come back.
    mirror();
    api.beginTrace();
    api.endTrace();
    EXPECT_EQ(texts(kTracePriority), (std::vector<std::string>{kTime + " "}));
}

TEST_F(SyslogTest, UnendedManualTraceJoinsTheNextFrameLine)
{
    api.captureFcFrame();
    mirror();
    api.beginTrace();
    api.addToTrace(api.els_m, 0x03000000, 0x20200000, 0x88000800);
    api.traceRx(&plogi.frame);
    EXPECT_EQ(texts(kTracePriority),
              (std::vector<std::string>{kTime + " " + kPlogiEls + " " + kTime + " port 7 " +
                                        kPlogiHeader + " "}));
}

TEST_F(SyslogTest, PercentSignsInTracedTextAreNotConversions)
{
    TraceDeviceEvent event;
    event.fmtPrefix(cs("100%s%d%n"));
    event.fmtPostfix(cs("%%x%"));
    mirror();
    api.traceDeviceEvent(0x1f, wwn, 9, 0, event.stepId_m);
    EXPECT_EQ(texts(kTracePriority),
              (std::vector<std::string>{kTime + " port 9 100%s%d%n 00001f/" + kWwnText +
                                        " %%x%"}));
}

TEST(SyslogLifetime, DestructionClosesTheLogAndDropsAPartialLine)
{
    syslogcap::clear();
    {
        TraceApi api;
    }
    EXPECT_EQ(syslogcap::closelogCalls(), 1);
    EXPECT_EQ(syslogcap::count(), 0u);

    syslogcap::clear();
    {
        TraceApi api;
        ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 8, false));
        api.syslogTrace(true, nullptr);
        api.beginTrace();
        api.addToTrace(api.els_m, 1, 2, 3);
        EXPECT_EQ(syslogcap::closelogCalls(), 0);
    }
    EXPECT_EQ(syslogcap::closelogCalls(), 1);
    std::vector<std::string> lines = texts(kTracePriority);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("traceLib to syslog enabled"), std::string::npos);
}

}  // namespace
