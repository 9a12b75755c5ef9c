// Bad input never crashes the replay nor loses what was already traced:
// every problem gets one line naming the file (and frame), the rest of the
// input is still replayed, the output is still written, and the exit code
// says that something was skipped.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>

#include "captureBuilder.h"
#include "toolRun.h"

namespace {

constexpr int kExitSkipped = 1;
const Bytes kMacA{0x52, 0x54, 0x00, 0x12, 0x34, 0x56};
const Bytes kMacB{0x00, 0x1c, 0x73, 0x0a, 0x0b, 0x0c};

Bytes ipv4Frame(uint8_t tag)
{
    return ethBytes(kMacA, kMacB, {}, 0x0800, Bytes(46, tag));
}

struct BadInput {
    const char* name;
    // Writes the bad capture at `path`; the test adds a good file after it.
    std::function<void(const std::string& path)> make;
    const char* message;         // expected in the error line
    int framesStillTraced;       // traced from the bad file itself
};

void copyCut(const std::string& from, const std::string& to, size_t dropBytes)
{
    std::string content = readFile(from);
    writeFile(to, content.substr(0, content.size() - dropBytes));
}

const BadInput kBadInputs[] = {
    {"MissingFile", [](const std::string&) {}, "No such file or directory", 0},
    {"Directory", [](const std::string& path) { mkdir(path.c_str(), 0755); }, "", 0},
    {"NotACapture",
     [](const std::string& path) { writeFile(path, "this is not a capture file at all\n"); },
     "unknown file format", 0},
    {"EmptyFile", [](const std::string& path) { writeFile(path, ""); }, "", 0},
    {"TruncatedLastFrame",
     [](const std::string& path) { copyCut(samplePath("fc-host.pcap"), path, 10); },
     "frame 17: truncated", 16},
    {"TruncatedRecordHeader",
     [](const std::string& path) {
         std::string content = readFile(samplePath("fc-target.pcap"));
         writeFile(path, content + std::string(7, '\0'));   // half a record header
     },
     "frame 8: truncated", 7},
    {"CorruptCaptureLength",
     [](const std::string& path) {
         std::string content = readFile(samplePath("fc-target.pcap"));
         const size_t firstRecordCaplen = 24 + 8;
         content.replace(firstRecordCaplen, 4, std::string("\xff\xff\xff\x7f", 4));
         writeFile(path, content);
     },
     "frame 1: ", 0},
    {"UnsupportedLinkType",
     [](const std::string& path) { writeCapture(path, 105, {{kSampleStart, Bytes(40, 1)}}); },
     "unsupported link type 105", 0},
    {"EthernetFrameTooShort",
     [](const std::string& path) {
         writeCapture(path, 1,
                      {{kSampleStart, ipv4Frame(1)},
                       {kSampleStart + 1, Bytes(13, 0xFF)},
                       {kSampleStart + 2, ipv4Frame(2)}});
     },
     "frame 2: frame too short for its headers (13 bytes)", 2},
    {"FcoeFrameTooShort",
     [](const std::string& path) {
         writeCapture(path, 1,
                      {{kSampleStart, ethBytes(kMacA, kMacB, {0x81000000 | 1002}, 0x8906,
                                               Bytes(30, 0))},
                       {kSampleStart + 1, ipv4Frame(3)}});
     },
     "frame 1: frame too short", 1},
    {"FcFrameTooShort",
     [](const std::string& path) {
         Bytes frame = fcBytes(0x22, 0xFFFFFE, 0, 1, 1, 0xFFFF, {4, 0, 0, 0});
         writeCapture(path, 224,
                      {{kSampleStart, frame},
                       {kSampleStart + 1, Bytes(frame.begin(), frame.begin() + 20)},
                       {kSampleStart + 2, frame}});
     },
     "frame 2: frame too short", 2},
    {"DelimitedFcFrameWithoutTrailer",
     [](const std::string& path) { writeCapture(path, 225, {{kSampleStart, Bytes(30, 0xBC)}}); },
     "frame 1: frame too short", 0},
};

class BadInputs : public ::testing::TestWithParam<BadInput> {};

void PrintTo(const BadInput& c, std::ostream* out) { *out << c.name; }

TEST_P(BadInputs, AreReportedSkippedAndTheRestIsStillSaved)
{
    const BadInput& c = GetParam();
    ScratchDir dir;
    std::string bad = dir.path("bad.pcap");
    std::string saved = dir.path("saved.trace");
    c.make(bad);

    RunResult run = runReplay({"-o", saved, bad, samplePath("fc-target.pcap")});

    EXPECT_EQ(run.exitCode, kExitSkipped) << run.err;
    ASSERT_FALSE(run.err.empty());
    // One line, naming the file, then the message.
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_EQ(run.err.rfind("tracereplay: " + bad + ": ", 0), 0u) << run.err;
    EXPECT_TRUE(contains(run.err, c.message)) << run.err;

    std::vector<std::string> lines = traceLines(readFile(saved));
    size_t fromTarget = 0;
    for (const std::string& line : lines)
        fromTarget += contains(line, " port 1 ");
    EXPECT_EQ(fromTarget, 7u) << "the good file after the bad one is replayed";
    EXPECT_EQ(lines.size() - fromTarget, static_cast<size_t>(c.framesStillTraced));
}

INSTANTIATE_TEST_SUITE_P(
    Replay, BadInputs, ::testing::ValuesIn(kBadInputs),
    [](const ::testing::TestParamInfo<BadInput>& test) { return test.param.name; });

TEST(BadOutput, AnUnwritableOutputIsReportedAndTheDumpStillWritten)
{
    ScratchDir dir;
    std::string dump = dir.path("dump.txt");
    RunResult run = runReplay({"-o", dir.path("missing/dir/saved.trace"), "--dump", dump,
                               samplePath("fc-target.pcap")});
    EXPECT_EQ(run.exitCode, kExitSkipped);
    EXPECT_TRUE(contains(run.err, "missing/dir/saved.trace: cannot write")) << run.err;
    EXPECT_TRUE(contains(readFile(dump), "FrameFilters defined:"));
}

TEST(BadCommandLine, ExitsWithTwoAndPointsToHelp)
{
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"--buffer", "id=1,entries=3", "x.pcap"}, {"--nope"}}) {
        RunResult run = runReplay(args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(contains(run.err, "Try 'tracereplay --help'")) << run.err;
        EXPECT_TRUE(run.out.empty());
    }
}

}  // namespace
