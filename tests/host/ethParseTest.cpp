#include <gtest/gtest.h>

#include <memory>

#include "frameBytes.h"
#include "hostsim.h"

namespace {

const Bytes kCustomerTag = {0x81, 0x00, 0x60, 0x64};   // 802.1Q, priority 3, VLAN 100
const Bytes kServiceTag = {0x88, 0xa8, 0x00, 0xc8};    // 802.1ad, VLAN 200
const Bytes kOldServiceTag = {0x91, 0x00, 0x00, 0x0a};

struct TagCase {
    const char* name;
    std::vector<Bytes> tags;
    uint16_t etherType;
    unsigned headerWords;        // words wholly inside the MAC header
    uint32_t word3, word4;       // expected when present
};

class EthHeaderDecode : public ::testing::TestWithParam<TagCase> {};

TEST_P(EthHeaderDecode, HeaderAndPayloadWordsFollowTheTags)
{
    const TagCase& c = GetParam();
    auto f = std::make_unique<HostEthFrame>(ethernetFrame(c.tags, c.etherType, ipv4Header()),
                                            hostsimPort(4));
    ASSERT_TRUE(f->ok());
    EXPECT_EQ(f->raw.record[HOSTSIM_D_VLAN_TAGS], c.tags.size());
    EXPECT_EQ(f->raw.record[HOSTSIM_D_ETHERTYPE], c.etherType);
    EXPECT_EQ(*f->frame.PeekHeader(0), 0x001b213au);
    EXPECT_EQ(*f->frame.PeekHeader(1), 0x4f5e5254u);
    EXPECT_EQ(*f->frame.PeekHeader(2), 0x00123456u);
    for (unsigned w = 3; w < 6; ++w)
        EXPECT_EQ(f->frame.PeekHeader(w) != nullptr, w < c.headerWords) << "word " << w;
    if (c.headerWords > 3) {
        EXPECT_EQ(*f->frame.PeekHeader(3), c.word3);
    }
    if (c.headerWords > 4) {
        EXPECT_EQ(*f->frame.PeekHeader(4), c.word4);
    }
    // Payload words start right after the EtherType, whatever the header length.
    ASSERT_NE(f->frame.PeekPayload(0), nullptr);
    EXPECT_EQ(*f->frame.PeekPayload(0), 0x45000054u);
    EXPECT_EQ(*f->frame.PeekPayload(4), 0xc0a80101u);
    EXPECT_EQ(f->frame.PeekPayload(5), nullptr);
    unsigned char dst[6], src[6];
    f->frame.Get_D_ID(dst);
    f->frame.Get_S_ID(src);
    EXPECT_EQ(Bytes(dst, dst + 6), kDstMac);
    EXPECT_EQ(Bytes(src, src + 6), kSrcMac);
    EXPECT_EQ(f->frame.GetOrigPortID().h0, 4u);
}

INSTANTIATE_TEST_SUITE_P(
    Tags, EthHeaderDecode,
    ::testing::Values(TagCase{"Untagged", {}, 0x0800, 3, 0, 0},
                      TagCase{"CustomerTag", {kCustomerTag}, 0x8906, 4, 0x81006064, 0},
                      TagCase{"OldServiceTag", {kOldServiceTag}, 0x0800, 4, 0x9100000a, 0},
                      TagCase{"DoubleTag", {kServiceTag, kCustomerTag}, 0x0800, 5, 0x88a800c8,
                              0x81006064}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(EthParse, TagDescriptorWordsHoldTheTags)
{
    auto f = std::make_unique<HostEthFrame>(
        ethernetFrame({kServiceTag, kCustomerTag}, 0x0800, ipv4Header()), hostsimPort(1));
    EXPECT_EQ(f->raw.record[HOSTSIM_D_OUTER_TAG], 0x88a800c8u);
    EXPECT_EQ(f->raw.record[HOSTSIM_D_INNER_TAG], 0x81006064u);
    EXPECT_EQ(f->raw.record[HOSTSIM_D_HEADER_BYTES], 22u);
}

TEST(EthParse, AThirdTagIdentifierIsTheEtherType)
{
    Bytes wire = ethernetFrame({kServiceTag, kCustomerTag}, 0x8100, {0x00, 0x05, 0x08, 0x00});
    auto f = std::make_unique<HostEthFrame>(wire, hostsimPort(1));
    ASSERT_TRUE(f->ok());
    EXPECT_EQ(f->raw.record[HOSTSIM_D_VLAN_TAGS], 2u);
    EXPECT_EQ(f->raw.record[HOSTSIM_D_ETHERTYPE], 0x8100u);
    EXPECT_EQ(*f->frame.PeekPayload(0), 0x00050800u);
}

TEST(EthParse, FcsIsStrippedOnRequest)
{
    Bytes wire = concat({ethernetFrame({}, 0x0800, ipv4Header()), {0x12, 0x34, 0x56, 0x78}});
    auto kept = std::make_unique<HostEthFrame>(wire, hostsimPort(1));
    auto stripped = std::make_unique<HostEthFrame>(wire, hostsimPort(1), HostsimEthOptions{true});
    EXPECT_EQ(*kept->frame.PeekPayload(5), 0x12345678u);
    EXPECT_EQ(stripped->frame.PeekPayload(5), nullptr);
    EXPECT_EQ(stripped->raw.record[HOSTSIM_D_CHECK_VALUE], 0x12345678u);
    EXPECT_EQ(stripped->raw.record[HOSTSIM_D_PAYLOAD_BYTES], 20u);
}

struct PayloadCase {
    size_t payloadBytes;
    unsigned wholeWords;
};

class EthPartialPayload : public ::testing::TestWithParam<PayloadCase> {};

TEST_P(EthPartialPayload, OnlyWholeWordsArePeekable)
{
    const PayloadCase& c = GetParam();
    Bytes payload(c.payloadBytes, 0xab);
    auto f = std::make_unique<HostEthFrame>(ethernetFrame({kCustomerTag}, 0x0800, payload),
                                            hostsimPort(1));
    ASSERT_TRUE(f->ok());
    for (unsigned w = 0; w < c.wholeWords; ++w)
        ASSERT_NE(f->frame.PeekPayload(w), nullptr);
    EXPECT_EQ(f->frame.PeekPayload(c.wholeWords), nullptr);
    EXPECT_EQ(f->frame.PeekPayload(0xffffffffu), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Lengths, EthPartialPayload,
                         ::testing::Values(PayloadCase{0, 0}, PayloadCase{3, 0},
                                           PayloadCase{4, 1}, PayloadCase{7, 1},
                                           PayloadCase{46, 11}));

struct ShortCase {
    const char* name;
    Bytes wire;
    HostsimEthOptions options;
};

class EthTruncated : public ::testing::TestWithParam<ShortCase> {};

TEST_P(EthTruncated, IsTooShort)
{
    const ShortCase& c = GetParam();
    auto raw = std::make_unique<fcRawFrameStruct>();
    EXPECT_EQ(hostsimParseEthernet(c.wire.data(), c.wire.size(), hostsimPort(1), c.options,
                                   raw.get()),
              HOSTSIM_TOO_SHORT);
    EthernetFrame frame{raw.get()};
    EXPECT_EQ(frame.PeekHeader(0), nullptr);
    unsigned char mac[6] = {1, 1, 1, 1, 1, 1};
    frame.Get_D_ID(mac);
    EXPECT_EQ(Bytes(mac, mac + 6), Bytes(6, 0));
}

INSTANTIATE_TEST_SUITE_P(
    Frames, EthTruncated,
    ::testing::Values(
        ShortCase{"Empty", {}, {}},
        ShortCase{"NoEtherType", concat({kDstMac, kSrcMac}), {}},
        ShortCase{"HalfEtherType", concat({kDstMac, kSrcMac, {0x08}}), {}},
        ShortCase{"TagWithoutEtherType", concat({kDstMac, kSrcMac, kCustomerTag}), {}},
        ShortCase{"InnerTagCut", concat({kDstMac, kSrcMac, kServiceTag, {0x81, 0x00, 0x00}}), {}},
        ShortCase{"FcsEatsEtherType", concat({kDstMac, kSrcMac, {0x08, 0x00, 1, 2, 3}}), {true}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(EthParse, JumboLimit)
{
    auto raw = std::make_unique<fcRawFrameStruct>();
    Bytes wire = ethernetFrame({}, 0x0800, Bytes(kHostsimMaxFrameBytes - 14, 0x11));
    EXPECT_EQ(hostsimParseEthernet(wire.data(), wire.size(), hostsimPort(1), {}, raw.get()),
              HOSTSIM_OK);
    EthernetFrame frame{raw.get()};
    EXPECT_NE(frame.PeekPayload((kHostsimMaxFrameBytes - 14) / 4 - 1), nullptr);
    wire.push_back(0);
    EXPECT_EQ(hostsimParseEthernet(wire.data(), wire.size(), hostsimPort(1), {}, raw.get()),
              HOSTSIM_TOO_LONG);
}

}  // namespace
