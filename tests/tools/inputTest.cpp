// tracereplay on captures as they come: frames out of time order, pcapng
// files with several interfaces and sections, wrapped buffers, and bad input
// reported briefly with an exit status that says what was written.
#include <gtest/gtest.h>

#include "support.h"

namespace {

constexpr size_t kReorderWindow = 1024;  // frames, as --help states
constexpr int kExitSkipped = 1;
constexpr int kExitNothingWritten = 3;
constexpr size_t kShownPerKind = 5;
const Bytes kRunt(13, 0xFF);        // shorter than an Ethernet header
constexpr size_t kHostFrames = 17;  // in samples/fc-host.pcap

std::vector<std::string> oxIds(const std::string& saved)
{
    std::vector<std::string> ids;
    for (const std::string& line : traceLines(saved))
        ids.push_back(line.substr(line.find("ox_id ") + 8, 2));
    return ids;
}

TEST(TimeOrder, FilesMergeByTimeAndEachFileIsSorted)
{
    ScratchDir dir;
    const std::vector<Bytes> a{fcpFrame(0xA1), fcpFrame(0xA2), fcpFrame(0xA3), fcpFrame(0xA4)};
    const std::vector<Bytes> b{fcpFrame(0xB1), fcpFrame(0xB2), fcpFrame(0xB3)};
    writeFile(dir.path("a"), pcapFile(kLinkTypeFc2, a, {10, 30, 30, 20}));
    writeFile(dir.path("b"), pcapFile(kLinkTypeFc2, b, {5, 30, 40}));
    const RunResult run = runReplay({dir.path("b"), dir.path("a")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // Equal times: the file given first, then file order.
    const std::vector<std::string> expected{"b1", "a1", "a4", "b2", "a2", "a3", "b3"};
    EXPECT_EQ(oxIds(run.out), expected);
    EXPECT_TRUE(contains(run.err, "1 frame out of time order in their file")) << run.err;
}

// The frame of the issue: one frame 100 s late must not hold back the rest.
TEST(TimeOrder, AFrameStampedLateWaitsForItsTime)
{
    ScratchDir dir;
    constexpr int64_t kLate = 100 * kMicrosPerSecond;
    writeFile(dir.path("a"), pcapFile(kLinkTypeFc2, {fcpFrame(0xA1), fcpFrame(0xA2)}, {kLate, 2}));
    writeFile(dir.path("b"), pcapFile(kLinkTypeFc2, {fcpFrame(0xB1), fcpFrame(0xB2)}, {1, 3}));
    const RunResult run = runReplay({dir.path("a"), dir.path("b")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> expected{"b1", "a2", "b2", "a1"};
    EXPECT_EQ(oxIds(run.out), expected);
}

// A clock step back after more frames than the window holds.
std::string steppedBack(size_t frames)
{
    std::vector<Bytes> bytes(frames, fcpFrame(0xA0));
    std::vector<int64_t> micros;
    for (size_t i = 0; i < frames; ++i)
        micros.push_back(kMicrosPerSecond + int64_t(i));
    bytes.push_back(fcpFrame(0xEE));
    micros.push_back(0);
    return pcapFile(kLinkTypeFc2, bytes, micros);
}

TEST(TimeOrder, BeyondTheWindowTheFileIsSortedWhole)
{
    ScratchDir dir;
    writeFile(dir.path("a"), steppedBack(kReorderWindow + 1));
    writeFile(dir.path("b"), pcapFile(kLinkTypeFc2, {fcpFrame(0xB1)}, {kMicrosPerSecond / 2}));
    const RunResult run = runReplay({dir.path("a"), dir.path("b")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> ids = oxIds(run.out);
    ASSERT_EQ(ids.size(), kReorderWindow + 3);
    EXPECT_EQ(ids[0], "ee");
    EXPECT_EQ(ids[1], "b1");
    EXPECT_TRUE(contains(run.err, "a: out of order beyond the reorder window")) << run.err;
}

TEST(TimeOrder, BeyondTheWindowStandardInputIsPlayedLate)
{
    ScratchDir dir;
    writeFile(dir.path("a"), steppedBack(kReorderWindow + 1));
    const RunResult run = runReplay({"-o", dir.path("t"), "-"}, dir.path("a"));
    EXPECT_EQ(run.exitCode, kExitSkipped);
    EXPECT_NE(oxIds(readFile(dir.path("t"))).front(), "ee");
    EXPECT_TRUE(contains(run.err, "1 frame out of order beyond the reorder window")) << run.err;
}

// Two sections in both byte orders: interfaces are numbered across them.
std::string threeInterfaces()
{
    constexpr uint8_t kNanoseconds = 9;
    constexpr uint64_t kStartSeconds = kSampleStart / kMicrosPerSecond;
    PcapngFile file;
    file.section(true);
    file.interface(kLinkTypeFc2);
    file.interface(kLinkTypeFc2, kNanoseconds);
    file.packet(0, kSampleStart + 1, fcpFrame(0xA0));
    file.packet(1, kStartSeconds * 1000000000 + 2000, fcpFrame(0xA1));
    file.section(false);
    file.interface(kLinkTypeFc2);
    file.packet(0, kSampleStart + 3, fcpFrame(0xA2));
    return file.bytes();
}

TEST(Pcapng, EachInterfaceIsAPortFromTheFilesPort)
{
    ScratchDir dir;
    writeFile(dir.path("ng"), threeInterfaces());
    const RunResult run = runReplay({dir.path("ng") + "@5", samplePath("fc-target.pcap")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> lines = traceLines(run.out);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_TRUE(contains(lines[0], "09:30:00.000001 port 5 ")) << lines[0];
    EXPECT_TRUE(contains(lines[1], "09:30:00.000002 port 6 ")) << lines[1];
    EXPECT_TRUE(contains(lines[2], "09:30:00.000003 port 7 ")) << lines[2];
}

// Only the interfaces described before a file's first frame are known when
// the next file's ports are given out.
TEST(Pcapng, FilesWithoutAPortFollowTheInterfacesBefore)
{
    ScratchDir dir;
    writeFile(dir.path("ng"), threeInterfaces());
    const RunResult run = runReplay({dir.path("ng"), samplePath("fc-target.pcap")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(countOf(run.out, " port 2 "), 7u + 1u);
}

// Written by `dumpcap -i lo -f "udp port 47999" -i lo -f "udp port 47999"`
// while two datagrams went by (so each is seen on both interfaces), with
// nanosecond times and statistics blocks; the capture host's description
// is blanked out.
TEST(Pcapng, DumpcapFileKeepsItsInterfacesApart)
{
    const RunResult run = runReplay({DATA_DIR "/dumpcap-two-interfaces.pcapng@6"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> lines = traceLines(run.out);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(contains(lines[0], "02:44:49.965346 port 6 ")) << lines[0];
    EXPECT_TRUE(contains(lines[1], "02:44:49.965346 port 7 ")) << lines[1];
}

TEST(Pcapng, MergecapFileKeepsItsInterfacesApart)
{
    if (!haveProgram("mergecap"))
        GTEST_SKIP() << "mergecap is not installed";
    ScratchDir dir;
    const std::string merged = dir.path("merged.pcapng");
    const Args mergecap{"-I",
                        "none",
                        "-F",
                        "pcapng",
                        "-w",
                        merged,
                        samplePath("fc-host.pcap"),
                        samplePath("eth-fcoe.pcap")};
    ASSERT_EQ(runProgram("mergecap", mergecap).exitCode, 0);
    const RunResult run = runReplay({merged + "@2"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(countOf(run.out, " port 2 "), kHostFrames);
    EXPECT_EQ(countOf(run.out, " port 3 "), 12u);
}

TEST(Wrap, IsReportedWithASizeThatHoldsEverything)
{
    const RunResult small = runReplay({"--buffer", "id=1,entries=16", samplePath("fc-host.pcap")});
    ASSERT_EQ(small.exitCode, 0) << small.err;
    std::smatch m;
    const std::regex report(
        R"(buffer 1 \(Trace Buffer 1\) wrapped: (\d+) of (\d+) records overwritten; )"
        R"(--buffer id=1,entries=(\d+) would hold them all)");
    ASSERT_TRUE(std::regex_search(small.err, m, report)) << small.err;
    EXPECT_EQ(std::stoul(m[2]) - std::stoul(m[1]), 16u);
    const RunResult fits =
        runReplay({"--buffer", "id=1,entries=" + m[3].str(), samplePath("fc-host.pcap")});
    EXPECT_TRUE(fits.err.empty()) << fits.err;
    EXPECT_EQ(traceLines(fits.out).size(), kHostFrames);
}

TEST(Report, ManyBadFramesGiveAFewLinesAndACount)
{
    ScratchDir dir;
    constexpr size_t kBadFrames = 50;
    writeFile(dir.path("bad"), pcapFile(kLinkTypeEthernet, std::vector<Bytes>(kBadFrames, kRunt)));
    const RunResult run = runReplay({"-o", dir.path("t"), dir.path("bad")});
    EXPECT_EQ(run.exitCode, kExitSkipped);
    EXPECT_EQ(countOf(run.err, "frame too short for its headers"), kShownPerKind);
    EXPECT_TRUE(contains(run.err, "tracereplay: 50 frames skipped\n")) << run.err;
    EXPECT_EQ(countOf(run.err, "\n"), kShownPerKind + 1);
}

TEST(Report, SnapLengthIsNamedWhenItCutsAFrameTooShort)
{
    ScratchDir dir;
    constexpr uint32_t kSnap = 20;
    const Bytes fc = fcpFrame(0xA0) + Bytes(74, 0);
    writeFile(dir.path("cut"), pcapFile(kLinkTypeFc2, {fc}, {}, kSnap));
    const RunResult run = runReplay({"-o", dir.path("t"), dir.path("cut")});
    EXPECT_EQ(run.exitCode, kExitSkipped);
    const std::string expected =
        "frame 1: captured 20 of 98 bytes (snap length 20): frame too short for its headers";
    EXPECT_TRUE(contains(run.err, expected)) << run.err;
}

TEST(Report, FrameCutButTracedIsCounted)
{
    ScratchDir dir;
    constexpr uint32_t kSnap = 40;
    const Bytes fc = fcpFrame(0xA0) + Bytes(74, 0);
    writeFile(dir.path("cut"), pcapFile(kLinkTypeFc2, {fc}, {}, kSnap));
    const RunResult run = runReplay({"-o", dir.path("t"), dir.path("cut")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(contains(run.err, "1 frame cut by the snap length")) << run.err;
}

TEST(Report, EmptyFileSaysSo)
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
    writeFile(dir.path("bad"), pcapFile(kLinkTypeEthernet, {kRunt}));
    const RunResult run = runReplay({"-o", dir.path("none/t"), dir.path("bad")});
    EXPECT_EQ(run.exitCode, kExitNothingWritten);
    EXPECT_EQ(run.err, "tracereplay: " + dir.path("none/t") +
                           ": cannot write: " + "No such file or directory\n");
}

struct BadInput {
    const char* name;
    std::string content;
    const char* message;
    size_t traced;
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
    EXPECT_EQ(run.exitCode, kExitSkipped);
    EXPECT_EQ(run.err.rfind("tracereplay: " + bad + ": ", 0), 0u) << run.err;
    EXPECT_TRUE(contains(run.err, c.message)) << run.err;
    const std::string saved = readFile(dir.path("t"));
    EXPECT_EQ(countOf(saved, " port 1 "), 7u);
    EXPECT_EQ(countOf(saved, " port 0 "), c.traced);
}

std::string truncatedHost()
{
    const std::string host = readFile(samplePath("fc-host.pcap"));
    return host.substr(0, host.size() - 10);
}

std::string hugeFirstFrame()
{
    std::string target = readFile(samplePath("fc-target.pcap"));
    return target.replace(32, 4, "\xff\xff\xff\x7f");  // first frame's captured length
}

const Bytes kIpv4 = Bytes(12, 1) + Bytes{0x08, 0x00} + Bytes(46, 1);

INSTANTIATE_TEST_SUITE_P(
    Skipped, BadFile,
    ::testing::Values(
        BadInput{"NotACapture", "not a capture file at all\n", "unknown file format", 0},
        BadInput{"Truncated", truncatedHost(), "frame 17: truncated", 16},
        BadInput{"HugeLength", hugeFirstFrame(), "frame 1: ", 0},
        BadInput{"UnknownLink", pcapFile(105, {Bytes(40, 1)}), "unsupported link type 105", 0},
        BadInput{"ShortEthernet", pcapFile(kLinkTypeEthernet, {kIpv4, kRunt, kIpv4}),
                 "frame 2: frame too short for its headers (13 bytes)", 2},
        BadInput{"ShortFc", pcapFile(kLinkTypeFc2, {fcpFrame(1), Bytes(20, 0)}),
                 "frame 2: frame too short", 1}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
