// TraceEls.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "hostsim.h"
#include "stepTestUtil.h"
#include "wire.h"

namespace {

// The named ELS commands; every other code is "CMD".
const std::map<int, std::string>& elsNames()
{
    static const std::map<int, std::string> names = {
        {0x01, "LS_RJT"},   {0x02, "LS_ACC"},     {0x03, "PLOGI"},    {0x04, "FLOGI"},
        {0x05, "LOGO"},     {0x06, "ABTX"},       {0x07, "RCS"},      {0x08, "RES"},
        {0x09, "RSS"},      {0x0A, "RSI"},        {0x0B, "ESTS"},     {0x0C, "ESTC"},
        {0x0D, "ADVC"},     {0x0E, "RTV"},        {0x0F, "RLS"},      {0x10, "ECHO_ELS"},
        {0x11, "TEST_ELS"}, {0x12, "RRQ"},        {0x13, "REC"},      {0x20, "PRLI"},
        {0x21, "PRLO"},     {0x24, "TPRLO"},      {0x30, "GAID"},     {0x31, "FACT"},
        {0x32, "FDACT"},    {0x50, "PDISC"},      {0x51, "FDISC"},    {0x52, "ADISC"},
        {0x54, "FARP_REQ"}, {0x55, "FARP_REPLY"}, {0x56, "RPS"},      {0x57, "RPL"},
        {0x58, "RPBC"},     {0x60, "FAN"},        {0x61, "RSCN"},     {0x62, "SCR"},
        {0x70, "LINIT"},    {0x71, "LPC"},        {0x72, "LSTS"},     {0x78, "RNID"},
        {0x79, "RLIR"},     {0x7A, "LIRR"},       {0x7B, "SCL"},      {0x7F, "EVFP"},
        {0x90, "AUTH_ELS"}, {0xFF, "RTIN"},
    };
    return names;
}

std::string nameOf(int code)
{
    auto it = elsNames().find(code);
    return it == elsNames().end() ? "CMD" : it->second;
}

std::string elsText(const std::string& name, uint32_t w1, uint32_t w2, uint32_t w3)
{
    return sprintfText("ELS %s (%8.8x %8.8x %8.8x)", name.c_str(), w1, w2, w3);
}

std::unique_ptr<HostFcFrame> parseFc(const Bytes& bytes)
{
    std::unique_ptr<HostFcFrame> frame(new HostFcFrame(bytes, hostsimPort(3)));
    EXPECT_TRUE(frame->ok()) << hostsimStatusText(frame->status);
    return frame;
}

}  // namespace

TEST(Els, IsAPayloadStepOfWordsZeroOneTwo)
{
    TraceEls step;
    for (int k = 0; k < 3; ++k) {
        EXPECT_TRUE(step.payload_m[k].valid) << k;
        EXPECT_EQ(step.payload_m[k].index, k);
    }
    TraceFcPayload* asPayload = &step;
    EXPECT_NE(asPayload, nullptr);
}

// Every one of the 256 codes, each with several low 24-bit patterns: the 46
// named codes give their names, all 210 others "CMD"; the low 24 bits never
// change the name; all three words print as eight hex digits.
TEST(Els, EveryCodeNamesItsCommand)
{
    ASSERT_EQ(elsNames().size(), 46u);
    TraceEls step;
    int named = 0;
    int cmd = 0;
    for (int code = 0; code <= 0xff; ++code) {
        const std::string name = nameOf(code);
        (name == "CMD" ? cmd : named)++;
        for (uint32_t low : {0x000000u, 0x000001u, 0x123456u, 0x800000u, 0xffffffu}) {
            TraceEntry e;
            e.word1 = (static_cast<uint32_t>(code) << 24) | low;
            e.word2 = 0x01020304u ^ static_cast<uint32_t>(code);
            e.word3 = 0xa0b0c0d0u + low;
            e.flags = static_cast<uint16_t>(code & 0x7f);   // flags play no part
            EXPECT_EQ(formatted(step, e), elsText(name, e.word1, e.word2, e.word3))
                << "code 0x" << std::hex << code << " low 0x" << low;
        }
    }
    EXPECT_EQ(named, 46);
    EXPECT_EQ(cmd, 210);
}

