// The replay of whole captures: the samples against their saved files,
// merging several files, transmitted frames, filters routed to buffers, and
// the other outputs.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "captureBuilder.h"
#include "toolRun.h"

namespace {

const std::vector<std::string> kSamples{"fc-host.pcap", "fc-target.pcap", "eth-fcoe.pcap"};

std::vector<std::string> sampleArgs()
{
    std::vector<std::string> args;
    for (const std::string& name : kSamples)
        args.push_back(samplePath(name));
    return args;
}

// The golden files were made by this tool from the samples; the capture
// clock makes the replay deterministic, so they must match byte for byte.
TEST(Golden, DefaultReplayOfTheSamples)
{
    RunResult run = runReplay(sampleArgs());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    EXPECT_EQ(withoutSourceLines(run.out),
              withoutSourceLines(readFile(goldenPath("samples-default.trace"))));
}

TEST(Golden, RoutedFiltersWithPortsAndLocalAddress)
{
    ScratchDir dir;
    RunResult run = runReplay({"-o", dir.path("routed.trace"), "--local", "010200", "--buffer",
                               "id=1,name=FC", "--buffer", "id=2,name=ELS,entries=256", "--fc",
                               "--filter", "buffer=2,match=els", samplePath("fc-host.pcap") + "@1",
                               samplePath("fc-target.pcap") + "@2.7"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.out.empty());
    EXPECT_EQ(withoutSourceLines(readFile(dir.path("routed.trace"))),
              withoutSourceLines(readFile(goldenPath("samples-routed.trace"))));
}

TEST(Golden, PcapngGivesTheSameTraceAsPcap)
{
    ScratchDir dir;
    std::vector<std::string> args;
    for (const std::string& name : kSamples) {
        std::string converted = dir.path(name + "ng");
        RunResult convert =
            runProgram("editcap", {"-F", "pcapng", samplePath(name), converted});
        if (convert.exitCode != 0)
            GTEST_SKIP() << "editcap is not available to write pcapng";
        args.push_back(converted);
    }
    RunResult run = runReplay(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(withoutSourceLines(run.out),
              withoutSourceLines(readFile(goldenPath("samples-default.trace"))));
}

// Frames of two ports whose times interleave, and frames with equal times.
TEST(Merge, FramesOfAllFilesPlayInTimeOrderAndTiesInFileOrder)
{
    ScratchDir dir;
    auto frame = [](uint16_t oxId) { return fcBytes(0x06, 0x010400, 0x010200, 8, oxId, 0xFFFF); };
    writeCapture(dir.path("a.pcap"), 224,
                 {{kSampleStart + 10, frame(0xA1)}, {kSampleStart + 30, frame(0xA2)},
                  {kSampleStart + 30, frame(0xA3)}});
    writeCapture(dir.path("b.pcap"), 224,
                 {{kSampleStart + 5, frame(0xB1)}, {kSampleStart + 30, frame(0xB2)},
                  {kSampleStart + 40, frame(0xB3)}});
    RunResult run = runReplay({dir.path("b.pcap"), dir.path("a.pcap")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> lines = traceLines(run.out);
    const char* expected[] = {"ox_id 00b1", "ox_id 00a1", "ox_id 00b2", "ox_id 00a2",
                              "ox_id 00a3", "ox_id 00b3"};
    ASSERT_EQ(lines.size(), 6u) << run.out;
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(contains(lines[i], expected[i])) << i << ": " << lines[i];
    EXPECT_TRUE(contains(lines[0], "09:30:00.000005 port 0 "));
    EXPECT_TRUE(contains(lines[1], "09:30:00.000010 port 1 "));
}

TEST(Merge, AFileWhoseTimesGoBackKeepsItsOwnOrder)
{
    ScratchDir dir;
    auto frame = [](uint16_t oxId) { return fcBytes(0x06, 0x010400, 0x010200, 8, oxId, 0xFFFF); };
    writeCapture(dir.path("a.pcap"), 224,
                 {{kSampleStart + 20, frame(1)}, {kSampleStart + 10, frame(2)}});
    RunResult run = runReplay({dir.path("a.pcap")});
    std::vector<std::string> lines = traceLines(run.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(contains(lines[0], "ox_id 0001"));
}

struct LocalCase {
    const char* local;
    const char* sample;
    int transmitted;   // lines with "tx"
    int received;
};

class LocalAddressTable : public ::testing::TestWithParam<LocalCase> {};

void PrintTo(const LocalCase& c, std::ostream* out) { *out << c.sample << " --local " << c.local; }

TEST_P(LocalAddressTable, FramesFromLocalAddressesAreTransmitted)
{
    const LocalCase& c = GetParam();
    std::vector<std::string> args{samplePath(c.sample) + "@9"};
    if (*c.local)
        args.insert(args.begin(), {"--local", c.local});
    RunResult run = runReplay(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    int tx = 0, rx = 0;
    for (const std::string& line : traceLines(run.out)) {
        EXPECT_TRUE(contains(line, " port 9 ")) << line;
        tx += contains(line, "  tx ");
        rx += contains(line, "  rx ");
    }
    EXPECT_EQ(tx, c.transmitted);
    EXPECT_EQ(rx, c.received);
}

INSTANTIATE_TEST_SUITE_P(
    Replay, LocalAddressTable,
    ::testing::Values(
        LocalCase{"", "fc-host.pcap", 0, 17},
        LocalCase{"010200", "fc-host.pcap", 7, 10},
        LocalCase{"01.04.00", "fc-target.pcap", 4, 3},
        // Ethernet: by source MAC; FCoE: by the FCoE MAC or by S_ID.
        LocalCase{"52:54:00:12:34:56", "eth-fcoe.pcap", 4, 8},
        LocalCase{"0e:fc:00:01:0a:0b", "eth-fcoe.pcap", 2, 10},
        LocalCase{"010a0b", "eth-fcoe.pcap", 2, 10},
        LocalCase{"00:1b:21:aa:bb:cc", "eth-fcoe.pcap", 1, 11}));

TEST(Filters, ElsGoesToOneBufferAndOtherFcFramesToAnother)
{
    RunResult run = runReplay({"--buffer", "id=1,name=FC", "--buffer", "id=2,name=ELS", "--fc",
                               "--filter", "buffer=2,match=els,steps=fchdr+els",
                               samplePath("fc-host.pcap"), samplePath("eth-fcoe.pcap")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    int els = 0, fc = 0;
    for (const std::string& line : traceLines(run.out)) {
        bool isEls = contains(line, " ELS ");
        EXPECT_EQ(line.rfind(isEls ? "2: " : "1: ", 0), 0u) << line;
        EXPECT_FALSE(contains(line, "dmac")) << "no Ethernet filter: " << line;
        (isEls ? els : fc)++;
    }
    EXPECT_EQ(els, 14 + 4);
    EXPECT_EQ(fc, 3 + 2);
    EXPECT_TRUE(contains(run.out, "FC ID: 1 Bytes: 1048600 Wrapped: false"));
    EXPECT_TRUE(contains(run.out, "ELS ID: 2 "));
}

TEST(Filters, CustomMatchesAndPayloadSteps)
{
    // Only the LS_RJT, with its reason word, and only FCoE frames by EtherType.
    RunResult run = runReplay({"--filter", "match=rjt,reason=09,steps=fchdr+pld:1",
                               "--filter", "match=eth,ethertype=8906,steps=ethmac",
                               samplePath("fc-host.pcap"), samplePath("eth-fcoe.pcap")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> lines = traceLines(run.out);
    ASSERT_EQ(lines.size(), 1u) << run.out;
    EXPECT_TRUE(contains(lines[0], "r_ctl 23 d_id 010200 s_id 010500")) << lines[0];
    EXPECT_TRUE(contains(lines[0], "pld 1 00092900")) << lines[0];
}

TEST(Filters, SmallBufferWrapsAndKeepsTheNewestTraces)
{
    RunResult run = runReplay({"--buffer", "id=1,entries=8", "--fc", samplePath("fc-host.pcap")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> lines = traceLines(run.out);
    ASSERT_EQ(lines.size(), 4u);   // two records per trace
    EXPECT_TRUE(contains(lines.back(), "r_ctl 07")) << lines.back();
    EXPECT_TRUE(contains(run.out, "Wrapped: true"));
}

TEST(Outputs, SyslogLinesAreCopiedToStandardError)
{
    ScratchDir dir;
    RunResult run = runReplay({"--syslog", "-o", dir.path("t"), samplePath("fc-target.pcap")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(contains(run.err, "traceLib to syslog enabled")) << run.err;
    int lines = 0;
    for (const std::string& line : traceLines(readFile(dir.path("t")))) {
        // A mirrored line separates records by one blank, the saved file by two.
        std::string mirrored = line.substr(line.find(": ") + 2);
        for (size_t at; (at = mirrored.find("  ")) != std::string::npos;)
            mirrored.erase(at, 1);
        EXPECT_TRUE(contains(run.err, mirrored)) << mirrored;
        ++lines;
    }
    EXPECT_EQ(lines, 7);
}

TEST(Outputs, DumpAndSavedFileGoWhereAsked)
{
    ScratchDir dir;
    RunResult run = runReplay({"--dump", dir.path("dump"), "-o", dir.path("saved"),
                               samplePath("fc-target.pcap")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.out.empty());
    std::string dump = readFile(dir.path("dump"));
    EXPECT_TRUE(contains(dump, "3 FrameFilters defined:"));
    EXPECT_TRUE(contains(dump, "Trace Buffer 1"));
    EXPECT_TRUE(contains(readFile(dir.path("saved")), "3 TraceFrameFilters defined:"));
}

TEST(Outputs, WallClockTracesCarryTheTimeOfTheReplay)
{
    RunResult run = runReplay({"--wall-clock", samplePath("fc-target.pcap")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> lines = traceLines(run.out);
    ASSERT_EQ(lines.size(), 7u);
    for (const std::string& line : lines)
        EXPECT_FALSE(contains(line, "2024-05-14")) << line;
}

TEST(Outputs, HelpListsEveryOption)
{
    RunResult run = runReplay({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    for (const char* option : {"--local", "--buffer", "--fc", "--eth", "--els", "--filter", "-o,",
                               "--dump", "--syslog", "--wall-clock", "Examples:"})
        EXPECT_TRUE(contains(run.out, option)) << option;
}

}  // namespace
