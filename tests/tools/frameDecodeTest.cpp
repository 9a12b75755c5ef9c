// Decoding capture bytes into frame records, per link type.
#include <gtest/gtest.h>

#include <memory>

#include "captureBuilder.h"
#include "frameDecode.h"
#include "linkType.h"

using namespace replay;

namespace {

const Bytes kMacA{0x0e, 0xfc, 0x00, 0x01, 0x0a, 0x0b};
const Bytes kMacB{0x00, 0x0d, 0xec, 0x01, 0x02, 0x03};
const Bytes kElsFrame = fcBytes(0x22, 0xFFFFFE, 0x010A0B, 0x01, 0x0101, 0xFFFF, {4, 0, 0, 0});

Bytes delimited(const Bytes& frame)
{
    const Bytes sofI3{0xBC, 0xB5, 0x56, 0x56};
    const Bytes crcAndEofT{0, 0, 0, 0, 0xBC, 0x95, 0x75, 0x75};
    Bytes out;
    out.reserve(sofI3.size() + frame.size() + crcAndEofT.size());
    for (const Bytes* part : {&sofI3, &frame, &crcAndEofT})
        out.insert(out.end(), part->begin(), part->end());
    return out;
}

struct DecodeCase {
    const char* name;
    int linkType;
    Bytes bytes;
    DecodeStatus status;
    FrameKind kind;
    bool fcoe;
    uint32_t sourceId;   // FC frames
};

class DecodeTable : public ::testing::TestWithParam<DecodeCase> {};

void PrintTo(const DecodeCase& c, std::ostream* out) { *out << c.name; }

TEST_P(DecodeTable, GivesTheExpectedFrame)
{
    const DecodeCase& c = GetParam();
    auto raw = std::make_unique<fcRawFrameStruct>();
    DecodedFrame frame;
    DecodeStatus status =
        decodeFrame(c.bytes.data(), c.bytes.size(), c.linkType, hostsimPort(4), *raw, frame);
    ASSERT_EQ(status, c.status) << decodeStatusText(status);
    if (status != DecodeStatus::Ok) {
        EXPECT_EQ(hostsimKind(raw.get()), HOSTSIM_KIND_NONE);
        return;
    }
    EXPECT_EQ(frame.kind, c.kind);
    EXPECT_EQ(frame.fcoe, c.fcoe);
    EXPECT_EQ(hostsimRecordPort(raw.get()).h0, 4);
    if (c.kind == FrameKind::Fc) {
        EXPECT_EQ(hostsimKind(raw.get()), HOSTSIM_KIND_FC);
        EXPECT_EQ(frame.sourceId, c.sourceId);
        fcFrame fc{raw.get()};
        EXPECT_EQ(fc.Get_R_CTL(), 0x22u);
        EXPECT_EQ(fc.Get_OX_ID(), 0x0101u);
    } else {
        EXPECT_EQ(hostsimKind(raw.get()), HOSTSIM_KIND_ETHERNET);
    }
}

const uint32_t kVlan = 0x81000000 | 1002;
const uint32_t kServiceTag = 0x88A800C8;

INSTANTIATE_TEST_SUITE_P(
    LinkTypes, DecodeTable,
    ::testing::Values(
        DecodeCase{"Fc2", kLinkFc2, kElsFrame, DecodeStatus::Ok, FrameKind::Fc, false, 0x010A0B},
        DecodeCase{"Fc2Delimited", kLinkFc2Delimited, delimited(kElsFrame), DecodeStatus::Ok,
                   FrameKind::Fc, false, 0x010A0B},
        DecodeCase{"Ethernet", kLinkEthernet, ethBytes(kMacA, kMacB, {}, 0x0800, Bytes(46, 1)),
                   DecodeStatus::Ok, FrameKind::Ethernet, false, 0},
        DecodeCase{"FcoeUntagged", kLinkEthernet,
                   ethBytes(kMacB, kMacA, {}, 0x8906, fcoeBytes(kElsFrame)), DecodeStatus::Ok,
                   FrameKind::Fc, true, 0x010A0B},
        DecodeCase{"FcoeVlanTagged", kLinkEthernet,
                   ethBytes(kMacB, kMacA, {kVlan}, 0x8906, fcoeBytes(kElsFrame)),
                   DecodeStatus::Ok, FrameKind::Fc, true, 0x010A0B},
        DecodeCase{"FcoeDoubleTagged", kLinkEthernet,
                   ethBytes(kMacB, kMacA, {kServiceTag, kVlan}, 0x8906, fcoeBytes(kElsFrame)),
                   DecodeStatus::Ok, FrameKind::Fc, true, 0x010A0B},
        // Too short: one byte less than each layer needs.
        DecodeCase{"Fc2ShortHeader", kLinkFc2, Bytes(23, 0), DecodeStatus::TooShort,
                   FrameKind::Fc, false, 0},
        DecodeCase{"Fc2DelimitedWithoutTrailer", kLinkFc2Delimited, Bytes(4 + 24 + 7, 0xBC),
                   DecodeStatus::TooShort, FrameKind::Fc, false, 0},
        DecodeCase{"EthernetShortHeader", kLinkEthernet, Bytes(13, 0xFF),
                   DecodeStatus::TooShort, FrameKind::Ethernet, false, 0},
        DecodeCase{"TagWithoutEtherType", kLinkEthernet, ethBytes(kMacA, kMacB, {}, 0x8100, {}),
                   DecodeStatus::TooShort, FrameKind::Ethernet, false, 0},
        DecodeCase{"FcoeWithoutTrailer", kLinkEthernet,
                   ethBytes(kMacB, kMacA, {}, 0x8906, Bytes(14 + 24 + 7, 0)),
                   DecodeStatus::TooShort, FrameKind::Fc, true, 0},
        DecodeCase{"EmptyFrame", kLinkEthernet, Bytes{}, DecodeStatus::TooShort,
                   FrameKind::Ethernet, false, 0},
        DecodeCase{"JumboBeyondRecord", kLinkFc2, Bytes(24 + 10240 + 1, 0),
                   DecodeStatus::TooLong, FrameKind::Fc, false, 0},
        DecodeCase{"UnsupportedLinkType", 105, kElsFrame, DecodeStatus::UnsupportedLinkType,
                   FrameKind::Fc, false, 0}),
    [](const ::testing::TestParamInfo<DecodeCase>& test) { return test.param.name; });

TEST(FcoeDecode, CarriesDelimitersAndCrcIntoTheRecord)
{
    Bytes payload = fcoeBytes(kElsFrame);
    payload[14 + kElsFrame.size() + 3] = 0x7A;   // last CRC byte
    Bytes bytes = ethBytes(kMacB, kMacA, {kVlan}, 0x8906, payload);
    auto raw = std::make_unique<fcRawFrameStruct>();
    DecodedFrame frame;
    ASSERT_EQ(decodeFrame(bytes.data(), bytes.size(), kLinkEthernet, hostsimPort(0), *raw, frame),
              DecodeStatus::Ok);
    EXPECT_EQ(raw->record[HOSTSIM_D_SOF], HOSTSIM_SOF_I3);
    EXPECT_EQ(raw->record[HOSTSIM_D_EOF], HOSTSIM_EOF_T);
    EXPECT_EQ(raw->record[HOSTSIM_D_CHECK_VALUE], 0x7Au);
    // The frame held is the FC frame alone: header and payload.
    EXPECT_EQ(raw->record[HOSTSIM_D_FRAME_BYTES], kElsFrame.size());
    EXPECT_TRUE(frame.hasSourceMac);
    EXPECT_EQ(Bytes(frame.sourceMac, frame.sourceMac + 6), kMacA);
}

TEST(FcoeDecode, ARecordReusedAfterAFailureHoldsNoStaleFrame)
{
    auto raw = std::make_unique<fcRawFrameStruct>();
    DecodedFrame frame;
    Bytes good = ethBytes(kMacB, kMacA, {}, 0x8906, fcoeBytes(kElsFrame));
    ASSERT_EQ(decodeFrame(good.data(), good.size(), kLinkEthernet, hostsimPort(0), *raw, frame),
              DecodeStatus::Ok);
    Bytes bad = ethBytes(kMacB, kMacA, {}, 0x8906, Bytes(20, 0));
    EXPECT_EQ(decodeFrame(bad.data(), bad.size(), kLinkEthernet, hostsimPort(0), *raw, frame),
              DecodeStatus::TooShort);
    EXPECT_EQ(hostsimKind(raw.get()), HOSTSIM_KIND_NONE);
}

}  // namespace
