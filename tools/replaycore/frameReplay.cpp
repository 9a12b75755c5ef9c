#include "frameReplay.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

#include "cookedFrame.h"

namespace replay {
namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool isMacLocal(const std::vector<MacAddress>& macs, const uint8_t* mac)
{
    return std::any_of(macs.begin(), macs.end(), [mac](const MacAddress& local) {
        return std::memcmp(local.data(), mac, local.size()) == 0;
    });
}

}  // namespace

std::optional<MacAddress> parseMac(const std::string& text)
{
    // Six pairs of hex digits with one separator between pairs.
    if (text.size() != 17)
        return std::nullopt;
    const char separator = text[2];
    if (separator != ':' && separator != '-')
        return std::nullopt;
    MacAddress mac{};
    for (size_t i = 0; i < mac.size(); ++i) {
        size_t at = 3 * i;
        int high = hexDigit(text[at]);
        int low = hexDigit(text[at + 1]);
        if (high < 0 || low < 0 || (i + 1 < mac.size() && text[at + 2] != separator))
            return std::nullopt;
        mac[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return mac;
}

std::optional<uint32_t> parseFcId(const std::string& text)
{
    std::string digits = text;
    if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0)
        digits.erase(0, 2);
    else if (digits.size() == 8 && digits[2] == '.' && digits[5] == '.')
        digits = digits.substr(0, 2) + digits.substr(3, 2) + digits.substr(6, 2);
    if (digits.size() != 6)
        return std::nullopt;
    uint32_t id = 0;
    for (char c : digits) {
        int digit = hexDigit(c);
        if (digit < 0)
            return std::nullopt;
        id = id << 4 | static_cast<uint32_t>(digit);
    }
    return id;
}

bool LocalAddresses::add(const std::string& text)
{
    if (auto mac = parseMac(text)) {
        addMac(*mac);
        return true;
    }
    if (auto id = parseFcId(text)) {
        addFcId(*id);
        return true;
    }
    return false;
}

bool LocalAddresses::isTransmitted(const DecodedFrame& frame) const
{
    if (frame.hasSourceMac && isMacLocal(macs_, frame.sourceMac))
        return true;
    if (frame.kind != FrameKind::Fc)
        return false;
    return std::find(fcIds_.begin(), fcIds_.end(), frame.sourceId) != fcIds_.end();
}
FrameReplayer::FrameReplayer(TraceApi& api, LocalAddresses local)
    : api_(api),
      local_(std::move(local)),
      raw_(std::make_unique<fcRawFrameStruct>()),
      cookedAsEthernet_(kHostsimMaxFrameBytes)
{
}

// A cooked frame is decoded as the Ethernet frame it stands for.
DecodeStatus FrameReplayer::decode(const uint8_t* bytes, size_t length, size_t wireLength,
                                   int linkType, port_id_t port, DecodedFrame& decoded,
                                   bool& outgoing)
{
    outgoing = false;
    if (linkType != kLinkCooked && linkType != kLinkCooked2)
        return decodeFrame(bytes, length, wireLength, linkType, port, *raw_, decoded);
    CookedFrame cooked;
    if (!parseCooked(bytes, length, linkType, cooked))
        return DecodeStatus::TooShort;
    if (cooked.protocol < kFirstEtherType)
        return DecodeStatus::NotEthernet;
    const size_t header = length - cooked.payloadBytes;
    const size_t ethernetBytes = kEthernetHeaderBytes + cooked.payloadBytes;
    if (cookedAsEthernet_.size() < ethernetBytes)
        cookedAsEthernet_.resize(ethernetBytes);
    cookedToEthernet(cooked, cookedAsEthernet_.data(), cookedAsEthernet_.size());
    outgoing = cooked.packetType == kPacketOutgoing;
    const size_t ethernetWire = std::max(wireLength, length) - header + kEthernetHeaderBytes;
    return decodeFrame(cookedAsEthernet_.data(), ethernetBytes, ethernetWire, kLinkEthernet, port,
                       *raw_, decoded);
}

DecodeStatus FrameReplayer::replay(const uint8_t* bytes, size_t length, size_t wireLength,
                                   int linkType, port_id_t port)
{
    DecodedFrame decoded;
    bool outgoing = false;
    DecodeStatus status = decode(bytes, length, wireLength, linkType, port, decoded, outgoing);
    if (status != DecodeStatus::Ok)
        return status;

    const bool sent = outgoing || local_.isTransmitted(decoded);
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
