#include "frameReplay.h"

#include <utility>

namespace replay {

FrameReplayer::FrameReplayer(TraceApi& api, LocalAddresses local)
    : api_(api), local_(std::move(local)), raw_(std::make_unique<fcRawFrameStruct>())
{
}

DecodeStatus FrameReplayer::replay(const uint8_t* bytes, size_t length, int linkType,
                                   port_id_t port)
{
    DecodedFrame decoded;
    DecodeStatus status = decodeFrame(bytes, length, linkType, port, *raw_, decoded);
    if (status != DecodeStatus::Ok)
        return status;

    const bool sent = local_.isTransmitted(decoded);
    (sent ? transmitted_ : received_)++;
    if (decoded.kind == FrameKind::Fc) {
        fcFrame frame{raw_.get()};
        if (sent)
            api_.traceTx(&frame, &port);
        else
            api_.traceRx(&frame);
    } else {
        EthernetFrame frame{raw_.get()};
        if (sent)
            api_.traceTx(&frame, &port);
        else
            api_.traceRx(&frame);
    }
    return DecodeStatus::Ok;
}

}  // namespace replay
