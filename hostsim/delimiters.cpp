// FC delimiters are ordered sets: K28.5 (0xBC), then three data characters.
// A SOF repeats its code in bytes 2 and 3; the second byte of an EOF depends
// on the running disparity, so both forms are listed.
#include "frameParse.h"

namespace {

struct SofSet { uint8_t code; HostsimSof sof; const char* name; };
struct EofSet { uint8_t disparity; uint8_t code; HostsimEof eof; };

const SofSet kSofSets[] = {
    {0x58, HOSTSIM_SOF_F, "SOFf"},   {0x55, HOSTSIM_SOF_I2, "SOFi2"},
    {0x35, HOSTSIM_SOF_N2, "SOFn2"}, {0x56, HOSTSIM_SOF_I3, "SOFi3"},
    {0x36, HOSTSIM_SOF_N3, "SOFn3"}, {0x17, HOSTSIM_SOF_C1, "SOFc1"},
    {0x57, HOSTSIM_SOF_I1, "SOFi1"}, {0x37, HOSTSIM_SOF_N1, "SOFn1"},
    {0x19, HOSTSIM_SOF_C4, "SOFc4"}, {0x59, HOSTSIM_SOF_I4, "SOFi4"},
    {0x39, HOSTSIM_SOF_N4, "SOFn4"},
};

const EofSet kEofSets[] = {
    {0x95, 0xD5, HOSTSIM_EOF_N},  {0xB5, 0xD5, HOSTSIM_EOF_N},
    {0x95, 0x75, HOSTSIM_EOF_T},  {0xB5, 0x75, HOSTSIM_EOF_T},
    {0x95, 0xF5, HOSTSIM_EOF_A},  {0xB5, 0xF5, HOSTSIM_EOF_A},
    {0x8A, 0xD5, HOSTSIM_EOF_NI}, {0xAA, 0xD5, HOSTSIM_EOF_NI},
    {0x95, 0x95, HOSTSIM_EOF_DT}, {0xB5, 0x95, HOSTSIM_EOF_DT},
    {0x8A, 0x95, HOSTSIM_EOF_DTI}, {0xAA, 0x95, HOSTSIM_EOF_DTI},
};

bool isOrderedSet(const uint8_t* set)
{
    return set[0] == 0xBC && set[2] == set[3];
}

}  // namespace

HostsimSof hostsimDecodeSof(const uint8_t* set)
{
    if (!isOrderedSet(set) || set[1] != 0xB5)
        return HOSTSIM_SOF_UNKNOWN;
    for (const SofSet& s : kSofSets)
        if (s.code == set[2])
            return s.sof;
    return HOSTSIM_SOF_UNKNOWN;
}

HostsimEof hostsimDecodeEof(const uint8_t* set)
{
    if (!isOrderedSet(set))
        return HOSTSIM_EOF_UNKNOWN;
    for (const EofSet& e : kEofSets)
        if (e.disparity == set[1] && e.code == set[2])
            return e.eof;
    return HOSTSIM_EOF_UNKNOWN;
}

const char* hostsimSofName(HostsimSof sof)
{
    if (sof == HOSTSIM_SOF_NONE)
        return "none";
    for (const SofSet& s : kSofSets)
        if (s.sof == sof)
            return s.name;
    return "unknown";
}

const char* hostsimEofName(HostsimEof eof)
{
    switch (eof) {
    case HOSTSIM_EOF_NONE: return "none";
    case HOSTSIM_EOF_N: return "EOFn";
    case HOSTSIM_EOF_T: return "EOFt";
    case HOSTSIM_EOF_A: return "EOFa";
    case HOSTSIM_EOF_NI: return "EOFni";
    case HOSTSIM_EOF_DT: return "EOFdt";
    case HOSTSIM_EOF_DTI: return "EOFdti";
    case HOSTSIM_EOF_UNKNOWN: break;
    }
    return "unknown";
}
