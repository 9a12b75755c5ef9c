// Capture files made on the spot for the tests: pcap files of any link type
// written with libpcap, and wire bytes of FC and Ethernet frames.
#ifndef TESTS_TOOLS_CAPTUREBUILDER_H
#define TESTS_TOOLS_CAPTUREBUILDER_H

#include <stdint.h>

#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct TestFrame {
    int64_t micros;   // capture time since the epoch
    Bytes bytes;
};

void writeCapture(const std::string& path, int linkType, const std::vector<TestFrame>& frames);

// A 24-byte FC header (F_CTL, SEQ_ID, DF_CTL, SEQ_CNT and parameter zero)
// followed by `payload`.
Bytes fcBytes(uint8_t rCtl, uint32_t dId, uint32_t sId, uint8_t type, uint16_t oxId,
              uint16_t rxId, const Bytes& payload = {});

// dst, src, tags (each a TPID and TCI), EtherType, payload.
Bytes ethBytes(const Bytes& dst, const Bytes& src, const std::vector<uint32_t>& tags,
               uint16_t etherType, const Bytes& payload);

// An FCoE payload around an FC frame (SOFi3, EOFt, CRC zero).
Bytes fcoeBytes(const Bytes& fcFrame);

// 2024-05-14 09:30:00 UTC in microseconds, the samples' epoch.
constexpr int64_t kSampleStart = 1715679000LL * 1000000;

#endif
