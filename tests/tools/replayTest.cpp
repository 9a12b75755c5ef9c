// tracereplay: decoding per link type, the command line, whole captures
// against their saved files, and bad input.
#include <gtest/gtest.h>

#include <memory>

#include "frameDecode.h"
#include "hostsim.h"
#include "support.h"

using namespace replay;

namespace {

using Bytes = std::vector<uint8_t>;
using Words = std::vector<uint32_t>;

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes W(const Words& words)  // big-endian
{
    Bytes b;
    for (uint32_t w : words)
        b.insert(b.end(), {uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w)});
    return b;
}
const Bytes kMacA{0x0e, 0xfc, 0x00, 0x01, 0x0a, 0x0b}, kMacB{0x00, 0x0d, 0xec, 0x01, 0x02, 0x03};
// An ELS (PLOGI-sized command word only) from 010a0b to fffffe, OX_ID 0101.
const Bytes kEls = W({0x22FFFFFE, 0x010A0B, 0x01000000, 0, 0x0101FFFF, 0, 0x04000000});
constexpr uint32_t kVlan = 0x81000000 | 1002, kSTag = 0x88A800C8;
Bytes eth(const Words& tags, uint16_t type, const Bytes& payload)
{
    return kMacB + kMacA + W(tags) + Bytes{uint8_t(type >> 8), uint8_t(type)} + payload;
}
// FCoE: version and SOFi3, the FC frame, then CRC and EOFt.
Bytes fcoe(const Words& tags, const Bytes& fc)
{
    return eth(tags, 0x8906, Bytes(13, 0) + Bytes{0x2E} + fc + Bytes{0, 0, 0, 0x7A, 0x42, 0, 0, 0});
}
// 2024-05-14 09:30:00 UTC in microseconds, the samples' epoch.
constexpr int64_t kSampleStart = 1715679000LL * 1000000;
// A classic little-endian capture file; frame i at micros[i] (default i) past the epoch.
std::string capture(uint32_t link, const std::vector<Bytes>& frames,
                    const std::vector<int64_t>& micros = {})
{
    std::string file;
    auto le = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            file += char(v >> 8 * i);
    };
    for (uint32_t v : {0xa1b2c3d4u, 0x00040002u, 0u, 0u, 65535u, link})
        le(v);
    for (size_t i = 0; i < frames.size(); ++i) {
        int64_t at = kSampleStart + (micros.empty() ? int64_t(i) : micros[i]);
        for (size_t v :
             {size_t(at / 1000000), size_t(at % 1000000), frames[i].size(), frames[i].size()})
            le(uint32_t(v));
        file.append(frames[i].begin(), frames[i].end());
    }
    return file;
}
// Source line numbers of step descriptions ("src/x.cpp.101:") masked, so that
// golden files survive the library's sources moving by a line.
std::string withoutSourceLines(const std::string& text)
{
    return std::regex_replace(text, std::regex(R"((\.cpp)\.[0-9]+:)"), "$1.N:");
}

TEST(Decode, FramesPerLinkType)
{
    using S = DecodeStatus;
    const FrameKind E = FrameKind::Ethernet, F = FrameKind::Fc;
    struct {
        int link;
        Bytes bytes;
        S status;
        FrameKind kind = E;
        bool fcoe = false;
    } cases[] = {{kLinkFc2, kEls, S::Ok, F},
                 {kLinkFc2Delimited, W({0xBCB55656}) + kEls + W({0, 0xBC957575}), S::Ok, F},
                 {kLinkEthernet, eth({}, 0x0800, Bytes(46, 1)), S::Ok},
                 {kLinkEthernet, fcoe({}, kEls), S::Ok, F, true},
                 {kLinkEthernet, fcoe({kVlan}, kEls), S::Ok, F, true},
                 {kLinkEthernet, fcoe({kSTag, kVlan}, kEls), S::Ok, F, true},
                 {kLinkFc2, Bytes(23, 0), S::TooShort},
                 {kLinkEthernet, eth({}, 0x8100, {}), S::TooShort},
                 {kLinkFc2, Bytes(24 + 10240 + 1, 0), S::TooLong},
                 {105, kEls, S::UnsupportedLinkType}};
    auto raw = std::make_unique<fcRawFrameStruct>();
    for (const auto& c : cases) {
        DecodedFrame frame;
        ASSERT_EQ(decodeFrame(c.bytes.data(), c.bytes.size(), c.link, hostsimPort(4), *raw, frame),
                  c.status);
        fcFrame fc{raw.get()};  // a failed decode leaves no stale frame in the reused record
        EXPECT_EQ(hostsimKind(raw.get()), c.status != S::Ok ? HOSTSIM_KIND_NONE
                                          : c.kind == F     ? HOSTSIM_KIND_FC
                                                            : HOSTSIM_KIND_ETHERNET)
            << &c - cases;
        EXPECT_TRUE(c.status != S::Ok || (frame.kind == c.kind && frame.fcoe == c.fcoe))
            << &c - cases;
        EXPECT_TRUE(c.status != S::Ok || c.kind != F ||
                    Words({frame.sourceId, fc.Get_R_CTL(), fc.Get_OX_ID(),
                           hostsimRecordPort(raw.get()).h0}) == Words({0x010A0B, 0x22, 0x0101, 4}))
            << &c - cases;
        EXPECT_TRUE(!c.fcoe ||
                    (frame.hasSourceMac && Bytes(frame.sourceMac, frame.sourceMac + 6) == kMacA));
    }
}

