// tracereplay: decoding per link type, the command line, whole captures
// against their saved files, and bad input.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <memory>

#include "frameDecode.h"
#include "hostsim.h"
#include "linkType.h"
#include "options.h"
#include "support.h"

using namespace replay;

namespace {

const Bytes kMacA{0x0e, 0xfc, 0x00, 0x01, 0x0a, 0x0b}, kMacB{0x00, 0x0d, 0xec, 0x01, 0x02, 0x03};
const Bytes kEls = fcBytes(0x22, 0xFFFFFE, 0x010A0B, 0x01, 0x0101, 0xFFFF, {4, 0, 0, 0});
constexpr uint32_t kVlan = 0x81000000 | 1002, kSTag = 0x88A800C8;
Bytes fcoe(const std::vector<uint32_t>& tags, const Bytes& fc) { return ethBytes(kMacB, kMacA, tags, 0x8906, fc); }

TEST(Decode, FramesPerLinkType)
{
    using S = DecodeStatus;
    const FrameKind E = FrameKind::Ethernet, F = FrameKind::Fc;
    const Bytes delimited = Bytes{0xBC, 0xB5, 0x56, 0x56} + kEls + Bytes{0, 0, 0, 0, 0xBC, 0x95, 0x75, 0x75};
    struct { const char* name; int link; Bytes bytes; S status; FrameKind kind = E; bool fcoe = false; } cases[] = {
        {"Fc2", kLinkFc2, kEls, S::Ok, F, false},
        {"Fc2Delimited", kLinkFc2Delimited, delimited, S::Ok, F, false},
        {"Ethernet", kLinkEthernet, ethBytes(kMacA, kMacB, {}, 0x0800, Bytes(46, 1)), S::Ok, E, false},
        {"FcoeUntagged", kLinkEthernet, fcoe({}, fcoeBytes(kEls)), S::Ok, F, true},
        {"FcoeTagged", kLinkEthernet, fcoe({kVlan}, fcoeBytes(kEls)), S::Ok, F, true},
        {"FcoeDoubleTagged", kLinkEthernet, fcoe({kSTag, kVlan}, fcoeBytes(kEls)), S::Ok, F, true},
        {"Fc2ShortHeader", kLinkFc2, Bytes(23, 0), S::TooShort},
        {"Fc2DelimitedNoTrailer", kLinkFc2Delimited, Bytes(4 + 24 + 7, 0xBC), S::TooShort},
        {"EthernetShortHeader", kLinkEthernet, Bytes(13, 0xFF), S::TooShort},
        {"TagWithoutEtherType", kLinkEthernet, ethBytes(kMacA, kMacB, {}, 0x8100, {}), S::TooShort},
        {"FcoeNoTrailer", kLinkEthernet, fcoe({}, Bytes(14 + 24 + 7, 0)), S::TooShort},
        {"Empty", kLinkEthernet, {}, S::TooShort},
        {"BeyondRecord", kLinkFc2, Bytes(24 + 10240 + 1, 0), S::TooLong},
        {"UnsupportedLinkType", 105, kEls, S::UnsupportedLinkType}};
    auto raw = std::make_unique<fcRawFrameStruct>();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DecodedFrame frame;
        ASSERT_EQ(decodeFrame(c.bytes.data(), c.bytes.size(), c.link, hostsimPort(4), *raw, frame), c.status);
        if (c.status != S::Ok) {   // a reused record holds no stale frame
            EXPECT_EQ(hostsimKind(raw.get()), HOSTSIM_KIND_NONE);
            continue;
        }
        EXPECT_EQ(frame.kind, c.kind);
        EXPECT_EQ(frame.fcoe, c.fcoe);
        EXPECT_EQ(hostsimRecordPort(raw.get()).h0, 4);
        EXPECT_EQ(hostsimKind(raw.get()), c.kind == F ? HOSTSIM_KIND_FC : HOSTSIM_KIND_ETHERNET);
        if (c.kind == F) {
            fcFrame fc{raw.get()};
            EXPECT_EQ(std::vector<uint32_t>({frame.sourceId, fc.Get_R_CTL(), fc.Get_OX_ID()}),
                      std::vector<uint32_t>({0x010A0B, 0x22, 0x0101}));
        }
    }
    Bytes payload = fcoeBytes(kEls);
    payload[14 + kEls.size() + 3] = 0x7A;   // last CRC byte
    Bytes bytes = fcoe({kVlan}, payload);
    DecodedFrame frame;
    ASSERT_EQ(decodeFrame(bytes.data(), bytes.size(), kLinkEthernet, hostsimPort(0), *raw, frame), S::Ok);
    EXPECT_EQ(std::vector<uint32_t>({raw->record[HOSTSIM_D_SOF], raw->record[HOSTSIM_D_EOF],
                                     raw->record[HOSTSIM_D_CHECK_VALUE], raw->record[HOSTSIM_D_FRAME_BYTES]}),
              std::vector<uint32_t>({HOSTSIM_SOF_I3, HOSTSIM_EOF_T, 0x7A, uint32_t(kEls.size())}));
    EXPECT_TRUE(frame.hasSourceMac && Bytes(frame.sourceMac, frame.sourceMac + 6) == kMacA);
}

