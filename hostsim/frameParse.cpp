// The frame parser: wire bytes into a raw frame record (layout in
// rawFrame.h). Wire words are big-endian; the record holds them as host-order
// values, so the accessors and the matcher read plain words.
#include "frameParse.h"

#include "byteOrder.h"

namespace {

// Stores ceil(count / 4) words read big-endian from src; the bytes missing
// from the last word read as zero.
void loadWords(const uint8_t* src, size_t count, uint32_t* dest)
{
    size_t whole = count / 4;
    for (size_t i = 0; i < whole; ++i)
        dest[i] = readBigEndian32(src + 4 * i);
    size_t rest = count % 4;
    if (rest == 0)
        return;
    uint8_t last[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < rest; ++i)
        last[i] = src[4 * whole + i];
    dest[whole] = readBigEndian32(last);
}

// Zeroes the descriptor (kind NONE) and records the port and wire length.
void beginRecord(fcRawFrameStruct* raw, port_id_t port, size_t wireBytes)
{
    for (unsigned i = 0; i < kHostsimDescriptorWords; ++i)
        raw->record[i] = 0;
    raw->record[HOSTSIM_D_PORT_H0] = port.h0;
    raw->record[HOSTSIM_D_PORT_H1] = port.h1;
    raw->record[HOSTSIM_D_PORT_H2] = port.h2;
    raw->record[HOSTSIM_D_WIRE_BYTES] = static_cast<uint32_t>(wireBytes);
}

// Copies the held frame bytes into the record words and marks the record
// valid as the given kind; call last, once everything else is set.
void finishRecord(fcRawFrameStruct* raw, HostsimFrameKind kind, const uint8_t* frame,
                  size_t frameBytes, size_t headerBytes)
{
    loadWords(frame, frameBytes, hostsimFrameWord(raw, 0));
    raw->record[HOSTSIM_D_FRAME_BYTES] = static_cast<uint32_t>(frameBytes);
    raw->record[HOSTSIM_D_HEADER_BYTES] = static_cast<uint32_t>(headerBytes);
    raw->record[HOSTSIM_D_PAYLOAD_BYTES] = static_cast<uint32_t>(frameBytes - headerBytes);
    raw->record[HOSTSIM_D_VALID_WORDS] =
        static_cast<uint32_t>(kHostsimDescriptorWords + (frameBytes + 3) / 4);
    raw->record[HOSTSIM_D_KIND] = kind;
}

// FC delimiters are ordered sets: K28.5 (0xBC), then three data characters.
// A SOF repeats its code in bytes 2 and 3; the second byte of an EOF depends
// on the running disparity, so both forms are listed.
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

// Ethernet: MAC addresses, up to two VLAN tags, EtherType, payload, optional
// FCS. The payload is also stored realigned to words, because it starts 2
// bytes into a word after a 14, 18 or 22-byte header.
constexpr size_t kMacBytes = 12;       // destination and source address
constexpr size_t kTagBytes = 4;
constexpr unsigned kMaxTags = 2;

bool isVlanTpid(uint32_t type)
{
    return type == 0x8100 || type == 0x88A8 || type == 0x9100;
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

// FC: [SOF] header payload [CRC] [EOF].
HostsimStatus hostsimParseFc(const uint8_t* bytes, size_t length, port_id_t port,
                             HostsimFcOptions options, fcRawFrameStruct* raw)
{
    if (!raw)
        return HOSTSIM_NULL_ARGUMENT;
    beginRecord(raw, port, length);
    if (!bytes && length != 0)
        return HOSTSIM_NULL_ARGUMENT;

    size_t lead = options.delimiters ? 4 : 0;
    size_t trail = (options.delimiters ? 4 : 0) + (options.crc ? 4 : 0);
    if (length < lead + kHostsimFcHeaderBytes + trail)
        return HOSTSIM_TOO_SHORT;
    size_t held = length - lead - trail;
    if (held > kHostsimMaxFrameBytes)
        return HOSTSIM_TOO_LONG;

    const uint8_t* frame = bytes + lead;
    if (options.delimiters) {
        raw->record[HOSTSIM_D_SOF] = hostsimDecodeSof(bytes);
        raw->record[HOSTSIM_D_EOF] = hostsimDecodeEof(bytes + length - 4);
    }
    if (options.crc) {
        raw->record[HOSTSIM_D_HAS_CHECK] = 1;
        raw->record[HOSTSIM_D_CHECK_VALUE] = readBigEndian32(frame + held);
    }
    finishRecord(raw, HOSTSIM_KIND_FC, frame, held, kHostsimFcHeaderBytes);
    return HOSTSIM_OK;
}

HostsimStatus hostsimParseEthernet(const uint8_t* bytes, size_t length, port_id_t port,
                                   HostsimEthOptions options, fcRawFrameStruct* raw)
{
    if (!raw)
        return HOSTSIM_NULL_ARGUMENT;
    beginRecord(raw, port, length);
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
    while (tags < kMaxTags && isVlanTpid(readBigEndian16(bytes + pos))) {
        if (pos + kTagBytes + 2 > held)
            return HOSTSIM_TOO_SHORT;  // a tag with no EtherType after it
        tagWords[tags++] = readBigEndian32(bytes + pos);
        pos += kTagBytes;
    }
    size_t headerBytes = pos + 2;

    raw->record[HOSTSIM_D_VLAN_TAGS] = tags;
    raw->record[HOSTSIM_D_ETHERTYPE] = readBigEndian16(bytes + pos);
    raw->record[HOSTSIM_D_OUTER_TAG] = tagWords[0];
    raw->record[HOSTSIM_D_INNER_TAG] = tagWords[1];
    if (options.fcs) {
        raw->record[HOSTSIM_D_HAS_CHECK] = 1;
        raw->record[HOSTSIM_D_CHECK_VALUE] = readBigEndian32(bytes + held);
    }
    loadWords(bytes + headerBytes, held - headerBytes, raw->ethPayload);
    finishRecord(raw, HOSTSIM_KIND_ETHERNET, bytes, held, headerBytes);
    return HOSTSIM_OK;
}
