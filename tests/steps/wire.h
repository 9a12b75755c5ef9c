// Wire images of the frames the step tests hand to the reference host: byte
// for byte as they travel (big-endian fields), without delimiters, CRC or
// FCS. The reference host (hostsim) parses them into its raw records.
#ifndef TRACELIB_TESTS_STEPS_WIRE_H
#define TRACELIB_TESTS_STEPS_WIRE_H

#include <stdint.h>

#include <initializer_list>
#include <vector>

using Bytes = std::vector<uint8_t>;

Bytes join(std::initializer_list<Bytes> parts);
// n bytes of value v (v written big-endian in n bytes).
Bytes be(uint32_t v, int n);

// The 24-byte Fibre Channel frame header (FC-FS).
struct FcHeader {
    uint8_t rctl;
    uint32_t did;        // 24 bits
    uint8_t csctl;
    uint32_t sid;        // 24 bits
    uint8_t type;
    uint32_t fctl;       // 24 bits
    uint8_t seqId;
    uint8_t dfctl;
    uint16_t seqCnt;
    uint16_t oxid;
    uint16_t rxid;
    uint32_t parameter;
};
Bytes fcHeader(const FcHeader& h);

// PLOGI from N_Port 0000e8 to the directory server fffffc, exchange
// 1234/ffff, with full login parameters (116 payload bytes).
extern const FcHeader kPlogiHeader;
Bytes plogiRequest();
// Its LS_ACC: fffffc to 0000e8, exchange 1234/0456.
extern const FcHeader kLsAccHeader;
Bytes plogiAccept();
// FCP_CMND carrying READ(10) of 8 blocks at LBA 0x10000000 (32 payload bytes).
extern const FcHeader kFcpHeader;
Bytes fcpCommand();
// An ELS request frame (R_CTL 22, TYPE 01) with the given payload.
Bytes elsFrame(const Bytes& payload);

// Ethernet: destination 0e:fc:00:01:0a:0b, source 00:c0:dd:12:34:56.
extern const Bytes kDstMac;
extern const Bytes kSrcMac;
Bytes ethFrame(std::initializer_list<Bytes> tags, uint16_t etherType, const Bytes& payload);
Bytes vlanTag(uint16_t tpid, uint16_t tci);
// An IPv4 ICMP echo request header (20 + 8 bytes), padded to the 46-byte
// minimum payload.
Bytes ipv4Ping();
// The FCoE encapsulation header: version, reserved bytes and SOFi3 (14 bytes);
// the FC frame follows it.
Bytes fcoeStart();

#endif
