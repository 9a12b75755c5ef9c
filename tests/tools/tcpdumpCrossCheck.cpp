// tracereplay against tcpdump on the same files: a read filter selects the
// frames tcpdump prints for the same expression (and -c the same first
// ones), cooked captures written by tcpdump decode to the frames that were
// sent, and gzip'd and zstd'd captures read as the capture inside. Exits 77
// (skipped) without tcpdump.
//
// data/tcpdump-any-lo.pcap (SLL2) and data/tcpdump-y-linux-sll-lo.pcap (SLL)
// are `tcpdump -i any` and `tcpdump -i any -y LINUX_SLL` while the frames of
// samples/eth-fcoe.pcap were sent on the loopback interface (index 1) from
// a packet socket.
#include <gtest/gtest.h>

#include "support.h"

namespace {

constexpr int kExitUsage = 2;
const std::string kSll2 = DATA_DIR "/tcpdump-any-lo.pcap";
const std::string kSll = DATA_DIR "/tcpdump-y-linux-sll-lo.pcap";
const std::string kEthFcoe = samplePath("eth-fcoe.pcap");
constexpr size_t kTimeChars = 26;  // "2024-05-14 09:30:00.000000"

// The capture times of the frames tcpdump prints, in UTC.
std::vector<std::string> tcpdumpTimes(const Args& args)
{
    Args command{"TZ=UTC", "tcpdump", "-tttt", "-n"};
    command.insert(command.end(), args.begin(), args.end());
    const RunResult run = runProgram("env", command);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> times;
    std::istringstream in(run.out);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '\t' && line[0] != ' ')
            times.push_back(line.substr(0, kTimeChars));
    return times;
}

// The capture times of the frames traced (each frame gives one trace line).
std::vector<std::string> tracedTimes(const RunResult& run)
{
    std::vector<std::string> times;
    for (const std::string& line : traceLines(run.out))
        times.push_back(line.substr(line.find(' ') + 1, kTimeChars));
    return times;
}

struct FilterCase {
    const char* name;
    std::string capture;
    std::string expression;
};

class FilterExpression : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterExpression, TracesTheFramesTcpdumpPrints)
{
    const FilterCase& c = GetParam();
    const std::vector<std::string> expected = tcpdumpTimes({"-r", c.capture, c.expression});
    const RunResult run = runReplay({"-f", c.expression, "-r", c.capture});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(tracedTimes(run), expected);
    EXPECT_LT(expected.size(), traceLines(runReplay({c.capture}).out).size());

    const std::vector<std::string> firstTwo =
        tcpdumpTimes({"-c", "2", "-r", c.capture, c.expression});
    EXPECT_EQ(tracedTimes(runReplay({"-c2", "-f", c.expression, c.capture})), firstTwo);
}

