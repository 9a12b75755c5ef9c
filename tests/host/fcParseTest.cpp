#include <gtest/gtest.h>

#include <memory>

#include "frameBytes.h"
#include "hostsim.h"

namespace {

struct FcCase {
    const char* name;
    Bytes (*bytes)();
    uint32_t rctl, did, sid, type, oxid, rxid;
    unsigned payloadWords;
    uint32_t firstPayloadWord;
};

class FcHeaderDecode : public ::testing::TestWithParam<FcCase> {};

TEST_P(FcHeaderDecode, FieldsMatchTheWireBytes)
{
    const FcCase& c = GetParam();
    auto f = std::make_unique<HostFcFrame>(c.bytes(), hostsimPort(7));
    ASSERT_TRUE(f->ok()) << hostsimStatusText(f->status);
    EXPECT_EQ(f->frame.Get_R_CTL(), c.rctl);
    EXPECT_EQ(f->frame.Get_D_ID(), c.did);
    EXPECT_EQ(f->frame.Get_S_ID(), c.sid);
    EXPECT_EQ(f->frame.Get_TYPE(), c.type);
    EXPECT_EQ(f->frame.Get_OX_ID(), c.oxid);
    EXPECT_EQ(f->frame.Get_RX_ID(), c.rxid);
    unsigned words = 0;
    ASSERT_EQ(f->frame.GetLengthWords(&words), 0);
    EXPECT_EQ(words, c.payloadWords);
    unsigned first = 0;
    ASSERT_EQ(f->frame.GetPayload(0, 1, &first), 0);
    EXPECT_EQ(first, c.firstPayloadWord);
    EXPECT_EQ(f->frame.GetOrigPortID().h0, 7u);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, FcHeaderDecode,
    ::testing::Values(
        FcCase{"PlogiRequest", plogiRequest, 0x22, 0xfffffc, 0x010200, 0x01, 0x1234, 0xffff, 29,
               0x03000000},
        FcCase{"PlogiAccept", plogiAccept, 0x23, 0x010200, 0xfffffc, 0x01, 0x1234, 0x0456, 29,
               0x02000000},
        FcCase{"FcpCommand", fcpCommand, 0x06, 0x020300, 0x010200, 0x08, 0x0042, 0xffff, 8,
               0x00010000}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(FcPayload, WordsAreWireOrderValues)
{
    auto f = std::make_unique<HostFcFrame>(plogiRequest(), hostsimPort(1));
    unsigned names[4] = {};
    ASSERT_EQ(f->frame.GetPayload(20, 4, names), 0);   // port name, node name
    EXPECT_EQ(names[0], 0x10000005u);
    EXPECT_EQ(names[1], 0x1e123456u);
    EXPECT_EQ(names[2], 0x20000005u);
    EXPECT_EQ(names[3], 0x1e123456u);
}

TEST(FcPayload, RequestsOutsideThePayloadFail)
{
    auto f = std::make_unique<HostFcFrame>(fcpCommand(), hostsimPort(1));   // 8 words
    unsigned word = 0xdeadbeef;
    EXPECT_EQ(f->frame.GetPayload(28, 1, &word), 0);         // last word
    EXPECT_EQ(word, 0x00001000u);
    EXPECT_NE(f->frame.GetPayload(32, 1, &word), 0);         // one past the end
    EXPECT_NE(f->frame.GetPayload(28, 2, &word), 0);         // runs over the end
    EXPECT_NE(f->frame.GetPayload(2, 1, &word), 0);          // not word aligned
    EXPECT_NE(f->frame.GetPayload(0xfffffffc, 1, &word), 0);
    EXPECT_NE(f->frame.GetPayload(4, 0xffffffff, &word), 0); // count overflow
    EXPECT_EQ(f->frame.GetPayload(32, 0, nullptr), 0);       // nothing asked
}

TEST(FcPayload, PartialLastWordIsNotAPayloadWord)
{
    auto f = std::make_unique<HostFcFrame>(fcFrameWith(0x22, {1, 2, 3, 4, 5, 6, 7}),
                                           hostsimPort(1));
    unsigned words = 99;
    ASSERT_EQ(f->frame.GetLengthWords(&words), 0);
    EXPECT_EQ(words, 1u);
    unsigned word = 0;
    EXPECT_NE(f->frame.GetPayload(4, 1, &word), 0);
}

TEST(FcPayload, HeaderOnlyFrameHasNoPayloadWords)
{
    auto f = std::make_unique<HostFcFrame>(fcFrameWith(0x22, {}), hostsimPort(1));
    ASSERT_TRUE(f->ok());
    unsigned words = 99, word = 0;
    ASSERT_EQ(f->frame.GetLengthWords(&words), 0);
    EXPECT_EQ(words, 0u);
    EXPECT_NE(f->frame.GetPayload(0, 1, &word), 0);
}

struct DelimiterCase {
    Bytes sof;
    Bytes eof;
    HostsimSof sofCode;
    HostsimEof eofCode;
};

class FcDelimiters : public ::testing::TestWithParam<DelimiterCase> {};

TEST_P(FcDelimiters, AreDecodedAndStrippedWithTheCrc)
{
    const DelimiterCase& c = GetParam();
    const Bytes crc = {0x4a, 0x1f, 0x77, 0x02};
    Bytes wire = concat({c.sof, fcpCommand(), crc, c.eof});
    auto f = std::make_unique<HostFcFrame>(wire, hostsimPort(1), HostsimFcOptions{true, true});
    ASSERT_TRUE(f->ok());
    EXPECT_EQ(f->raw.record[HOSTSIM_D_SOF], c.sofCode);
    EXPECT_EQ(f->raw.record[HOSTSIM_D_EOF], c.eofCode);
    EXPECT_EQ(f->raw.record[HOSTSIM_D_HAS_CHECK], 1u);
    EXPECT_EQ(f->raw.record[HOSTSIM_D_CHECK_VALUE], 0x4a1f7702u);
    EXPECT_EQ(f->raw.record[HOSTSIM_D_WIRE_BYTES], wire.size());
    EXPECT_EQ(f->frame.Get_R_CTL(), 0x06u);
    EXPECT_EQ(f->frame.Get_OX_ID(), 0x0042u);
    unsigned words = 0, last = 0;
    ASSERT_EQ(f->frame.GetLengthWords(&words), 0);
    EXPECT_EQ(words, 8u);                                  // CRC and EOF not counted
    ASSERT_EQ(f->frame.GetPayload(28, 1, &last), 0);
    EXPECT_EQ(last, 0x00001000u);
}

INSTANTIATE_TEST_SUITE_P(
    OrderedSets, FcDelimiters,
    ::testing::Values(
        DelimiterCase{{0xbc, 0xb5, 0x56, 0x56}, {0xbc, 0x95, 0x75, 0x75}, HOSTSIM_SOF_I3, HOSTSIM_EOF_T},
        DelimiterCase{{0xbc, 0xb5, 0x36, 0x36}, {0xbc, 0xb5, 0xd5, 0xd5}, HOSTSIM_SOF_N3, HOSTSIM_EOF_N},
        DelimiterCase{{0xbc, 0xb5, 0x55, 0x55}, {0xbc, 0xb5, 0x75, 0x75}, HOSTSIM_SOF_I2, HOSTSIM_EOF_T},
        DelimiterCase{{0xbc, 0xb5, 0x35, 0x35}, {0xbc, 0x95, 0xd5, 0xd5}, HOSTSIM_SOF_N2, HOSTSIM_EOF_N},
        DelimiterCase{{0xbc, 0xb5, 0x58, 0x58}, {0xbc, 0x95, 0xf5, 0xf5}, HOSTSIM_SOF_F, HOSTSIM_EOF_A},
        DelimiterCase{{0xbc, 0xb5, 0x56, 0x57}, {0xbc, 0x95, 0x12, 0x12}, HOSTSIM_SOF_UNKNOWN,
                      HOSTSIM_EOF_UNKNOWN},
        DelimiterCase{{0x00, 0x00, 0x00, 0x00}, {0xbd, 0x95, 0x75, 0x75}, HOSTSIM_SOF_UNKNOWN,
                      HOSTSIM_EOF_UNKNOWN}));

TEST(FcParse, CrcWithoutDelimitersIsTheLastFourBytes)
{
    Bytes wire = concat({plogiRequest(), {0xde, 0xad, 0xbe, 0xef}});
    auto f = std::make_unique<HostFcFrame>(wire, hostsimPort(1), HostsimFcOptions{false, true});
    ASSERT_TRUE(f->ok());
    EXPECT_EQ(f->raw.record[HOSTSIM_D_SOF], HOSTSIM_SOF_NONE);
    EXPECT_EQ(f->raw.record[HOSTSIM_D_CHECK_VALUE], 0xdeadbeefu);
    unsigned words = 0;
    f->frame.GetLengthWords(&words);
    EXPECT_EQ(words, 29u);
}

TEST(FcParse, PortPairIsKept)
{
    auto f = std::make_unique<HostFcFrame>(plogiRequest(), hostsimPortPair(3, 12));
    port_id_t port = f->frame.GetOrigPortID();
    EXPECT_EQ(port.h0, 0xffffu);
    EXPECT_EQ(port.h1, 3u);
    EXPECT_EQ(port.h2, 12u);
}

struct LengthCase {
    size_t length;
    HostsimFcOptions options;
    HostsimStatus expected;
};

// Without this GoogleTest prints the case's raw bytes, padding included.
void PrintTo(const LengthCase& c, std::ostream* out)
{
    *out << c.length << " bytes, delimiters " << c.options.delimiters << ", crc "
         << c.options.crc;
}

class FcLengthLimits : public ::testing::TestWithParam<LengthCase> {};

TEST_P(FcLengthLimits, AreReported)
{
    const LengthCase& c = GetParam();
    Bytes wire(c.length, 0x22);
    auto raw = std::make_unique<fcRawFrameStruct>();
    EXPECT_EQ(hostsimParseFc(wire.data(), wire.size(), hostsimPort(1), c.options, raw.get()),
              c.expected);
    EXPECT_EQ(hostsimKind(raw.get()),
              c.expected == HOSTSIM_OK ? HOSTSIM_KIND_FC : HOSTSIM_KIND_NONE);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, FcLengthLimits,
    ::testing::Values(LengthCase{0, {}, HOSTSIM_TOO_SHORT}, LengthCase{23, {}, HOSTSIM_TOO_SHORT},
                      LengthCase{24, {}, HOSTSIM_OK},
                      LengthCase{27, {false, true}, HOSTSIM_TOO_SHORT},
                      LengthCase{28, {false, true}, HOSTSIM_OK},
                      LengthCase{35, {true, true}, HOSTSIM_TOO_SHORT},
                      LengthCase{36, {true, true}, HOSTSIM_OK},
                      LengthCase{kHostsimMaxFrameBytes, {}, HOSTSIM_OK},
                      LengthCase{kHostsimMaxFrameBytes + 1, {}, HOSTSIM_TOO_LONG},
                      LengthCase{kHostsimMaxFrameBytes + 12, {true, true}, HOSTSIM_OK},
                      LengthCase{kHostsimMaxFrameBytes + 13, {true, true}, HOSTSIM_TOO_LONG}));

TEST(FcParse, NullArgumentsAreRejected)
{
    auto raw = std::make_unique<fcRawFrameStruct>();
    Bytes wire = plogiRequest();
    EXPECT_EQ(hostsimParseFc(wire.data(), wire.size(), hostsimPort(1), {}, nullptr),
              HOSTSIM_NULL_ARGUMENT);
    EXPECT_EQ(hostsimParseFc(nullptr, 40, hostsimPort(1), {}, raw.get()), HOSTSIM_NULL_ARGUMENT);
    EXPECT_STRNE(hostsimStatusText(HOSTSIM_TOO_SHORT), hostsimStatusText(HOSTSIM_TOO_LONG));
}

TEST(FcParse, ReusedRecordShowsOnlyTheLatestFrame)
{
    auto raw = std::make_unique<fcRawFrameStruct>();
    fcFrame frame{raw.get()};
    Bytes big = plogiRequest(), small = fcFrameWith(0x01, {0xaa, 0xbb, 0xcc, 0xdd});
    ASSERT_EQ(hostsimParseFc(big.data(), big.size(), hostsimPort(1), {}, raw.get()), HOSTSIM_OK);
    ASSERT_EQ(hostsimParseFc(small.data(), small.size(), hostsimPort(2), {}, raw.get()), HOSTSIM_OK);
    unsigned words = 0, word = 0;
    frame.GetLengthWords(&words);
    EXPECT_EQ(words, 1u);
    EXPECT_NE(frame.GetPayload(4, 1, &word), 0);
    EXPECT_EQ(frame.Get_R_CTL(), 0x01u);
    EXPECT_EQ(frame.GetOrigPortID().h0, 2u);

    Bytes bad(10, 0);          // a failed parse leaves no frame behind
    EXPECT_EQ(hostsimParseFc(bad.data(), bad.size(), hostsimPort(3), {}, raw.get()),
              HOSTSIM_TOO_SHORT);
    EXPECT_NE(frame.GetLengthWords(&words), 0);
    EXPECT_EQ(frame.Get_R_CTL(), 0u);
}

TEST(FcParse, EthernetRecordHasNoFcView)
{
    auto f = std::make_unique<HostEthFrame>(ethernetFrame({}, 0x0800, ipv4Header()),
                                            hostsimPort(1));
    fcFrame asFc{&f->raw};
    unsigned words = 0;
    EXPECT_NE(asFc.GetLengthWords(&words), 0);
    EXPECT_EQ(asFc.Get_D_ID(), 0u);
}

}  // namespace
