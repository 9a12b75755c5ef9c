// tracereplay: decoding per link type, the command line, and whole captures
// against their saved files.
#include <gtest/gtest.h>

#include <memory>

#include "frameDecode.h"
#include "hostsim.h"
#include "support.h"

using namespace replay;

namespace {

const Bytes kMacA{0x0e, 0xfc, 0x00, 0x01, 0x0a, 0x0b};
const Bytes kMacB{0x00, 0x0d, 0xec, 0x01, 0x02, 0x03};
// An ELS (PLOGI command word only) from 010a0b to fffffe, OX_ID 0101.
const Bytes kEls = bigEndian({0x22FFFFFE, 0x010A0B, 0x01000000, 0, 0x0101FFFF, 0, 0x04000000});
const Words kNoTags{};
const Words kVlan{0x81000000 | 1002};
const Words kDoubleTag{0x88A800C8, 0x81000000 | 1002};
constexpr uint16_t kEtherTypeIpv4 = 0x0800;
constexpr uint16_t kEtherTypeVlan = 0x8100;
constexpr uint16_t kTestPort = 4;
constexpr int kUnknownLinkType = 105;
constexpr size_t kFcHeaderBytes = 24;
constexpr size_t kLargestFcPayload = 10240;

Bytes eth(const Words& tags, uint16_t type, const Bytes& payload)
{
    return kMacB + kMacA + bigEndian(tags) + Bytes{uint8_t(type >> 8), uint8_t(type)} + payload;
}

// FCoE: version and SOFi3, the FC frame, then CRC and EOFt.
Bytes fcoe(const Words& tags, const Bytes& fc)
{
    const Bytes header = Bytes(13, 0) + Bytes{0x2E};
    const Bytes trailer{0, 0, 0, 0x7A, 0x42, 0, 0, 0};
    return eth(tags, 0x8906, header + fc + trailer);
}

// Source line numbers of step descriptions ("src/x.cpp.101:") masked, so that
// golden files survive the library's sources moving by a line.
std::string withoutSourceLines(const std::string& text)
{
    return std::regex_replace(text, std::regex(R"((\.cpp)\.[0-9]+:)"), "$1.N:");
}

std::string golden(const std::string& name)
{
    return withoutSourceLines(readFile(GOLDEN_DIR "/" + name));
}

const Args kSamples{samplePath("fc-host.pcap"), samplePath("fc-target.pcap"),
                    samplePath("eth-fcoe.pcap")};

struct DecodeCase {
    const char* name;
    int link;
    Bytes bytes;
    DecodeStatus status;
    uint32_t kind;  // the record's kind; HOSTSIM_KIND_NONE when refused
    bool fcoe;
};

class Decode : public ::testing::TestWithParam<DecodeCase> {};

// A refused frame must leave no stale frame in the reused record.
TEST_P(Decode, GivesStatusKindAndFcFields)
{
    const DecodeCase& c = GetParam();
    auto raw = std::make_unique<fcRawFrameStruct>();
    DecodedFrame frame;
    const size_t size = c.bytes.size();
    const DecodeStatus status =
        decodeFrame(c.bytes.data(), size, c.link, hostsimPort(kTestPort), *raw, frame);
    ASSERT_EQ(status, c.status);
    EXPECT_EQ(hostsimKind(raw.get()), c.kind);
    EXPECT_EQ(frame.fcoe, c.fcoe);
    if (c.kind != HOSTSIM_KIND_FC)
        return;
    fcFrame fc{raw.get()};
    EXPECT_EQ(frame.sourceId, 0x010A0Bu);
    EXPECT_EQ(fc.Get_OX_ID(), 0x0101u);
    EXPECT_EQ(hostsimRecordPort(raw.get()).h0, kTestPort);
}

const Bytes kDelimitedEls = bigEndian({0xBCB55656}) + kEls + bigEndian({0, 0xBC957575});
const DecodeStatus kOk = DecodeStatus::Ok;
const DecodeStatus kShort = DecodeStatus::TooShort;

INSTANTIATE_TEST_SUITE_P(
    PerLinkType, Decode,
    ::testing::Values(
        DecodeCase{"Fc2", kLinkFc2, kEls, kOk, HOSTSIM_KIND_FC, false},
        DecodeCase{"Fc2Delimited", kLinkFc2Delimited, kDelimitedEls, kOk, HOSTSIM_KIND_FC, false},
        DecodeCase{"Ipv4", kLinkEthernet, eth(kNoTags, kEtherTypeIpv4, Bytes(46, 1)), kOk,
                   HOSTSIM_KIND_ETHERNET, false},
        DecodeCase{"Fcoe", kLinkEthernet, fcoe(kNoTags, kEls), kOk, HOSTSIM_KIND_FC, true},
        DecodeCase{"FcoeVlan", kLinkEthernet, fcoe(kVlan, kEls), kOk, HOSTSIM_KIND_FC, true},
        DecodeCase{"FcoeQinQ", kLinkEthernet, fcoe(kDoubleTag, kEls), kOk, HOSTSIM_KIND_FC, true},
        DecodeCase{"ShortFc", kLinkFc2, Bytes(kFcHeaderBytes - 1, 0), kShort, HOSTSIM_KIND_NONE,
                   false},
        DecodeCase{"ShortVlan", kLinkEthernet, eth(kNoTags, kEtherTypeVlan, {}), kShort,
                   HOSTSIM_KIND_NONE, false},
        DecodeCase{"LongFc", kLinkFc2, Bytes(kFcHeaderBytes + kLargestFcPayload + 1, 0),
                   DecodeStatus::TooLong, HOSTSIM_KIND_NONE, false},
        DecodeCase{"UnknownLink", kUnknownLinkType, kEls, DecodeStatus::UnsupportedLinkType,
                   HOSTSIM_KIND_NONE, false}),
    [](const auto& param) { return std::string(param.param.name); });

struct BadCommandLine {
    const char* name;
    Args args;
    const char* message;
};

class CommandLine : public ::testing::TestWithParam<BadCommandLine> {};

TEST_P(CommandLine, IsRefusedWithAReasonAndExitTwo)
{
    const RunResult run = runReplay(GetParam().args);
    EXPECT_EQ(run.exitCode, 2);
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
        BadCommandLine{"PortTooLarge", {"x@70000"}, "too large"},
        BadCommandLine{"BadPair", {"x@1.x"}, "bad port"},
        BadCommandLine{
            "EntriesNotPowerOfTwo", {"--buffer", "id=1,entries=100", "x"}, "not a power of two"},
        BadCommandLine{
            "BufferTwice", {"--buffer", "id=1", "--buffer", "id=1", "x"}, "defined twice"},
        BadCommandLine{"UnknownMatch", {"--filter", "match=ip", "x"}, "unknown match"},
        BadCommandLine{"FieldOfOtherKind", {"--filter", "match=eth,rctl=22", "x"}, "does not fit"},
        BadCommandLine{"BadLocal", {"--local", "host", "x"}, "neither a MAC"},
        BadCommandLine{"StdinTwice", {"-", "-@2"}, "standard input ('-') given more than once"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(Options, VersionIsTheProjectVersion)
{
    const RunResult run = runReplay({"--version"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "tracereplay (traceLib) " PROJECT_VERSION "\n");
}

TEST(Options, ReadAndWriteFlagsDoWhatPositionalFilesAndOutputDo)
{
    ScratchDir dir;
    const std::string saved = dir.path("saved");
    Args args{"-w", saved};
    for (const std::string& sample : kSamples)
        args.insert(args.end(), {"-r", sample});
    const RunResult run = runReplay(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(withoutSourceLines(readFile(saved)), golden("samples-default.trace"));
}

TEST(Options, StandardInputTakesAPort)
{
    const RunResult run = runReplay({"-@4"}, samplePath("fc-target.pcap"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> lines = traceLines(run.out);
    EXPECT_EQ(lines.size(), 7u);
    EXPECT_EQ(countOf(run.out, " port 4 "), lines.size());
}

// The golden files were made by this tool from the samples; the capture
// clock makes the replay deterministic, so they must match byte for byte.
TEST(Golden, SamplesGiveTheSavedFile)
{
    const RunResult run = runReplay(kSamples);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    EXPECT_EQ(withoutSourceLines(run.out), golden("samples-default.trace"));
}

TEST(Golden, SamplesAsPcapngGiveTheSameFile)
{
    if (!haveProgram("editcap"))
        GTEST_SKIP() << "editcap is not installed";
    ScratchDir dir;
    Args converted;
    for (const std::string& sample : kSamples) {
        converted.push_back(dir.path(std::filesystem::path(sample).filename().string() + "ng"));
        ASSERT_EQ(runProgram("editcap", {"-F", "pcapng", sample, converted.back()}).exitCode, 0);
    }
    const RunResult run = runReplay(converted);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(withoutSourceLines(run.out), golden("samples-default.trace"));
}

TEST(Golden, BuffersPortsAndLocalAddressesGiveTheRoutedFile)
{
    ScratchDir dir;
    const RunResult run = runReplay(
        {"-o", dir.path("routed.trace"), "--local", "010200", "--buffer", "id=1,name=FC",
         "--buffer", "id=2,name=ELS,entries=256", "--fc", "--filter", "buffer=2,match=els",
         samplePath("fc-host.pcap") + "@1", samplePath("fc-target.pcap") + "@2.7"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.out.empty());
    const std::string saved = withoutSourceLines(readFile(dir.path("routed.trace")));
    EXPECT_EQ(saved, golden("samples-routed.trace"));
}

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
    Args args{samplePath(c.sample)};
    if (*c.address)
        args.insert(args.begin(), {"--local", c.address});
    const RunResult run = runReplay(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(countOf(run.out, "  tx "), c.transmitted);
    EXPECT_EQ(countOf(run.out, "  rx "), c.received);
}

// FCoE frames count as sent by their MAC or by their S_ID.
INSTANTIATE_TEST_SUITE_P(
    Samples, LocalAddress,
    ::testing::Values(LocalCase{"NoneLocal", "", "fc-host.pcap", 0, 17},
                      LocalCase{"FcHost", "010200", "fc-host.pcap", 7, 10},
                      LocalCase{"FcTargetDotted", "01.04.00", "fc-target.pcap", 4, 3},
                      LocalCase{"EthernetMac", "52:54:00:12:34:56", "eth-fcoe.pcap", 4, 8},
                      LocalCase{"FcoeByMac", "0e:fc:00:01:0a:0b", "eth-fcoe.pcap", 2, 10},
                      LocalCase{"FcoeBySourceId", "010a0b", "eth-fcoe.pcap", 2, 10}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(Replay, ElsFilterRoutesElsToItsBuffer)
{
    const RunResult run =
        runReplay({"--buffer", "id=1,name=FC", "--buffer", "id=2,name=ELS", "--fc", "--filter",
                   "buffer=2,match=els,steps=fchdr+els", samplePath("fc-host.pcap")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const std::string& line : traceLines(run.out))
        EXPECT_EQ(line.rfind(contains(line, " ELS ") ? "2: " : "1: ", 0), 0u) << line;
    EXPECT_TRUE(contains(run.out, "ELS ID: 2 ")) << run.out;
}

TEST(Replay, SyslogMirrorsEveryTraceToStandardError)
{
    ScratchDir dir;
    const RunResult run =
        runReplay({"--syslog", "-o", dir.path("t"), samplePath("fc-target.pcap")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> lines = traceLines(readFile(dir.path("t")));
    ASSERT_EQ(lines.size(), 7u);
    for (const std::string& line : lines) {  // one blank apart on syslog, two in the file
        const std::string record = line.substr(line.find(": ") + 2);
        EXPECT_TRUE(contains(run.err, std::regex_replace(record, std::regex("  "), " "))) << line;
    }
}

TEST(Replay, DumpIsWrittenBesideTheTrace)
{
    ScratchDir dir;
    const RunResult run =
        runReplay({"--dump", dir.path("dump"), "-o", dir.path("t"), samplePath("fc-target.pcap")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(contains(readFile(dir.path("dump")), "3 FrameFilters defined:"));
}

}  // namespace