TEST(Options, BadCommandLinesAreRefusedWithAReasonAndExitTwo)
{
    const std::pair<Args, const char*> cases[] = {
        {{}, "no capture file"},
        {{"--bogus", "x"}, "unknown option --bogus"},
        {{"x", "-o"}, "needs a value"},
        {{"--fc=1", "x"}, "takes no value"},
        {{"x@70000"}, "too large"},
        {{"x@1.x"}, "bad port"},
        {{"--buffer", "id=1,entries=100", "x"}, "not a power of two"},
        {{"--buffer", "id=1", "--buffer", "id=1", "x"}, "defined twice"},
        {{"--filter", "match=ip", "x"}, "unknown match"},
        {{"--filter", "match=eth,rctl=22", "x"}, "does not fit"},
        {{"--local", "host", "x"}, "neither a MAC"}};
    for (const auto& [args, message] : cases) {
        RunResult run = runReplay(args);
        EXPECT_EQ(run.exitCode, 2) << message;
        EXPECT_TRUE(contains(run.err, message) && contains(run.err, "Try 'tracereplay --help'") &&
                    run.out.empty())
            << run.err;
    }
}

// The golden files were made by this tool from the samples; the capture
// clock makes the replay deterministic, so they must match byte for byte.
TEST(Golden, SamplesDefaultRoutedAndPcapng)
{
    Args args, ng;
    ScratchDir dir;
    for (const std::string name : {"fc-host.pcap", "fc-target.pcap", "eth-fcoe.pcap"}) {
        args.push_back(samplePath(name));
        ng.push_back(dir.path(name + "ng"));
        if (runProgram("editcap", {"-F", "pcapng", args.back(), ng.back()}).exitCode != 0)
            ng.clear();
    }
    const std::string golden = withoutSourceLines(readFile(GOLDEN_DIR "/samples-default.trace"));
    for (const Args& files : {args, ng}) {  // without editcap: no pcapng run
        RunResult run = runReplay(files);
        ASSERT_EQ(run.exitCode, files.empty() ? 2 : 0) << run.err;
        EXPECT_TRUE(files.empty() || (run.err.empty() && withoutSourceLines(run.out) == golden))
            << run.err;
    }
    RunResult run = runReplay({"-o", dir.path("routed.trace"), "--local", "010200", "--buffer",
                               "id=1,name=FC", "--buffer", "id=2,name=ELS,entries=256", "--fc",
                               "--filter", "buffer=2,match=els", samplePath("fc-host.pcap") + "@1",
                               samplePath("fc-target.pcap") + "@2.7"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.out.empty());
    EXPECT_EQ(withoutSourceLines(readFile(dir.path("routed.trace"))),
              withoutSourceLines(readFile(GOLDEN_DIR "/samples-routed.trace")));
}

TEST(Replay, FilesMergeInTimeOrderWithTiesInFileOrder)
{
    ScratchDir dir;
    auto frames = [](const Words& oxIds) {  // one FCP frame per OX_ID
        std::vector<Bytes> out;
        for (uint32_t ox : oxIds)
            out.push_back(W({0x06010400, 0x010200, 0x08000000, 0, ox << 16 | 0xFFFF, 0}));
        return out;
    };
    writeFile(dir.path("a"), capture(224, frames({0xA1, 0xA2, 0xA3, 0xA4}), {10, 30, 30, 20}));
    writeFile(dir.path("b"), capture(224, frames({0xB1, 0xB2, 0xB3}), {5, 30, 40}));
    RunResult run = runReplay({dir.path("b"), dir.path("a")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::string order;  // a file whose times go back keeps its own order
    for (const std::string& line : traceLines(run.out))
        order += line.substr(line.find("ox_id ") + 8, 2) + " ";
    EXPECT_EQ(order, "b1 a1 b2 a2 a3 a4 b3 ");
    EXPECT_TRUE(contains(run.out, "09:30:00.000005 port 0 ") &&
                contains(run.out, "09:30:00.000010 port 1 "));
}

TEST(Replay, LocalAddressesMakeFramesTransmitted)
{
    for (auto [local, sample, tx, rx] :
         {std::tuple{"", "fc-host.pcap", 0, 17},
          {"010200", "fc-host.pcap", 7, 10},
          {"01.04.00", "fc-target.pcap", 4, 3},
          {"52:54:00:12:34:56", "eth-fcoe.pcap", 4, 8},
          {"0e:fc:00:01:0a:0b", "eth-fcoe.pcap", 2, 10},  // FCoE: by MAC or by S_ID
          {"010a0b", "eth-fcoe.pcap", 2, 10},
          {"00:1b:21:aa:bb:cc", "eth-fcoe.pcap", 1, 11}}) {
        Args args{samplePath(sample) + "@9"};
        if (*local)
            args.insert(args.begin(), {"--local", local});
        RunResult run = runReplay(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        int counts[2] = {};
        for (const std::string& line : traceLines(run.out)) {
            EXPECT_TRUE(contains(line, " port 9 ")) << line;
            counts[0] += contains(line, "  tx "), counts[1] += contains(line, "  rx ");
        }
        EXPECT_EQ(std::make_pair(counts[0], counts[1]), std::make_pair(tx, rx)) << local;
    }
}

TEST(Replay, ElsToOneBufferOtherFcToAnother)
{
    RunResult run = runReplay({"--buffer", "id=1,name=FC", "--buffer", "id=2,name=ELS", "--fc",
                               "--filter", "buffer=2,match=els,steps=fchdr+els",
                               samplePath("fc-host.pcap"), samplePath("eth-fcoe.pcap")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    int counts[2] = {};
    for (const std::string& line : traceLines(run.out)) {
        bool els = contains(line, " ELS ");
        EXPECT_EQ(line.rfind(els ? "2: " : "1: ", 0), 0u) << line;
        EXPECT_FALSE(contains(line, "dmac")) << line;
        counts[els]++;
    }
    EXPECT_EQ(std::make_pair(counts[0], counts[1]), std::make_pair(3 + 2, 14 + 4));
    EXPECT_TRUE(contains(run.out, "FC ID: 1 Bytes: 1048600 Wrapped: false") &&
                contains(run.out, "ELS ID: 2 "));
}

TEST(Replay, SyslogAndDump)
{
    ScratchDir dir;
    RunResult run = runReplay({"--syslog", "--dump", dir.path("dump"), "-o", dir.path("t"),
                               samplePath("fc-target.pcap")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.out.empty());
    EXPECT_TRUE(contains(run.err, "traceLib to syslog enabled")) << run.err;
    std::vector<std::string> lines = traceLines(readFile(dir.path("t")));
    EXPECT_EQ(lines.size(), 7u);
    for (const std::string& line : lines)  // records one blank apart on syslog, two in the file
        EXPECT_TRUE(contains(
            run.err, std::regex_replace(line.substr(line.find(": ") + 2), std::regex("  "), " ")));
    std::string dump = readFile(dir.path("dump"));
    EXPECT_TRUE(contains(dump, "3 FrameFilters defined:") && contains(dump, "Trace Buffer 1"));
    EXPECT_TRUE(contains(readFile(dir.path("t")), "3 TraceFrameFilters defined:"));
}

// Every problem gets one line naming the file (and frame); the rest is
// still replayed, the output still written, and the exit code is 1.
TEST(Replay, BadInputIsReportedSkippedAndTheRestStillSaved)
{
    const Bytes ipv4 = eth({}, 0x0800, Bytes(46, 1));
    const std::string host = readFile(samplePath("fc-host.pcap"));
    std::string corrupt = readFile(samplePath("fc-target.pcap"));
    corrupt.replace(32, 4, "\xff\xff\xff\x7f");  // first frame's length
    const struct {
        bool exists;
        std::string content;
        const char* message;
        size_t traced;
    } cases[] = {
        {false, "", "No such file or directory", 0},
        {true, "not a capture file at all\n", "unknown file format", 0},
        {true, "", "", 0},
        {true, host.substr(0, host.size() - 10), "frame 17: truncated", 16},
        {true, corrupt, "frame 1: ", 0},
        {true, capture(105, {Bytes(40, 1)}), "unsupported link type 105", 0},
        {true, capture(1, {ipv4, Bytes(13, 0xFF), ipv4}),
         "frame 2: frame too short for its headers (13 bytes)", 2},
        {true, capture(1, {fcoe({kVlan}, Bytes(10, 0)), ipv4}), "frame 1: frame too short", 1},
        {true, capture(224, {kEls, Bytes(kEls.begin(), kEls.begin() + 20), kEls}),
         "frame 2: frame too short", 2},
        {true, capture(225, {Bytes(30, 0xBC)}), "frame 1: frame too short", 0}};
    for (const auto& c : cases) {
        ScratchDir dir;
        const std::string bad = dir.path("bad.pcap");
        if (c.exists)
            writeFile(bad, c.content);
        RunResult run = runReplay({"-o", dir.path("saved"), bad, samplePath("fc-target.pcap")});
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        EXPECT_TRUE(run.err.rfind("tracereplay: " + bad + ": ", 0) == 0 &&
                    contains(run.err, c.message))
            << run.err;
        size_t fromTarget = 0, all = 0;  // the good file after the bad one is replayed
        for (const std::string& line : traceLines(readFile(dir.path("saved"))))
            fromTarget += contains(line, " port 1 "), ++all;
        EXPECT_EQ(std::make_pair(fromTarget, all - fromTarget), std::make_pair(size_t{7}, c.traced))
            << c.message;
    }
}

}  // namespace
