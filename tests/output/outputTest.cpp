// saveTrace and debugDump: whole files compared byte for byte for a scripted
// scenario, the merge across many buffers, and the error paths.
#include <gtest/gtest.h>

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <tuple>

#include "apiSupport.h"
#include "fileText.h"

namespace {

constexpr int32_t kT0 = 1700000000;  // 2023-11-14 22:13:20 UTC
const std::string kHead = "only rejects false exact reject 0x0 sof_mask 0x0 offset from 1\n";

template <class... Args>
std::string fmt(const char* format, Args... args)
{
    char text[256];
    snprintf(text, sizeof text, format, args...);
    return text;
}
std::string at(int sec, int usec = 0)
{
    return fmt("2023-11-14 22:13:%02d.%06d", 20 + sec, usec);
}

// Runs saveTrace or debugDump into a file and returns the file's text.
std::string run(TraceApi& api, void (TraceApi::*op)(char*), const std::string& name = "out")
{
    std::string path = ::testing::TempDir() + "traceOutput" + std::to_string(getpid()) + name;
    (api.*op)(cs(path.c_str()));
    std::string text = readFile(path);
    remove(path.c_str());
    return text;
}

// A buffer as the debug dump lays it out, every slot in slot order.
std::string bufferDump(int id, const char* name, int size, int next, bool wrapped, Recs slots)
{
    std::string text =
        fmt("Trace Buffer %d\nbufferId %d bufferName %s numEntries %d, size bytes %d nextIndex %d, "
            "wrapped %s\n",
            id, id, name, size, size * 16 + 24, next, wrapped ? "true" : "false");
    slots.resize(size_t(size));
    for (int i = 0; i < size; i++) {
        const auto& [step, flags, w1, w2, w3] = slots[size_t(i)];
        text +=
            fmt("%5d: id %5.5d flags 0x%4.4x 0x%08x 0x%08x 0x%08x \n", i, step, flags, w1, w2, w3);
    }
    return text;
}

// Buffers 10 "alpha" (16), 20 "beta" (4, wrapped past an overwritten trace),
// 30 (default name, 2, never written), 40 "delta" (16, made current later);
// a custom filter for R_CTL 22 into buffer 20, and the FC preset.
class OutputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        syslogClear();
        event.fmtPrefix(cs("LOGIN"));
        auto gone = std::make_unique<TraceDeviceEvent>();
        goneId = gone->stepId_m;
        ASSERT_TRUE(api.initTraceBuffer(10, cs("alpha"), 16, false));
        ASSERT_TRUE(api.initTraceBuffer(20, cs("beta"), 4, false));
        ASSERT_TRUE(api.initTraceBuffer(30, nullptr, 2, false));
        api.captureFcFrame();
        api.addFrameFilter(rctl22(20, {api.fcHeader_m, api.els_m}));
        hostsimClockSet(kT0 + 1, 0);
        api.traceRx(&fcp.frame);
        hostsimClockSet(kT0 + 2, 0);  // overwritten below but for its last record
        api.traceDeviceEvent(0x1f, wwn, 9, 20, api.identifier_m->stepId_m);
        hostsimClockSet(kT0 + 2, 500000);
        api.traceDeviceEvent(0x1f, wwn, 9, 10, event.stepId_m);
        hostsimClockSet(kT0 + 3, 0);
        api.traceRx(&plogi.frame);  // equal times in buffers 20 and 10
        api.beginTrace();
        api.addToTrace(gone.get(), 1, 2, 3);
        api.endTrace();
        gone.reset();
        ASSERT_TRUE(api.initTraceBuffer(40, cs("delta"), 16, true));
        hostsimClockSet(kT0 + 4, 0);
        api.beginTrace();
        api.addToTrace(api.els_m, 0x05000000, 0, 0);
        api.endTrace();
        api.addToTrace(&event, 0x10000005, 0x1e123456, 0xabc);  // after the end
        hostsimClockSet(kT0 + 5, 0);
        api.beginTrace();  // left open
        api.addToTrace(api.els_m, 0x02000000, 1, 2);
        api.addToTrace(api.identifier_m, kT0 + 9, 999, 0);
        hostsimClockSet(kT0 + 6, 0);
        api.traceDeviceEvent(0x2f, wwn, 10, 10, event.stepId_m);
        hostsimClockUseReal();
    }
    std::string filters()
    {
        return kHead +
               "field_1: mask 0xff000000 offset 0x19 value 0x22000000\nbuffer 20, 2 steps\n" +
               describeText(api.fcHeader_m) + describeText(api.els_m) + kHead +
               "buffer 0, 1 steps\n" + describeText(api.fcHeader_m);
    }

    TraceApi api;
    TraceDeviceEvent event;
    uint16_t goneId = 0;
    WorldWideName wwn{0x10000005, 0x1e123456};
    HostFcFrame plogi{wire(kPlogi), hostsimPort(7)}, fcp{wire(kFcp), hostsimPortPair(2, 7)};
};

