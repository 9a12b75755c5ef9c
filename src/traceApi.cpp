// The trace API proper: buffers and manual traces, frame filters and their
// presets, frame tracing, device events and system-log mirroring. The saved
// file and the debug dump are in traceOutput.cpp; the capture steps in
// captureSteps.cpp.
#include "traceApi.h"

#include <stdio.h>
#include <syslog.h>

#include "recoveryHooks.h"
#include "stepText.h"
#include "syslogSocket.h"
#include "traceAssert.h"

namespace {
const int kTracePriority = LOG_LOCAL0 | LOG_INFO;   // 134: trace lines, switch messages
const int kSyslogLineSize = 255;                    // at most 254 characters a line

// The switch messages name this file and the line of the switch's call.
void logSwitch(TraceApi* api, const char* format, int line)
{
    if (api == syslogSocketApi) {
        char text[kSyslogLineSize];
        snprintf(text, sizeof text, format, __FILE__, line);
        sendToSyslogSocket(text);
    } else {
        syslog(kTracePriority, format, __FILE__, line);
    }
}
}

// How every record of a trace is finished once its step has filled it: it
// carries the step's id, and with mirroring on its text joins the line.
inline void TraceApi::stampRecord(TraceEntry* entry, TraceStep* step)
{
    entry->id = step->stepId_m;
    if (syslogMsg_m != nullptr)
        addTraceMsgToSyslog(entry, step);
}

// ===========================================================================
// Construction, buffers and manual traces

TraceApi::TraceApi()
    : fcHeader_m(nullptr), ethDmacSmac_m(nullptr), ethData_m(nullptr), els_m(nullptr),
      identifier_m(nullptr), frameFilters_m(nullptr), currentBuffer_m(nullptr),
      syslogMsg_m(nullptr)
{
    // The order fixes the step ids: 1 to 5 in a process with no earlier steps.
    fcHeader_m = new TraceFcHeader();
    ethDmacSmac_m = new TraceEthDmacSmac();
    ethData_m = new TraceEthData();
    els_m = new TraceEls();
    identifier_m = new TraceIdentifier();
    frameFilters_m = new List<Element<TraceFrameFilter>>();
}

TraceApi::~TraceApi()
{
    forgetTraceApi(this);
    forgetSyslogSocket(this);
    closelog();
    delete identifier_m;
    delete fcHeader_m;
    delete ethDmacSmac_m;
    delete ethData_m;
    delete els_m;
    delete frameFilters_m;
    // A partly built line is discarded, not logged.
    delete[] syslogMsg_m;
    // traceBuffers_m, a member, then destroys every buffer.
}

bool TraceApi::initTraceBuffer(int id, char* name, int numEntries, bool makeCurrent)
{
    if (!TraceBuffer::isRingSize(numEntries))
        return false;
    for (Element<TraceBuffer>* e = traceBuffers_m.get_first(); e != nullptr; e = e->get_next()) {
        if (e->item()->bufferId == id) {
            traceBuffers_m.remove(e);
            if (e->item() == currentBuffer_m)
                currentBuffer_m = nullptr;
            delete e;
            break;
        }
    }
    TraceBuffer* buffer = newTraceBuffer(this, id, name, numEntries);
    // The failure propagates; a buffer kept in a file must not outlive it.
    try {
        traceBuffers_m.add(new Element<TraceBuffer>(buffer));
    } catch (...) {
        delete buffer;
        throw;
    }
    if (currentBuffer_m == nullptr || makeCurrent)
        currentBuffer_m = buffer;
    return true;
}

TraceBuffer* TraceApi::findBuffer(int id)
{
    if (currentBuffer_m != nullptr && (id == 0 || id == currentBuffer_m->bufferId))
        return currentBuffer_m;
    for (Element<TraceBuffer>* e = traceBuffers_m.get_first(); e != nullptr; e = e->get_next())
        if (e->item()->bufferId == id)
            return e->item();
    return nullptr;
}

void TraceApi::beginTrace()
{
    if (currentBuffer_m == nullptr)
        return;
    TraceEntry* entry = currentBuffer_m->getFreeEntry();
    TRACE_ASSERT(entry);
    entry->flags |= TRACE_ENTRY_BEGIN;
    identifier_m->capture(entry);
    stampRecord(entry, identifier_m);
}

