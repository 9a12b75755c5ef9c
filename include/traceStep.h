// TraceStep, the abstract capture step, with its process-wide registry, and
// the concrete steps for Fibre Channel, Ethernet and device-event records.
//
// A step fills the three data words of one TraceEntry at trace time
// (capture) and turns such a record back into text later (format). Every
// step enters itself into the registry when it is built; its slot number is
// its step id, which records carry so that the right step formats them.
// Steps belong to whoever created them: the registry and the filters' step
// lists only refer to them. A destroyed step leaves its slot empty for good.
#ifndef TRACELIB_INCLUDE_TRACESTEP_H
#define TRACELIB_INCLUDE_TRACESTEP_H

#include <stdint.h>
#include <stdio.h>

#include "array_t.h"
#include "hostFrame.h"
#include "hostUtil.h"
#include "list_t.h"
#include "traceBuffer.h"

// Selects one payload word for a payload step.
struct TracePayloadWord {
    bool valid;     // the selector is in use
    int32_t index;  // position of the payload word, in 32-bit words from 0
};

class TraceStep {
public:
    TraceStep();
    virtual ~TraceStep();

    TraceStep(const TraceStep&) = delete;
    TraceStep& operator=(const TraceStep&) = delete;

    // The base captures record three zero words; a step overrides the ones
    // for the kinds of frame or event it understands.
    virtual void capture(TraceEntry* entry);
    virtual void capture(TraceEntry* entry, EthernetFrame* frame, port_id_t* port);
    virtual void capture(TraceEntry* entry, fcFrame* frame, port_id_t* port);
    virtual void capture(TraceEntry* entry, WorldWideName& name, uint32_t value, int port);
    virtual void describe(FILE* stream);
    // Writes the record's text into buf (size bytes, handed in empty), cut
    // to fit and terminated.
    virtual void format(TraceEntry* entry, char* buf, int size) = 0;

    // Writes prefix, text and postfix, then a newline for the last record
    // of a trace or a blank otherwise. Returns 0 for a null stream, else 1.
    int write(TraceEntry* entry, FILE* stream);
    void fmtPrefix(char* str);
    void fmtPostfix(char* str);

    static void dump(FILE* stream);
    static TraceStep* getStep(int id);

    char* prefix_m;
    char* postfix_m;
    TracePayloadWord payload_m[3];
    uint16_t stepId_m;

    static Array<TraceStep*> traceSteps_m;
    static uint32_t traceStepCount_m;
    static uint16_t next_id_m;
};

typedef List<Element<TraceStep>> TraceStepList;

// Packs R_CTL, D_ID, S_ID, TYPE, OX_ID and RX_ID of a Fibre Channel frame.
class TraceFcHeader : public TraceStep {
public:
    TraceFcHeader();
    using TraceStep::capture;
    void capture(TraceEntry* entry, fcFrame* frame, port_id_t* port) override;
    void format(TraceEntry* entry, char* buf, int size) override;
};

// Copies up to three chosen payload words of a Fibre Channel frame; a
// negative index leaves its selector unused.
class TraceFcPayload : public TraceStep {
public:
    TraceFcPayload(int first, int second, int third);
    using TraceStep::capture;
    void capture(TraceEntry* entry, fcFrame* frame, port_id_t* port) override;
    void format(TraceEntry* entry, char* buf, int size) override;
};

// Records the destination and source MAC addresses of an Ethernet frame as
// bytes in record bytes 4-9 and 10-15.
class TraceEthDmacSmac : public TraceStep {
public:
    TraceEthDmacSmac();
    using TraceStep::capture;
    void capture(TraceEntry* entry, EthernetFrame* frame, port_id_t* port) override;
    void format(TraceEntry* entry, char* buf, int size) override;
};

// Records the first three words found among Ethernet header words 3 and 4
// (the VLAN tags) and the payload words.
class TraceEthData : public TraceStep {
public:
    TraceEthData();
    using TraceStep::capture;
    void capture(TraceEntry* entry, EthernetFrame* frame, port_id_t* port) override;
    void format(TraceEntry* entry, char* buf, int size) override;
};

// The step for device events: a world wide name and a device address,
// printed as "<address>/<name>".
class TraceDeviceEvent : public TraceStep {
public:
    TraceDeviceEvent();
    ~TraceDeviceEvent() override;
    using TraceStep::capture;
    void capture(TraceEntry* entry, uint32_t address, WorldWideName& name);
    void format(TraceEntry* entry, char* text, int size) override;
};

#endif
