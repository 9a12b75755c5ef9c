// saveTrace and debugDump: whole files compared byte for byte for a scripted
// scenario, plus the merge across many buffers and the error paths.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <tuple>

#include "apiSupport.h"
#include "hostsimClock.h"
#include "syslogCapture.h"

namespace {

constexpr int32_t T0 = 1700000000;   // 2023-11-14 22:13:20 UTC
constexpr uint16_t B = TRACE_ENTRY_BEGIN;
constexpr uint16_t E = TRACE_ENTRY_END;
constexpr uint16_t P = TRACE_ENTRY_PORT;
constexpr uint16_t PP = TRACE_ENTRY_PORT_PAIR;
constexpr uint16_t RX = TRACE_ENTRY_RX;

const std::string kWwn = "10:00:00:05:1e:12:34:56";
const std::string kPlogiHeader =
    "rx r_ctl 22 d_id fffffc s_id 010200 type 01 ox_id 1234 rx_id ffff";
const std::string kFcpHeader = "rx r_ctl 06 d_id 020300 s_id 010200 type 08 ox_id 0042 rx_id ffff";

// "2023-11-14 22:13:2S.UUUUUU" for T0 + sec.
std::string timeText(int sec, int usec = 0)
{
    char text[64];
    snprintf(text, sizeof text, "2023-11-14 22:13:%02d.%06d", 20 + sec, usec);
    return text;
}

class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/traceOutputXXXXXX";
        const char* made = mkdtemp(pattern);
        path_ = made != nullptr ? made : "/tmp";
    }
    ~TempDir()
    {
        for (const std::string& file : files_)
            unlink(file.c_str());
        rmdir(path_.c_str());
    }
    std::string file(const std::string& name)
    {
        files_.push_back(path_ + "/" + name);
        return files_.back();
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::vector<std::string> files_;
};

std::string saved(TraceApi& api, TempDir& dir, const char* name = "trace.txt")
{
    std::string path = dir.file(name);
    api.saveTrace(cs(path.c_str()));
    return fileText(path);
}

std::string dumped(TraceApi& api, TempDir& dir, const char* name = "dump.txt")
{
    std::string path = dir.file(name);
    api.debugDump(cs(path.c_str()));
    return fileText(path);
}

// The registry as TraceStep::dump lays it out, built from the registry's contents.
std::string expectedRegistry()
{
    std::string text = "traceStepCount " + std::to_string(TraceStep::traceStepCount_m) + "\n";
    for (uint32_t i = 0; i < TraceStep::traceStepCount_m; i++) {
        TraceStep* step = TraceStep::getStep(static_cast<int>(i));
        text += step != nullptr ? describeText(step) : std::to_string(i) + ": step null\n";
    }
    return text;
}

// The buffer dump of Trace Buffer dumps: header, then every slot in slot order.
std::string expectedBufferDump(int id, const char* name, int nextIndex, bool wrapped,
                               std::vector<Rec> slots)
{
    char line[160];
    int entries = static_cast<int>(slots.size());
    snprintf(line, sizeof line,
             "bufferId %d bufferName %s numEntries %d, size bytes %d nextIndex %d, wrapped %s\n",
             id, name, entries, entries * 16 + 24, nextIndex, wrapped ? "true" : "false");
    std::string text = line;
    for (int i = 0; i < entries; i++) {
        const Rec& r = slots[i];
        snprintf(line, sizeof line, "%5d: id %5.5d flags 0x%4.4x 0x%08x 0x%08x 0x%08x \n", i,
                 r.id, r.flags, r.word1, r.word2, r.word3);
        text += line;
    }
    return text;
}

std::vector<Rec> padded(std::vector<Rec> slots, size_t size)
{
    slots.resize(size, Rec{0, 0, 0, 0, 0});
    return slots;
}