TEST_F(OutputTest, SavedTrace)
{
    const std::string fcpHdr = "rx r_ctl 06 d_id 020300 s_id 010200 type 08 ox_id 0042 rx_id ffff";
    const std::string plogiHdr =
        "rx r_ctl 22 d_id fffffc s_id 010200 type 01 ox_id 1234 rx_id ffff";
    const std::string lines[] = {
        "alpha ID: 10 Bytes: 280 Wrapped: false, Starts " + at(1) + " Ends " + at(6) +
            " Number Events 4",
        "beta ID: 20 Bytes: 88 Wrapped: true, Starts " + at(3) + " Ends " + at(3) +
            " Number Events 1",
        "Trace Buffer 30 ID: 30 Bytes: 56 Wrapped: false, Starts never Ends never Number Events 0",
        "delta ID: 40 Bytes: 280 Wrapped: false, Starts " + at(4) + " Ends " + at(9, 999) +
            " Number Events 2",
        "10: " + at(1) + " port 2.7  " + fcpHdr,
        "10: " + at(2, 500000) + " port 9  LOGIN 00001f/" + kWwnText,
        "10: " + at(3) + "  NULL trace step id " + std::to_string(goneId),
        "20: " + at(3) + " port 7  " + plogiHdr + "  ELS PLOGI (03000000 20200000 88000800)",
        "40: " + at(4) + "  ELS LOGO (05000000 00000000 00000000)",
        "LOGIN 000abc/" + kWwnText + "  40: " + at(5) +
            "  ELS LS_ACC (02000000 00000001 00000002)  " + at(9, 999) + "  10: " + at(6) +
            " port 10  LOGIN 00002f/" + kWwnText,
    };
    std::string expected = "2 TraceFrameFilters defined:\n" + filters();
    for (const std::string& line : lines)
        expected += line + "\n";
    EXPECT_EQ(run(api, &TraceApi::saveTrace), expected);
}

TEST_F(OutputTest, DebugDump)
{
    const uint16_t id = api.identifier_m->stepId_m, fc = api.fcHeader_m->stepId_m,
                   els = api.els_m->stepId_m, ev = event.stepId_m;
    const uint32_t w1 = 0x10000005, w2 = 0x1e123456, s = kT0;
    std::string registry = "traceStepCount " + std::to_string(TraceStep::traceStepCount_m) + "\n";
    for (uint32_t i = 0; i < TraceStep::traceStepCount_m; i++)
        registry += TraceStep::getStep(int(i)) ? describeText(TraceStep::getStep(int(i)))
                                               : fmt("%u: step null\n", i);
    EXPECT_EQ(run(api, &TraceApi::debugDump),
              registry + "2 FrameFilters defined:\n" + filters() +
                  bufferDump(10, "alpha", 16, 8, false,
                             {{id, kBegin | kPair, s + 1, 0, 0x00020007},
                              {fc, kRx | kEnd, 0x06020300, 0x08010200, 0x0042ffff},
                              {id, kBegin | kPort, s + 2, 500000, 9},
                              {ev, kEnd, w1, w2, 0x1f},
                              {id, kBegin, s + 3, 0, 0},
                              {goneId, kEnd, 1, 2, 3},
                              {id, kBegin | kPort, s + 6, 0, 10},
                              {ev, kEnd, w1, w2, 0x2f}}) +
                  bufferDump(20, "beta", 4, 1, true,
                             {{els, kRx | kEnd, 0x03000000, 0x20200000, 0x88000800},
                              {id, kEnd | kPort, s + 2, 0, 9},
                              {id, kBegin | kPort, s + 3, 0, 7},
                              {fc, kRx, 0x22fffffc, 0x01010200, 0x1234ffff}}) +
                  bufferDump(30, "Trace Buffer 30", 2, 0, false, {}) +
                  bufferDump(40, "delta", 16, 6, false,
                             {{id, kBegin, s + 4, 0, 0},
                              {els, kEnd, 0x05000000, 0, 0},
                              {ev, 0, w1, w2, 0xabc},
                              {id, kBegin, s + 5, 0, 0},
                              {els, 0, 0x02000000, 1, 2},
                              {id, 0, s + 9, 999, 0}}));
}

TEST_F(OutputTest, WritingChangesNothingAndLogsNothing)
{
    const std::string dump = run(api, &TraceApi::debugDump);
    const std::string save = run(api, &TraceApi::saveTrace);
    EXPECT_EQ(run(api, &TraceApi::debugDump), dump);
    EXPECT_EQ(run(api, &TraceApi::saveTrace), save);
    EXPECT_EQ(syslogCap.count, 0u);
}

