// TraceStep, the abstract capture step, with its process-wide registry, and
// every concrete step: Fibre Channel header, payload and ELS, Ethernet
// addresses and data, device events, and the identifier that opens traces.
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
#include <sys/time.h>

#include "array_t.h"
#include "hostFrame.h"
#include "hostUtil.h"
#include "list_t.h"
#include "traceAssert.h"
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

// Payload words 0 to 2 of an Extended Link Service frame, printed with the
// name of the ELS command that payload word 0 carries.
class TraceEls : public TraceFcPayload {
public:
    TraceEls() : TraceFcPayload(0, 1, 2) {}
    ~TraceEls() override {}
    // "ELS <name> (w1 w2 w3)", the command named by the top byte of word1;
    // a code without a known command reads "CMD".
    void format(TraceEntry* entry, char* text, int size) override;
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

// Opens every trace: records the time of day and, where one is known, the
// port through which the frame or event passed. Its captures are defined
// here so that the trace API's calls to them compile to straight-line code
// in the per-frame path.
class TraceIdentifier : public TraceStep {
public:
    TraceIdentifier();
    // The time of day only; word3 and the flags are left as they are.
    void capture(TraceEntry* entry) override
    {
        TRACE_ASSERT(entry);
        traceTime(entry);
    }
    // Time and port: *port when port is non-null, otherwise the port the
    // frame reports through GetOrigPortID(). The frame must be non-null.
    void capture(TraceEntry* entry, EthernetFrame* frame, port_id_t* port) override
    {
        captureFrame(entry, frame, port);
    }
    void capture(TraceEntry* entry, fcFrame* frame, port_id_t* port) override
    {
        captureFrame(entry, frame, port);
    }
    // Time and the plain port number; name and value are ignored.
    void capture(TraceEntry* entry, WorldWideName&, uint32_t, int port) override
    {
        TRACE_ASSERT(entry);
        traceTime(entry);
        tracePort(entry, port);
    }
    // The time text, then " port N" or " port N.M" as the port flag says.
    void format(TraceEntry* entry, char* buf, int size) override;

    // Seconds into word1, microseconds into word2.
    void traceTime(TraceEntry* entry)
    {
        struct timeval now;
        gettimeofday(&now, nullptr);
        entry->word1 = static_cast<uint32_t>(now.tv_sec);
        entry->word2 = static_cast<uint32_t>(now.tv_usec);
    }
    // word3 and TRACE_ENTRY_PORT_PAIR when port.h0 is 0xFFFF (h1 in the high
    // half, h2 in the low half), otherwise h0 and TRACE_ENTRY_PORT.
    void tracePort(TraceEntry* entry, port_id_t& port)
    {
        if (port.h0 == kPortPairMarker) {
            entry->flags |= TRACE_ENTRY_PORT_PAIR;
            entry->word3 = (static_cast<uint32_t>(port.h1) << 16) | port.h2;
        } else {
            entry->flags |= TRACE_ENTRY_PORT;
            entry->word3 = port.h0;
        }
    }
    // word3 and TRACE_ENTRY_PORT.
    void tracePort(TraceEntry* entry, int port)
    {
        entry->word3 = static_cast<uint32_t>(port);
        entry->flags |= TRACE_ENTRY_PORT;
    }

private:
    static const uint16_t kPortPairMarker = 0xFFFF;   // port_id_t::h0 of a port pair

    // Both kinds of frame: the time, and the caller's port if it gave one,
    // otherwise the port the frame reports.
    template <class Frame>
    void captureFrame(TraceEntry* entry, Frame* frame, port_id_t* port)
    {
        TRACE_ASSERT(frame);
        TRACE_ASSERT(entry);
        traceTime(entry);
        port_id_t portId = frame->GetOrigPortID();
        if (port != nullptr)
            portId = *port;
        tracePort(entry, portId);
    }
};

#endif
