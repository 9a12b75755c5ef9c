// Arbitrary bytes must never crash the parsers, the accessors or the
// matcher, and a parsed record must stay within its own bounds.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "hostsim.h"

namespace {

// Bytes that make up VLAN tag identifiers and delimiters, so that random
// frames often carry (partial) tags.
const uint8_t kTagBytes[] = {0x81, 0x00, 0x88, 0xa8, 0x91, 0xbc, 0xb5};

void exerciseFc(fcRawFrameStruct* raw, std::mt19937& rng)
{
    fcFrame frame{raw};
    unsigned words = 0, word = 0;
    if (frame.GetLengthWords(&words) == 0) {
        EXPECT_LE(words, kHostsimFrameWords);
        if (words > 0) {
            EXPECT_EQ(frame.GetPayload(4 * (words - 1), 1, &word), 0);
        }
        EXPECT_NE(frame.GetPayload(4 * words, 1, &word), 0);
    }
    frame.Get_R_CTL();
    frame.Get_OX_ID();
    EthernetFrame eth{raw};
    unsigned char mac[6];
    eth.Get_S_ID(mac);
    for (unsigned i = 0; i < 8; ++i)
        eth.PeekHeader(i);
    eth.PeekPayload(rng());
    RegisterFrameEntry rule{};
    uint32_t* ruleWords = reinterpret_cast<uint32_t*>(&rule);
    for (unsigned i = 0; i < 20; ++i)
        ruleWords[i] = rng() % 4 == 0 ? 0 : (rng() % 2 ? rng() % 64 : rng());
    FrameUtil::FrameMatchesEntry(raw, &rule);
}

TEST(ParseRobustness, RandomBytesWithEveryOption)
{
    std::mt19937 rng(20240611);
    auto raw = std::make_unique<fcRawFrameStruct>();
    std::vector<uint8_t> bytes(kHostsimMaxFrameBytes + 64);
    for (int round = 0; round < 4000; ++round) {
        size_t length = round % 50 == 0 ? rng() % bytes.size() : rng() % 80;
        for (size_t i = 0; i < length; ++i)
            bytes[i] = rng() % 2 ? kTagBytes[rng() % sizeof kTagBytes] : static_cast<uint8_t>(rng());
        HostsimFcOptions fc{(round & 1) != 0, (round & 2) != 0};
        if (hostsimParseFc(bytes.data(), length, hostsimPort(1), fc, raw.get()) == HOSTSIM_OK) {
            EXPECT_LE(raw->record[HOSTSIM_D_VALID_WORDS], kHostsimRecordWords);
        }
        exerciseFc(raw.get(), rng);
        HostsimEthOptions eth{(round & 4) != 0};
        if (hostsimParseEthernet(bytes.data(), length, hostsimPort(1), eth, raw.get()) ==
            HOSTSIM_OK) {
            EXPECT_GE(raw->record[HOSTSIM_D_HEADER_BYTES], 14u);
            EXPECT_LE(raw->record[HOSTSIM_D_HEADER_BYTES], raw->record[HOSTSIM_D_FRAME_BYTES]);
        }
        exerciseFc(raw.get(), rng);
    }
}

}  // namespace
