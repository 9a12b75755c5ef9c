// The command line: capture ports, buffers, filters and local addresses.
#include <gtest/gtest.h>

#include "hostsim.h"
#include "options.h"

using namespace replay;

namespace {

Options parse(std::vector<std::string> args)
{
    return parseOptions(args);
}

TEST(InputFiles, PortsComeFromTheNameOrThePosition)
{
    struct Case { const char* text; unsigned index; const char* path; port_id_t port; };
    const Case cases[] = {
        {"a.pcap", 3, "a.pcap", {3, 0, 0}},
        {"a.pcap@7", 0, "a.pcap", {7, 0, 0}},
        {"a.pcap@2.7", 0, "a.pcap", {0xFFFF, 2, 7}},
        {"dir@x/b.pcap@0x10", 0, "dir@x/b.pcap", {16, 0, 0}},
        {"@odd.pcap", 1, "@odd.pcap", {1, 0, 0}},
    };
    for (const Case& c : cases) {
        InputFile input = parseInputFile(c.text, c.index);
        EXPECT_EQ(input.path, c.path) << c.text;
        EXPECT_EQ(input.port.h0, c.port.h0) << c.text;
        EXPECT_EQ(input.port.h1, c.port.h1) << c.text;
        EXPECT_EQ(input.port.h2, c.port.h2) << c.text;
    }
}

TEST(Defaults, OneBufferAndAllThreePresets)
{
    Options options = parse({"x.pcap"});
    ASSERT_EQ(options.buffers.size(), 1u);
    EXPECT_EQ(options.buffers[0].id, 1);
    ASSERT_EQ(options.filters.size(), 3u);
    EXPECT_EQ(options.filters[0].kind, FilterKind::FcPreset);
    EXPECT_EQ(options.filters[1].kind, FilterKind::EthPreset);
    EXPECT_EQ(options.filters[2].kind, FilterKind::ElsPreset);
    EXPECT_TRUE(options.outputPath.empty());
}

TEST(Defaults, AnyFilterOptionReplacesThePresets)
{
    Options options = parse({"--els", "x.pcap"});
    ASSERT_EQ(options.filters.size(), 1u);
    EXPECT_EQ(options.filters[0].kind, FilterKind::ElsPreset);
}

TEST(Buffers, KeysAndFlags)
{
    Options options = parse({"--buffer", "id=2,name=ELS frames,entries=0x400,current",
                             "--buffer=id=5", "x.pcap"});
    ASSERT_EQ(options.buffers.size(), 2u);
    EXPECT_EQ(options.buffers[0].id, 2);
    EXPECT_EQ(options.buffers[0].name, "ELS frames");
    EXPECT_EQ(options.buffers[0].entries, 1024);
    EXPECT_TRUE(options.buffers[0].current);
    EXPECT_EQ(options.buffers[1].id, 5);
    EXPECT_FALSE(options.buffers[1].current);
}

TEST(Filters, ElsMatchTestsTheRoutingBitsOfRctl)
{
    FilterRequest request = parseFilterRequest("buffer=2,match=els");
    EXPECT_EQ(request.bufferId, 2);
    EXPECT_EQ(request.rule.offset_from, 1u);
    EXPECT_EQ(request.rule.field_1.offset, 25u);
    EXPECT_EQ(request.rule.field_1.mask, 0xF0000000u);
    EXPECT_EQ(request.rule.field_1.value, 0x20000000u);
    ASSERT_EQ(request.steps.size(), 2u);
    EXPECT_EQ(request.steps[0].kind, StepKind::FcHeader);
    EXPECT_EQ(request.steps[1].kind, StepKind::Els);
}

TEST(Filters, FieldsOfOneWordShareAField)
{
    FilterRequest request = parseFilterRequest("match=fc,rctl=22,did=fffffe,sid=0x010200");
    EXPECT_EQ(request.rule.field_1.offset, 25u);
    EXPECT_EQ(request.rule.field_1.mask, 0xFFFFFFFFu);
    EXPECT_EQ(request.rule.field_1.value, 0x22FFFFFEu);
    EXPECT_EQ(request.rule.field_2.offset, 26u);
    EXPECT_EQ(request.rule.field_2.mask, 0x00FFFFFFu);
    EXPECT_EQ(request.rule.field_2.value, 0x010200u);
    EXPECT_EQ(request.rule.field_3.mask, 0u);
}

TEST(Filters, RejectsAndEtherTypeAndSteps)
{
    FilterRequest rjt = parseFilterRequest("match=rjt,reason=00,steps=fchdr+pld:0:1");
    EXPECT_EQ(rjt.rule.only_rejects, 1u);
    EXPECT_EQ(rjt.rule.exact_reject, 0x100u);   // reason 00 must still be asked for
    ASSERT_EQ(rjt.steps.size(), 2u);
    EXPECT_EQ(rjt.steps[1].kind, StepKind::FcPayload);
    EXPECT_EQ(rjt.steps[1].payloadWords[0], 0);
    EXPECT_EQ(rjt.steps[1].payloadWords[1], 1);
    EXPECT_EQ(rjt.steps[1].payloadWords[2], -1);

    FilterRequest eth = parseFilterRequest("ethertype=8906,steps=ethmac");
    EXPECT_EQ(eth.rule.offset_from, 2u);
    EXPECT_EQ(eth.rule.field_1.offset, 13u);
    EXPECT_EQ(eth.rule.field_1.value, 0x8906u);
}

TEST(LocalAddresses, MacsAndFcIds)
{
    const char* good[] = {"0e:fc:00:01:0a:0B", "00-1b-21-aa-bb-cc", "010200", "0x010200",
                          "01.02.00"};
    const char* bad[] = {"0e:fc:00:01:0a", "0e:fc-00:01:0a:0b", "01020", "0x01020g", "",
                         "0e:fc:00:01:0a:0b:0c", "1.2.3"};
    for (const char* text : good)
        EXPECT_TRUE(LocalAddresses().add(text)) << text;
    for (const char* text : bad)
        EXPECT_FALSE(LocalAddresses().add(text)) << text;
}

TEST(LocalAddresses, FcoeFramesCountAsSentByMacOrSid)
{
    LocalAddresses local;
    ASSERT_TRUE(local.add("0e:fc:00:01:0a:0b"));
    ASSERT_TRUE(local.add("010200"));
    DecodedFrame fcoe;
    fcoe.kind = FrameKind::Fc;
    fcoe.hasSourceMac = true;
    const uint8_t mac[6] = {0x0e, 0xfc, 0x00, 0x01, 0x0a, 0x0b};
    std::copy(mac, mac + 6, fcoe.sourceMac);
    EXPECT_TRUE(local.isTransmitted(fcoe));
    fcoe.sourceMac[5] = 0x0c;
    EXPECT_FALSE(local.isTransmitted(fcoe));
    fcoe.sourceId = 0x010200;
    EXPECT_TRUE(local.isTransmitted(fcoe));
    DecodedFrame ethernet;   // an Ethernet frame's S_ID field means nothing
    ethernet.sourceId = 0x010200;
    EXPECT_FALSE(local.isTransmitted(ethernet));
}

struct BadCommandLine { std::vector<std::string> args; const char* message; };

class BadCommandLines : public ::testing::TestWithParam<BadCommandLine> {};

void PrintTo(const BadCommandLine& c, std::ostream* out)
{
    for (const std::string& arg : c.args)
        *out << arg << ' ';
}

TEST_P(BadCommandLines, AreRefusedWithAReason)
{
    try {
        parse(GetParam().args);
        FAIL() << "accepted";
    } catch (const UsageError& error) {
        EXPECT_NE(std::string(error.what()).find(GetParam().message), std::string::npos)
            << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Options, BadCommandLines,
    ::testing::Values(
        BadCommandLine{{}, "no capture file"},
        BadCommandLine{{"--bogus", "x.pcap"}, "unknown option --bogus"},
        BadCommandLine{{"x.pcap", "-o"}, "needs a value"},
        BadCommandLine{{"--fc=1", "x.pcap"}, "takes no value"},
        BadCommandLine{{"x.pcap@70000"}, "too large"},
        BadCommandLine{{"x.pcap@1.x"}, "bad port"},
        BadCommandLine{{"--buffer", "name=x", "x.pcap"}, "has no id="},
        BadCommandLine{{"--buffer", "id=0", "x.pcap"}, "reserved"},
        BadCommandLine{{"--buffer", "id=1,entries=100", "x.pcap"}, "not a power of two"},
        BadCommandLine{{"--buffer", "id=1,entries=0", "x.pcap"}, "not a power of two"},
        BadCommandLine{{"--buffer", "id=1,size=8", "x.pcap"}, "unknown buffer setting"},
        BadCommandLine{{"--buffer", "id=1", "--buffer", "id=1", "x.pcap"}, "defined twice"},
        BadCommandLine{{"--filter", "buffer=3,match=els", "x.pcap"}, "no --buffer defines"},
        BadCommandLine{{"--filter", "match=ip", "x.pcap"}, "unknown match"},
        BadCommandLine{{"--filter", "match=any", "x.pcap"}, "needs steps="},
        BadCommandLine{{"--filter", "match=els,steps=fchdr+tcp", "x.pcap"}, "unknown step"},
        BadCommandLine{{"--filter", "match=fc,steps=pld", "x.pcap"}, "unknown step"},
        BadCommandLine{{"--filter", "match=fc,steps=pld:1:2:3:4", "x.pcap"}, "one to three"},
        BadCommandLine{{"--filter", "match=eth,rctl=22", "x.pcap"}, "does not fit"},
        BadCommandLine{{"--filter", "match=fc,rctl=122", "x.pcap"}, "too large"},
        BadCommandLine{{"--filter", "match=fc,reason=3", "x.pcap"}, "needs match=rjt"},
        BadCommandLine{{"--filter", "match=fcp,rctl=6,sid=1,ethertype=1", "x.pcap"},
                       "does not fit"},
        BadCommandLine{{"--local", "host", "x.pcap"}, "neither a MAC"}));

}  // namespace
