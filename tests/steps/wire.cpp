#include "wire.h"

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes be(uint32_t v, int n)
{
    Bytes out;
    for (int i = n - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return out;
}

Bytes fcHeader(const FcHeader& h)
{
    return join({be(h.rctl, 1), be(h.did, 3), be(h.csctl, 1), be(h.sid, 3), be(h.type, 1),
                 be(h.fctl, 3), be(h.seqId, 1), be(h.dfctl, 1), be(h.seqCnt, 2), be(h.oxid, 2),
                 be(h.rxid, 2), be(h.parameter, 4)});
}

namespace {

// FC-LS login service parameters after the command word: common service
// parameters, port and node names, class 1 to 4 parameters and the vendor
// version level: 112 bytes.
Bytes loginParameters(uint8_t nameLow)
{
    Bytes common = {0x20, 0x20, 0x00, 0x0a,    // FC-PH versions, BB credit 10
                    0x88, 0x00, 0x08, 0x00,    // common features, receive size 2048
                    0x00, 0xff, 0x00, 0x1f,    // concurrent sequences, relative offset
                    0x00, 0x00, 0x07, 0xd0};   // E_D_TOV 2000
    Bytes portName = {0x10, 0x00, 0x00, 0x05, 0x1e, 0x12, 0x34, nameLow};
    Bytes nodeName = {0x20, 0x00, 0x00, 0x05, 0x1e, 0x12, 0x34, nameLow};
    Bytes class1(16, 0);
    Bytes class2(16, 0);
    Bytes class3 = {0x88, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00,
                    0x00, 0xff, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00};
    Bytes class4(16, 0);
    Bytes vendor(16, 0);
    return join({common, portName, nodeName, class1, class2, class3, class4, vendor});
}

}  // namespace

const FcHeader kPlogiHeader = {0x22, 0xfffffc, 0x00, 0x0000e8, 0x01, 0x290000,
                               0x01, 0x00, 0x0000, 0x1234, 0xffff, 0x00000000};
const FcHeader kLsAccHeader = {0x23, 0x0000e8, 0x00, 0xfffffc, 0x01, 0x990000,
                               0x01, 0x00, 0x0000, 0x1234, 0x0456, 0x00000000};
const FcHeader kFcpHeader = {0x06, 0x020300, 0x00, 0x010200, 0x08, 0x290000,
                             0x07, 0x00, 0x0000, 0x0042, 0xffff, 0x00000000};

Bytes plogiRequest()
{
    return join({fcHeader(kPlogiHeader), {0x03, 0x00, 0x00, 0x00}, loginParameters(0x56)});
}

Bytes plogiAccept()
{
    return join({fcHeader(kLsAccHeader), {0x02, 0x00, 0x00, 0x00}, loginParameters(0x78)});
}

Bytes fcpCommand()
{
    Bytes cmnd = {0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,   // FCP_LUN 1
                  0x00, 0x00, 0x00, 0x02,                           // RDDATA
                  0x28, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00,   // READ(10): LBA
                  0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,   // 0x10000000, 8 blocks
                  0x00, 0x00, 0x10, 0x00};                          // FCP_DL 4096
    return join({fcHeader(kFcpHeader), cmnd});
}

Bytes elsFrame(const Bytes& payload)
{
    return join({fcHeader(kPlogiHeader), payload});
}

const Bytes kDstMac = {0x0e, 0xfc, 0x00, 0x01, 0x0a, 0x0b};
const Bytes kSrcMac = {0x00, 0xc0, 0xdd, 0x12, 0x34, 0x56};

Bytes vlanTag(uint16_t tpid, uint16_t tci)
{
    return join({be(tpid, 2), be(tci, 2)});
}

Bytes ethFrame(std::initializer_list<Bytes> tags, uint16_t etherType, const Bytes& payload)
{
    Bytes out = join({kDstMac, kSrcMac});
    for (const Bytes& tag : tags)
        out.insert(out.end(), tag.begin(), tag.end());
    Bytes type = be(etherType, 2);
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes ipv4Ping()
{
    Bytes ip = {0x45, 0x00, 0x00, 0x54, 0x1c, 0x46, 0x40, 0x00, 0x40, 0x01,
                0xa0, 0x5b, 0xc0, 0xa8, 0x01, 0x0a, 0xc0, 0xa8, 0x01, 0x01};
    Bytes icmp = {0x08, 0x00, 0xf7, 0xfc, 0x00, 0x01, 0x00, 0x02};
    Bytes out = join({ip, icmp});
    out.resize(46, 0);
    return out;
}

Bytes fcoeStart()
{
    Bytes out(13, 0);   // version 0 and reserved
    out.push_back(0x2e);   // SOFi3
    return out;
}