// Buffers 10 "alpha" (16 entries), 20 "beta" (4, wrapped past an overwritten
// trace), 30 (default name, 2, never written) and 40 "delta" (16, made
// current later); a custom filter for R_CTL 0x22 into buffer 20 and the FC
// preset. Traces, by time: 10@1 FC frame, 20@2 device event recorded by the
// identifier step (overwritten but for its last record), 10@2.5 device
// event, 10@3 manual
// trace whose step is destroyed, 20@3 ELS frame (recorded before 10@3),
// 40@4 manual trace with a record after its end, 40@5 trace left open with
// a manual identifier record @9, 10@6 device event.
class OutputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        syslogcap::clear();
        event.fmtPrefix(cs("LOGIN"));
        gone = std::make_unique<TraceDeviceEvent>();
        goneId = gone->stepId_m;

        ASSERT_TRUE(api.initTraceBuffer(10, cs("alpha"), 16, false));
        ASSERT_TRUE(api.initTraceBuffer(20, cs("beta"), 4, false));
        ASSERT_TRUE(api.initTraceBuffer(30, nullptr, 2, false));
        api.captureFcFrame();
        auto* custom = new TraceFrameFilter();
        custom->rule.offset_from = kHostsimMatchFc;
        custom->rule.field_1 = {0xFF000000, 25, 0x22000000};
        custom->bufferId = 20;
        custom->addStep(api.fcHeader_m);
        custom->addStep(api.els_m);
        api.addFrameFilter(custom);

        hostsimClockSet(T0 + 1, 0);
        api.traceRx(&fcp->frame);
        // An event whose second record is an identifier record; the ELS
        // frame below overwrites all of it but that record.
        hostsimClockSet(T0 + 2, 0);
        api.traceDeviceEvent(0x1f, wwn, 9, 20, api.identifier_m->stepId_m);
        hostsimClockSet(T0 + 2, 500000);
        api.traceDeviceEvent(0x1f, wwn, 9, 10, event.stepId_m);
        hostsimClockSet(T0 + 3, 0);
        api.traceRx(&plogi->frame);
        api.beginTrace();
        api.addToTrace(gone.get(), 1, 2, 3);
        api.endTrace();
        gone.reset();

        ASSERT_TRUE(api.initTraceBuffer(40, cs("delta"), 16, true));
        hostsimClockSet(T0 + 4, 0);
        api.beginTrace();
        api.addToTrace(api.els_m, 0x05000000, 0, 0);
        api.endTrace();
        api.addToTrace(&event, 0x10000005, 0x1e123456, 0xabc);
        hostsimClockSet(T0 + 5, 0);
        api.beginTrace();
        api.addToTrace(api.els_m, 0x02000000, 1, 2);
        api.addToTrace(api.identifier_m, T0 + 9, 999, 0);
        hostsimClockSet(T0 + 6, 0);
        api.traceDeviceEvent(0x2f, wwn, 10, 10, event.stepId_m);
        hostsimClockUseReal();
    }

    std::string filterSection()
    {
        return "only rejects false exact reject 0x0 sof_mask 0x0 offset from 1\n"
               "field_1: mask 0xff000000 offset 0x19 value 0x22000000\n"
               "buffer 20, 2 steps\n" +
               describeText(api.fcHeader_m) + describeText(api.els_m) +
               "only rejects false exact reject 0x0 sof_mask 0x0 offset from 1\n"
               "buffer 0, 1 steps\n" +
               describeText(api.fcHeader_m);
    }

    TraceApi api;
    TraceDeviceEvent event;
    std::unique_ptr<TraceDeviceEvent> gone;
    uint16_t goneId = 0;
    WorldWideName wwn{0x10000005, 0x1e123456};
    std::unique_ptr<HostFcFrame> plogi = std::make_unique<HostFcFrame>(plogiWire(), hostsimPort(7));
    std::unique_ptr<HostFcFrame> fcp =
        std::make_unique<HostFcFrame>(fcpCommandWire(), hostsimPortPair(2, 7));
    TempDir dir;
};

