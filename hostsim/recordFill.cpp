#include "recordFill.h"

#include "wireWords.h"

void hostsimBeginRecord(fcRawFrameStruct* raw, port_id_t port, size_t wireBytes)
{
    for (unsigned i = 0; i < kHostsimDescriptorWords; ++i)
        raw->record[i] = 0;
    raw->record[HOSTSIM_D_PORT_H0] = port.h0;
    raw->record[HOSTSIM_D_PORT_H1] = port.h1;
    raw->record[HOSTSIM_D_PORT_H2] = port.h2;
    raw->record[HOSTSIM_D_WIRE_BYTES] = static_cast<uint32_t>(wireBytes);
}

void hostsimFinishRecord(fcRawFrameStruct* raw, HostsimFrameKind kind,
                         const uint8_t* frame, size_t frameBytes, size_t headerBytes)
{
    hostsimLoadWords(frame, frameBytes, hostsimFrameWord(raw, 0));
    raw->record[HOSTSIM_D_FRAME_BYTES] = static_cast<uint32_t>(frameBytes);
    raw->record[HOSTSIM_D_HEADER_BYTES] = static_cast<uint32_t>(headerBytes);
    raw->record[HOSTSIM_D_PAYLOAD_BYTES] = static_cast<uint32_t>(frameBytes - headerBytes);
    raw->record[HOSTSIM_D_VALID_WORDS] =
        static_cast<uint32_t>(kHostsimDescriptorWords + (frameBytes + 3) / 4);
    raw->record[HOSTSIM_D_KIND] = kind;
}