// Both files, written to a path: what the system log gets.
struct FileCase {
    const char* name;
    const char* path;
    std::vector<std::string> lines;
};
const std::string kNoDir = "/nonexistent-dir/out";
const std::string kNotOpened = "<5> Can't open " + kNoDir + " errno " + std::to_string(ENOENT);
// /dev/full takes the writes into the stdio buffer and fails the flush at close.
const std::string kNotClosed = "<5> problem closing /dev/full errno " + std::to_string(ENOSPC);

class FileErrors : public ::testing::TestWithParam<FileCase> {};

TEST_P(FileErrors, LoggedAtNoticeEachTime)
{
    TraceApi api;
    syslogClear();
    api.saveTrace(cs(GetParam().path));
    api.debugDump(cs(GetParam().path));
    EXPECT_EQ(syslogLines(), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    , FileErrors,
    ::testing::Values(FileCase{"NullPathIsIgnored", nullptr, {}},
                      FileCase{"OpenFails", kNoDir.c_str(), {kNotOpened, kNotOpened}},
                      FileCase{"CloseFails", "/dev/full", {kNotClosed, kNotClosed}}),
    [](const auto& row) { return std::string(row.param.name); });

// Saved traces go by time to the microsecond, ties to the earlier buffer in
// the list, each buffer's in their own order. The merge keeps a cursor per
// buffer, on the stack up to 64 buffers and on the heap beyond.
struct Event {
    int buffer;  // position in the list
    int sec;
    int usec;
};
struct MergeCase {
    const char* name;
    int buffers;
    std::vector<Event> events;
};
const int kFirstId = 5000, kIdStep = 3;  // buffer ids fall along the list

std::vector<Event> spread(int buffers)
{
    std::vector<Event> out;
    for (int i = 0; i < buffers; i++) {
        out.push_back({i, (i * 37) % 10, 0});
        out.push_back({i, 10 + (i * 13) % 7, 0});
    }
    return out;
}

class MergeOrder : public ::testing::TestWithParam<MergeCase> {};

TEST_P(MergeOrder, SavedByTimeThenListPosition)
{
    TraceApi api;
    TraceDeviceEvent event;
    WorldWideName wwn(0x10000005, 0x1e123456);
    for (int i = 0; i < GetParam().buffers; i++)
        ASSERT_TRUE(api.initTraceBuffer(kFirstId - kIdStep * i, nullptr, 4, false));
    std::vector<Event> order = GetParam().events;
    for (const Event& e : order) {
        hostsimClockSet(kT0 + e.sec, e.usec);
        const int id = kFirstId - kIdStep * e.buffer;
        api.traceDeviceEvent(uint32_t(id), wwn, e.buffer, id, event.stepId_m);
    }
    hostsimClockUseReal();
    std::stable_sort(order.begin(), order.end(), [](const Event& a, const Event& b) {
        return std::tie(a.sec, a.usec, a.buffer) < std::tie(b.sec, b.usec, b.buffer);
    });
    std::string expected;
    for (const Event& e : order) {
        const int id = kFirstId - kIdStep * e.buffer;
        expected += fmt("%d: %s port %d  %6.6x/", id, at(e.sec, e.usec).c_str(), e.buffer, id);
        expected += kWwnText + "\n";
    }
    std::string text = run(api, &TraceApi::saveTrace);
    EXPECT_EQ(text.substr(text.size() - std::min(text.size(), expected.size())), expected);
}

INSTANTIATE_TEST_SUITE_P(, MergeOrder,
                         ::testing::Values(MergeCase{"OneBuffer", 1, spread(1)},
                                           MergeCase{"ThreeBuffers", 3, spread(3)},
                                           MergeCase{"MoreBuffersThanStackCursors", 65, spread(65)},
                                           MergeCase{"MicrosecondsAcrossBuffers",
                                                     2,
                                                     {{1, 0, 200}, {0, 0, 300}, {1, 0, 999999}}}),
                         [](const auto& row) { return std::string(row.param.name); });

// The filter count is the list's, whatever its number of digits.
TEST(FilterCount, TenOrMoreFiltersAreCountedInBothFiles)
{
    TraceApi api;
    const int kFilters = 12;
    for (int i = 0; i < kFilters; i++)
        api.captureFcFrame();
    std::string save = run(api, &TraceApi::saveTrace);
    std::string dump = run(api, &TraceApi::debugDump);
    EXPECT_EQ(save.substr(0, save.find('\n')), "12 TraceFrameFilters defined:");
    EXPECT_NE(dump.find("\n12 FrameFilters defined:\n"), std::string::npos);
}

}  // namespace