TEST_F(OutputTest, SavedTraceFile)
{
    const std::string expected =
        "2 TraceFrameFilters defined:\n" + filterSection() +
        "alpha ID: 10 Bytes: 280 Wrapped: false, Starts " + timeText(1) + " Ends " +
        timeText(6) + " Number Events 4\n" +
        "beta ID: 20 Bytes: 88 Wrapped: true, Starts " + timeText(3) + " Ends " + timeText(3) +
        " Number Events 1\n" +
        "Trace Buffer 30 ID: 30 Bytes: 56 Wrapped: false, Starts never Ends never Number Events 0\n"
        "delta ID: 40 Bytes: 280 Wrapped: false, Starts " +
        timeText(4) + " Ends " + timeText(9, 999) + " Number Events 2\n" +
        // Traces by time; on the tie at 3 the earlier buffer in the list wins.
        "10: " + timeText(1) + " port 2.7  " + kFcpHeader + "\n" +
        "10: " + timeText(2, 500000) + " port 9  LOGIN 00001f/" + kWwn + "\n" +
        "10: " + timeText(3) + "  NULL trace step id " + std::to_string(goneId) + "\n" +
        "20: " + timeText(3) + " port 7  " + kPlogiHeader + "  ELS PLOGI (03000000 20200000 88000800)\n" +
        "40: " + timeText(4) + "  ELS LOGO (05000000 00000000 00000000)\n" +
        // The record after the end stays with its trace, without a prefix;
        // the open trace runs on into the next one.
        "LOGIN 000abc/" + kWwn + "  " +
        "40: " + timeText(5) + "  ELS LS_ACC (02000000 00000001 00000002)  " + timeText(9, 999) +
        "  " +
        "10: " + timeText(6) + " port 10  LOGIN 00002f/" + kWwn + "\n";
    EXPECT_EQ(saved(api, dir), expected);
}

TEST_F(OutputTest, DebugDump)
{
    const uint16_t id = api.identifier_m->stepId_m;
    const uint16_t fc = api.fcHeader_m->stepId_m;
    const uint16_t els = api.els_m->stepId_m;
    const uint16_t ev = event.stepId_m;
    const uint32_t w1 = 0x10000005, w2 = 0x1e123456;
    const Rec plogiHdr{fc, RX, 0x22fffffc, 0x01010200, 0x1234ffff};
    const Rec plogiEls{els, RX | E, 0x03000000, 0x20200000, 0x88000800};
    const uint32_t s = static_cast<uint32_t>(T0);

    const std::string expected =
        expectedRegistry() + "2 FrameFilters defined:\n" + filterSection() +
        "Trace Buffer 10\n" +
        expectedBufferDump(10, "alpha", 8, false,
                           padded({{id, B | PP, s + 1, 0, 0x00020007},
                                   {fc, RX | E, 0x06020300, 0x08010200, 0x0042ffff},
                                   {id, B | P, s + 2, 500000, 9},
                                   {ev, E, w1, w2, 0x1f},
                                   {id, B, s + 3, 0, 0},
                                   {goneId, E, 1, 2, 3},
                                   {id, B | P, s + 6, 0, 10},
                                   {ev, E, w1, w2, 0x2f}},
                                  16)) +
        "Trace Buffer 20\n" +
        expectedBufferDump(20, "beta", 1, true,
                           {plogiEls, {id, E | P, s + 2, 0, 9}, {id, B | P, s + 3, 0, 7},
                            plogiHdr}) +
        "Trace Buffer 30\n" + expectedBufferDump(30, "Trace Buffer 30", 0, false, padded({}, 2)) +
        "Trace Buffer 40\n" +
        expectedBufferDump(40, "delta", 6, false,
                           padded({{id, B, s + 4, 0, 0},
                                   {els, E, 0x05000000, 0, 0},
                                   {ev, 0, w1, w2, 0xabc},
                                   {id, B, s + 5, 0, 0},
                                   {els, 0, 0x02000000, 1, 2},
                                   {id, 0, s + 9, 999, 0}},
                                  16));
    EXPECT_EQ(dumped(api, dir), expected);
}

TEST_F(OutputTest, SavingAndDumpingChangeNothing)
{
    const std::string before = dumped(api, dir, "before.txt");
    const std::string firstSave = saved(api, dir, "first.txt");
    EXPECT_EQ(dumped(api, dir, "after.txt"), before);
    EXPECT_EQ(saved(api, dir, "second.txt"), firstSave);
    EXPECT_EQ(syslogcap::count(), 0u);
}

