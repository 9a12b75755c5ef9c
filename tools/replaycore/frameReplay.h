// One captured frame through the trace library: decode the bytes, decide
// whether the device sent or received the frame, and hand it to traceTx or
// traceRx. This is the whole per-frame path of the replay, and the entry
// point for fuzzing it (bytes + link type -> frames traced).
//
// LocalAddresses are the addresses of the device whose traffic is replayed:
// a frame sent from one of them counts as transmitted, every other frame as
// received.
#ifndef TOOLS_REPLAYCORE_FRAMEREPLAY_H
#define TOOLS_REPLAYCORE_FRAMEREPLAY_H

#include <stddef.h>
#include <stdint.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frameDecode.h"
#include "traceApi.h"

namespace replay {
using MacAddress = std::array<uint8_t, 6>;

class LocalAddresses {
public:
    void addMac(const MacAddress& mac) { macs_.push_back(mac); }
    void addFcId(uint32_t id) { fcIds_.push_back(id & 0xFFFFFF); }
    // A MAC ("0e:fc:00:01:0a:0b" or with '-') or a 24-bit FC id ("010200",
    // "0x010200" or "01.02.00"); false when the text is neither.
    bool add(const std::string& text);

    // An FC frame is sent from here when its S_ID is local, or (FCoE) when
    // the Ethernet frame carrying it came from a local MAC.
    bool isTransmitted(const DecodedFrame& frame) const;
    bool empty() const { return macs_.empty() && fcIds_.empty(); }

private:
    std::vector<MacAddress> macs_;
    std::vector<uint32_t> fcIds_;
};

std::optional<MacAddress> parseMac(const std::string& text);
std::optional<uint32_t> parseFcId(const std::string& text);
class FrameReplayer {
public:
    FrameReplayer(TraceApi& api, LocalAddresses local);

    // Traces the frame (`length` bytes captured of `wireLength`) as seen on
    // `port`; a frame that cannot be decoded is not traced and its status is
    // returned. A cooked frame the capturing host sent is traced as
    // transmitted.
    DecodeStatus replay(const uint8_t* bytes, size_t length, size_t wireLength, int linkType,
                        port_id_t port);

    unsigned long transmitted() const { return transmitted_; }
    unsigned long received() const { return received_; }

private:
    DecodeStatus decode(const uint8_t* bytes, size_t length, size_t wireLength, int linkType,
                        port_id_t port, DecodedFrame& decoded, bool& outgoing);

    TraceApi& api_;
    LocalAddresses local_;
    std::unique_ptr<fcRawFrameStruct> raw_;  // about 20 KB, reused frame after frame
    std::vector<uint8_t> cookedAsEthernet_;  // a cooked frame rebuilt as Ethernet
    unsigned long transmitted_ = 0;
    unsigned long received_ = 0;
};
}  // namespace replay

#endif
