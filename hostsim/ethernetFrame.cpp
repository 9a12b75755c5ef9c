// EthernetFrame accessors over a raw record. A record that is not an
// Ethernet frame (or a null one) has no header or payload words and reads
// as all-zero addresses.
#include "hostFrame.h"
#include "rawFrame.h"

namespace {

bool isEthernet(fcRawFrameStruct* raw)
{
    return hostsimKind(raw) == HOSTSIM_KIND_ETHERNET;
}

void copyMac(fcRawFrameStruct* raw, unsigned firstByte, unsigned char* mac)
{
    if (!mac)
        return;
    for (unsigned i = 0; i < 6; ++i)
        mac[i] = isEthernet(raw) ? hostsimFrameByte(raw, firstByte + i) : 0;
}

}  // namespace

uint32_t* EthernetFrame::PeekHeader(unsigned int word)
{
    if (!isEthernet(raw_m) || word >= raw_m->record[HOSTSIM_D_HEADER_BYTES] / 4)
        return nullptr;
    return hostsimFrameWord(raw_m, word);
}

uint32_t* EthernetFrame::PeekPayload(unsigned int word)
{
    if (!isEthernet(raw_m) || word >= raw_m->record[HOSTSIM_D_PAYLOAD_BYTES] / 4)
        return nullptr;
    return &raw_m->ethPayload[word];
}

void EthernetFrame::Get_D_ID(unsigned char* mac) { copyMac(raw_m, 0, mac); }
void EthernetFrame::Get_S_ID(unsigned char* mac) { copyMac(raw_m, 6, mac); }

port_id_t EthernetFrame::GetOrigPortID()
{
    return hostsimRecordPort(raw_m);
}