TEST(Els, SelectedCodes)
{
    TraceEls step;
    TraceEntry e;
    EXPECT_EQ(formatted(step, e), "ELS CMD (00000000 00000000 00000000)");
    e.word1 = 0x90000000;
    EXPECT_EQ(formatted(step, e), "ELS AUTH_ELS (90000000 00000000 00000000)");
    e.word1 = 0xff000001;
    EXPECT_EQ(formatted(step, e), "ELS RTIN (ff000001 00000000 00000000)");
    for (uint32_t code : {0x14u, 0x22u, 0x53u, 0x7cu, 0x80u, 0xfeu}) {
        e.word1 = code << 24 | 0xabcdef;
        e.word2 = 0x11;
        e.word3 = 0x22;
        EXPECT_EQ(formatted(step, e), elsText("CMD", e.word1, 0x11, 0x22)) << code;
    }
    e.word1 = 0x03ffffff;
    EXPECT_EQ(formatted(step, e), "ELS PLOGI (03ffffff 00000011 00000022)");
    e.word1 = 0x55000000;
    e.word2 = 0xffffffff;
    e.word3 = 0xffffffff;
    std::string longest = formatted(step, e);
    EXPECT_EQ(longest, "ELS FARP_REPLY (55000000 ffffffff ffffffff)");
    EXPECT_EQ(longest.size(), 43u) << "the longest text";
}

TEST(Els, CapturesAPlogiAndItsAccept)
{
    TraceEls step;
    auto plogi = parseFc(plogiRequest());
    TraceEntry request;
    request.flags = TRACE_ENTRY_RX;
    step.capture(&request, &plogi->frame, nullptr);
    EXPECT_EQ(request.word1, 0x03000000u);
    EXPECT_EQ(request.word2, 0x2020000au);
    EXPECT_EQ(request.word3, 0x88000800u);
    EXPECT_EQ(request.flags, TRACE_ENTRY_RX);
    EXPECT_EQ(formatted(step, request), "ELS PLOGI (03000000 2020000a 88000800)");

    auto accept = parseFc(plogiAccept());
    TraceEntry reply;
    reply.flags = TRACE_ENTRY_TX;
    TraceStep& base = step;
    base.capture(&reply, &accept->frame, nullptr);
    EXPECT_EQ(reply.word1, 0x02000000u);
    EXPECT_EQ(formatted(base, reply), "ELS LS_ACC (02000000 2020000a 88000800)");
}

TEST(Els, ShortElsFramesAreMarkedAndStillNamed)
{
    TraceEls step;
    // LOGO request cut after its command word and one more byte.
    auto cut = parseFc(elsFrame({0x05, 0x00, 0x00, 0x00, 0x00}));
    TraceEntry e;
    step.capture(&e, &cut->frame, nullptr);
    EXPECT_EQ(e.word1, 0x05000000u);
    EXPECT_EQ(e.word2, 0u);
    EXPECT_EQ(e.word3, 0u);
    EXPECT_EQ(e.flags, TRACE_ENTRY_PAYLOAD_MISSING);
    EXPECT_EQ(formatted(step, e), "ELS LOGO (05000000 00000000 00000000)");

    auto empty = parseFc(fcHeader(kPlogiHeader));
    TraceEntry n;
    step.capture(&n, &empty->frame, nullptr);
    EXPECT_EQ(n.flags, TRACE_ENTRY_PAYLOAD_MISSING);
    EXPECT_EQ(formatted(step, n), "ELS CMD (00000000 00000000 00000000)");
}

TEST(Els, FormatWritesInsteadOfAppending)
{
    TraceEls step;
    TraceEntry e;
    e.word1 = 0x61000004;
    char buf[100];
    strcpy(buf, "left over");
    step.format(&e, buf, sizeof buf);
    EXPECT_STREQ(buf, "ELS RSCN (61000004 00000000 00000000)");
}

TEST(Els, CutAtSmallSizes)
{
    TraceEls step;
    TraceEntry e;
    e.word1 = 0x55000000;
    e.word2 = 0xdeadbeef;
    e.word3 = 0x00c0ffee;
    expectBoundedAtEverySize(step, e, "ELS FARP_REPLY (55000000 deadbeef 00c0ffee)");
    char buf[8];
    memset(buf, 'z', sizeof buf);
    buf[0] = '\0';
    step.format(&e, buf, 5);
    EXPECT_STREQ(buf, "ELS ");
    EXPECT_EQ(buf[5], 'z');
    auto plogi = parseFc(plogiRequest());
    TraceEntry p;
    step.capture(&p, &plogi->frame, nullptr);
    expectBoundedAtEverySize(step, p, "ELS PLOGI (03000000 2020000a 88000800)");
}
