// TraceApi, the library's facade, with the identifier and ELS steps.
//
// The host creates one TraceApi and makes every call through it. The object
// owns its five predefined steps, every filter handed to it (presets
// included), every buffer it created and the system-log line under
// construction; steps the host creates stay the host's. Nothing here is
// thread-safe: a host that traces from several threads serialises its calls.
//
// Including this header alone gives a host every public type.
#ifndef TRACELIB_INCLUDE_TRACEAPI_H
#define TRACELIB_INCLUDE_TRACEAPI_H

#include <stdint.h>
#include <stdio.h>

#include "frameFilter.h"
#include "hostFrame.h"
#include "hostUtil.h"
#include "list_t.h"
#include "traceBuffer.h"
#include "traceStep.h"

// Opens every trace: records the time of day and, where one is known, the
// port through which the frame or event passed.
class TraceIdentifier : public TraceStep {
public:
    TraceIdentifier();
    void capture(TraceEntry* entry) override;
    void capture(TraceEntry* entry, EthernetFrame* frame, port_id_t* port) override;
    void capture(TraceEntry* entry, fcFrame* frame, port_id_t* port) override;
    void capture(TraceEntry* entry, WorldWideName& name, uint32_t value, int port) override;
    void format(TraceEntry* entry, char* buf, int size) override;

    void traceTime(TraceEntry* entry);
    void tracePort(TraceEntry* entry, port_id_t& port);
    void tracePort(TraceEntry* entry, int port);
};

// Payload words 0 to 2 of an Extended Link Service frame, printed with the
// name of the ELS command that payload word 0 carries.
class TraceEls : public TraceFcPayload {
public:
    TraceEls() : TraceFcPayload(0, 1, 2) {}
    ~TraceEls() override {}
    void format(TraceEntry* entry, char* text, int size) override;
};

class TraceApi {
public:
    TraceApi();
    ~TraceApi();

    TraceApi(const TraceApi&) = delete;
    TraceApi& operator=(const TraceApi&) = delete;

    // Buffers. A buffer id of 0 stands for the current buffer on lookup.
    bool initTraceBuffer(int id, char* name, int numEntries, bool makeCurrent);
    TraceBuffer* findBuffer(int id);

    // Manual traces on the current buffer.
    void beginTrace();
    void addToTrace(TraceStep* step, uint32_t word1, uint32_t word2, uint32_t word3);
    void endTrace();

    // Filters; the newest filter is tried first. The API takes ownership.
    void addFrameFilter(TraceFrameFilter* filter);
    void captureFcFrame();
    void captureEthFrame();
    void captureELS();

    // Frame tracing: the host calls these once per frame.
    void traceTx(EthernetFrame* frame, port_id_t* port);
    void traceTx(fcFrame* frame, port_id_t* port);
    void traceRx(EthernetFrame* frame);
    void traceRx(fcFrame* frame);
    void frameTrace(bool received, TraceBuffer* buffer, TraceStepList& steps,
                    EthernetFrame* frame, port_id_t* port);
    void frameTrace(bool received, TraceBuffer* buffer, TraceStepList& steps,
                    fcFrame* frame, port_id_t* port);

    void traceDeviceEvent(uint32_t address, WorldWideName& name, int port, int bufferId,
                          uint16_t stepId);

    // Mirroring every trace as one system-log line.
    void syslogTrace(bool on, char* unused);
    void syslogEnable(bool on);
    void addTraceMsgToSyslog(TraceEntry* entry, TraceStep* step);

    // Output files; a null path does nothing, errors go to the system log.
    void saveTrace(char* path);
    void debugDump(char* path);

    TraceFcHeader* fcHeader_m;
    TraceEthDmacSmac* ethDmacSmac_m;
    TraceEthData* ethData_m;
    TraceEls* els_m;
    TraceIdentifier* identifier_m;
    List<Element<TraceFrameFilter>>* frameFilters_m;
    List<Element<TraceBuffer>> traceBuffers_m;
    TraceBuffer* currentBuffer_m;
    char* syslogMsg_m;

private:
    TraceFrameFilter* matchingFilter(fcRawFrameStruct* raw);
    template <class Frame>
    void traceFrame(bool received, Frame* frame, port_id_t* port);
    template <class Frame>
    void recordFrame(bool received, TraceBuffer* buffer, TraceStepList& steps,
                     Frame* frame, port_id_t* port);
    TraceFrameFilter* newPreset(uint32_t offsetFrom);
    void emitSyslogLine();
    void writeBufferSummary(FILE* file, TraceBuffer* buffer);
    void writeMergedTraces(FILE* file);
    void closeOutput(FILE* file, char* path);
};

#endif
