// The reference host's frame parsing on arbitrary bytes.
//
// Input: one control byte, then (when bit 7 of it is set) an 80-byte
// matching rule as twenty host-order words, then the frame bytes.
//   bit 0  FC: SOF/EOF delimiters     bit 1  FC: CRC
//   bit 2  Ethernet: FCS              bits 3-6  port number
// The same bytes are parsed as an FC frame and as an Ethernet frame into one
// reused record; every accessor is called on both views and what it returns
// is checked against the input bytes.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "fuzzCheck.h"
#include "hostsim.h"

namespace {

uint32_t be32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

uint32_t be24(const uint8_t* p) { return be32(p) >> 8; }
uint32_t be16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 8 | p[1]; }

bool samePort(port_id_t a, port_id_t b)
{
    return a.h0 == b.h0 && a.h1 == b.h1 && a.h2 == b.h2;
}

// Whatever the record holds, reads through either view stay in bounds and
// the matcher answers.
void touchEverything(fcRawFrameStruct* raw, RegisterFrameEntry* rule)
{
    fcFrame fc{raw};
    unsigned int words = 0;
    unsigned int word = 0;
    fc.GetLengthWords(&words);
    fc.GetLengthWords(nullptr);
    fc.GetPayload(0, 1, &word);
    fc.GetPayload(0, 0, nullptr);
    fc.GetPayload(4 * words, 1, &word);
    fc.GetPayload(0xFFFFFFFC, 1, &word);
    fc.GetPayload(4, 0xFFFFFFFF, &word);
    fc.Get_R_CTL();
    fc.Get_D_ID();
    fc.Get_S_ID();
    fc.Get_TYPE();
    fc.Get_OX_ID();
    fc.Get_RX_ID();
    fc.GetOrigPortID();

    EthernetFrame eth{raw};
    unsigned char mac[6];
    eth.Get_D_ID(mac);
    eth.Get_S_ID(mac);
    eth.Get_D_ID(nullptr);
    for (unsigned int i = 0; i < 8; ++i)
        eth.PeekHeader(i);
    eth.PeekHeader(0xFFFFFFFF);
    eth.PeekPayload(0);
    eth.PeekPayload(kHostsimFrameWords);
    eth.PeekPayload(0xFFFFFFFF);
    eth.GetOrigPortID();

    FrameUtil::FrameMatchesEntry(raw, rule);
    hostsimRejectReason(raw);
    FUZZ_CHECK(raw->record[HOSTSIM_D_VALID_WORDS] <= kHostsimRecordWords);
}

void checkFc(const uint8_t* bytes, size_t length, HostsimFcOptions options, port_id_t port,
             HostsimStatus status, fcRawFrameStruct* raw)
{
    FUZZ_CHECK(hostsimStatusText(status) != nullptr);
    fcFrame fc{raw};
    EthernetFrame eth{raw};
    unsigned int words = 0;
    if (status != HOSTSIM_OK) {
        FUZZ_CHECK(hostsimKind(raw) == HOSTSIM_KIND_NONE);
        FUZZ_CHECK(fc.GetLengthWords(&words) != 0);
        FUZZ_CHECK(fc.Get_R_CTL() == 0 && fc.Get_D_ID() == 0 && fc.Get_OX_ID() == 0);
        FUZZ_CHECK(eth.PeekHeader(0) == nullptr && eth.PeekPayload(0) == nullptr);
        return;
    }
    size_t lead = options.delimiters ? 4 : 0;
    size_t trail = (options.delimiters ? 4 : 0) + (options.crc ? 4 : 0);
    FUZZ_CHECK(length >= lead + kHostsimFcHeaderBytes + trail);
    size_t held = length - lead - trail;
    FUZZ_CHECK(held <= kHostsimMaxFrameBytes);
    const uint8_t* frame = bytes + lead;

    FUZZ_CHECK(hostsimKind(raw) == HOSTSIM_KIND_FC);
    FUZZ_CHECK(samePort(fc.GetOrigPortID(), port));
    FUZZ_CHECK(fc.Get_R_CTL() == frame[0]);
    FUZZ_CHECK(fc.Get_D_ID() == be24(frame + 1));
    FUZZ_CHECK(fc.Get_S_ID() == be24(frame + 5));
    FUZZ_CHECK(fc.Get_TYPE() == frame[8]);
    FUZZ_CHECK(fc.Get_OX_ID() == be16(frame + 16));
    FUZZ_CHECK(fc.Get_RX_ID() == be16(frame + 18));

    size_t payloadBytes = held - kHostsimFcHeaderBytes;
    FUZZ_CHECK(fc.GetLengthWords(&words) == 0);
    FUZZ_CHECK(words == payloadBytes / 4);
    for (unsigned int i = 0; i < words; ++i) {
        unsigned int word = 0;
        FUZZ_CHECK(fc.GetPayload(4 * i, 1, &word) == 0);
        FUZZ_CHECK(word == be32(frame + kHostsimFcHeaderBytes + 4 * i));
    }
    unsigned int word = 0;
    FUZZ_CHECK(fc.GetPayload(4 * words, 1, &word) != 0);

    if (options.delimiters) {
        FUZZ_CHECK(hostsimSofName(static_cast<HostsimSof>(raw->record[HOSTSIM_D_SOF])) != nullptr);
        FUZZ_CHECK(hostsimEofName(static_cast<HostsimEof>(raw->record[HOSTSIM_D_EOF])) != nullptr);
        FUZZ_CHECK(raw->record[HOSTSIM_D_SOF] != HOSTSIM_SOF_NONE);
    } else {
        FUZZ_CHECK(raw->record[HOSTSIM_D_SOF] == HOSTSIM_SOF_NONE);
    }

    // The FC record seen as an Ethernet frame has nothing to show.
    unsigned char mac[6] = {1, 1, 1, 1, 1, 1};
    eth.Get_D_ID(mac);
    for (unsigned char b : mac)
        FUZZ_CHECK(b == 0);
    FUZZ_CHECK(eth.PeekHeader(0) == nullptr && eth.PeekPayload(0) == nullptr);
}

