// FC frame parsing: [SOF] header payload [CRC] [EOF].
#include "frameParse.h"
#include "recordFill.h"
#include "wireWords.h"

HostsimStatus hostsimParseFc(const uint8_t* bytes, size_t length, port_id_t port,
                             HostsimFcOptions options, fcRawFrameStruct* raw)
{
    if (!raw)
        return HOSTSIM_NULL_ARGUMENT;
    hostsimBeginRecord(raw, port, length);
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
        raw->record[HOSTSIM_D_CHECK_VALUE] = hostsimBe32(frame + held);
    }
    hostsimFinishRecord(raw, HOSTSIM_KIND_FC, frame, held, kHostsimFcHeaderBytes);
    return HOSTSIM_OK;
}
