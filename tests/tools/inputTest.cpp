// tracereplay on captures as they come: frames out of time order, pcapng
// files with several interfaces and sections, wrapped buffers, and bad input
// reported briefly with an exit status that says what was written.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <tuple>

#include "capture.h"
#include "report.h"
#include "support.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitSkipped = 1;
constexpr int kExitNothingWritten = 3;
constexpr size_t kHostFrames = 17;   // in samples/fc-host.pcap
constexpr size_t kTargetFrames = 7;  // in samples/fc-target.pcap
Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Bytes kRunt(13, 0xFF);  // shorter than an Ethernet header
const Bytes kIpv4 = Bytes(12, 1) + Bytes{0x08, 0x00} + Bytes(46, 1);

// The last two hex digits of each trace's OX_ID, in the order saved.
std::vector<std::string> oxIds(const std::string& saved)
{
    std::vector<std::string> ids;
    for (const std::string& line : traceLines(saved))
        ids.push_back(line.substr(line.find("ox_id ") + 8, 2));
    return ids;
}

// FCP frames at these times, with OX_IDs first, first + 1, ...
std::vector<Packet> fcpFrames(uint16_t first, const std::vector<int64_t>& micros)
{
    std::vector<Packet> packets;
    for (int64_t at : micros)
        packets.push_back({at, fcpFrame(uint16_t(first + packets.size()))});
    return packets;
}