INSTANTIATE_TEST_SUITE_P(
    , FilterExpression,
    ::testing::Values(FilterCase{"FcoeUntagged", kEthFcoe, "ether proto 0x8906"},
                      FilterCase{"FcoeInVlan", kEthFcoe, "vlan 1002 and ether proto 0x8906"},
                      FilterCase{"Vlan", kEthFcoe, "vlan"},
                      FilterCase{"EthernetSource", kEthFcoe, "ether src 52:54:00:12:34:56"},
                      FilterCase{"Arp", kEthFcoe, "arp"},
                      FilterCase{"Fc2ByLength", samplePath("fc-target.pcap"), "len > 60"},
                      FilterCase{"Fc2DelimitedBytes", samplePath("fc-host.pcap"),
                                 "ether[4] = 0x22"},
                      FilterCase{"Sll2Fcoe", kSll2, "ether proto 0x8906"},
                      FilterCase{"Sll2Interface", kSll2, "ifindex 1 and arp"},
                      FilterCase{"SllVlanTagged", kSll, "ether proto 0x8100"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ReadFilterFile, ReadsTheExpressionWithComments)
{
    ScratchDir dir;
    writeFile(dir.path("filter"), "# FCoE only\nether proto 0x8906 # untagged\n");
    const RunResult run = runReplay({"-F", dir.path("filter"), kEthFcoe});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(tracedTimes(run), tcpdumpTimes({"-r", kEthFcoe, "ether proto 0x8906"}));
}

TEST(ReadFilter, CountLargerThanTheCaptureReplaysEverything)
{
    const RunResult run = runReplay({"-c", "1000", kEthFcoe});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(tracedTimes(run), tcpdumpTimes({"-r", kEthFcoe}));
}

// Said with libpcap's message before any input is opened or output made.
TEST(ReadFilter, ExpressionThatDoesNotCompileStopsBeforeReading)
{
    ScratchDir dir;
    const RunResult run = runReplay({"-o", dir.path("out"), "-f", "ether proto (", "nothere.pcap"});
    EXPECT_EQ(run.exitCode, kExitUsage);
    EXPECT_EQ(run.err,
              "tracereplay: filter 'ether proto (': can't parse filter expression: "
              "syntax error\n");
    EXPECT_FALSE(std::filesystem::exists(dir.path("out")));
}

TEST(ReadFilter, ExpressionForAnotherLinkTypeStopsWithNothingWritten)
{
    ScratchDir dir;
    const RunResult run = runReplay(
        {"-o", dir.path("out"), "-f", "ether proto 0x8906", kEthFcoe, samplePath("fc-host.pcap")});
    EXPECT_EQ(run.exitCode, kExitUsage);
    EXPECT_TRUE(contains(run.err, "fc-host.pcap: filter: link type FC_2_WITH_FRAME_DELIMS (225)"))
        << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir.path("out")));
}

// The FCoE frames sent on the loopback interface give the same FC frames
// as the capture they were sent from; SLL2 frames are on the port of their
// interface index past the file's port.
TEST(CookedCapture, FramesAreTheEthernetFramesSent)
{
    auto fcLines = [](const RunResult& run) {
        std::vector<std::string> fc;
        for (const std::string& line : traceLines(run.out))
            if (contains(line, "r_ctl"))
                fc.push_back(line.substr(line.find("r_ctl")));
        return fc;
    };
    const RunResult sent = runReplay({kEthFcoe});
    ASSERT_EQ(sent.exitCode, 0) << sent.err;
    ASSERT_EQ(fcLines(sent).size(), 6u);
    for (const std::string& capture : {kSll2 + "@4", kSll}) {
        const RunResult run = runReplay({capture});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(fcLines(run), fcLines(sent)) << capture;
        EXPECT_EQ(countOf(run.out, " smac 52:54:00:12:34:56 "),
                  countOf(sent.out, " smac 52:54:00:12:34:56 "));
    }
    EXPECT_EQ(countOf(runReplay({kSll2 + "@4"}).out, " port 5 "), 12u);
}

// An SLL2 frame the capturing host sent is transmitted; a frame whose
// protocol is no EtherType (802.2 here) is skipped with the reason.
TEST(CookedCapture, OutgoingFramesAreTransmitted)
{
    const Bytes sll2Header{0x89, 0x06, 0,    0,    0, 0, 0,    3,    0, 1,
                           4,    6,    0x0e, 0xfc, 0, 1, 0x0a, 0x0b, 0, 0};
    Bytes fcoe = sll2Header;
    fcoe.resize(fcoe.size() + 13);
    fcoe.push_back(0x2E);  // SOF i3
    const Bytes fc = fcpFrame(0x42);
    fcoe.insert(fcoe.end(), fc.begin(), fc.end());
    fcoe.insert(fcoe.end(), {0, 0, 0, 0, 0x42, 0, 0, 0});  // CRC, EOF n
    Bytes llc = sll2Header;
    llc[0] = 0x00;
    llc[1] = 0x04;
    llc.resize(llc.size() + 20);
    ScratchDir dir;
    writeFile(dir.path("c"), pcapFile(276, {{0, fcoe}, {1, llc}}));
    const RunResult run = runReplay({dir.path("c")});
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_EQ(traceLines(run.out).size(), 1u) << run.out;
    EXPECT_TRUE(contains(traceLines(run.out)[0], " port 3  tx r_ctl 06 ")) << run.out;
    EXPECT_TRUE(contains(run.err, "frame 2: cooked frame of a protocol without an EtherType"))
        << run.err;
}

