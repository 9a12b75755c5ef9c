#include "fcFrames.h"

#include <zlib.h>

namespace samplegen {

namespace {

constexpr uint8_t kElsFlogi = 0x04;
constexpr uint8_t kElsLsAcc = 0x02;
constexpr uint8_t kElsLsRjt = 0x01;
constexpr uint8_t kElsPrli = 0x20;
constexpr uint8_t kElsScr = 0x62;
constexpr uint8_t kElsRscn = 0x61;

// Common service parameters of a login: FC-PH versions 0x20, buffer-to-
// buffer credit 3, continuously increasing offset, 2112-byte frames.
void putCommonServiceParameters(Bytes& out, bool fabric)
{
    put32(out, 0x20200003);
    put32(out, 0x88000840);
    put32(out, 0x00FF0002);
    put32(out, fabric ? 0x000007D0 : 0x000001F4);   // R_A_TOV / E_D_TOV
}

// Class 3 valid with sequential delivery; classes 1, 2 and 4 unused.
void putClassParameters(Bytes& out)
{
    for (int cls = 1; cls <= 4; ++cls) {
        put32(out, cls == 3 ? 0x88000000 : 0);
        put32(out, cls == 3 ? 0x00000840 : 0);
        put32(out, cls == 3 ? 0x00FF0000 : 0);
        put32(out, cls == 3 ? 0x00010000 : 0);
    }
}

}  // namespace

Bytes fcFrame(const FcHeader& header, const Bytes& payload)
{
    Bytes out;
    out.push_back(header.rCtl);
    put24(out, header.dId);
    out.push_back(0);   // CS_CTL
    put24(out, header.sId);
    out.push_back(header.type);
    put24(out, header.fCtl);
    out.push_back(header.seqId);
    out.push_back(0);   // DF_CTL
    put16(out, header.seqCnt);
    put16(out, header.oxId);
    put16(out, header.rxId);
    put32(out, header.parameter);
    append(out, payload);
    return out;
}

Bytes fcCrc(const Bytes& frame)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, frame.data(), static_cast<uInt>(frame.size()));
    Bytes out;
    for (int shift = 0; shift < 32; shift += 8)   // least significant byte first
        out.push_back(static_cast<uint8_t>(crc >> shift));
    return out;
}

Bytes delimitedFcFrame(const Bytes& frame)
{
    const uint32_t kSofI3 = 0xBCB55656;
    const uint32_t kEofT = 0xBC957575;
    Bytes out;
    out.reserve(frame.size() + 12);
    put32(out, kSofI3);
    append(out, frame);
    append(out, fcCrc(frame));
    put32(out, kEofT);
    return out;
}

Bytes loginPayload(uint8_t command, uint64_t portName, uint64_t nodeName)
{
    Bytes out;
    put32(out, uint32_t{command} << 24);
    putCommonServiceParameters(out, command == kElsFlogi);
    put64(out, portName);
    put64(out, nodeName);
    putClassParameters(out);
    out.resize(out.size() + 16, 0);   // vendor version level
    return out;
}

// One FCP service parameter page: an initiator asks to establish an image
// pair; a target accepts (response code 1) and offers the target function.
Bytes prliPayload(bool accept)
{
    Bytes out;
    put32(out, uint32_t{accept ? kElsLsAcc : kElsPrli} << 24 | 0x10 << 16 | 0x0014);
    put32(out, accept ? 0x08002100 : 0x08002000);
    put32(out, 0);
    put32(out, 0);
    put32(out, accept ? 0x00000012 : 0x00000022);
    return out;
}

Bytes scrPayload()
{
    Bytes out;
    put32(out, uint32_t{kElsScr} << 24);
    put32(out, 0x00000003);   // full registration
    return out;
}

Bytes rscnPayload(uint32_t affectedId)
{
    Bytes out;
    put32(out, uint32_t{kElsRscn} << 24 | 0x04 << 16 | 0x0008);
    put32(out, affectedId & 0xFFFFFF);   // port address format
    return out;
}

Bytes lsAccPayload()
{
    Bytes out;
    put32(out, uint32_t{kElsLsAcc} << 24);
    return out;
}

Bytes lsRjtPayload(uint8_t reason, uint8_t explanation)
{
    Bytes out;
    put32(out, uint32_t{kElsLsRjt} << 24);
    put32(out, uint32_t{reason} << 16 | uint32_t{explanation} << 8);
    return out;
}

Bytes fcpReadCommand(uint16_t lun, uint32_t lba, uint16_t blocks)
{
    Bytes out;
    put16(out, lun);
    out.resize(8, 0);                 // rest of the LUN
    put32(out, 0x00000002);           // CRN, attributes, RDDATA
    out.push_back(0x28);              // READ(10)
    out.push_back(0);
    put32(out, lba);
    out.push_back(0);
    put16(out, blocks);
    out.push_back(0);
    out.resize(out.size() + 6, 0);    // rest of the 16-byte CDB
    put32(out, uint32_t{blocks} * 512);   // FCP_DL
    return out;
}

Bytes fcpData(size_t bytes, uint8_t seed)
{
    Bytes out(bytes);
    for (size_t i = 0; i < bytes; ++i)
        out[i] = static_cast<uint8_t>(seed + i * 7);
    return out;
}

Bytes fcpGoodResponse()
{
    return Bytes(24, 0);
}

}  // namespace samplegen
