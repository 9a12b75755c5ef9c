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

// dash's ulimit -f counts 512-byte blocks; SIGXFSZ ignored turns the
// limit into write errors (EFBIG), as a full disk gives ENOSPC.
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
                          "FullTemporaryDirectory", "trap '' XFSZ; ulimit -f 2;", "", ">/dev/null",
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

}  // namespace
