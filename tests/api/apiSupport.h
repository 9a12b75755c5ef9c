// Shared by the trace API, output and allocation tests: wire images of the
// frames they trace (parsed by the reference host, as the host process
// would hand them over), and small readers of buffers and step texts.
#ifndef TRACELIB_TESTS_APISUPPORT_H
#define TRACELIB_TESTS_APISUPPORT_H

#include <stdint.h>
#include <stdio.h>

#include <functional>
#include <string>
#include <vector>

#include "hostsim.h"
#include "traceApi.h"

using Bytes = std::vector<uint8_t>;

// An FC frame: 24-byte header and the given payload words, big-endian.
Bytes fcWire(uint8_t rctl, uint32_t did, uint32_t sid, uint8_t type, uint16_t oxid,
             uint16_t rxid, const std::vector<uint32_t>& payload);
// PLOGI request (ELS, R_CTL 0x22) from 010200 to fffffc, OX_ID 1234, RX_ID ffff;
// payload 03000000 20200000 88000800 00ff0000.
Bytes plogiWire();
// FCP_CMND (R_CTL 0x06, TYPE 08) from 010200 to 020300, OX_ID 0042, RX_ID ffff.
Bytes fcpCommandWire();
// IPv4 over Ethernet, 00:1b:21:3a:4f:5e <- 52:54:00:12:34:56; with one VLAN
// tag 8100 0064 when vlan is set. Payload words 45000054 1c464000 4001a05b ...
Bytes ethWire(bool vlan);

// The library takes names and paths as char*; it never writes to them.
inline char* cs(const char* text)
{
    return const_cast<char*>(text);
}

// A buffer's records from the oldest to the newest.
std::vector<TraceEntry> records(TraceBuffer* buffer);
// What `write` puts on a stream, as a string.
std::string streamText(const std::function<void(FILE*)>& write);
// The one line TraceStep::describe prints for the step.
std::string describeText(TraceStep* step);
// The text of a file, or "<missing>" when it cannot be read.
std::string fileText(const std::string& path);

// The expected field values of one record.
struct Rec {
    uint16_t id;
    uint16_t flags;
    uint32_t word1;
    uint32_t word2;
    uint32_t word3;
};
std::string recText(const TraceEntry& e);
std::string recText(const Rec& r);
// Compares a buffer's records (oldest first) with the expected ones and
// names every difference.
std::string diffRecords(TraceBuffer* buffer, const std::vector<Rec>& expected);

#endif