TEST(Options, PortsFiltersAndLocalAddresses)
{
    for (auto [text, path, h0, h1, h2] : {std::tuple{"a.pcap", "a.pcap", 3, 0, 0}, {"a.pcap@7", "a.pcap", 7, 0, 0},
                                          {"a.pcap@2.7", "a.pcap", 0xFFFF, 2, 7},
                                          {"dir@x/b.pcap@0x10", "dir@x/b.pcap", 16, 0, 0}, {"@o.pcap", "@o.pcap", 3, 0, 0}}) {
        InputFile input = parseInputFile(text, 3);
        EXPECT_EQ(input.path, path);
        EXPECT_EQ(std::vector<int>({input.port.h0, input.port.h1, input.port.h2}), std::vector<int>({h0, h1, h2})) << text;
    }
    FilterRequest r = parseFilterRequest("match=fc,rctl=22,did=fffffe,sid=0x010200");   // one word, one field
    EXPECT_EQ(std::vector<uint32_t>({r.rule.field_1.offset, r.rule.field_1.mask, r.rule.field_1.value,
                                     r.rule.field_2.offset, r.rule.field_2.mask, r.rule.field_2.value, r.rule.field_3.mask}),
              std::vector<uint32_t>({25, ~0u, 0x22FFFFFE, 26, 0x00FFFFFF, 0x010200, 0}));
    EXPECT_EQ(parseFilterRequest("match=rjt,reason=00,steps=fchdr").rule.exact_reject, 0x100u);
    for (const char* good : {"0e:fc:00:01:0a:0B", "00-1b-21-aa-bb-cc", "010200", "0x010200", "01.02.00"})
        EXPECT_TRUE(LocalAddresses().add(good)) << good;
    for (const char* bad : {"0e:fc:00:01:0a", "0e:fc-00:01:0a:0b", "01020", "0x01020g", "", "0e:fc:00:01:0a:0b:0c", "1.2.3"})
        EXPECT_FALSE(LocalAddresses().add(bad)) << bad;
}

