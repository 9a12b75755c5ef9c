// The samples decoded by tshark, a decoder written elsewhere, against what
// the replay traces for them: frame by frame, the FC header fields, the ELS
// command and the MAC addresses must agree. Exits 77 (skipped) when tshark
// is not installed.
#include <gtest/gtest.h>

#include <sstream>

#include "toolRun.h"

namespace {

constexpr int kSkipped = 77;

// What both sides say about one frame; empty where a field does not apply.
struct FrameFields {
    std::string rCtl, dId, sId, type, oxId, rxId, elsCommand, dstMac, srcMac;
};

std::ostream& operator<<(std::ostream& out, const FrameFields& f)
{
    return out << "r_ctl " << f.rCtl << " d_id " << f.dId << " s_id " << f.sId << " type "
               << f.type << " ox_id " << f.oxId << " rx_id " << f.rxId << " els "
               << f.elsCommand << " dmac " << f.dstMac << " smac " << f.srcMac;
}

bool operator==(const FrameFields& a, const FrameFields& b)
{
    return a.rCtl == b.rCtl && a.dId == b.dId && a.sId == b.sId && a.type == b.type &&
           a.oxId == b.oxId && a.rxId == b.rxId && a.elsCommand == b.elsCommand &&
           a.dstMac == b.dstMac && a.srcMac == b.srcMac;
}

// "0x22" -> "22", "ff.ff.fe" -> "fffffe".
std::string plainHex(std::string text)
{
    if (text.rfind("0x", 0) == 0)
        text.erase(0, 2);
    std::string out;
    for (char c : text)
        if (c != '.')
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string wordAfter(const std::string& line, const std::string& key)
{
    size_t at = line.find(" " + key + " ");
    if (at == std::string::npos)
        return "";
    std::istringstream in(line.substr(at + key.size() + 2));
    std::string word;
    in >> word;
    return word;
}

FrameFields fromTrace(const std::string& line)
{
    FrameFields f;
    f.rCtl = wordAfter(line, "r_ctl");
    f.dId = wordAfter(line, "d_id");
    f.sId = wordAfter(line, "s_id");
    f.type = wordAfter(line, "type");
    f.oxId = wordAfter(line, "ox_id");
    f.rxId = wordAfter(line, "rx_id");
    size_t open = line.find(" ELS ");
    if (open != std::string::npos)   // "ELS NAME (04000000 ...": the command byte
        f.elsCommand = line.substr(line.find('(', open) + 1, 2);
    f.dstMac = wordAfter(line, "dmac");
    f.srcMac = wordAfter(line, "smac");
    return f;
}

std::vector<FrameFields> fromTshark(const std::string& output)
{
    std::vector<FrameFields> frames;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::istringstream row(line);
        for (std::string cell; std::getline(row, cell, '\t');)
            cells.push_back(plainHex(cell));
        cells.resize(10);
        FrameFields f{cells[0], cells[1], cells[2], cells[3], cells[4],
                      cells[5], cells[6], cells[7], cells[8]};
        // An FCoE frame is traced as the FC frame it carries: no MACs.
        if (cells[9] == "8906" || !f.rCtl.empty())
            f.dstMac = f.srcMac = "";
        frames.push_back(f);
    }
    return frames;
}

class TsharkCrossCheck : public ::testing::TestWithParam<const char*> {};

TEST_P(TsharkCrossCheck, TraceShowsWhatTsharkDecodes)
{
    std::string sample = samplePath(GetParam());
    RunResult tshark = runProgram(
        "tshark", {"-r", sample, "-T", "fields", "-e", "fc.r_ctl", "-e", "fc.d_id", "-e",
                   "fc.s_id", "-e", "fc.type", "-e", "fc.ox_id", "-e", "fc.rx_id", "-e",
                   "fcels.opcode", "-e", "eth.dst", "-e", "eth.src", "-e", "eth.type"});
    ASSERT_EQ(tshark.exitCode, 0) << tshark.err;   // stderr: root warnings, ignored
    RunResult replay = runReplay({sample});
    ASSERT_EQ(replay.exitCode, 0) << replay.err;

    std::vector<FrameFields> expected = fromTshark(tshark.out);
    std::vector<std::string> lines = traceLines(replay.out);
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(fromTrace(lines[i]), expected[i]) << "frame " << i + 1 << ": " << lines[i];
}

INSTANTIATE_TEST_SUITE_P(Samples, TsharkCrossCheck,
                         ::testing::Values("fc-host.pcap", "fc-target.pcap", "eth-fcoe.pcap"));

}  // namespace

int main(int argc, char** argv)
{
    if (runProgram("tshark", {"--version"}).exitCode != 0) {
        std::printf("tshark is not installed: cross-check skipped\n");
        return kSkipped;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
