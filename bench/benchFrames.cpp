#include "benchFrames.h"

#include <stdio.h>
#include <stdlib.h>

#include <initializer_list>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// R_CTL, D_ID, CS_CTL, S_ID, TYPE, F_CTL, SEQ_ID, DF_CTL, SEQ_CNT, OX_ID,
// RX_ID, Parameter: 24 bytes.
Bytes fcHeader(uint8_t rctl, uint32_t did, uint32_t sid, uint8_t type, uint16_t oxid)
{
    return {rctl,
            uint8_t(did >> 16),
            uint8_t(did >> 8),
            uint8_t(did),
            0x00,
            uint8_t(sid >> 16),
            uint8_t(sid >> 8),
            uint8_t(sid),
            type,
            0x29,
            0x00,
            0x00,  // F_CTL: first, last, sequence initiative
            0x01,
            0x00,
            0x00,
            0x00,  // SEQ_ID 1, DF_CTL 0, SEQ_CNT 0
            uint8_t(oxid >> 8),
            uint8_t(oxid),
            0xFF,
            0xFF,
            0x00,
            0x00,
            0x00,
            0x00};
}

Bytes fcpCommandBytes()
{
    Bytes payload = {
        0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // FCP_LUN 1
        0x00, 0x00, 0x00, 0x02,                          // simple task, read data
        0x28, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00,  // READ(10) LBA 0x1000
        0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 8 blocks
        0x00, 0x00, 0x10, 0x00,                          // FCP_DL 4096
    };
    return concat({fcHeader(0x06, 0x010300, 0x010200, 0x08, 0x1234), payload});
}

Bytes plogiBytes()
{
    Bytes payload = {
        0x03, 0x00, 0x00, 0x00,                          // PLOGI
        0x20, 0x20, 0x00, 0x00, 0x88, 0x00, 0x08, 0x00,  // common service parameters
        0x00, 0xFF, 0x00, 0x03, 0x00, 0x00, 0x07, 0xD0,
        0x10, 0x00, 0x00, 0x05, 0x1E, 0x12, 0x34, 0x56,  // port name
        0x20, 0x00, 0x00, 0x05, 0x1E, 0x12, 0x34, 0x56,  // node name
    };
    Bytes classes(64, 0x00);  // classes 1 to 4
    classes[32] = 0x80;       // class 3 valid
    classes[38] = 0x08;       // receive size 2048
    Bytes vendorVersion(16, 0x00);
    return concat(
        {fcHeader(0x22, 0xFFFFFC, 0x010200, 0x01, 0x0010), payload, classes, vendorVersion});
}

Bytes ipv4UdpBytes()
{
    return {
        0x00, 0x1B, 0x21, 0x3A, 0x4F, 0x10,              // destination MAC
        0x52, 0x54, 0x00, 0x12, 0x34, 0x56,              // source MAC
        0x08, 0x00,                                      // IPv4
        0x45, 0x00, 0x00, 0x39, 0x1C, 0x46, 0x40, 0x00,  // IPv4 header
        0x40, 0x11, 0x00, 0x00, 0xC0, 0xA8, 0x00, 0x02, 0xC0, 0xA8, 0x00,
        0x01, 0xD4, 0x31, 0x00, 0x35, 0x00, 0x25, 0x00, 0x00,  // UDP to port 53
        0x12, 0x34, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00,        // DNS query
        0x00, 0x00, 0x00, 0x00, 0x07, 0x65, 0x78, 0x61, 0x6D, 0x70, 0x6C,
        0x65, 0x03, 0x63, 0x6F, 0x6D, 0x00, 0x00, 0x01, 0x00, 0x01,
    };
}

void require(bool ok, const char* what)
{
    if (ok)
        return;
    fprintf(stderr, "the reference host rejected the %s frame\n", what);
    abort();
}

}  // namespace

BenchFrames::BenchFrames()
    : fcpCommand(fcpCommandBytes(), hostsimPort(kBenchPort)),
      plogi(plogiBytes(), hostsimPort(kBenchPort)),
      ipv4Udp(ipv4UdpBytes(), hostsimPort(kBenchPort))
{
    require(fcpCommand.ok(), "FCP command");
    require(plogi.ok(), "PLOGI");
    require(ipv4Udp.ok(), "Ethernet");
}

BenchFrames& benchFrames()
{
    static BenchFrames* frames = new BenchFrames();
    return *frames;
}
