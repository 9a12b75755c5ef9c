// Fibre Channel frames on the wire: the 24-byte header, ELS and FCP
// payloads, and the delimited form with SOF, CRC and EOF.
#ifndef TOOLS_SAMPLEGEN_FCFRAMES_H
#define TOOLS_SAMPLEGEN_FCFRAMES_H

#include <stdint.h>

#include "captureWriter.h"

namespace samplegen {

struct FcHeader {
    uint8_t rCtl = 0;
    uint32_t dId = 0;
    uint32_t sId = 0;
    uint8_t type = 0;
    uint32_t fCtl = 0;
    uint8_t seqId = 0;
    uint16_t seqCnt = 0;
    uint16_t oxId = 0;
    uint16_t rxId = 0xFFFF;
    uint32_t parameter = 0;
};

// R_CTL values and TYPEs used by the samples.
constexpr uint8_t kRctlElsRequest = 0x22;
constexpr uint8_t kRctlElsReply = 0x23;
constexpr uint8_t kRctlFcpData = 0x01;
constexpr uint8_t kRctlFcpCommand = 0x06;
constexpr uint8_t kRctlFcpResponse = 0x07;
constexpr uint8_t kTypeEls = 0x01;
constexpr uint8_t kTypeFcp = 0x08;
// F_CTL of a one-frame sequence from the originator (first sequence, end of
// sequence, initiative passed) and from the responder (last sequence).
constexpr uint32_t kFctlRequest = 0x290000;
constexpr uint32_t kFctlReply = 0x990000;
constexpr uint32_t kFctlData = 0x880008;

// Header followed by payload: the frame as link type FC_2 carries it.
Bytes fcFrame(const FcHeader& header, const Bytes& payload);
// SOFi3, frame, CRC, EOFt: the frame as FC_2_WITH_FRAME_DELIMS carries it.
Bytes delimitedFcFrame(const Bytes& frame);
// The frame's CRC-32 (the Ethernet polynomial) in the byte order it is sent.
Bytes fcCrc(const Bytes& frame);

// ELS payloads.
Bytes loginPayload(uint8_t command, uint64_t portName, uint64_t nodeName);
Bytes prliPayload(bool accept);
Bytes scrPayload();
Bytes rscnPayload(uint32_t affectedId);
Bytes lsAccPayload();
Bytes lsRjtPayload(uint8_t reason, uint8_t explanation);

// FCP payloads: READ(10) of `blocks` 512-byte blocks, its data, good status.
Bytes fcpReadCommand(uint16_t lun, uint32_t lba, uint16_t blocks);
Bytes fcpData(size_t bytes, uint8_t seed);
Bytes fcpGoodResponse();

}  // namespace samplegen

#endif
