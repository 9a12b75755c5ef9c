// tracereplay the way the field runs it: outputs that fail (a full device,
// a full temporary directory), outputs that name an input, inputs that are
// streams, names with '@' and blanks.
#include <gtest/gtest.h>

#include "support.h"

namespace {

constexpr int kExitNothingWritten = 3;
constexpr size_t kTargetFrames = 7;  // in samples/fc-target.pcap
const std::string kTarget = samplePath("fc-target.pcap");

struct FailedOutput {
    const char* name;
    std::string before;  // shell commands before the tool
    std::string args;
    std::string after;  // redirections
    std::string message;
};

class OutputFails : public ::testing::TestWithParam<FailedOutput> {};

// ulimit -f 1: 512 bytes (dash) or 1 KB (bash), less than the trace; with
// SIGXFSZ ignored the limit fails writes (EFBIG) as a full disk does (ENOSPC).
TEST_P(OutputFails, WithTheReasonAndStatus3)
{
    const FailedOutput& c = GetParam();
    const RunResult run = runShell(c.before, c.args + " '" + kTarget + "'", c.after);
    EXPECT_EQ(run.exitCode, kExitNothingWritten);
    EXPECT_TRUE(contains(run.err, c.message)) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    , OutputFails,
    ::testing::Values(FailedOutput{"FullDevice", "", "-o /dev/full", "",
                                   "/dev/full: cannot write: No space left"},
                      FailedOutput{"FullStandardOutput", "", "", ">/dev/full",
                                   "standard output: cannot write: No space left"},
                      FailedOutput{"FullDumpDevice", "", "-o /dev/null --dump /dev/full", "",
                                   "/dev/full: cannot write: No space left"},
                      FailedOutput{
                          "FullTemporaryDirectory", "trap '' XFSZ; ulimit -f 1;", "", ">/dev/null",
                          "cannot hold the saved trace for standard output: File too large"}),
    [](const auto& row) { return std::string(row.param.name); });

// By any name: the file itself, a link to it, standard input.
TEST(Outputs, NamingAnInputIsRefusedBeforeReading)
{
    ScratchDir dir;
    const std::string capture = dir.path("s.pcap");
    writeFile(capture, readFile(kTarget));
    std::filesystem::create_symlink(capture, dir.path("link"));
    const std::vector<std::pair<Args, std::string>> cases{
        {{"-o", capture, capture}, capture},
        {{"-w", dir.path("link"), dir.path("./s.pcap@3")}, dir.path("link")},
        {{"--dump", capture, "-o", dir.path("t"), "-"}, capture},
    };
    for (const auto& [args, output] : cases) {
        const RunResult run = runReplay(args, capture);
        EXPECT_EQ(run.exitCode, kExitNothingWritten);
        EXPECT_TRUE(contains(run.err, output + ": is also the capture")) << run.err;
        EXPECT_EQ(readFile(capture), readFile(kTarget));
        EXPECT_FALSE(std::filesystem::exists(dir.path("t")));
    }
}

TEST(Inputs, ExistingPathWithAtSignIsAPath)
{
    ScratchDir dir;
    const std::string capture = dir.path("cap@2024-05-14 09.30.pcap");
    writeFile(capture, readFile(kTarget));
    const RunResult run = runReplay({capture});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(countOf(run.out, " port 0 "), kTargetFrames);
    const RunResult withPort = runReplay({capture + "@5"});
    ASSERT_EQ(withPort.exitCode, 0) << withPort.err;
    EXPECT_EQ(countOf(withPort.out, " port 5 "), kTargetFrames);
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// An LS_ACC to a PLOGI: FC header, then 116 payload bytes from 02000000
// 20200003 88000840 on.
const Bytes kLsAcc = Bytes{0x23, 0x01, 0x02, 0x00, 0x00, 0x01, 0x04, 0x00, 0x01} + Bytes(15, 0) +
                     Bytes{0x02, 0, 0, 0, 0x20, 0x20, 0, 0x03, 0x88, 0, 0x08, 0x40} + Bytes(104, 0);
const Bytes kSof = {0xBC, 0xB5, 0x36, 0x36}, kCrcEof = {1, 2, 3, 4, 0xBC, 0x95, 0xD5, 0xD5};
const Bytes kFcoeHeader =
    Bytes(6, 0x0E) + Bytes(6, 0x52) + Bytes{0x89, 0x06} + Bytes(13, 0) + Bytes{0x36};
const Bytes kFcoeTrailer = {1, 2, 3, 4, 0x41, 0, 0, 0};
constexpr int kLinkTypeFc2Delimited = 225;

struct CutFrame {
    const char* name;
    int link;
    Bytes frame;
    uint32_t snap;
    std::string traced;  // the ELS step's text
    std::string record;  // its record in the dump: flags and words
};

class SnapLength : public ::testing::TestWithParam<CutFrame> {};

// The trailer of a cut frame was not captured: what was captured of the
// payload is traced, the rest is missing (flag 0x0004), never trailer bytes.
TEST_P(SnapLength, CapturedWordsAreTracedTheRestMissing)
{
    const CutFrame& c = GetParam();
    ScratchDir dir;
    writeFile(dir.path("cut"), pcapFile(c.link, {{0, c.frame}}, c.snap));
    const RunResult run = runReplay({"--dump", dir.path("dump"), dir.path("cut")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(contains(run.out, c.traced)) << run.out;
    EXPECT_TRUE(contains(readFile(dir.path("dump")), " id 00004 flags " + c.record));
}

const std::string kWhole = "0x0022 0x02000000 0x20200003 0x88000840";
const std::string kTwoWords = "0x0026 0x02000000 0x20200003 0x00000000";
const std::string kOneWord = "0x0026 0x02000000 0x00000000 0x00000000";

INSTANTIATE_TEST_SUITE_P(
    , SnapLength,
    ::testing::Values(
        CutFrame{"Delimited", kLinkTypeFc2Delimited, kSof + kLsAcc + kCrcEof, kNoSnapLimit,
                 "ELS LS_ACC (02000000 20200003 88000840)", kWhole},
        CutFrame{"DelimitedCutInPayload", kLinkTypeFc2Delimited, kSof + kLsAcc + kCrcEof, 36,
                 "ELS LS_ACC (02000000 20200003 00000000)", kTwoWords},
        CutFrame{"DelimitedCutAfterWord0", kLinkTypeFc2Delimited, kSof + kLsAcc + kCrcEof, 32,
                 "ELS LS_ACC (02000000 00000000 00000000)", kOneWord},
        CutFrame{"Fcoe", kLinkTypeEthernet, kFcoeHeader + kLsAcc + kFcoeTrailer, kNoSnapLimit,
                 "ELS LS_ACC (02000000 20200003 88000840)", kWhole},
        CutFrame{"FcoeCutAt64", kLinkTypeEthernet, kFcoeHeader + kLsAcc + kFcoeTrailer, 64,
                 "ELS LS_ACC (02000000 20200003 88000840)", kWhole},
        CutFrame{"FcoeCutInPayload", kLinkTypeEthernet, kFcoeHeader + kLsAcc + kFcoeTrailer, 60,
                 "ELS LS_ACC (02000000 20200003 00000000)", kTwoWords}),
    [](const auto& row) { return std::string(row.param.name); });

// Said once, with a count, instead of dates in 1901 without a word.
TEST(Frames, TimesFrom2038AreCountedOnce)
{
    constexpr int64_t kYears16 = int64_t{16} * 365 * 24 * 3600 * kMicrosPerSecond;
    ScratchDir dir;
    writeFile(dir.path("late"),
              pcapFile(kLinkTypeFc2,
                       {{0, fcpFrame(1)}, {kYears16, fcpFrame(2)}, {kYears16 + 1, fcpFrame(3)}}));
    const RunResult run = runReplay({dir.path("late")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(traceLines(run.out).size(), 3u);
    EXPECT_EQ(run.err,
              "tracereplay: 2 frames captured outside 1901-12-13 20:45:52 to 2038-01-19 03:14:07 "
              "UTC, which the trace's 32-bit seconds hold (traced with their times wrapped)\n");
}

// Segmentation offload hands the capture frames of tens of kilobytes.
TEST(Frames, OfAnyLengthAreTraced)
{
    const Bytes ipv4 = Bytes(12, 1) + Bytes{0x08, 0x00} + Bytes(32793, 1);
    ScratchDir dir;
    writeFile(dir.path("eth"), pcapFile(kLinkTypeEthernet, {{0, ipv4}}, 262144));
    writeFile(dir.path("fc"), pcapFile(kLinkTypeFc2, {{1, fcpFrame(1) + Bytes(65536, 0)}}, 262144));
    const RunResult run = runReplay({dir.path("eth"), dir.path("fc")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(traceLines(run.out).size(), 2u);
}

}  // namespace
