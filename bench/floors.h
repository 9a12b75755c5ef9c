// The floors: the least work that each recording case has to do, written by
// hand with nothing of the trace library. Each floor reads the time of day
// once, makes the reference host's calls that its trace needs (the matcher,
// the port, the header fields or payload words) and stores the same 16-byte
// records the library stores into a plain preallocated ring. The benchmarks
// set every library case beside its floor; the ratio of the two is the
// library's overhead.
//
// Every floor returns the number of records it stored (0 when its frame does
// not match), so that a benchmark can check it measures real work.
#ifndef TRACELIB_BENCH_FLOORS_H
#define TRACELIB_BENCH_FLOORS_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "hostFrame.h"
#include "hostUtil.h"

// The record layout of the trace format: 16 bytes.
struct HandRecord {
    uint16_t id;
    uint16_t flags;
    uint32_t word1;
    uint32_t word2;
    uint32_t word3;
};

// A power-of-two ring of records that never grows.
class HandRing {
public:
    explicit HandRing(uint32_t size) : slots_(size), mask_(size - 1) {}

    HandRecord* take()
    {
        HandRecord* record = &slots_[next_];
        next_ = (next_ + 1) & mask_;
        return record;
    }

private:
    std::vector<HandRecord> slots_;
    uint32_t mask_;
    uint32_t next_ = 0;
};

// The system-log line of a mirrored trace: at most 254 characters.
constexpr size_t kFloorLineSize = 255;

// gettimeofday alone.
int floorClock();
// A received FC frame traced with its header fields.
int floorFcRx(HandRing& ring, fcFrame* frame, RegisterFrameEntry* rule);
// A transmitted FC frame with the caller's port: no port query on the frame.
int floorFcTx(HandRing& ring, fcFrame* frame, RegisterFrameEntry* rule, const port_id_t& port);
// A received ELS frame: header fields and payload words 0 to 2.
int floorElsRx(HandRing& ring, fcFrame* frame, RegisterFrameEntry* rule);
// A received Ethernet frame: both addresses and three data words.
int floorEthRx(HandRing& ring, EthernetFrame* frame, RegisterFrameEntry* rule);
// A frame tried against every rule, none of which matches.
int floorNoMatch(fcFrame* frame, RegisterFrameEntry* rules, size_t count);
// A device event: the time and port, then the name and address.
int floorDeviceEvent(HandRing& ring, uint32_t address, const WorldWideName& name, int port);
// An opening record with the time, then two records of caller-given words.
int floorManual(HandRing& ring, const uint32_t first[3], const uint32_t second[3]);
// floorFcRx, then the trace as one text line handed to syslog.
int floorFcRxMirrored(HandRing& ring, fcFrame* frame, RegisterFrameEntry* rule, char* line);

#endif
