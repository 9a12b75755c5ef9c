#include "scenario.h"

namespace samplegen {

namespace {

constexpr int kLinkEthernet = 1;
constexpr int kLinkFc2 = 224;
constexpr int kLinkFc2Delimited = 225;

// 2024-05-14 09:30:00 UTC.
constexpr int64_t kStart = 1715679000LL * 1000000;
constexpr int64_t kSwitchDelay = 3;  // microseconds between the two ports

constexpr uint32_t kFabricLogin = 0xFFFFFE;
constexpr uint32_t kFabricController = 0xFFFFFD;
constexpr uint32_t kNameServer = 0xFFFFFC;
constexpr uint32_t kHost = 0x010200;
constexpr uint32_t kTarget = 0x010400;
constexpr uint32_t kBusyTarget = 0x010500;

constexpr uint64_t kHostPortName = 0x10000000C9AABB01ULL;
constexpr uint64_t kHostNodeName = 0x20000000C9AABB01ULL;
constexpr uint64_t kFabricPortName = 0x2001000DEC010203ULL;
constexpr uint64_t kFabricName = 0x1001000DEC010203ULL;
constexpr uint64_t kTargetPortName = 0x500601603B201122ULL;
constexpr uint64_t kTargetNodeName = 0x500601603B201100ULL;

constexpr uint8_t kElsPlogi = 0x03;
constexpr uint8_t kElsFlogi = 0x04;
constexpr uint8_t kElsLsAcc = 0x02;

FcHeader request(uint8_t rCtl, uint8_t type, uint32_t dId, uint32_t sId, uint16_t oxId)
{
    FcHeader header;
    header.rCtl = rCtl;
    header.type = type;
    header.dId = dId;
    header.sId = sId;
    header.oxId = oxId;
    header.fCtl = kFctlRequest;
    return header;
}

FcHeader reply(uint8_t rCtl, uint8_t type, const FcHeader& to, uint16_t rxId, uint32_t fCtl)
{
    FcHeader header = request(rCtl, type, to.sId, to.dId, to.oxId);
    header.rxId = rxId;
    header.fCtl = fCtl;
    header.seqId = 1;
    return header;
}

FcHeader elsReply(const FcHeader& to, uint16_t rxId)
{
    return reply(kRctlElsReply, kTypeEls, to, rxId, kFctlReply);
}

// One FC exchange step as both ports see it.
struct FcEvent {
    int64_t micros;
    Bytes frame;
    bool atTarget;  // also seen on the target's port
};

std::vector<FcEvent> fabricLogin()
{
    std::vector<FcEvent> events;
    int64_t t = kStart;
    auto add = [&](int64_t gap, const FcHeader& header, const Bytes& payload, bool atTarget) {
        t += gap;
        events.push_back({t, fcWireFrame(header, payload), atTarget});
    };
    FcHeader flogi = request(kRctlElsRequest, kTypeEls, kFabricLogin, 0x000000, 0x0001);
    add(0, flogi, loginPayload(kElsFlogi, kHostPortName, kHostNodeName), false);
    FcHeader flogiAcc = elsReply(flogi, 0x0C01);
    flogiAcc.dId = kHost;  // the accept assigns the address
    add(410, flogiAcc, loginPayload(kElsLsAcc, kFabricPortName, kFabricName), false);
    FcHeader nsLogin = request(kRctlElsRequest, kTypeEls, kNameServer, kHost, 0x0002);
    add(1250, nsLogin, loginPayload(kElsPlogi, kHostPortName, kHostNodeName), false);
    add(380, elsReply(nsLogin, 0x0C02), loginPayload(kElsLsAcc, kFabricPortName, kFabricName),
        false);
    FcHeader scr = request(kRctlElsRequest, kTypeEls, kFabricController, kHost, 0x0003);
    add(2020, scr, scrPayload(), false);
    add(215, elsReply(scr, 0x0C03), lsAccPayload(), false);
    FcHeader rscn = request(kRctlElsRequest, kTypeEls, kHost, kFabricController, 0x8C10);
    add(15400, rscn, rscnPayload(kTarget), false);
    add(95, elsReply(rscn, 0x0004), lsAccPayload(), false);
    FcHeader plogi = request(kRctlElsRequest, kTypeEls, kTarget, kHost, 0x0005);
    add(3100, plogi, loginPayload(kElsPlogi, kHostPortName, kHostNodeName), true);
    add(640, elsReply(plogi, 0x2A01), loginPayload(kElsLsAcc, kTargetPortName, kTargetNodeName),
        true);
    FcHeader prli = request(kRctlElsRequest, kTypeEls, kTarget, kHost, 0x0006);
    add(520, prli, prliPayload(false), true);
    add(330, elsReply(prli, 0x2A02), prliPayload(true), true);
    FcHeader busy = request(kRctlElsRequest, kTypeEls, kBusyTarget, kHost, 0x0007);
    add(260, busy, loginPayload(kElsPlogi, kHostPortName, kHostNodeName), false);
    add(180, elsReply(busy, 0xFFFF), lsRjtPayload(0x09, 0x29), false);  // unable: no resources
    FcHeader read = request(kRctlFcpCommand, kTypeFcp, kTarget, kHost, 0x0010);
    add(4800, read, fcpReadCommand(0, 0x2000, 1), true);
    FcHeader data = reply(kRctlFcpData, kTypeFcp, read, 0x2A10, kFctlData);
    add(145, data, fcpData(512, 0x5A), true);
    add(12, reply(kRctlFcpResponse, kTypeFcp, read, 0x2A10, kFctlReply), fcpGoodResponse(), true);
    return events;
}

// The target's port sees its frames kSwitchDelay later (host to target) or
// earlier (target to host) than the host's port.
SampleFile targetPortFile(const std::vector<FcEvent>& events)
{
    SampleFile file{"fc-target.pcap", kLinkFc2, {}};
    for (const FcEvent& event : events) {
        if (!event.atTarget)
            continue;
        bool fromHost = (event.frame[5] << 16 | event.frame[6] << 8 | event.frame[7]) == kHost;
        file.frames.push_back(
            {event.micros + (fromHost ? kSwitchDelay : -kSwitchDelay), event.frame});
    }
    return file;
}

SampleFile hostPortFile(const std::vector<FcEvent>& events)
{
    SampleFile file{"fc-host.pcap", kLinkFc2Delimited, {}};
    for (const FcEvent& event : events)
        file.frames.push_back({event.micros, delimitedFcFrame(event.frame)});
    return file;
}

SampleFile ethernetPortFile()
{
    const Mac server{0x52, 0x54, 0x00, 0x12, 0x34, 0x56};
    const Mac gateway{0x00, 0x1c, 0x73, 0x0a, 0x0b, 0x0c};
    const Mac broadcast{0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    const Mac enode{0x00, 0x1b, 0x21, 0xaa, 0xbb, 0xcc};
    const Mac fcf{0x00, 0x0d, 0xec, 0x01, 0x02, 0x03};
    const Mac fabricAssigned{0x0e, 0xfc, 0x00, 0x01, 0x0a, 0x0b};  // FC-MAP + 010a0b
    const uint32_t serverIp = 0xC0A80A14;                          // 192.168.10.20
    const uint32_t gatewayIp = 0xC0A80A01;                         // 192.168.10.1
    const VlanTag vlan100{0x8100, 100};
    const VlanTag fcoeVlan{0x8100, 3 << 13 | 1002};
    const VlanTag serviceTag{0x88a8, 200};
    constexpr uint32_t kEnodeId = 0x010A0B;

    SampleFile file{"eth-fcoe.pcap", kLinkEthernet, {}};
    int64_t t = kStart + 250000;
    auto add = [&](int64_t gap, const Bytes& bytes) {
        t += gap;
        file.frames.push_back({t, bytes});
    };
    add(0, ethernetFrame(broadcast, server, {}, kEtherTypeArp,
                         arpPayload(false, server, serverIp, Mac{}, gatewayIp)));
    add(230, ethernetFrame(server, gateway, {}, kEtherTypeArp,
                           arpPayload(true, gateway, gatewayIp, server, serverIp)));
    add(90, ethernetFrame(gateway, server, {vlan100}, kEtherTypeIpv4,
                          icmpEchoPacket(false, serverIp, gatewayIp, 1)));
    add(310, ethernetFrame(server, gateway, {vlan100}, kEtherTypeIpv4,
                           icmpEchoPacket(true, gatewayIp, serverIp, 1)));
    add(1500, ethernetFrame(gateway, server, {serviceTag, vlan100}, kEtherTypeIpv4,
                            icmpEchoPacket(false, serverIp, gatewayIp, 2)));

    FcHeader flogi = request(kRctlElsRequest, kTypeEls, kFabricLogin, 0x000000, 0x0101);
    add(2000,
        ethernetFrame(fcf, enode, {fcoeVlan}, kEtherTypeFcoe,
                      fcoePayload(fcWireFrame(flogi, loginPayload(kElsFlogi, 0x100000001BAABBCCULL,
                                                                  0x200000001BAABBCCULL)))));
    FcHeader flogiAcc = elsReply(flogi, 0x1B01);
    flogiAcc.dId = kEnodeId;
    add(520, ethernetFrame(fabricAssigned, fcf, {fcoeVlan}, kEtherTypeFcoe,
                           fcoePayload(fcWireFrame(
                               flogiAcc, loginPayload(kElsLsAcc, kFabricPortName, kFabricName)))));
    FcHeader plogi = request(kRctlElsRequest, kTypeEls, kNameServer, kEnodeId, 0x0102);
    add(900,
        ethernetFrame(fcf, fabricAssigned, {}, kEtherTypeFcoe,
                      fcoePayload(fcWireFrame(plogi, loginPayload(kElsPlogi, 0x100000001BAABBCCULL,
                                                                  0x200000001BAABBCCULL)))));
    add(410, ethernetFrame(
                 fabricAssigned, fcf, {}, kEtherTypeFcoe,
                 fcoePayload(fcWireFrame(elsReply(plogi, 0x1B02),
                                         loginPayload(kElsLsAcc, kFabricPortName, kFabricName)))));
    FcHeader read = request(kRctlFcpCommand, kTypeFcp, kTarget, kEnodeId, 0x0120);
    add(3300, ethernetFrame(fcf, fabricAssigned, {fcoeVlan}, kEtherTypeFcoe,
                            fcoePayload(fcWireFrame(read, fcpReadCommand(1, 0x80, 1)))));
    add(250, ethernetFrame(fabricAssigned, fcf, {fcoeVlan}, kEtherTypeFcoe,
                           fcoePayload(fcWireFrame(
                               reply(kRctlFcpResponse, kTypeFcp, read, 0x3301, kFctlReply),
                               fcpGoodResponse()))));
    add(700, ethernetFrame(broadcast, server, {vlan100}, kEtherTypeArp,
                           arpPayload(false, server, serverIp, Mac{}, 0xC0A80A02)));
    return file;
}

}  // namespace

std::vector<SampleFile> sampleFiles()
{
    std::vector<FcEvent> login = fabricLogin();
    return {hostPortFile(login), targetPortFile(login), ethernetPortFile()};
}

}  // namespace samplegen
