// The samples through tshark's tools, written elsewhere: tshark's decoding
// against what the replay traces (frame by frame the FC header fields, the
// ELS command and the MAC addresses must agree), and the samples converted
// to pcapng by editcap. Exits 77 (skipped) without tshark.
#include <gtest/gtest.h>

#include "support.h"

namespace {

const char* const kFields[] = {"fc.r_ctl", "fc.d_id",      "fc.s_id", "fc.type", "fc.ox_id",
                               "fc.rx_id", "fcels.opcode", "eth.dst", "eth.src"};
const char* const kTraceKeys[] = {"r_ctl", "d_id", "s_id", "type", "ox_id",
                                  "rx_id", "ELS",  "dmac", "smac"};
constexpr size_t kMacFields = 2;  // the last ones

// One frame from a trace line: the word after each key ("ELS NAME (04...": the command byte).
std::vector<std::string> fromTrace(const std::string& line)
{
    std::vector<std::string> f;
    for (const char* key : kTraceKeys) {
        std::smatch m;
        std::string pattern =
            std::string(" ") + key + (key[0] == 'E' ? R"( [^(]*\((..))" : R"( (\S+))");
        f.push_back(std::regex_search(line, m, std::regex(pattern)) ? m[1].str() : "");
    }
    return f;
}

// One frame from a tshark row: "0x22" -> "22", "ff.ff.fe" -> "fffffe".
std::vector<std::string> fromTshark(const std::string& row)
{
    std::vector<std::string> f;
    std::istringstream in(row);
    for (std::string cell; std::getline(in, cell, '\t');) {
        cell = std::regex_replace(cell, std::regex(R"(^0x|\.)"), "");
        std::transform(cell.begin(), cell.end(), cell.begin(), ::tolower);
        f.push_back(cell);
    }
    f.resize(std::size(kTraceKeys));
    if (!f[0].empty())  // FCoE is traced as the FC frame it carries: no MACs
        std::fill(f.end() - kMacFields, f.end(), "");
    return f;
}

TEST(TsharkCrossCheck, TraceShowsWhatTsharkDecodes)
{
    for (const std::string& sample : kSamples) {
        Args args{"-r", sample, "-T", "fields"};
        for (const char* field : kFields)
            args.insert(args.end(), {"-e", field});
        const RunResult tshark = runProgram("tshark", args);
        ASSERT_EQ(tshark.exitCode, 0) << tshark.err;
        const RunResult replay = runReplay({sample});
        ASSERT_EQ(replay.exitCode, 0) << replay.err;
        std::vector<std::vector<std::string>> decoded;
        std::vector<std::vector<std::string>> traced;
        std::istringstream rows(tshark.out);
        for (std::string row; std::getline(rows, row);)
            decoded.push_back(fromTshark(row));
        for (const std::string& line : traceLines(replay.out))
            traced.push_back(fromTrace(line));
        EXPECT_EQ(traced, decoded) << sample;
    }
}

TEST(TsharkCrossCheck, SamplesAsPcapngGiveTheGoldenFile)
{
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

}  // namespace

int main(int argc, char** argv)
{
    if (runProgram("tshark", {"--version"}).exitCode != 0) {
        std::printf("tshark is not installed: cross-check skipped\n");
        return 77;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
