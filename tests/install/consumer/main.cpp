// A minimal host: sets up tracing as a device's control process would,
// traces one received FC frame built by the reference host, saves the trace
// and checks that the frame is in it.
//
// usage: consumer <trace file>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "hostsim.h"
#include "traceApi.h"

namespace {

// A PLOGI request from 010200 to the name server fffffc: 24-byte header
// (R_CTL 22, TYPE 01 Extended Link Services, OX_ID 1234, RX_ID ffff), then
// the ELS command word and part of the service parameters.
const std::vector<uint8_t> kPlogi = {
    0x22, 0xff, 0xff, 0xfc,  0x00, 0x01, 0x02, 0x00,
    0x01, 0x29, 0x00, 0x00,  0x00, 0x00, 0x00, 0x00,
    0x12, 0x34, 0xff, 0xff,  0x00, 0x00, 0x00, 0x00,
    0x03, 0x00, 0x00, 0x00,  0x20, 0x20, 0x00, 0x00,
    0x88, 0x00, 0x08, 0x00,  0x00, 0xff, 0x00, 0x03,
};

bool fileContains(const char* path, const char* text)
{
    FILE* file = fopen(path, "r");
    if (file == nullptr)
        return false;
    std::vector<char> content;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0)
        content.insert(content.end(), chunk, chunk + n);
    fclose(file);
    content.push_back('\0');
    return strstr(content.data(), text) != nullptr;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s <trace file>\n", argv[0]);
        return 2;
    }

    TraceApi api;
    char name[] = "consumer";
    if (!api.initTraceBuffer(1, name, 64, true)) {
        fprintf(stderr, "initTraceBuffer failed\n");
        return 1;
    }
    api.captureFcFrame();
    api.captureEthFrame();
    api.captureELS();

    port_id_t port = {3, 0, 0};
    HostFcFrame frame(kPlogi, port);
    if (!frame.ok()) {
        fprintf(stderr, "frame not built: %s\n", hostsimStatusText(frame.status));
        return 1;
    }
    api.traceRx(&frame.frame);
    api.saveTrace(argv[1]);

    // The header step's text proves the frame went through the installed
    // library and the host's accessors.
    const char* expected = "rx r_ctl 22 d_id fffffc s_id 010200 type 01 ox_id 1234 rx_id ffff";
    if (!fileContains(argv[1], expected)) {
        fprintf(stderr, "%s does not hold the traced frame (\"%s\")\n", argv[1], expected);
        return 1;
    }
    printf("traced and saved to %s\n", argv[1]);
    return 0;
}
