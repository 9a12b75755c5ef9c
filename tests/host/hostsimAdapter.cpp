// The host check kit's adapter for the reference host: each frame object is
// the frame member of a HostFcFrame / HostEthFrame, whose first member is
// the raw record the frame points at.
#include "hostCheck.h"
#include "hostsim.h"

namespace {

using Bytes = std::vector<uint8_t>;

template <class Owner>
auto* make(const uint8_t* bytes, size_t length, port_id_t port)
{
    Owner* owner = new Owner(Bytes(bytes, bytes + length), port);
    if (owner->ok())
        return &owner->frame;
    delete owner;
    return decltype(&owner->frame)(nullptr);
}

}  // namespace

fcFrame* hostcheckMakeFcFrame(const uint8_t* bytes, size_t length, port_id_t port)
{
    return make<HostFcFrame>(bytes, length, port);
}

void hostcheckFreeFcFrame(fcFrame* frame)
{
    delete reinterpret_cast<HostFcFrame*>(frame->raw_m);
}

EthernetFrame* hostcheckMakeEthernetFrame(const uint8_t* bytes, size_t length, port_id_t port)
{
    return make<HostEthFrame>(bytes, length, port);
}

void hostcheckFreeEthernetFrame(EthernetFrame* frame)
{
    delete reinterpret_cast<HostEthFrame*>(frame->raw_m);
}
