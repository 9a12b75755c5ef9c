// crashhost DIR: a host that keeps its rings in DIR, traces every kind of
// record the library formats (Ethernet addresses are stored as bytes, the
// rest as words), then ends without cleaning up, in the middle of a trace.
// Its files are what a device of this target leaves behind after a crash.
#include <unistd.h>

#include "apiSupport.h"
#include "traceRecovery.h"

namespace {

// A step of the host's own: recovered as raw words.
class HostStep : public TraceStep {
public:
    void format(TraceEntry* entry, char* text, int size) override
    {
        snprintf(text, size_t(size), "host %u", entry->word1);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    hostsimClockSet(1700000000, 0);
    TraceApi* api = new TraceApi();
    if (traceKeepRingsIn(api, argv[1]) != 0)
        return 1;
    HostFcFrame plogi{wire(kPlogi), hostsimPort(7)}, fcp{wire(kFcp), hostsimPortPair(2, 7)};
    HostEthFrame eth{ethWire(true), hostsimPort(3)};
    port_id_t port = hostsimPort(9);
    WorldWideName wwn(0x10000005, 0x1e123456);
    TraceDeviceEvent* login = new TraceDeviceEvent();
    login->fmtPrefix(cs("LOGIN"));
    HostStep* host = new HostStep();
    TraceDeviceEvent* gone = new TraceDeviceEvent();
    api->initTraceBuffer(1, cs("frames"), 16, false);
    api->initTraceBuffer(2, nullptr, 64, false);
    api->captureFcFrame();
    api->captureEthFrame();
    api->addFrameFilter(rctl22(2, {api->fcHeader_m, api->els_m, new TraceFcPayload(0, 7, 300)}));
    for (int round = 0; round < 6; round++) {
        api->traceRx(&plogi.frame);
        api->traceTx(&fcp.frame, &port);
        api->traceRx(&eth.frame);
        api->traceDeviceEvent(0x010200 + round, wwn, round, 2, login->stepId_m);
        api->traceDeviceEvent(0x010300, wwn, round, 2, gone->stepId_m);
        api->beginTrace();
        api->addToTrace(host, 0x80000000u + round, 0xfedcba98, 0x01020304);
        api->endTrace();
        hostsimClockAdvance(125000);
    }
    delete gone;
    api->initTraceBuffer(0, cs("zero"), 8, true);
    TraceFcPayload* late = new TraceFcPayload(0, 1, 2);
    api->beginTrace();
    api->addToTrace(late, 1, 2, 3);
    _exit(0);
}