// Frame a0 is the issue's frame stamped 100 s late; a4 is 10 us early. At
// equal times the file given first goes first, then the order in the file.
TEST(TimeOrder, FramesOfAllFilesPlayInTimeOrder)
{
    constexpr int64_t kLate = 100 * kMicrosPerSecond;
    ScratchDir dir;
    writeFile(dir.path("a"), pcapFile(kLinkTypeFc2, fcpFrames(0xA0, {kLate, 10, 30, 30, 20})));
    writeFile(dir.path("b"), pcapFile(kLinkTypeFc2, fcpFrames(0xB1, {5, 30, 40})));
    const RunResult run = runReplay({dir.path("b"), dir.path("a")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> expected{"b1", "a1", "a4", "b2", "a2", "a3", "b3", "a0"};
    EXPECT_EQ(oxIds(run.out), expected);
    EXPECT_TRUE(contains(run.err, "2 frames out of time order in their file")) << run.err;
}

// File a: frames a0 from 1 s on, one more than the reorder window holds,
// then frame ee at 0 s; file b: frame b1 at 0.5 s.
void writeSteppedBack(const ScratchDir& dir)
{
    std::vector<Packet> a;
    for (size_t i = 0; i <= replay::kReorderWindow; ++i)
        a.push_back({kMicrosPerSecond + int64_t(i), fcpFrame(0xA0)});
    a.push_back({0, fcpFrame(0xEE)});
    writeFile(dir.path("a"), pcapFile(kLinkTypeFc2, a));
    writeFile(dir.path("b"), pcapFile(kLinkTypeFc2, fcpFrames(0xB1, {kMicrosPerSecond / 2})));
}

TEST(TimeOrder, BeyondTheWindowAFileIsSortedWhole)
{
    ScratchDir dir;
    writeSteppedBack(dir);
    const RunResult run = runReplay({dir.path("a"), dir.path("b")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> ids = oxIds(run.out);
    ASSERT_EQ(ids.size(), replay::kReorderWindow + 3);
    EXPECT_EQ(ids[0], "ee");
    EXPECT_EQ(ids[1], "b1");
    EXPECT_TRUE(contains(run.err, "a: out of order beyond the reorder window")) << run.err;
    EXPECT_TRUE(contains(run.err, "1 frame out of time order in their file")) << run.err;
}

TEST(TimeOrder, BeyondTheWindowStandardInputIsPlayedLate)
{
    ScratchDir dir;
    writeSteppedBack(dir);
    const RunResult run = runReplay({"-", dir.path("b")}, dir.path("a"));
    EXPECT_EQ(run.exitCode, kExitSkipped);
    const std::vector<std::string> ids = oxIds(run.out);
    ASSERT_EQ(ids.size(), replay::kReorderWindow + 3);
    EXPECT_EQ(ids[0], "b1");
    EXPECT_EQ(ids[1], "a0");
    EXPECT_TRUE(contains(run.err, "1 frame out of order beyond the reorder window")) << run.err;
}

// From standard input, a clock stepped back after 2000 frames: the frames
// before the step, then those after it, each of these counted once, as
// played late.
TEST(TimeOrder, StreamSteppedBackIsTwoBlocksWithEveryLateFrameCounted)
{
    constexpr int64_t kFrames = 2000;
    std::vector<Packet> packets;
    for (int64_t i = 0; i < 2 * kFrames; ++i)
        packets.push_back({(i < kFrames ? 10 * kMicrosPerSecond : -kFrames) + i, fcpFrame(0)});
    ScratchDir dir;
    writeFile(dir.path("a"), pcapFile(kLinkTypeFc2, packets));
    const RunResult run = runReplay({"-"}, dir.path("a"));
    EXPECT_EQ(run.exitCode, kExitSkipped);
    const std::vector<std::string> lines = traceLines(run.out);
    ASSERT_EQ(lines.size(), size_t(2 * kFrames));
    EXPECT_TRUE(contains(lines[kFrames - 1], "09:30:10.001999")) << lines[kFrames - 1];
    EXPECT_TRUE(contains(lines[kFrames], "09:30:00.000000")) << lines[kFrames];
    EXPECT_TRUE(contains(lines.back(), "09:30:00.001999")) << lines.back();
    EXPECT_TRUE(contains(run.err, "2000 frames out of order beyond the reorder window")) << run.err;
    EXPECT_FALSE(contains(run.err, "in their file")) << run.err;
}

// A FIFO given by path is a stream: read once, its late frame played late
// (reopening it to start over would wait for a writer for ever).
TEST(TimeOrder, FifoIsReadOnceAsAStream)
{
    ScratchDir dir;
    writeSteppedBack(dir);
    ASSERT_EQ(mkfifo(dir.path("fifo").c_str(), 0600), 0);
    const std::string feed = "cat '" + dir.path("a") + "' >'" + dir.path("fifo") + "' &";
    ASSERT_EQ(system(feed.c_str()), 0);
    const RunResult run = runReplay({dir.path("fifo"), dir.path("b")});
    EXPECT_EQ(run.exitCode, kExitSkipped);
    EXPECT_EQ(oxIds(run.out).size(), replay::kReorderWindow + 3);
    EXPECT_TRUE(contains(run.err, "1 frame out of order beyond the reorder window")) << run.err;
}

// Frames of 1000 bytes in reverse order, 3 MB against a 1 MiB ceiling:
// sorted in runs spilled to $TMPDIR; without a usable $TMPDIR, said so.
TEST(TimeOrder, SortBeyondMemorySpillsSortedRuns)
{
    constexpr int64_t kFrames = 3000;
    std::vector<Packet> packets;
    for (int64_t i = 0; i < kFrames; ++i)
        packets.push_back({kFrames - i, fcpFrame(uint16_t(kFrames - i)) + Bytes(976, 0)});
    ScratchDir dir;
    writeFile(dir.path("r"), pcapFile(kLinkTypeFc2, packets));
    const RunResult run = runReplay({"--sort-memory", "1M", dir.path("r")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> lines = traceLines(run.out);
    ASSERT_EQ(lines.size(), size_t(kFrames));
    for (size_t i = 0; i < lines.size(); ++i) {
        char time[32];
        std::snprintf(time, sizeof time, "09:30:00.%06zu ", i + 1);
        ASSERT_TRUE(contains(lines[i], time)) << lines[i];
    }
    const RunResult noTemp =
        runShell("TMPDIR=" + dir.path("none"),
                 "--sort-memory 1M -o " + dir.path("t") + " " + dir.path("r"), "");
    EXPECT_EQ(noTemp.exitCode, kExitSkipped);
    EXPECT_TRUE(contains(noTemp.err, "cannot sort beyond memory")) << noTemp.err;
}

// Two sections in both byte orders, the second interface in nanoseconds, the
// third described only after the first frames: interfaces are numbered
// across sections, each on its own link type, and no port is another
// file's. A regular file is counted whole before the replay; a stream's
// late interface takes the first port after every file's.
TEST(Pcapng, EveryInterfaceOfEverySectionIsAPortOfItsOwn)
{
    constexpr uint8_t kNanoseconds = 9;
    constexpr uint64_t kNanosPerMicro = 1000;
    ScratchDir dir;
    PcapngFile file;
    file.section(true);
    file.interface(kLinkTypeFc2);
    file.interface(kLinkTypeFc2, kNanoseconds);
    file.packet(0, kSampleStart + 1, fcpFrame(0xA0));
    file.packet(1, (kSampleStart + 2) * kNanosPerMicro, fcpFrame(0xA1));
    file.section(false);
    file.interface(kLinkTypeEthernet);
    file.packet(0, kSampleStart + 3, kIpv4);
    writeFile(dir.path("ng"), file.bytes());
    const std::string target = samplePath("fc-target.pcap");
    for (const auto& [args, third, targetPort] :
         {std::tuple{Args{dir.path("ng"), target}, "port 2", "port 3"},
          std::tuple{Args{"-", target}, "port 3", "port 2"}}) {
        const RunResult run = runReplay(args, dir.path("ng"));
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const std::vector<std::string> lines = traceLines(run.out);
        ASSERT_EQ(lines.size(), kTargetFrames + 3);
        EXPECT_TRUE(contains(lines[0], "09:30:00.000001 port 0  rx r_ctl")) << lines[0];
        EXPECT_TRUE(contains(lines[1], "09:30:00.000002 port 1  rx r_ctl")) << lines[1];
        EXPECT_TRUE(contains(lines[2], std::string("09:30:00.000003 ") + third + "  rx dmac"));
        EXPECT_EQ(countOf(run.out, std::string(" ") + targetPort + " "), kTargetFrames);
        EXPECT_TRUE(contains(run.err, args[0] + ": interface 1 (section 1) is port 1\n"));
        EXPECT_TRUE(contains(run.err, args[0] + ": interface 2 (section 2) is " + third + "\n"))
            << run.err;
    }
}

// Written by `dumpcap -i lo -f "udp port 47999" -i lo -f "udp port 47999"`
// while two datagrams went by (so each is seen on both interfaces), with
// nanosecond times and statistics blocks; the capture host's description
// is blanked out.
TEST(Pcapng, DumpcapInterfacesArePortsFromTheFilesPortShownWithTheirNames)
{
    const RunResult run = runReplay({DATA_DIR "/dumpcap-two-interfaces.pcapng@6"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> lines = traceLines(run.out);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(contains(lines[0], "02:44:49.965346 port 6 ")) << lines[0];
    EXPECT_TRUE(contains(lines[1], "02:44:49.965346 port 7 ")) << lines[1];
    EXPECT_TRUE(contains(run.err, "interface 1 (lo, section 1) is port 7\n")) << run.err;
}

// Rings smaller than one frame's trace included: a frame may go round them
// more than once.
TEST(Wrap, IsReportedWithASizeThatHoldsEverything)
{
    const std::regex report(
        R"(buffer 1 \(Trace Buffer 1\) wrapped: (\d+) of (\d+) records overwritten; )"
        R"(--buffer id=1,entries=(\d+) would hold them all)");
    unsigned long records = 0;
    for (unsigned long entries : {16, 2, 1}) {
        SCOPED_TRACE(entries);
        const std::string buffer = "id=1,entries=" + std::to_string(entries);
        const RunResult small = runReplay({"--buffer", buffer, samplePath("fc-host.pcap")});
        ASSERT_EQ(small.exitCode, 0) << small.err;
        std::smatch m;
        ASSERT_TRUE(std::regex_search(small.err, m, report)) << small.err;
        EXPECT_EQ(std::stoul(m[2]) - std::stoul(m[1]), entries);
        if (records == 0)
            records = std::stoul(m[2]);
        EXPECT_EQ(std::stoul(m[2]), records) << "the same frames, the same records";
        const RunResult fits =
            runReplay({"--buffer", "id=1,entries=" + m[3].str(), samplePath("fc-host.pcap")});
        EXPECT_TRUE(fits.err.empty()) << fits.err;
        EXPECT_EQ(traceLines(fits.out).size(), kHostFrames);
    }
}

TEST(Report, ManyBadFramesGiveAFewLinesAndACount)
{
    constexpr size_t kShown = replay::Report::kShownPerKind;
    constexpr size_t kBadFrames = 50;
    ScratchDir dir;
    const std::vector<Packet> runts(kBadFrames, {0, kRunt});
    writeFile(dir.path("bad"), pcapFile(kLinkTypeEthernet, runts));
    const RunResult run = runReplay({"-o", dir.path("t"), dir.path("bad")});
    EXPECT_EQ(run.exitCode, kExitSkipped);
    EXPECT_EQ(countOf(run.err, "frame too short for its headers"), kShown);
    const std::string summary = "tracereplay: " + std::to_string(kBadFrames) + " frames skipped\n";
    EXPECT_TRUE(contains(run.err, summary)) << run.err;
    EXPECT_EQ(countOf(run.err, "\n"), kShown + 1);
}

TEST(Report, EmptyFileSaysSoAndNothingIsWritten)
{
    ScratchDir dir;
    writeFile(dir.path("empty"), "");
    const RunResult run = runReplay({dir.path("empty")});
    EXPECT_EQ(run.exitCode, kExitNothingWritten);
    EXPECT_TRUE(contains(run.err, dir.path("empty") + ": empty file\n")) << run.err;
}

// Were the input replayed first, its bad frame would be reported too.
TEST(Report, UnwritableOutputIsFoundBeforeTheReplay)
{
    ScratchDir dir;
    writeFile(dir.path("bad"), pcapFile(kLinkTypeEthernet, {{0, kRunt}}));
    const RunResult run = runReplay({"-o", dir.path("none/t"), dir.path("bad")});
    EXPECT_EQ(run.exitCode, kExitNothingWritten);
    const std::string expected = ": cannot write: No such file or directory\n";
    EXPECT_EQ(run.err, "tracereplay: " + dir.path("none/t") + expected);
}

struct BadInput {
    const char* name;
    std::string content;
    const char* message;
    size_t traced;
    int exitCode;
};

class BadFile : public ::testing::TestWithParam<BadInput> {};

// The good file given after the bad one is still replayed and saved.
TEST_P(BadFile, IsReportedAndTheRestStillSaved)
{
    const BadInput& c = GetParam();
    ScratchDir dir;
    const std::string bad = dir.path("bad");
    writeFile(bad, c.content);
    const RunResult run = runReplay({"-o", dir.path("t"), bad, samplePath("fc-target.pcap")});
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(run.err.rfind("tracereplay: " + bad + ": ", 0), 0u) << run.err;
    EXPECT_TRUE(contains(run.err, c.message)) << run.err;
    const std::string saved = readFile(dir.path("t"));
    EXPECT_EQ(countOf(saved, " port 1 "), kTargetFrames);
    EXPECT_EQ(countOf(saved, " port 0 "), c.traced);
}

std::string truncatedHost()
{
    const std::string host = readFile(samplePath("fc-host.pcap"));
    return host.substr(0, host.size() - 10);
}

constexpr uint32_t kSnapInHeader = 20;  // cuts an FC frame inside its header
constexpr uint32_t kSnapInPayload = 40;
const Bytes kFcp98 = fcpFrame(0xA0) + Bytes(74, 0);
const Bytes kShortFcoe = Bytes(12, 1) + Bytes{0x89, 0x06} + Bytes(10, 0);

INSTANTIATE_TEST_SUITE_P(
    Skipped, BadFile,
    ::testing::Values(
        BadInput{"NotACapture", "not a capture file at all\n", "unknown file format", 0,
                 kExitSkipped},
        BadInput{"Truncated", truncatedHost(), "frame 17: truncated", 16, kExitSkipped},
        BadInput{"UnknownLink", pcapFile(105, {{0, Bytes(40, 1)}}), "unsupported link type 105", 0,
                 kExitSkipped},
        BadInput{"ShortFcoe", pcapFile(kLinkTypeEthernet, {{0, kShortFcoe}}),
                 "frame 1: frame too short for its headers (24 bytes)", 0, kExitSkipped},
        BadInput{"ShortFc", pcapFile(kLinkTypeFc2, {{0, fcpFrame(1)}, {1, Bytes(20, 0)}}),
                 "frame 2: frame too short for its headers (20 bytes)", 1, kExitSkipped},
        BadInput{"CutInTheHeader", pcapFile(kLinkTypeFc2, {{0, kFcp98}}, kSnapInHeader),
                 "frame 1: captured 20 of 98 bytes (snap length 20): frame too short", 0,
                 kExitSkipped},
        BadInput{"CutButTraced", pcapFile(kLinkTypeFc2, {{0, kFcp98}}, kSnapInPayload),
                 "1 frame cut by the snap length", 1, kExitOk}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
