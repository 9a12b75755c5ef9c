// The addresses of the device whose traffic is replayed: a frame sent from
// one of them counts as transmitted, every other frame as received.
#ifndef TOOLS_REPLAYCORE_LOCALADDRESSES_H
#define TOOLS_REPLAYCORE_LOCALADDRESSES_H

#include <stdint.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "frameDecode.h"

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

}  // namespace replay

#endif
