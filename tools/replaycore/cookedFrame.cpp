#include "cookedFrame.h"

#include <string.h>

#include <algorithm>

#include "byteOrder.h"
#include "frameDecode.h"

namespace replay {

namespace {

constexpr size_t kMacBytes = 6;

}  // namespace

bool parseCooked(const uint8_t* bytes, size_t length, int linkType, CookedFrame& cooked)
{
    cooked = CookedFrame{};
    if (linkType == kLinkCooked && length >= kCookedHeaderBytes) {
        cooked.packetType = static_cast<uint8_t>(readBigEndian16(bytes));
        cooked.addressBytes =
            static_cast<uint8_t>(std::min<uint16_t>(readBigEndian16(bytes + 4), 8));
        memcpy(cooked.address, bytes + 6, 8);
        cooked.protocol = readBigEndian16(bytes + 14);
        cooked.payload = bytes + kCookedHeaderBytes;
        cooked.payloadBytes = length - kCookedHeaderBytes;
        return true;
    }
    if (linkType == kLinkCooked2 && length >= kCooked2HeaderBytes) {
        cooked.protocol = readBigEndian16(bytes);
        cooked.interfaceIndex = readBigEndian32(bytes + 4);
        cooked.packetType = bytes[10];
        cooked.addressBytes = std::min<uint8_t>(bytes[11], 8);
        memcpy(cooked.address, bytes + 12, 8);
        cooked.payload = bytes + kCooked2HeaderBytes;
        cooked.payloadBytes = length - kCooked2HeaderBytes;
        return true;
    }
    return false;
}

size_t cookedToEthernet(const CookedFrame& cooked, uint8_t* out, size_t capacity)
{
    uint8_t header[kEthernetHeaderBytes] = {};
    if (cooked.packetType == kPacketBroadcast)
        memset(header, 0xFF, kMacBytes);
    if (cooked.addressBytes == kMacBytes)
        memcpy(header + kMacBytes, cooked.address, kMacBytes);
    header[12] = static_cast<uint8_t>(cooked.protocol >> 8);
    header[13] = static_cast<uint8_t>(cooked.protocol);
    const size_t headerBytes = std::min(capacity, kEthernetHeaderBytes);
    memcpy(out, header, headerBytes);
    memcpy(out + headerBytes, cooked.payload,
           std::min(cooked.payloadBytes, capacity - headerBytes));
    return kEthernetHeaderBytes + cooked.payloadBytes;
}

}  // namespace replay
