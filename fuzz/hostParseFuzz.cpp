// The reference host's frame parsing. Input: a control byte (bit 0 FC SOF/EOF,
// bit 1 FC CRC, bit 2 Ethernet FCS, bits 3-6 port, bit 7 an 80-byte matching
// rule follows), then bytes parsed as FC and as Ethernet into one record; both
// views' accessors and the matcher are checked against the bytes.
#include <string.h>

#include <vector>

#include "frameFilter.h"
#include "fuzzCheck.h"
#include "hostsim.h"

namespace {

fcRawFrameStruct raw;  // one record, as a host reuses one frame after frame
fcFrame fc{&raw};
EthernetFrame eth{&raw};

uint32_t be(const uint8_t* p, int n) { return n ? be(p, n - 1) << 8 | p[n - 1] : 0; }
bool samePort(port_id_t a, port_id_t b) { return a.h0 == b.h0 && a.h1 == b.h1 && a.h2 == b.h2; }

bool matches(uint32_t kind, uint32_t sofMask = 0)
{
    RegisterFrameEntry rule{};
    rule.offset_from = kind;
    rule.sof_mask = sofMask;
    return FrameUtil::FrameMatchesEntry(&raw, &rule) != 0;
}

// A record without a frame of a view's kind shows nothing through that view.
void checkNoFc()
{
    unsigned int words = 0;
    FUZZ_CHECK(fc.GetLengthWords(&words) != 0 && fc.GetPayload(0, 0, &words) != 0);
    FUZZ_CHECK(!fc.Get_R_CTL() && !fc.Get_D_ID() && !fc.Get_S_ID() && !fc.Get_TYPE() &&
               !fc.Get_OX_ID() && !fc.Get_RX_ID() && !matches(TraceFrameFilter::kFcFrames));
}

void checkNoEth()
{
    unsigned char mac[6] = {1, 1, 1, 1, 1, 1};
    eth.Get_S_ID(mac);
    FUZZ_CHECK(memcmp(mac, "\0\0\0\0\0", 6) == 0 && !eth.PeekHeader(0) && !eth.PeekPayload(0));
    FUZZ_CHECK(!matches(TraceFrameFilter::kEthernetFrames));
}

void checkFc(const uint8_t* bytes, size_t length, HostsimFcOptions options)
{
    size_t lead = options.delimiters ? 4 : 0, trail = lead + (options.crc ? 4 : 0);
    FUZZ_CHECK(length >= lead + kHostsimFcHeaderBytes + trail);
    FUZZ_CHECK(length - lead - trail <= kHostsimMaxFrameBytes);
    const uint8_t* f = bytes + lead;
    FUZZ_CHECK(hostsimKind(&raw) == HOSTSIM_KIND_FC && matches(TraceFrameFilter::kFcFrames));
    FUZZ_CHECK(fc.Get_R_CTL() == f[0] && fc.Get_D_ID() == be(f + 1, 3) &&
               fc.Get_S_ID() == be(f + 5, 3) && fc.Get_TYPE() == f[8] &&
               fc.Get_OX_ID() == be(f + 16, 2) && fc.Get_RX_ID() == be(f + 18, 2));
    unsigned int words = 0;
    FUZZ_CHECK(fc.GetLengthWords(&words) == 0);
    FUZZ_CHECK(words == (length - lead - trail - kHostsimFcHeaderBytes) / 4);
    std::vector<unsigned int> payload(words + 1);
    FUZZ_CHECK(fc.GetPayload(0, words, payload.data()) == 0);
    for (unsigned int i = 0; i < words; ++i)
        FUZZ_CHECK(payload[i] == be(f + kHostsimFcHeaderBytes + 4 * i, 4));
    FUZZ_CHECK(fc.GetPayload(4 * words, 1, &words) != 0 && fc.GetPayload(0, words + 1, &words) != 0);
    FUZZ_CHECK((raw.record[HOSTSIM_D_SOF] != HOSTSIM_SOF_NONE) == options.delimiters);
    FUZZ_CHECK(matches(TraceFrameFilter::kAnyFrame, 0xFFFFFFFF) == options.delimiters);
    FUZZ_CHECK(hostsimSofName(static_cast<HostsimSof>(raw.record[HOSTSIM_D_SOF])) &&
               hostsimEofName(static_cast<HostsimEof>(raw.record[HOSTSIM_D_EOF])));
    checkNoEth();
}

void checkEthernet(const uint8_t* bytes, size_t length, bool fcs)
{
    size_t held = length - (fcs ? 4 : 0);
    uint32_t headerBytes = raw.record[HOSTSIM_D_HEADER_BYTES];
    FUZZ_CHECK(held <= kHostsimMaxFrameBytes && headerBytes <= held);
    FUZZ_CHECK(hostsimKind(&raw) == HOSTSIM_KIND_ETHERNET &&
               matches(TraceFrameFilter::kEthernetFrames));
    FUZZ_CHECK(headerBytes == 14 || headerBytes == 18 || headerBytes == 22);
    FUZZ_CHECK(raw.record[HOSTSIM_D_VLAN_TAGS] == (headerBytes - 14) / 4);
    FUZZ_CHECK(!matches(TraceFrameFilter::kAnyFrame, 0xFFFFFFFF));
    unsigned char mac[12];
    eth.Get_D_ID(mac);
    eth.Get_S_ID(mac + 6);
    FUZZ_CHECK(memcmp(mac, bytes, 12) == 0);
    unsigned int i = 0;
    for (; i < headerBytes / 4; ++i)
        FUZZ_CHECK(eth.PeekHeader(i) && *eth.PeekHeader(i) == be(bytes + 4 * i, 4));
    FUZZ_CHECK(eth.PeekHeader(i) == nullptr);
    for (i = 0; i < (held - headerBytes) / 4; ++i)
        FUZZ_CHECK(eth.PeekPayload(i) && *eth.PeekPayload(i) == be(bytes + headerBytes + 4 * i, 4));
    FUZZ_CHECK(eth.PeekPayload(i) == nullptr);
    checkNoFc();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    RegisterFrameEntry rule{};
    size_t skip = size && (data[0] & 0x80) ? 1 + sizeof rule : 1;
    if (size < skip)
        return 0;
    memcpy(&rule, data + 1, skip - 1);
    size_t length = size - skip;
    const uint8_t* bytes = length ? data + skip : nullptr;  // null with no bytes: an empty frame
    port_id_t port = hostsimPort(static_cast<uint16_t>((data[0] >> 3) & 0x0F));
    HostsimFcOptions fcOptions{(data[0] & 1) != 0, (data[0] & 2) != 0};
    HostsimEthOptions ethOptions{(data[0] & 4) != 0};
    for (bool asFc : {true, false}) {
        HostsimStatus status = asFc ? hostsimParseFc(bytes, length, port, fcOptions, &raw)
                                    : hostsimParseEthernet(bytes, length, port, ethOptions, &raw);
        bool ok = status == HOSTSIM_OK;
        FUZZ_CHECK(hostsimStatusText(status) != nullptr);
        if (!ok)
            checkNoFc(), checkNoEth();
        else if (asFc)
            checkFc(bytes, length, fcOptions);
        else
            checkEthernet(bytes, length, ethOptions.fcs);
        // Whatever the record holds, both views stay in bounds and the matcher answers.
        unsigned int word = 0;
        fc.GetLengthWords(nullptr);
        FUZZ_CHECK(fc.GetPayload(2, 1, &word) && fc.GetPayload(~3u, 1, &word) && fc.GetPayload(4, ~0u, &word));
        eth.Get_D_ID(nullptr);
        FUZZ_CHECK(!eth.PeekHeader(6) && !eth.PeekHeader(~0u) &&
                   !eth.PeekPayload(kHostsimFrameWords) && !eth.PeekPayload(~0u));
        FrameUtil::FrameMatchesEntry(&raw, &rule);
        hostsimRejectReason(&raw);
        FUZZ_CHECK(raw.record[HOSTSIM_D_VALID_WORDS] <= kHostsimRecordWords);
        FUZZ_CHECK(!FrameUtil::FrameMatchesEntry(&raw, nullptr) && !matches(3));
        FUZZ_CHECK(matches(TraceFrameFilter::kAnyFrame) == ok);
        FUZZ_CHECK(!ok || (samePort(fc.GetOrigPortID(), port) && samePort(eth.GetOrigPortID(), port)));
    }
    return 0;
}
