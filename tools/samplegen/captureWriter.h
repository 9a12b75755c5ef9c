// Writes a pcap file with libpcap's own writer.
#ifndef TOOLS_SAMPLEGEN_CAPTUREWRITER_H
#define TOOLS_SAMPLEGEN_CAPTUREWRITER_H

#include <stdint.h>

#include <string>

#include "wireBytes.h"

typedef struct pcap pcap_t;
typedef struct pcap_dumper pcap_dumper_t;

namespace samplegen {

class CaptureWriter {
public:
    // Throws std::runtime_error when the file cannot be created.
    CaptureWriter(const std::string& path, int linkType);
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    // `micros` is the capture time in microseconds since the epoch.
    void write(int64_t micros, const Bytes& frame);

private:
    pcap_t* pcap_ = nullptr;
    pcap_dumper_t* dumper_ = nullptr;
};

}  // namespace samplegen

#endif