struct Compressor {
    const char* name;     // as the tool's messages give it
    std::string command;  // compresses standard input to standard output
    std::string magic;    // the first bytes of its output
};

class Compressed : public ::testing::TestWithParam<Compressor> {};

// pcap and pcapng by path, by standard input and through a pipe; two
// compressed members one after the other are one capture.
TEST_P(Compressed, CapturesReadAsTheCaptureInside)
{
    ScratchDir dir;
    const std::string host = samplePath("fc-host.pcap");
    const std::string pcapng = dir.path("eth.pcapng");
    ASSERT_EQ(runProgram("editcap", {"-F", "pcapng", kEthFcoe, pcapng}).exitCode, 0);
    const std::string& compress = GetParam().command;
    auto shell = [&](const std::string& command, const std::string& name) {
        const std::string path = dir.path(name);
        EXPECT_EQ(runProgram("sh", {"-c", "{ " + command + "; } >'" + path + "'"}).exitCode, 0);
        return path;
    };
    const std::string hostZ = shell(compress + " <'" + host + "'", "host.z");
    const std::string pcapngZ = shell(compress + " <'" + pcapng + "'", "eth.pcapng.z");
    const std::string split = shell(
        "head -c 999 '" + host + "' | " + compress + "; tail -c +1000 '" + host + "' | " + compress,
        "split.z");
    const std::string plain = runReplay({host, pcapng}).out;
    ASSERT_FALSE(traceLines(plain).empty());
    EXPECT_EQ(runReplay({hostZ, pcapngZ}).out, plain);
    EXPECT_EQ(runReplay({"-", pcapngZ}, hostZ).out, plain);
    EXPECT_EQ(runReplay({split, pcapng}).out, plain);
    const RunResult piped =
        runShell(compress + " <'" + host + "' |", "-o '" + dir.path("t") + "' -", "");
    EXPECT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(traceLines(readFile(dir.path("t"))), traceLines(runReplay({host}).out));
}

TEST_P(Compressed, CutCorruptOrForeignContentIsReported)
{
    ScratchDir dir;
    const std::string whole =
        runProgram("sh", {"-c", GetParam().command + " <'" + samplePath("fc-host.pcap") + "'"}).out;
    writeFile(dir.path("cut"), whole.substr(0, whole.size() - 20));
    writeFile(dir.path("bad"), GetParam().magic + "junkjunk");
    const std::string name = GetParam().name;
    const RunResult cut = runReplay({"-o", dir.path("t"), dir.path("cut")});
    EXPECT_NE(cut.exitCode, 0);
    EXPECT_TRUE(contains(cut.err, ": " + name + " data cut short")) << cut.err;
    const RunResult bad = runReplay({"-o", dir.path("t"), dir.path("bad")});
    EXPECT_EQ(bad.exitCode, 3);
    EXPECT_TRUE(contains(bad.err, "bad: " + name + " data: ")) << bad.err;
    // Found by a field trial: the decompressor was read after libpcap's refusal closed it.
    const std::string text = dir.path("text");
    writeFile(text, runProgram("sh", {"-c", "echo no capture | " + GetParam().command}).out);
    const RunResult notCapture = runReplay({"-o", dir.path("t"), text});
    EXPECT_EQ(notCapture.exitCode, 3);
    EXPECT_TRUE(contains(notCapture.err, "text: unknown file format")) << notCapture.err;
}

INSTANTIATE_TEST_SUITE_P(, Compressed,
                         ::testing::Values(Compressor{"gzip", "gzip -c", "\x1f\x8b"},
                                           Compressor{"zstd", "zstd -q -c", "\x28\xb5\x2f\xfd"}),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace

int main(int argc, char** argv)
{
    if (runProgram("tcpdump", {"--version"}).exitCode != 0) {
        std::printf("tcpdump is not installed: cross-check skipped\n");
        return 77;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
