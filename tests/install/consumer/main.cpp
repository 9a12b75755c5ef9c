// A minimal host: sets up tracing as a device's control process would,
// traces one PLOGI from 010200 to fffffc built by the reference host, saves
// the trace to argv[1] and checks that the frame is in it.
#include <stdio.h>

#include <fstream>
#include <sstream>

#include "hostsim.h"
#include "traceApi.h"

int main(int argc, char** argv)
{
    TraceApi api;
    char name[] = "consumer";
    if (argc != 2 || !api.initTraceBuffer(1, name, 64, true))
        return 2;
    api.captureFcFrame();
    api.captureEthFrame();
    api.captureELS();
    HostFcFrame frame(
        {0x22, 0xff, 0xff, 0xfc, 0, 0x01, 0x02, 0, 0x01, 0x29, 0, 0, 0,    0,    0, 0,
         0x12, 0x34, 0xff, 0xff, 0, 0,    0,    0, 0x03, 0,    0, 0, 0x20, 0x20, 0, 0},
        port_id_t{3, 0, 0});
    if (!frame.ok()) {
        fprintf(stderr, "frame not built: %s\n", hostsimStatusText(frame.status));
        return 1;
    }
    api.traceRx(&frame.frame);
    api.saveTrace(argv[1]);
    std::stringstream saved;
    saved << std::ifstream(argv[1]).rdbuf();
    if (saved.str().find("rx r_ctl 22 d_id fffffc s_id 010200 type 01 ox_id 1234 rx_id ffff") ==
        std::string::npos) {
        fprintf(stderr, "%s does not hold the traced frame\n", argv[1]);
        return 1;
    }
    return 0;
}
