// Steps shared by the FC and Ethernet parsers for filling a raw record.
// Internal to hostsim; the record stays the caller's.
#ifndef HOSTSIM_RECORDFILL_H
#define HOSTSIM_RECORDFILL_H

#include <stddef.h>
#include <stdint.h>

#include "rawFrame.h"

// Zeroes the descriptor (kind NONE) and records the port and wire length.
void hostsimBeginRecord(fcRawFrameStruct* raw, port_id_t port, size_t wireBytes);

// Copies the held frame bytes into the record words and marks the record
// valid as the given kind; call last, once everything else is set.
void hostsimFinishRecord(fcRawFrameStruct* raw, HostsimFrameKind kind,
                         const uint8_t* frame, size_t frameBytes, size_t headerBytes);

#endif
