#include "frameParse.h"

const char* hostsimStatusText(HostsimStatus status)
{
    switch (status) {
    case HOSTSIM_OK: return "ok";
    case HOSTSIM_NULL_ARGUMENT: return "null record or bytes";
    case HOSTSIM_TOO_SHORT: return "frame too short for its headers";
    case HOSTSIM_TOO_LONG: return "frame longer than the record holds";
    }
    return "unknown status";
}
