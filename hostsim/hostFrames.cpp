// The frame classes over a raw record (rawFrame.h): the fcFrame and
// EthernetFrame accessors, and the HostFcFrame / HostEthFrame owners. A
// record that is not of the class's kind (or a null one) reads as all-zero
// fields and addresses and has no header or payload words.
#include "hostFrames.h"

#include "rawFrame.h"

namespace {

constexpr unsigned kHeaderWords = kHostsimFcHeaderBytes / 4;

uint32_t headerWord(fcRawFrameStruct* raw, unsigned n)
{
    if (hostsimKind(raw) != HOSTSIM_KIND_FC)
        return 0;
    return *hostsimFrameWord(raw, n);
}

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

int fcFrame::GetLengthWords(unsigned int* length)
{
    if (!length || hostsimKind(raw_m) != HOSTSIM_KIND_FC)
        return -1;
    *length = raw_m->record[HOSTSIM_D_PAYLOAD_BYTES] / 4;
    return 0;
}

int fcFrame::GetPayload(unsigned int offset, unsigned int count, unsigned int* dest)
{
    unsigned int words = 0;
    if (GetLengthWords(&words) != 0 || offset % 4 != 0)
        return -1;
    unsigned int first = offset / 4;
    if (count > words || first > words - count)
        return -1;
    if (count != 0 && !dest)
        return -1;
    const uint32_t* payload = hostsimFrameWord(raw_m, kHeaderWords + first);
    for (unsigned int i = 0; i < count; ++i)
        dest[i] = payload[i];
    return 0;
}

uint32_t fcFrame::Get_R_CTL() { return headerWord(raw_m, 0) >> 24; }
uint32_t fcFrame::Get_D_ID() { return headerWord(raw_m, 0) & 0xFFFFFF; }
uint32_t fcFrame::Get_S_ID() { return headerWord(raw_m, 1) & 0xFFFFFF; }
uint32_t fcFrame::Get_TYPE() { return headerWord(raw_m, 2) >> 24; }
uint32_t fcFrame::Get_OX_ID() { return headerWord(raw_m, 4) >> 16; }
uint32_t fcFrame::Get_RX_ID() { return headerWord(raw_m, 4) & 0xFFFF; }

port_id_t fcFrame::GetOrigPortID()
{
    return hostsimRecordPort(raw_m);
}

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

HostFcFrame::HostFcFrame(const std::vector<uint8_t>& bytes, port_id_t port,
                         HostsimFcOptions options)
    : status(hostsimParseFc(bytes.data(), bytes.size(), port, options, &raw))
{
}

HostEthFrame::HostEthFrame(const std::vector<uint8_t>& bytes, port_id_t port,
                           HostsimEthOptions options)
    : status(hostsimParseEthernet(bytes.data(), bytes.size(), port, options, &raw))
{
}
