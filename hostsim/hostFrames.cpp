#include "hostFrames.h"

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
