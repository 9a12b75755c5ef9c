// The raw frame record of the reference host: what fcRawFrameStruct holds.
//
// A record is plain fixed-size storage owned by whoever parses into it (a
// test, the replay tool); parsing fills it without allocating, so one record
// can be reused frame after frame. fcFrame and EthernetFrame only point at a
// record and never own it.
//
// The record is an array of 32-bit words, which is also what the rule offsets
// of FrameUtil::FrameMatchesEntry index (see frameMatch.h):
//   words 0..24   host descriptor (HostsimDescriptor below; unused words zero)
//   words 25..    the frame as host-order values of its big-endian wire words,
//                 starting at its first header byte; the last partial word is
//                 zero-padded. FC: header then payload, without SOF, CRC, EOF.
//                 Ethernet: MAC header (with VLAN tags) then payload, without
//                 a stripped FCS.
// Only words below record[HOSTSIM_D_VALID_WORDS] are meaningful; words past
// it are left over from earlier frames.
#ifndef HOSTSIM_RAWFRAME_H
#define HOSTSIM_RAWFRAME_H

#include <stddef.h>
#include <stdint.h>

#include "hostFrame.h"

constexpr size_t kHostsimMaxFrameBytes = 10240;   // jumbo Ethernet, any FC frame
constexpr unsigned kHostsimDescriptorWords = 25;
constexpr unsigned kHostsimFrameWords = kHostsimMaxFrameBytes / 4;
constexpr unsigned kHostsimRecordWords = kHostsimDescriptorWords + kHostsimFrameWords;
constexpr unsigned kHostsimFcHeaderBytes = 24;

enum HostsimFrameKind : uint32_t {
    HOSTSIM_KIND_NONE = 0,
    HOSTSIM_KIND_FC = 1,
    HOSTSIM_KIND_ETHERNET = 2,
};

// Start-of-frame delimiters. The value is the bit number used by sof_mask.
enum HostsimSof : uint32_t {
    HOSTSIM_SOF_NONE = 0,     // frame parsed without delimiters
    HOSTSIM_SOF_UNKNOWN = 1,  // four bytes present but not a known ordered set
    HOSTSIM_SOF_F = 2,
    HOSTSIM_SOF_I2 = 3,
    HOSTSIM_SOF_N2 = 4,
    HOSTSIM_SOF_I3 = 5,
    HOSTSIM_SOF_N3 = 6,
    HOSTSIM_SOF_C1 = 7,
    HOSTSIM_SOF_I1 = 8,
    HOSTSIM_SOF_N1 = 9,
    HOSTSIM_SOF_C4 = 10,
    HOSTSIM_SOF_I4 = 11,
    HOSTSIM_SOF_N4 = 12,
};

enum HostsimEof : uint32_t {
    HOSTSIM_EOF_NONE = 0,
    HOSTSIM_EOF_UNKNOWN = 1,
    HOSTSIM_EOF_N = 2,
    HOSTSIM_EOF_T = 3,
    HOSTSIM_EOF_A = 4,
    HOSTSIM_EOF_NI = 5,
    HOSTSIM_EOF_DT = 6,
    HOSTSIM_EOF_DTI = 7,
};

// Indices of the descriptor words (record words 0..24).
enum HostsimDescriptor : unsigned {
    HOSTSIM_D_KIND = 0,           // HostsimFrameKind
    HOSTSIM_D_PORT_H0 = 1,        // port_id_t given at parse time
    HOSTSIM_D_PORT_H1 = 2,
    HOSTSIM_D_PORT_H2 = 3,
    HOSTSIM_D_FRAME_BYTES = 4,    // bytes held from record word 25 on
    HOSTSIM_D_WIRE_BYTES = 5,     // bytes handed to the parser
    HOSTSIM_D_SOF = 6,            // HostsimSof
    HOSTSIM_D_EOF = 7,            // HostsimEof
    HOSTSIM_D_HAS_CHECK = 8,      // 1 when a CRC (FC) or FCS (Ethernet) was stripped
    HOSTSIM_D_CHECK_VALUE = 9,    // that CRC/FCS as a big-endian word
    HOSTSIM_D_HEADER_BYTES = 10,  // 24 for FC; 14, 18 or 22 for Ethernet
    HOSTSIM_D_PAYLOAD_BYTES = 11,
    HOSTSIM_D_VLAN_TAGS = 12,     // Ethernet: 0, 1 or 2
    HOSTSIM_D_ETHERTYPE = 13,     // Ethernet: the EtherType after the tags
    HOSTSIM_D_OUTER_TAG = 14,     // Ethernet: TPID << 16 | TCI of the outer tag
    HOSTSIM_D_INNER_TAG = 15,     // Ethernet: the inner tag
    HOSTSIM_D_VALID_WORDS = 16,   // 25 + frame words (rounded up)
};

struct fcRawFrameStruct {
    uint32_t record[kHostsimRecordWords];
    uint32_t ethPayload[kHostsimFrameWords];   // Ethernet payload, realigned to words
};

// Record word holding frame word n (n counted from the frame's first byte).
inline uint32_t* hostsimFrameWord(fcRawFrameStruct* raw, unsigned n)
{
    return &raw->record[kHostsimDescriptorWords + n];
}

inline HostsimFrameKind hostsimKind(const fcRawFrameStruct* raw)
{
    return raw ? static_cast<HostsimFrameKind>(raw->record[HOSTSIM_D_KIND]) : HOSTSIM_KIND_NONE;
}

// Byte i of the held frame (0 = first header byte); the caller checks i.
inline uint8_t hostsimFrameByte(const fcRawFrameStruct* raw, unsigned i)
{
    uint32_t word = raw->record[kHostsimDescriptorWords + i / 4];
    return static_cast<uint8_t>(word >> (24 - 8 * (i % 4)));
}

// The port recorded at parse time; a null record reads as port 0.
inline port_id_t hostsimRecordPort(const fcRawFrameStruct* raw)
{
    if (!raw)
        return port_id_t{0, 0, 0};
    return port_id_t{static_cast<uint16_t>(raw->record[HOSTSIM_D_PORT_H0]),
                     static_cast<uint16_t>(raw->record[HOSTSIM_D_PORT_H1]),
                     static_cast<uint16_t>(raw->record[HOSTSIM_D_PORT_H2])};
}

inline port_id_t hostsimPort(uint16_t number) { return port_id_t{number, 0, 0}; }
inline port_id_t hostsimPortPair(uint16_t first, uint16_t second)
{
    return port_id_t{0xFFFF, first, second};
}

#endif
