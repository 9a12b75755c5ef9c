// tracereplay's command line and whole runs over the samples: the saved
// files against golden files, local addresses, the system log and the dump.
#include <gtest/gtest.h>

#include "options.h"
#include "support.h"

namespace {

constexpr int kExitUsage = 2;
constexpr size_t kTargetFrames = 7;  // in samples/fc-target.pcap

struct BadCommandLine {
    const char* name;
    Args args;
    const char* message;
};

class CommandLine : public ::testing::TestWithParam<BadCommandLine> {};

TEST_P(CommandLine, IsRefusedWithAReason)
{
    const RunResult run = runReplay(GetParam().args);
    EXPECT_EQ(run.exitCode, kExitUsage);
    EXPECT_TRUE(contains(run.err, GetParam().message)) << run.err;
    EXPECT_TRUE(contains(run.err, "Try 'tracereplay --help'")) << run.err;
    EXPECT_TRUE(run.out.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Refused, CommandLine,
    ::testing::Values(
        BadCommandLine{"NoFile", {}, "no capture file"},
        BadCommandLine{"UnknownOption", {"--bogus", "x"}, "unknown option --bogus"},
        BadCommandLine{"MissingValue", {"x", "-o"}, "needs a value"},
        BadCommandLine{"ValueNotTaken", {"--fc=1", "x"}, "takes no value"},
        BadCommandLine{"QuietTakesNoValue", {"--quiet=yes", "x"}, "takes no value"},
        BadCommandLine{"HelpTakesNoValue", {"--help=no"}, "takes no value"},
        BadCommandLine{"PortTooLarge", {"x@70000"}, "too large"},
        BadCommandLine{"BadPair", {"x@1.x"}, "bad port"},
        BadCommandLine{"Entries", {"--buffer", "id=1,entries=100", "x"}, "not a power of two"},
        BadCommandLine{"BufferTwice", {"--buffer", "id=1", "--buffer", "id=1", "x"}, "twice"},
        BadCommandLine{"UnknownMatch", {"--filter", "match=ip", "x"}, "unknown match"},
        BadCommandLine{"FieldOfOtherKind", {"--filter", "match=eth,rctl=22", "x"}, "does not fit"},
        BadCommandLine{"BadLocal", {"--local", "host", "x"}, "neither a MAC"},
        BadCommandLine{"StdinTwice", {"-", "-@2"}, "standard input ('-') given more than once"},
        BadCommandLine{"CountZero", {"-c", "0", "x"}, "invalid frame count 0"},
        BadCommandLine{"TwoExpressions", {"-f", "arp", "-F", "/dev/null", "x"}, "more than one"},
        BadCommandLine{"NoExpressionFile", {"-F", "/nonexistent", "x"}, "No such file"},
        BadCommandLine{"UnknownInCluster", {"-qz", "x"}, "unknown option -z"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(Options, VersionIsTheProjectVersion)
{
    const RunResult run = runReplay({"--version"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "tracereplay (traceLib) " PROJECT_VERSION "\n");
}

struct ShortOptions {
    Args args;
    bool quiet;
    std::string output;
    unsigned long count;
    std::string input;
};

// As getopt reads them: a value may follow in the same argument, and an
// argument taken as a value is not split.
TEST(Options, ShortOptionsCombine)
{
    const std::vector<ShortOptions> cases{
        {{"-qr", "f"}, true, "", 0, "f"},
        {{"-qc10", "f"}, true, "", 10, "f"},
        {{"-c", "5", "-qwout", "f"}, true, "out", 5, "f"},
        {{"-o", "-qx", "f"}, false, "-qx", 0, "f"},
        {{"-q", "--", "-qr"}, true, "", 0, "-qr"},
    };
    for (const ShortOptions& c : cases) {
        const replay::Options options = replay::parseOptions(c.args);
        EXPECT_EQ(options.quiet, c.quiet) << c.args[0];
        EXPECT_EQ(options.outputPath, c.output) << c.args[0];
        EXPECT_EQ(options.frameCount, c.count) << c.args[0];
        ASSERT_EQ(options.inputs.size(), 1u) << c.args[0];
        EXPECT_EQ(options.inputs[0].path, c.input);
    }
}

TEST(Options, StandardInputTakesAPort)
{
    const RunResult run = runReplay({"-@4"}, samplePath("fc-target.pcap"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(traceLines(run.out).size(), kTargetFrames);
    EXPECT_EQ(countOf(run.out, " port 4 "), kTargetFrames);
}

struct GoldenCase {
    const char* name;
    Args args;
    const char* golden;
};

class Golden : public ::testing::TestWithParam<GoldenCase> {};

// The golden files were made by this tool from the samples; the capture
// clock makes the replay deterministic, so they must match byte for byte
// but for the step descriptions' source lines.
TEST_P(Golden, SavedFileIsTheGoldenFile)
{
    ScratchDir dir;
    Args args = GetParam().args;
    args.insert(args.end(), {"-w", dir.path("t")});
    const RunResult run = runReplay(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_EQ(withoutSourceLines(readFile(dir.path("t"))), golden(GetParam().golden));
}

INSTANTIATE_TEST_SUITE_P(
    Samples, Golden,
    ::testing::Values(GoldenCase{"ReadFlags",
                                 {"-r", kSamples[0], "-r", kSamples[1], "-r", kSamples[2]},
                                 "samples-default.trace"},
                      GoldenCase{"BuffersPortsAndLocalAddresses",
                                 {"--local", "010200", "--buffer", "id=1,name=FC", "--buffer",
                                  "id=2,name=ELS,entries=256", "--fc", "--filter",
                                  "buffer=2,match=els", samplePath("fc-host.pcap") + "@1",
                                  samplePath("fc-target.pcap") + "@2.7"},
                                 "samples-routed.trace"},
                      GoldenCase{"CombinedShortOptions",
                                 {"-qr", kSamples[0], "-c1000", kSamples[1], kSamples[2]},
                                 "samples-default.trace"},
                      GoldenCase{"FilterThatTakesEveryFrame",
                                 {"-f", "len > 0", kSamples[0], kSamples[1], kSamples[2]},
                                 "samples-default.trace"}),
    [](const auto& param) { return std::string(param.param.name); });

struct LocalCase {
    const char* name;
    const char* address;
    const char* sample;
    size_t transmitted;
    size_t received;
};

class LocalAddress : public ::testing::TestWithParam<LocalCase> {};

TEST_P(LocalAddress, MakesFramesFromItTransmitted)
{
    const LocalCase& c = GetParam();
    const RunResult run = runReplay({"--local", c.address, samplePath(c.sample)});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(countOf(run.out, "  tx "), c.transmitted);
    EXPECT_EQ(countOf(run.out, "  rx "), c.received);
}

// FCoE frames count as sent by their MAC or by their S_ID.
INSTANTIATE_TEST_SUITE_P(
    Samples, LocalAddress,
    ::testing::Values(LocalCase{"FcIdDotted", "01.04.00", "fc-target.pcap", 4, 3},
                      LocalCase{"EthernetMac", "52:54:00:12:34:56", "eth-fcoe.pcap", 4, 8},
                      LocalCase{"FcoeByMac", "0e:fc:00:01:0a:0b", "eth-fcoe.pcap", 2, 10},
                      LocalCase{"FcoeBySourceId", "010a0b", "eth-fcoe.pcap", 2, 10}),
    [](const auto& param) { return std::string(param.param.name); });

// On the system log a trace shows one blank before "rx", in the saved file two.
TEST(Replay, SyslogMirrorsEveryTraceToStandardError)
{
    const RunResult run = runReplay({"--syslog", "-o", "/dev/null", samplePath("fc-target.pcap")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(countOf(run.err, " rx r_ctl "), kTargetFrames) << run.err;
}

// Also when standard error is not a terminal; -q silences it.
TEST(Replay, SummaryLineSaysTheFramesAndTheTimeZone)
{
    const std::string target = samplePath("fc-target.pcap");
    const RunResult utc = runProgram(TRACEREPLAY_PATH, {"-o", "/dev/null", target});
    EXPECT_EQ(utc.err,
              "tracereplay: 7 frames: 7 received, 0 transmitted, 0 skipped; times in UTC\n");
    EXPECT_TRUE(runProgram(TRACEREPLAY_PATH, {"-qo", "/dev/null", target}).err.empty());
    const RunResult local = runProgram(
        "env", {"TZ=XST-5:30", TRACEREPLAY_PATH, "--local-time", "-f", "len > 60", target});
    EXPECT_EQ(local.err,
              "tracereplay: 3 of 7 frames matched the filter: 3 received, 0 transmitted, "
              "0 skipped; times in local time\n");
    EXPECT_EQ(countOf(local.out, ": 2024-05-14 15:00:00.0"), 3u) << local.out;
}

// `tcpdump -w - | tracereplay -c 3 -`: the count is reached long before the
// writer ends the stream (it sleeps on), with and without a filter.
TEST(Replay, CountEndsTheReadOfAStream)
{
    const std::vector<std::pair<std::string, std::string>> cases{{"-c 3", "fc-host.pcap"},
                                                                 {"-c 2 -f vlan", "eth-fcoe.pcap"}};
    for (const auto& [options, sample] : cases) {
        ScratchDir dir;
        const std::string fifo = dir.path("fifo");
        const RunResult run =
            runShell("mkfifo '" + fifo + "' && { (cat '" + samplePath(sample) +
                         "'; exec sleep 60) >'" + fifo + "' & } && writer=$! &&",
                     options + " -o '" + dir.path("t") + "' '" + fifo + "'",
                     "; kill -0 $writer && touch '" + dir.path("alive") + "'; kill $writer");
        EXPECT_TRUE(std::filesystem::exists(dir.path("alive"))) << options << run.err;
        EXPECT_EQ(traceLines(readFile(dir.path("t"))).size(), size_t(options[3] - '0')) << options;
    }
}

// As tcpdump reads it; the tool takes it for a file but says what to do.
TEST(Replay, ExpressionGivenAsAFileIsPointedOut)
{
    const RunResult run = runReplay({"-r", samplePath("fc-target.pcap"), "ether proto 0x8906"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(contains(run.err,
                         "tracereplay: ether proto 0x8906: a filter expression? give it "
                         "with -f\n"))
        << run.err;
}

TEST(Replay, DumpIsWrittenBesideTheTrace)
{
    ScratchDir dir;
    const RunResult run =
        runReplay({"--dump", dir.path("dump"), "-o", "/dev/null", samplePath("fc-target.pcap")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(contains(readFile(dir.path("dump")), "3 FrameFilters defined:"));
}

}  // namespace
