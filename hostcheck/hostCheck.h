// The adapter a host supplies to run the host check kit.
//
// The kit (libtracelib-hostcheck.a, CMake tracelib::hostcheck, pkg-config
// tracelib-hostcheck) provides main(): it builds frames from wire bytes it
// carries, calls every host function the library calls, traces the frames
// through the library with its presets and compares each answer with what
// the library needs. Link it with the library and with the host's own
// definitions of host/hostFrame.h and host/hostUtil.h plus the four functions
// below, then run the program: it prints one line per failing check, ends
// with "N passed, N failed" and exits non-zero when anything failed.
// --help says what a pass proves and what it cannot, --list lists every
// check grouped by host function, --verbose prints passed checks too.
//
// Ownership: the bytes stay the kit's and are valid only during the call, so
// a host copies what it needs. A frame returned here belongs to the host
// until the kit hands it back to the matching free function; the kit calls
// nothing on it afterwards. Return null when the host cannot represent the
// frame: the kit reports that as a failure of the function.
#ifndef TRACELIB_HOSTCHECK_HOSTCHECK_H
#define TRACELIB_HOSTCHECK_HOSTCHECK_H

#include <stddef.h>
#include <stdint.h>

#include "hostFrame.h"

// An FC frame from its FC-2 bytes as they cross the wire: the 24-byte header
// (R_CTL first) and the payload; no SOF or EOF delimiter, no CRC. length is
// at least 24 and need not be a multiple of 4. GetOrigPortID() of the frame
// must return port.
fcFrame* hostcheckMakeFcFrame(const uint8_t* bytes, size_t length, port_id_t port);
void hostcheckFreeFcFrame(fcFrame* frame);

// An Ethernet frame from its bytes as they cross the wire: destination MAC
// first, then source MAC, up to two VLAN tags, the EtherType and the
// payload; no preamble, no FCS. length is at least 14. GetOrigPortID() of
// the frame must return port. A frame that ends inside its VLAN tags or
// before the EtherType after them is no frame (host/hostFrame.h): return
// null for it, as the host drops such a frame instead of tracing it.
EthernetFrame* hostcheckMakeEthernetFrame(const uint8_t* bytes, size_t length, port_id_t port);
void hostcheckFreeEthernetFrame(EthernetFrame* frame);

#endif