TEST_F(OutputTest, NullPathDoesNothing)
{
    const std::string before = dumped(api, dir, "before.txt");
    api.saveTrace(nullptr);
    api.debugDump(nullptr);
    EXPECT_EQ(syslogcap::count(), 0u);
    EXPECT_EQ(dumped(api, dir, "after.txt"), before);
}

TEST_F(OutputTest, UnopenablePathIsLoggedAtNotice)
{
    const std::string before = dumped(api, dir, "before.txt");
    const std::string path = dir.path() + "/missing/out.txt";
    api.saveTrace(cs(path.c_str()));
    api.debugDump(cs(path.c_str()));
    std::vector<SyslogLine> lines = syslogcap::lines();
    ASSERT_EQ(lines.size(), 2u);
    for (const SyslogLine& line : lines) {
        EXPECT_EQ(line.priority, syslogcap::kNoticePriority);
        EXPECT_EQ(line.text, "Can't open " + path + " errno 2");
    }
    struct stat info;
    EXPECT_NE(stat(path.c_str(), &info), 0);
    EXPECT_EQ(dumped(api, dir, "after.txt"), before);
}

TEST(OutputEmpty, WithoutBuffersOnlyTheFilterSection)
{
    TempDir dir;
    TraceApi api;
    EXPECT_EQ(saved(api, dir, "none.txt"), "0 TraceFrameFilters defined:\n");
    api.captureEthFrame();
    EXPECT_EQ(saved(api, dir, "eth.txt"),
              "1 TraceFrameFilters defined:\n"
              "only rejects false exact reject 0x0 sof_mask 0x0 offset from 2\n"
              "buffer 0, 2 steps\n" +
                  describeText(api.ethDmacSmac_m) + describeText(api.ethData_m));
    EXPECT_EQ(dumped(api, dir),
              expectedRegistry() +
                  "1 FrameFilters defined:\n"
                  "only rejects false exact reject 0x0 sof_mask 0x0 offset from 2\n"
                  "buffer 0, 2 steps\n" +
                  describeText(api.ethDmacSmac_m) + describeText(api.ethData_m));
}

// The merge keeps a cursor per buffer: on the stack up to 64 buffers, on the
// heap beyond. Every count must give the same order: by time, ties to the
// earlier buffer in the list, each buffer's traces in their own order.
class ManyBuffersTest : public ::testing::TestWithParam<int> {};

TEST_P(ManyBuffersTest, MergeOrder)
{
    const int count = GetParam();
    TempDir dir;
    TraceApi api;
    TraceDeviceEvent event;
    WorldWideName wwn(0x10000005, 0x1e123456);
    // (seconds, position in the buffer list, trace in the buffer) of every trace.
    std::vector<std::tuple<int, int, int>> order;
    for (int i = 0; i < count; i++) {
        const int id = 5000 - 3 * i;   // ids do not follow list order
        ASSERT_TRUE(api.initTraceBuffer(id, nullptr, 4, false));
        const int times[2] = {(i * 37) % 10, 10 + (i * 13) % 7};
        for (int k = 0; k < 2; k++) {
            hostsimClockSet(T0 + times[k], 0);
            api.traceDeviceEvent(static_cast<uint32_t>(id), wwn, i, id, event.stepId_m);
            order.emplace_back(times[k], i, k);
        }
    }
    hostsimClockUseReal();
    std::sort(order.begin(), order.end());

    std::string expected;
    for (const auto& [sec, i, k] : order) {
        const int id = 5000 - 3 * i;
        char address[16];
        snprintf(address, sizeof address, "%6.6x", id);
        expected += std::to_string(id) + ": " + timeText(sec) + " port " + std::to_string(i) +
                    "  " + address + "/" + kWwn + "\n";
        (void)k;
    }
    std::string text = saved(api, dir);
    // Skip the filter line and one summary line per buffer.
    size_t start = 0;
    for (int line = 0; line < count + 1 && start != std::string::npos; line++)
        start = text.find('\n', start) + 1;
    ASSERT_NE(start, std::string::npos);
    EXPECT_EQ(text.substr(start), expected);
}

INSTANTIATE_TEST_SUITE_P(, ManyBuffersTest, ::testing::Values(1, 3, 64, 65, 130));

}  // namespace
