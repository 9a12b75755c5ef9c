// Building raw frame records from wire bytes. The caller owns both the bytes
// and the record; parsing copies what it needs into the record, never
// allocates, and rejects (never crashes on) any byte input.
#ifndef HOSTSIM_FRAMEPARSE_H
#define HOSTSIM_FRAMEPARSE_H

#include <stddef.h>
#include <stdint.h>

#include "rawFrame.h"

enum HostsimStatus {
    HOSTSIM_OK = 0,
    HOSTSIM_NULL_ARGUMENT,    // no record, or no bytes with a non-zero length
    HOSTSIM_TOO_SHORT,        // fewer bytes than the headers (and trailers) need
    HOSTSIM_TOO_LONG,         // more than kHostsimMaxFrameBytes left to hold
};

// A fixed English text for the status; never null.
const char* hostsimStatusText(HostsimStatus status);

struct HostsimFcOptions {
    bool delimiters = false;  // 4-byte SOF before the header, 4-byte EOF at the end
    bool crc = false;         // 4-byte CRC after the payload (before any EOF)
};

struct HostsimEthOptions {
    bool fcs = false;         // strip a trailing 4-byte FCS
};

// FC frame: [SOF] 24-byte header, payload, [CRC] [EOF]. On success the record
// describes the frame; on failure its kind is HOSTSIM_KIND_NONE.
HostsimStatus hostsimParseFc(const uint8_t* bytes, size_t length, port_id_t port,
                             HostsimFcOptions options, fcRawFrameStruct* raw);

// Ethernet frame: dst MAC, src MAC, up to two VLAN tags (TPID 0x8100, 0x88a8,
// 0x9100), EtherType, payload, [FCS]. Bytes that end inside a tag or before
// the EtherType after the tags are HOSTSIM_TOO_SHORT: no frame to trace
// (host/hostFrame.h).
HostsimStatus hostsimParseEthernet(const uint8_t* bytes, size_t length, port_id_t port,
                                   HostsimEthOptions options, fcRawFrameStruct* raw);

// Ordered-set decoding of four delimiter bytes; unknown sets decode to
// HOSTSIM_SOF_UNKNOWN / HOSTSIM_EOF_UNKNOWN.
HostsimSof hostsimDecodeSof(const uint8_t* set);
HostsimEof hostsimDecodeEof(const uint8_t* set);
const char* hostsimSofName(HostsimSof sof);
const char* hostsimEofName(HostsimEof eof);

#endif