void TraceApi::addToTrace(TraceStep* step, uint32_t word1, uint32_t word2, uint32_t word3)
{
    TRACE_ASSERT(step);
    if (currentBuffer_m == nullptr)
        return;
    TraceEntry* entry = currentBuffer_m->getFreeEntry();
    TRACE_ASSERT(entry);
    entry->word1 = word1;
    entry->word2 = word2;
    entry->word3 = word3;
    stampRecord(entry, step);
}

void TraceApi::endTrace()
{
    if (currentBuffer_m == nullptr)
        return;
    TraceEntry* entry = currentBuffer_m->getCurrentEntry();
    if (entry == nullptr)
        return;
    entry->flags |= TRACE_ENTRY_END;
    if (syslogMsg_m != nullptr)
        emitSyslogLine();
}

// ===========================================================================
// Filters and frame tracing

void TraceApi::addFrameFilter(TraceFrameFilter* filter)
{
    frameFilters_m->add_head(new Element<TraceFrameFilter>(filter));
    filtersChanged(this);
}

TraceFrameFilter* TraceApi::newPreset(uint32_t offsetFrom)
{
    TraceFrameFilter* filter = new TraceFrameFilter();
    filter->rule.offset_from = offsetFrom;
    return filter;
}

void TraceApi::captureFcFrame()
{
    TraceFrameFilter* filter = newPreset(TraceFrameFilter::kFcFrames);
    filter->addStep(fcHeader_m);
    addFrameFilter(filter);
}

void TraceApi::captureEthFrame()
{
    TraceFrameFilter* filter = newPreset(TraceFrameFilter::kEthernetFrames);
    filter->addStep(ethDmacSmac_m);
    filter->addStep(ethData_m);
    addFrameFilter(filter);
}

void TraceApi::captureELS()
{
    TraceFrameFilter* filter = newPreset(TraceFrameFilter::kFcFrames);
    filter->rule.field_1.mask = TraceFrameFilter::kElsRoutingMask;
    filter->rule.field_1.offset = TraceFrameFilter::kFirstWireWord;
    filter->rule.field_1.value = TraceFrameFilter::kElsRoutingValue;
    filter->addStep(fcHeader_m);
    filter->addStep(els_m);
    addFrameFilter(filter);
}

// Both lists the per-frame path walks, filters and steps, are followed link
// by link up to the tail sentinel rather than through get_next(), which
// loads each element's successor twice.
TraceFrameFilter* TraceApi::matchingFilter(fcRawFrameStruct* raw)
{
    Element<TraceFrameFilter>* end = frameFilters_m->tail_m;
    for (Element<TraceFrameFilter>* e = frameFilters_m->head_m->next_m; e != end; e = e->next_m) {
        TraceFrameFilter* filter = e->item_m;
        if (FrameUtil::FrameMatchesEntry(raw, &filter->rule) != 0)
            return filter;
    }
    return nullptr;
}

// The first matching filter decides; a missing buffer or an empty step list
// means the frame is not traced at all.
template <class Frame>
void TraceApi::traceThroughFilters(bool received, Frame* frame, port_id_t* port)
{
    if (frame == nullptr)
        return;
    TraceFrameFilter* filter = matchingFilter(frame->raw_m);
    if (filter == nullptr)
        return;
    TraceBuffer* buffer = findBuffer(filter->bufferId);
    if (buffer == nullptr || filter->stepList.size() == 0)
        return;
    recordIdentifierAndSteps(received, buffer, filter->stepList, frame, port);
}

