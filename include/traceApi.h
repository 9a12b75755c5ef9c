// TraceApi, the library's facade.
//
// The host creates one TraceApi and makes every call through it. The object
// owns its five predefined steps, every filter handed to it (presets
// included), every buffer it created and the system-log line under
// construction; steps the host creates stay the host's. Nothing here is
// thread-safe: a host that traces from several threads serialises its calls.
//
// Until the first successful initTraceBuffer there is no current buffer, and
// every recording call (manual traces, frame tracing, device events) does
// nothing. No call reports an error: what cannot be recorded is dropped, and
// only a caller's programming error (a null step or entry where one is
// required) stops the process.
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

class TraceApi {
public:
    // Creates the five predefined steps, which take the next five step ids
    // (1 to 5 in a process that made no step before). No buffer, no filter,
    // mirroring off.
    TraceApi();
    // Calls closelog() and destroys the predefined steps, every filter and
    // every buffer; steps the host made are left alone. A partly built
    // system-log line is discarded, not logged.
    ~TraceApi();

    TraceApi(const TraceApi&) = delete;
    TraceApi& operator=(const TraceApi&) = delete;

    // ---- Buffers

    // Creates a ring of numEntries records named name (copied; null gives
    // "Trace Buffer <id>") and returns true. Returns false and changes
    // nothing when numEntries is not a power of two (0 and negatives
    // included). A buffer of the same id is destroyed with its records first,
    // so pointers from findBuffer to it dangle; the new one goes to the end
    // of the buffer list. The new buffer becomes current when makeCurrent is
    // set, when there was no current buffer, or when it replaces the current
    // one. A ring too large for memory throws std::bad_alloc, and a buffer of
    // the same id is already gone by then.
    bool initTraceBuffer(int id, char* name, int numEntries, bool makeCurrent);
    // The buffer with this id, id 0 meaning the current buffer; null when
    // there is none. The pointer stays valid until initTraceBuffer replaces
    // that id or this object is destroyed.
    TraceBuffer* findBuffer(int id);

    // ---- Manual traces, always on the buffer current at the time of the
    // call. No state of an open trace is kept: frames traced into the same
    // buffer in between interleave with the manual records.

    // Takes a record with TRACE_ENTRY_BEGIN and the time of day (no port).
    void beginTrace();
    // Takes a record with step's id and the three words as given, flags 0;
    // the step's capture is not called. step must be non-null, checked even
    // while there is no buffer.
    void addToTrace(TraceStep* step, uint32_t word1, uint32_t word2, uint32_t word3);
    // Sets TRACE_ENTRY_END on the record the current buffer handed out last,
    // whichever call wrote it, and with mirroring on sends the line. Does
    // nothing on a buffer that has handed out no record yet.
    void endTrace();

    // ---- Filters. The newest filter is tried first; filters are never
    // removed and die with this object.

    // Takes ownership. Nothing is checked: filter must be non-null, added
    // once, and not deleted by the caller.
    void addFrameFilter(TraceFrameFilter* filter);
    // Presets: each call installs one more filter (duplicates included)
    // with buffer id 0, so its traces follow the current buffer. Fibre
    // Channel frames, traced by the FC header step.
    void captureFcFrame();
    // Ethernet frames, traced by the DMAC/SMAC step and the data step.
    void captureEthFrame();
    // Fibre Channel frames whose R_CTL routing bits say Extended Link
    // Service, traced by the FC header step and the ELS step.
    void captureELS();

    // ---- Frame tracing: the host calls these once per frame.