TEST(Options, BadCommandLinesAreRefusedWithAReasonAndExitTwo)
{
    const std::pair<Args, const char*> cases[] = {
        {{}, "no capture file"}, {{"--bogus", "x"}, "unknown option --bogus"}, {{"x", "-o"}, "needs a value"},
        {{"--fc=1", "x"}, "takes no value"}, {{"x@70000"}, "too large"}, {{"x@1.x"}, "bad port"},
        {{"--buffer", "name=x", "x"}, "has no id="}, {{"--buffer", "id=0", "x"}, "reserved"},
        {{"--buffer", "id=1,entries=100", "x"}, "not a power of two"}, {{"--buffer", "id=1,entries=0", "x"}, "power of two"},
        {{"--buffer", "id=1,size=8", "x"}, "unknown buffer setting"},
        {{"--buffer", "id=1", "--buffer", "id=1", "x"}, "defined twice"},
        {{"--filter", "buffer=3,match=els", "x"}, "no --buffer defines"}, {{"--filter", "match=ip", "x"}, "unknown match"},
        {{"--filter", "match=any", "x"}, "needs steps="}, {{"--filter", "match=els,steps=fchdr+tcp", "x"}, "unknown step"},
        {{"--filter", "match=fc,steps=pld", "x"}, "unknown step"}, {{"--filter", "match=fc,steps=pld:1:2:3:4", "x"}, "one to three"},
        {{"--filter", "match=eth,rctl=22", "x"}, "does not fit"}, {{"--filter", "match=fc,rctl=122", "x"}, "too large"},
        {{"--filter", "match=fc,reason=3", "x"}, "needs match=rjt"},
        {{"--filter", "match=fcp,rctl=6,sid=1,ethertype=1", "x"}, "does not fit"}, {{"--local", "host", "x"}, "neither a MAC"}};
    for (const auto& [args, message] : cases) {
        try {
            parseOptions(args);
            ADD_FAILURE() << message << ": accepted";
        } catch (const UsageError& error) {
            EXPECT_TRUE(contains(error.what(), message)) << error.what();
        }
    }
    for (const Args& args : {Args{}, {"--buffer", "id=1,entries=3", "x.pcap"}, {"--nope"}}) {
        RunResult run = runReplay(args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(contains(run.err, "Try 'tracereplay --help'") && run.out.empty()) << run.err;
    }
}

const std::vector<std::string> kSamples{"fc-host.pcap", "fc-target.pcap", "eth-fcoe.pcap"};

// The golden files were made by this tool from the samples; the capture
// clock makes the replay deterministic, so they must match byte for byte.
TEST(Golden, SamplesDefaultRoutedAndPcapng)
{
    Args args, ng;
    ScratchDir dir;
    for (const std::string& name : kSamples) {
        args.push_back(samplePath(name));
        ng.push_back(dir.path(name + "ng"));
        if (runProgram("editcap", {"-F", "pcapng", args.back(), ng.back()}).exitCode != 0)
            ng.clear();
    }
    const std::string golden = withoutSourceLines(readFile(goldenPath("samples-default.trace")));
    for (const Args& files : {args, ng}) {
        RunResult run = runReplay(files);
        ASSERT_EQ(run.exitCode, files.empty() ? 2 : 0) << run.err;
        EXPECT_TRUE(files.empty() || (run.err.empty() && withoutSourceLines(run.out) == golden)) << run.err;
    }
    RunResult run = runReplay({"-o", dir.path("routed.trace"), "--local", "010200", "--buffer", "id=1,name=FC",
                               "--buffer", "id=2,name=ELS,entries=256", "--fc", "--filter", "buffer=2,match=els",
                               samplePath("fc-host.pcap") + "@1", samplePath("fc-target.pcap") + "@2.7"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.out.empty());
    EXPECT_EQ(withoutSourceLines(readFile(dir.path("routed.trace"))),
              withoutSourceLines(readFile(goldenPath("samples-routed.trace"))));
}

TEST(Replay, FilesMergeInTimeOrderWithTiesInFileOrder)
{
    ScratchDir dir;
    auto frame = [](int64_t at, uint16_t oxId) {
        return TestFrame{kSampleStart + at, fcBytes(0x06, 0x010400, 0x010200, 8, oxId, 0xFFFF)};
    };
    writeCapture(dir.path("a"), 224, {frame(10, 0xA1), frame(30, 0xA2), frame(30, 0xA3), frame(20, 0xA4)});
    writeCapture(dir.path("b"), 224, {frame(5, 0xB1), frame(30, 0xB2), frame(40, 0xB3)});
    RunResult run = runReplay({dir.path("b"), dir.path("a")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::string order;   // a file whose times go back keeps its own order
    for (const std::string& line : traceLines(run.out))
        order += line.substr(line.find("ox_id ") + 8, 2) + " ";
    EXPECT_EQ(order, "b1 a1 b2 a2 a3 a4 b3 ");
    EXPECT_TRUE(contains(run.out, "09:30:00.000005 port 0 ") && contains(run.out, "09:30:00.000010 port 1 "));
}

TEST(Replay, LocalAddressesMakeFramesTransmitted)
{
    for (auto [local, sample, tx, rx] : {
             std::tuple{"", "fc-host.pcap", 0, 17}, {"010200", "fc-host.pcap", 7, 10},
             {"01.04.00", "fc-target.pcap", 4, 3}, {"52:54:00:12:34:56", "eth-fcoe.pcap", 4, 8},
             {"0e:fc:00:01:0a:0b", "eth-fcoe.pcap", 2, 10},   // FCoE: by MAC or by S_ID
             {"010a0b", "eth-fcoe.pcap", 2, 10}, {"00:1b:21:aa:bb:cc", "eth-fcoe.pcap", 1, 11}}) {
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
    RunResult run = runReplay({"--buffer", "id=1,name=FC", "--buffer", "id=2,name=ELS", "--fc", "--filter",
                               "buffer=2,match=els,steps=fchdr+els", samplePath("fc-host.pcap"),
                               samplePath("eth-fcoe.pcap")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    int counts[2] = {};
    for (const std::string& line : traceLines(run.out)) {
        bool els = contains(line, " ELS ");
        EXPECT_EQ(line.rfind(els ? "2: " : "1: ", 0), 0u) << line;
        EXPECT_FALSE(contains(line, "dmac")) << line;
        counts[els]++;
    }
    EXPECT_EQ(std::make_pair(counts[0], counts[1]), std::make_pair(3 + 2, 14 + 4));
    EXPECT_TRUE(contains(run.out, "FC ID: 1 Bytes: 1048600 Wrapped: false") && contains(run.out, "ELS ID: 2 "));
    // Only the LS_RJT with its reason word, and FCoE frames by EtherType.
    run = runReplay({"--filter", "match=rjt,reason=09,steps=fchdr+pld:1", "--filter",
                     "match=eth,ethertype=8906,steps=ethmac", samplePath("fc-host.pcap"), samplePath("eth-fcoe.pcap")});
    std::vector<std::string> lines = traceLines(run.out);
    ASSERT_EQ(lines.size(), 1u) << run.out;
    EXPECT_TRUE(contains(lines[0], "r_ctl 23 d_id 010200 s_id 010500") && contains(lines[0], "pld 1 00092900"));
}

TEST(Replay, SyslogDumpAndWallClock)
{
    ScratchDir dir;
    RunResult run = runReplay({"--syslog", "--dump", dir.path("dump"), "-o", dir.path("t"),
                               samplePath("fc-target.pcap")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.out.empty());
    EXPECT_TRUE(contains(run.err, "traceLib to syslog enabled")) << run.err;
    std::vector<std::string> lines = traceLines(readFile(dir.path("t")));
    EXPECT_EQ(lines.size(), 7u);
    for (const std::string& line : lines)   // records one blank apart on syslog, two in the file
        EXPECT_TRUE(contains(run.err, std::regex_replace(line.substr(line.find(": ") + 2), std::regex("  "), " ")));
    std::string dump = readFile(dir.path("dump"));
    EXPECT_TRUE(contains(dump, "3 FrameFilters defined:") && contains(dump, "Trace Buffer 1"));
    EXPECT_TRUE(contains(readFile(dir.path("t")), "3 TraceFrameFilters defined:"));
    run = runReplay({"--wall-clock", samplePath("fc-target.pcap")});
    EXPECT_EQ(traceLines(run.out).size(), 7u);
    EXPECT_FALSE(contains(run.out, "2024-05-14"));
}

// Every problem gets one line naming the file (and frame); the rest is
// still replayed, the output still written, and the exit code is 1.
TEST(Replay, BadInputIsReportedSkippedAndTheRestStillSaved)
{
    const Bytes ipv4 = ethBytes(kMacA, kMacB, {}, 0x0800, Bytes(46, 1)), fc = kEls;
    auto capture = [](uint32_t link, std::vector<Bytes> frames) {
        return [=](const std::string& path) {
            std::vector<TestFrame> records;
            for (const Bytes& b : frames)
                records.push_back({kSampleStart + int64_t(records.size()), b});
            writeCapture(path, link, records);
        };
    };
    auto edited = [](const char* sample, std::function<void(std::string&)> edit) {
        return [=](const std::string& path) {
            std::string content = readFile(samplePath(sample));
            edit(content);
            writeFile(path, content);
        };
    };
    const struct { std::function<void(const std::string&)> make; const char* message; size_t traced; } cases[] = {
        {[](const std::string&) {}, "No such file or directory", 0},
        {[](const std::string& p) { mkdir(p.c_str(), 0755); }, "", 0},
        {[](const std::string& p) { writeFile(p, "this is not a capture file at all\n"); }, "unknown file format", 0},
        {[](const std::string& p) { writeFile(p, ""); }, "", 0},
        {edited("fc-host.pcap", [](std::string& s) { s.resize(s.size() - 10); }), "frame 17: truncated", 16},
        {edited("fc-target.pcap", [](std::string& s) { s += std::string(7, '\0'); }), "frame 8: truncated", 7},
        {edited("fc-target.pcap", [](std::string& s) { s.replace(32, 4, "\xff\xff\xff\x7f"); }), "frame 1: ", 0},
        {capture(105, {Bytes(40, 1)}), "unsupported link type 105", 0},
        {capture(1, {ipv4, Bytes(13, 0xFF), ipv4}), "frame 2: frame too short for its headers (13 bytes)", 2},
        {capture(1, {fcoe({kVlan}, Bytes(30, 0)), ipv4}), "frame 1: frame too short", 1},
        {capture(224, {fc, Bytes(fc.begin(), fc.begin() + 20), fc}), "frame 2: frame too short", 2},
        {capture(225, {Bytes(30, 0xBC)}), "frame 1: frame too short", 0}};
    for (const auto& c : cases) {
        ScratchDir dir;
        std::string bad = dir.path("bad.pcap");
        c.make(bad);
        RunResult run = runReplay({"-o", dir.path("saved"), bad, samplePath("fc-target.pcap")});
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        EXPECT_TRUE(run.err.rfind("tracereplay: " + bad + ": ", 0) == 0 && contains(run.err, c.message)) << run.err;
        size_t fromTarget = 0, all = 0;   // the good file after the bad one is replayed
        for (const std::string& line : traceLines(readFile(dir.path("saved"))))
            fromTarget += contains(line, " port 1 "), ++all;
        EXPECT_EQ(std::make_pair(fromTarget, all - fromTarget), std::make_pair(size_t{7}, c.traced)) << c.message;
    }
    ScratchDir dir;
    RunResult run = runReplay({"-o", dir.path("missing/saved"), "--dump", dir.path("dump"), samplePath("fc-target.pcap")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(contains(run.err, "missing/saved: cannot write")) << run.err;
    EXPECT_TRUE(contains(readFile(dir.path("dump")), "FrameFilters defined:"));
}

}  // namespace
