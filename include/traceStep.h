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
    // Registers the step under the next id, 1 to 1023; ids are never reused.
    // Past that the step still works, with id 0xFFFF, but getStep cannot
    // find it and saved files cannot format its records.
    TraceStep();
    // A registered step empties its registry slot for good.
    virtual ~TraceStep();

    TraceStep(const TraceStep&) = delete;
    TraceStep& operator=(const TraceStep&) = delete;

    // Each capture fills the record's three data words and may OR in flags;
    // it sets no step id (the caller stamps it). entry must be non-null. The
    // base captures record three zero words and ignore frame and port; a
    // step overrides the ones for the kinds of frame or event it understands.
    virtual void capture(TraceEntry* entry);
    virtual void capture(TraceEntry* entry, EthernetFrame* frame, port_id_t* port);
    virtual void capture(TraceEntry* entry, fcFrame* frame, port_id_t* port);
    // The base stores the name's two words in word1 and word2 and value in
    // word3, and ignores port.
    virtual void capture(TraceEntry* entry, WorldWideName& name, uint32_t value, int port);
    // One line: the step id and the three payload selectors. stream must be
    // non-null.
    virtual void describe(FILE* stream);
    // Writes the record's text into buf (size bytes, handed in empty), cut
    // to fit and terminated.
    virtual void format(TraceEntry* entry, char* buf, int size) = 0;

    // Writes prefix, text and postfix, then a newline for the last record
    // of a trace or a blank otherwise. Returns 0 for a null stream, else 1.
    int write(TraceEntry* entry, FILE* stream);
    // Text written before every record's text: a copy of str and a blank.
    // Replaces an earlier prefix; str must be non-null.
    void fmtPrefix(char* str);
    // Text written after every record's text: a blank and a copy of str.
    // Replaces an earlier postfix; str must be non-null.
    void fmtPostfix(char* str);

    // The step count, then one line a registry slot from 0 (always empty);
    // an empty slot prints "<slot>: step null". A null stream writes nothing.
    static void dump(FILE* stream);
    // The registered step of this id; null for 0, a negative id, an id never
    // handed out or a destroyed step.
    static TraceStep* getStep(int id);

    char* prefix_m;                  // owned; null until fmtPrefix
    char* postfix_m;                 // owned; null until fmtPostfix
    TracePayloadWord payload_m[3];   // used by the payload steps, printed by describe
    uint16_t stepId_m;               // 0xFFFF when not registered

    static Array<TraceStep*> traceSteps_m;   // slot id: the step, or null
    static uint32_t traceStepCount_m;        // the next id to hand out; 1024: none left
    static uint16_t next_id_m;               // 1; read and changed by nothing
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
    // A selected word past the frame's length, or one the frame cannot
    // supply, is not copied and sets TRACE_ENTRY_PAYLOAD_MISSING; so does a
    // frame whose length cannot be read, and then no word is copied.
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
// (the VLAN tags) and the payload words; words not found are left as they
// are (0 in a fresh record), and the payload is searched up to word 2303.
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
    // For callers holding a TraceDeviceEvent: the same words as the inherited
    // virtual capture. The library itself never calls it.
    void capture(TraceEntry* entry, uint32_t address, WorldWideName& name);
    void format(TraceEntry* entry, char* text, int size) override;
};

#endif
