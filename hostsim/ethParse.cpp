// Ethernet frame parsing: MAC addresses, up to two VLAN tags, EtherType,
// payload, optional FCS. The payload is also stored realigned to words,
// because it starts 2 bytes into a word after a 14, 18 or 22-byte header.
#include "frameParse.h"
#include "recordFill.h"
#include "wireWords.h"

namespace {

constexpr size_t kMacBytes = 12;       // destination and source address
constexpr size_t kTagBytes = 4;
constexpr unsigned kMaxTags = 2;

bool isVlanTpid(uint32_t type)
{
    return type == 0x8100 || type == 0x88A8 || type == 0x9100;
}

}  // namespace

HostsimStatus hostsimParseEthernet(const uint8_t* bytes, size_t length, port_id_t port,
                                   HostsimEthOptions options, fcRawFrameStruct* raw)
{
    if (!raw)
        return HOSTSIM_NULL_ARGUMENT;
    hostsimBeginRecord(raw, port, length);
    if (!bytes && length != 0)
        return HOSTSIM_NULL_ARGUMENT;

    size_t fcs = options.fcs ? 4 : 0;
    if (length < kMacBytes + 2 + fcs)
        return HOSTSIM_TOO_SHORT;
    size_t held = length - fcs;
    if (held > kHostsimMaxFrameBytes)
        return HOSTSIM_TOO_LONG;

    size_t pos = kMacBytes;            // always pos + 2 <= held here
    unsigned tags = 0;
    uint32_t tagWords[kMaxTags] = {0, 0};
    while (tags < kMaxTags && isVlanTpid(hostsimBe16(bytes + pos))) {
        if (pos + kTagBytes + 2 > held)
            return HOSTSIM_TOO_SHORT;  // a tag with no EtherType after it
        tagWords[tags++] = hostsimBe32(bytes + pos);
        pos += kTagBytes;
    }
    size_t headerBytes = pos + 2;

    raw->record[HOSTSIM_D_VLAN_TAGS] = tags;
    raw->record[HOSTSIM_D_ETHERTYPE] = hostsimBe16(bytes + pos);
    raw->record[HOSTSIM_D_OUTER_TAG] = tagWords[0];
    raw->record[HOSTSIM_D_INNER_TAG] = tagWords[1];
    if (options.fcs) {
        raw->record[HOSTSIM_D_HAS_CHECK] = 1;
        raw->record[HOSTSIM_D_CHECK_VALUE] = hostsimBe32(bytes + held);
    }
    hostsimLoadWords(bytes + headerBytes, held - headerBytes, raw->ethPayload);
    hostsimFinishRecord(raw, HOSTSIM_KIND_ETHERNET, bytes, held, headerBytes);
    return HOSTSIM_OK;
}