void checkEthernet(const uint8_t* bytes, size_t length, HostsimEthOptions options,
                   port_id_t port, HostsimStatus status, fcRawFrameStruct* raw)
{
    FUZZ_CHECK(hostsimStatusText(status) != nullptr);
    fcFrame fc{raw};
    EthernetFrame eth{raw};
    unsigned int words = 0;
    if (status != HOSTSIM_OK) {
        FUZZ_CHECK(hostsimKind(raw) == HOSTSIM_KIND_NONE);
        FUZZ_CHECK(eth.PeekHeader(0) == nullptr && eth.PeekPayload(0) == nullptr);
        return;
    }
    size_t held = length - (options.fcs ? 4 : 0);
    FUZZ_CHECK(held <= kHostsimMaxFrameBytes);
    FUZZ_CHECK(hostsimKind(raw) == HOSTSIM_KIND_ETHERNET);
    FUZZ_CHECK(samePort(eth.GetOrigPortID(), port));

    uint32_t headerBytes = raw->record[HOSTSIM_D_HEADER_BYTES];
    FUZZ_CHECK(headerBytes == 14 || headerBytes == 18 || headerBytes == 22);
    FUZZ_CHECK(headerBytes <= held);
    FUZZ_CHECK(raw->record[HOSTSIM_D_VLAN_TAGS] == (headerBytes - 14) / 4);

    unsigned char mac[6];
    eth.Get_D_ID(mac);
    FUZZ_CHECK(memcmp(mac, bytes, 6) == 0);
    eth.Get_S_ID(mac);
    FUZZ_CHECK(memcmp(mac, bytes + 6, 6) == 0);

    for (unsigned int i = 0; i < headerBytes / 4; ++i) {
        uint32_t* p = eth.PeekHeader(i);
        FUZZ_CHECK(p != nullptr && *p == be32(bytes + 4 * i));
    }
    FUZZ_CHECK(eth.PeekHeader(headerBytes / 4) == nullptr);

    size_t payloadWords = (held - headerBytes) / 4;
    for (unsigned int i = 0; i < payloadWords; ++i) {
        uint32_t* p = eth.PeekPayload(i);
        FUZZ_CHECK(p != nullptr && *p == be32(bytes + headerBytes + 4 * i));
    }
    FUZZ_CHECK(eth.PeekPayload(static_cast<unsigned int>(payloadWords)) == nullptr);

    // The Ethernet record seen as an FC frame has nothing to show.
    FUZZ_CHECK(fc.GetLengthWords(&words) != 0);
    FUZZ_CHECK(fc.Get_R_CTL() == 0 && fc.Get_S_ID() == 0 && fc.Get_RX_ID() == 0);
    RegisterFrameEntry fcOnly{};
    fcOnly.offset_from = kHostsimMatchFc;
    FUZZ_CHECK(FrameUtil::FrameMatchesEntry(raw, &fcOnly) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // One record for every input, as a host reuses one frame after frame.
    static fcRawFrameStruct raw;
    if (size < 1)
        return 0;
    uint8_t control = data[0];
    const uint8_t* rest = data + 1;
    size_t restSize = size - 1;

    RegisterFrameEntry rule{};
    if ((control & 0x80) != 0) {
        if (restSize < sizeof rule)
            return 0;
        memcpy(&rule, rest, sizeof rule);
        rest += sizeof rule;
        restSize -= sizeof rule;
    }
    port_id_t port = hostsimPort(static_cast<uint16_t>((control >> 3) & 0x0F));
    // A null pointer with no bytes is a valid empty frame.
    const uint8_t* bytes = restSize != 0 ? rest : nullptr;

    HostsimFcOptions fcOptions;
    fcOptions.delimiters = (control & 0x01) != 0;
    fcOptions.crc = (control & 0x02) != 0;
    HostsimStatus status = hostsimParseFc(bytes, restSize, port, fcOptions, &raw);
    checkFc(bytes, restSize, fcOptions, port, status, &raw);
    touchEverything(&raw, &rule);

    HostsimEthOptions ethOptions;
    ethOptions.fcs = (control & 0x04) != 0;
    status = hostsimParseEthernet(bytes, restSize, port, ethOptions, &raw);
    checkEthernet(bytes, restSize, ethOptions, port, status, &raw);
    touchEverything(&raw, &rule);

    // The delimiter decoders on any four bytes.
    if (restSize >= 4) {
        hostsimSofName(hostsimDecodeSof(rest));
        hostsimEofName(hostsimDecodeEof(rest + restSize - 4));
    }
    return 0;
}
