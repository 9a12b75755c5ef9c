// The capture link types that the replay understands (pcap LINKTYPE_ values).
#ifndef TOOLS_REPLAYCORE_LINKTYPE_H
#define TOOLS_REPLAYCORE_LINKTYPE_H

namespace replay {

constexpr int kLinkEthernet = 1;          // Ethernet II, may carry FCoE
constexpr int kLinkFc2 = 224;             // FC-2 frame: header and payload
constexpr int kLinkFc2Delimited = 225;    // SOF, header, payload, CRC, EOF

inline bool isSupportedLinkType(int linkType)
{
    return linkType == kLinkEthernet || linkType == kLinkFc2 || linkType == kLinkFc2Delimited;
}

}  // namespace replay

#endif