    // A null frame is ignored. The first filter whose rule the host matcher
    // accepts decides alone: if its buffer does not exist or it has no
    // steps, the frame is not traced and older filters are not tried.
    // traceTx records *port when port is non-null, else the frame's port.
    void traceTx(EthernetFrame* frame, port_id_t* port);
    void traceTx(fcFrame* frame, port_id_t* port);
    // As traceTx, always with the port the frame reports.
    void traceRx(EthernetFrame* frame);
    void traceRx(fcFrame* frame);
    // The worker of traceTx/traceRx: records one trace of frame into buffer,
    // an identifier record then one record per step (RX or TX flag), the
    // last with TRACE_ENTRY_END. No filter is consulted; buffer and frame
    // must be non-null (a null frame stops the process).
    void frameTrace(bool received, TraceBuffer* buffer, TraceStepList& steps,
                    EthernetFrame* frame, port_id_t* port);
    void frameTrace(bool received, TraceBuffer* buffer, TraceStepList& steps,
                    fcFrame* frame, port_id_t* port);

    // ---- Device events

    // Records a two-record trace into buffer bufferId (0: the current one):
    // time and port, then whatever the step with id stepId captures from
    // name, address and port. Drops the event silently when the buffer or a
    // registered step of that id does not exist.
    void traceDeviceEvent(uint32_t address, WorldWideName& name, int port, int bufferId,
                          uint16_t stepId);

    // ---- Mirroring every trace as one system-log line (priority
    // LOG_LOCAL0 | LOG_INFO; the library never calls openlog). The lines go
    // through syslog(), which blocks the caller while the daemon does not
    // read; traceSyslog.h switches to a socket that never waits.

    // Switches mirroring and logs "traceLib to syslog enabled" or
    // "... disabled"; switching to the state that holds already does and
    // logs nothing. The second argument is not used.
    void syslogTrace(bool on, char* unused);
    // The same switch without a message. Switching on keeps a line in
    // progress; switching off discards it unlogged.
    void syslogEnable(bool on);
    // Appends the record's text (prefix, text, postfix, then a blank unless
    // the record already carries TRACE_ENTRY_END) to the line, cut silently
    // at 254 characters. Frame traces append each record before they mark
    // the last one, so every mirrored frame trace ends with a blank; a
    // device event's line does not.
    // Requires mirroring on and non-null entry and step (else it stops the
    // process); the recording calls use it, a host need not.
    void addTraceMsgToSyslog(TraceEntry* entry, TraceStep* step);

    // ---- Output files. Each creates or truncates path and changes no
    // buffer, record, filter or step. A null path does nothing; a file that
    // cannot be opened or closed is reported to the system log at LOG_NOTICE
    // and not otherwise; write errors are ignored.

    // The filters, one summary line a buffer, then every buffer's traces
    // merged into one stream by the time each trace began.
    void saveTrace(char* path);
    // The step registry, the filters and every buffer record by record.
    void debugDump(char* path);
    // traceFiles.h has both files written with every failure reported.

    // Public so that the host can read them; the rules above hold only while
    // the calls above are the only writers.
    TraceFcHeader* fcHeader_m;        // the five predefined steps, owned
    TraceEthDmacSmac* ethDmacSmac_m;
    TraceEthData* ethData_m;
    TraceEls* els_m;                  // payload words 0, 1, 2
    TraceIdentifier* identifier_m;    // opens every trace
    List<Element<TraceFrameFilter>>* frameFilters_m;   // matching order, owned
    List<Element<TraceBuffer>> traceBuffers_m;         // creation order, owned
    TraceBuffer* currentBuffer_m;     // null exactly while there is no buffer
    char* syslogMsg_m;                // the line being built; null: mirroring off

private:
    TraceFrameFilter* matchingFilter(fcRawFrameStruct* raw);
    // traceTx/traceRx: the first matching filter, its buffer, then the trace.
    template <class Frame>
    void traceThroughFilters(bool received, Frame* frame, port_id_t* port);
    // The body of frameTrace.
    template <class Frame>
    void recordIdentifierAndSteps(bool received, TraceBuffer* buffer, TraceStepList& steps,
                                  Frame* frame, port_id_t* port);
    void stampRecord(TraceEntry* entry, TraceStep* step);
    TraceFrameFilter* newPreset(uint32_t offsetFrom);
    void emitSyslogLine();
};

#endif