// Each record is appended to a mirrored line before the last one is marked
// as the end, so a mirrored frame trace ends with a blank.
template <class Frame>
void TraceApi::recordIdentifierAndSteps(bool received, TraceBuffer* buffer,
                                        TraceStepList& steps, Frame* frame, port_id_t* port)
{
    TraceEntry* entry = buffer->getFreeEntry();
    TRACE_ASSERT(entry);
    entry->flags |= TRACE_ENTRY_BEGIN;
    identifier_m->capture(entry, frame, port);
    stampRecord(entry, identifier_m);

    const uint16_t direction = received ? TRACE_ENTRY_RX : TRACE_ENTRY_TX;
    Element<TraceStep>* end = steps.tail_m;
    for (Element<TraceStep>* e = steps.head_m->next_m; e != end; e = e->next_m) {
        TraceStep* step = e->item_m;
        entry = buffer->getFreeEntry();
        TRACE_ASSERT(entry);
        entry->flags |= direction;
        step->capture(entry, frame, port);
        stampRecord(entry, step);
    }
    entry->flags |= TRACE_ENTRY_END;
    if (syslogMsg_m != nullptr)
        emitSyslogLine();
}

void TraceApi::traceTx(EthernetFrame* frame, port_id_t* port)
{
    traceThroughFilters(false, frame, port);
}

void TraceApi::traceTx(fcFrame* frame, port_id_t* port)
{
    traceThroughFilters(false, frame, port);
}

void TraceApi::traceRx(EthernetFrame* frame)
{
    traceThroughFilters(true, frame, static_cast<port_id_t*>(nullptr));
}

void TraceApi::traceRx(fcFrame* frame)
{
    traceThroughFilters(true, frame, static_cast<port_id_t*>(nullptr));
}

void TraceApi::frameTrace(bool received, TraceBuffer* buffer, TraceStepList& steps,
                          EthernetFrame* frame, port_id_t* port)
{
    recordIdentifierAndSteps(received, buffer, steps, frame, port);
}

void TraceApi::frameTrace(bool received, TraceBuffer* buffer, TraceStepList& steps,
                          fcFrame* frame, port_id_t* port)
{
    recordIdentifierAndSteps(received, buffer, steps, frame, port);
}

// ===========================================================================
// Device events

void TraceApi::traceDeviceEvent(uint32_t address, WorldWideName& name, int port, int bufferId,
                                uint16_t stepId)
{
    TraceBuffer* buffer = findBuffer(bufferId);
    if (buffer == nullptr)
        return;
    TraceStep* step = TraceStep::getStep(stepId);
    if (step == nullptr)
        return;

    TraceEntry* entry = buffer->getFreeEntry();
    TRACE_ASSERT(entry);
    entry->flags |= TRACE_ENTRY_BEGIN;
    identifier_m->capture(entry, name, address, port);
    stampRecord(entry, identifier_m);

    entry = buffer->getFreeEntry();
    TRACE_ASSERT(entry);
    step->capture(entry, name, address, port);
    entry->flags |= TRACE_ENTRY_END;
    stampRecord(entry, step);
    if (syslogMsg_m != nullptr)
        emitSyslogLine();
}

// ===========================================================================
// System-log mirroring

void TraceApi::syslogEnable(bool on)
{
    if (on) {
        if (syslogMsg_m == nullptr) {
            syslogMsg_m = new char[kSyslogLineSize];
            syslogMsg_m[0] = '\0';
        }
    } else if (syslogMsg_m != nullptr) {
        delete[] syslogMsg_m;
        syslogMsg_m = nullptr;
    }
}

void TraceApi::syslogTrace(bool on, char*)
{
    if (syslogMsg_m != nullptr && !on) {
        logSwitch(this, "%s.%d: traceLib to syslog disabled", __LINE__);
        syslogEnable(false);
    } else if (syslogMsg_m == nullptr && on) {
        syslogEnable(true);
        logSwitch(this, "%s.%d: traceLib to syslog enabled", __LINE__);
    }
}

void TraceApi::addTraceMsgToSyslog(TraceEntry* entry, TraceStep* step)
{
    TRACE_ASSERT(entry);
    TRACE_ASSERT(step);
    TRACE_ASSERT(syslogMsg_m);
    RecordTextSink sink = {nullptr, syslogMsg_m, kSyslogLineSize};
    writeRecordText(step, entry, (entry->flags & TRACE_ENTRY_END) ? "" : " ", sink);
}

// "%s" keeps percent signs in traced text from being read as conversions.
void TraceApi::emitSyslogLine()
{
    if (this == syslogSocketApi)
        sendToSyslogSocket(syslogMsg_m);
    else
        syslog(kTracePriority, "%s", syslogMsg_m);
    syslogMsg_m[0] = '\0';
}

