// The trace API proper: the identifier step that opens every trace, buffers
// and manual traces, frame filters and their presets, frame tracing, device
// events and system-log mirroring. The saved file and the debug dump are in
// traceOutput.cpp; the other capture steps in captureSteps.cpp.
#include "traceApi.h"

#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/time.h>
#include <syslog.h>

#include "recoveryHooks.h"
#include "stepText.h"
#include "traceAssert.h"

// Identifier records are read back into a Timeval field by field (here and
// by the merge of the saved file).
static_assert(sizeof(Timeval) == 8 && sizeof(Timeval::tv_sec) == 4 &&
                  sizeof(Timeval::tv_usec) == 4 && offsetof(Timeval, tv_usec) == 4,
              "Timeval is two 32-bit fields");

namespace {
const int kTracePriority = LOG_LOCAL0 | LOG_INFO;   // 134: trace lines, switch messages
const int kSyslogLineSize = 255;                    // at most 254 characters a line
const int kPortTextSize = 64;
const uint16_t kPortPairMarker = 0xFFFF;            // port_id_t::h0 of a port pair
const uint32_t kOffsetFromFc = 1;
const uint32_t kOffsetFromEthernet = 2;

bool isPowerOfTwo(int n)
{
    return n > 0 && (n & (n - 1)) == 0;
}

// How every record of a trace is finished once its step has filled it: it
// carries the step's id, and with mirroring on its text joins the line.
inline void stampRecord(TraceApi& api, TraceEntry* entry, TraceStep* step)
{
    entry->id = step->stepId_m;
    if (api.syslogMsg_m != nullptr)
        api.addTraceMsgToSyslog(entry, step);
}
}

// ===========================================================================
// Identifier step
//
// Defined here rather than with the other capture steps: every trace opens
// with it, and in this file the compiler inlines its capture into the
// per-frame path.

TraceIdentifier::TraceIdentifier() {}

void TraceIdentifier::traceTime(TraceEntry* entry)
{
    struct timeval now;
    gettimeofday(&now, nullptr);
    entry->word1 = static_cast<uint32_t>(now.tv_sec);
    entry->word2 = static_cast<uint32_t>(now.tv_usec);
}

void TraceIdentifier::tracePort(TraceEntry* entry, port_id_t& port)
{
    if (port.h0 == kPortPairMarker) {
        entry->flags |= TRACE_ENTRY_PORT_PAIR;
        entry->word3 = (static_cast<uint32_t>(port.h1) << 16) | port.h2;
    } else {
        entry->flags |= TRACE_ENTRY_PORT;
        entry->word3 = port.h0;
    }
}

void TraceIdentifier::tracePort(TraceEntry* entry, int port)
{
    entry->word3 = static_cast<uint32_t>(port);
    entry->flags |= TRACE_ENTRY_PORT;
}

void TraceIdentifier::capture(TraceEntry* entry)
{
    TRACE_ASSERT(entry);
    traceTime(entry);
}

namespace {
// Both kinds of frame: the time, and the caller's port if it gave one,
// otherwise the port the frame reports.
template <class Frame>
void captureFrame(TraceIdentifier& step, TraceEntry* entry, Frame* frame, port_id_t* port)
{
    TRACE_ASSERT(frame);
    TRACE_ASSERT(entry);
    step.traceTime(entry);
    port_id_t portId = frame->GetOrigPortID();
    if (port != nullptr)
        portId = *port;
    step.tracePort(entry, portId);
}
}

void TraceIdentifier::capture(TraceEntry* entry, EthernetFrame* frame, port_id_t* port)
{
    captureFrame(*this, entry, frame, port);
}

void TraceIdentifier::capture(TraceEntry* entry, fcFrame* frame, port_id_t* port)
{
    captureFrame(*this, entry, frame, port);
}

void TraceIdentifier::capture(TraceEntry* entry, WorldWideName&, uint32_t, int port)
{
    TRACE_ASSERT(entry);
    traceTime(entry);
    tracePort(entry, port);
}

void TraceIdentifier::format(TraceEntry* entry, char* buf, int size)
{
    Timeval time(static_cast<int32_t>(entry->word1), static_cast<int32_t>(entry->word2));
    TimevalString timeText(time);
    appendText(buf, timeText.text_m, size);

    char portText[kPortTextSize];
    if (entry->flags & TRACE_ENTRY_PORT)
        snprintf(portText, sizeof portText, " port %d", static_cast<int32_t>(entry->word3));
    else if (entry->flags & TRACE_ENTRY_PORT_PAIR)
        snprintf(portText, sizeof portText, " port %d.%d",
                 static_cast<int>(entry->word3 >> 16), static_cast<int>(entry->word3 & 0xFFFF));
    else
        return;
    appendText(buf, portText, size);
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
    if (!isPowerOfTwo(numEntries))
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
    stampRecord(*this, entry, identifier_m);
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
    stampRecord(*this, entry, step);
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
    TraceFrameFilter* filter = newPreset(kOffsetFromFc);
    filter->addStep(fcHeader_m);
    addFrameFilter(filter);
}

void TraceApi::captureEthFrame()
{
    TraceFrameFilter* filter = newPreset(kOffsetFromEthernet);
    filter->addStep(ethDmacSmac_m);
    filter->addStep(ethData_m);
    addFrameFilter(filter);
}

void TraceApi::captureELS()
{
    TraceFrameFilter* filter = newPreset(kOffsetFromFc);
    // The top four bits of R_CTL, routing 0010: Extended Link Services.
    filter->rule.field_1.mask = 0xF0000000;
    filter->rule.field_1.offset = 25;
    filter->rule.field_1.value = 0x20000000;
    filter->addStep(fcHeader_m);
    filter->addStep(els_m);
    addFrameFilter(filter);
}

// Runs once per frame over every filter until one matches: the walk follows
// the links up to the tail sentinel itself rather than through get_next(),
// which would load each element's successor twice.
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
void TraceApi::traceFrame(bool received, Frame* frame, port_id_t* port)
{
    if (frame == nullptr)
        return;
    TraceFrameFilter* filter = matchingFilter(frame->raw_m);
    if (filter == nullptr)
        return;
    TraceBuffer* buffer = findBuffer(filter->bufferId);
    if (buffer == nullptr || filter->stepList.size() == 0)
        return;
    frameTrace(received, buffer, filter->stepList, frame, port);
}

void TraceApi::traceTx(EthernetFrame* frame, port_id_t* port)
{
    traceFrame(false, frame, port);
}

void TraceApi::traceTx(fcFrame* frame, port_id_t* port)
{
    traceFrame(false, frame, port);
}

void TraceApi::traceRx(EthernetFrame* frame)
{
    traceFrame(true, frame, static_cast<port_id_t*>(nullptr));
}

void TraceApi::traceRx(fcFrame* frame)
{
    traceFrame(true, frame, static_cast<port_id_t*>(nullptr));
}

template <class Frame>
void TraceApi::recordFrame(bool received, TraceBuffer* buffer, TraceStepList& steps,
                           Frame* frame, port_id_t* port)
{
    TraceEntry* entry = buffer->getFreeEntry();
    TRACE_ASSERT(entry);
    entry->flags |= TRACE_ENTRY_BEGIN;
    identifier_m->capture(entry, frame, port);
    stampRecord(*this, entry, identifier_m);

    const uint16_t direction = received ? TRACE_ENTRY_RX : TRACE_ENTRY_TX;
    for (Element<TraceStep>* e = steps.get_first(); e != nullptr; e = e->get_next()) {
        TraceStep* step = e->item();
        entry = buffer->getFreeEntry();
        TRACE_ASSERT(entry);
        entry->flags |= direction;
        step->capture(entry, frame, port);
        stampRecord(*this, entry, step);
    }
    entry->flags |= TRACE_ENTRY_END;
    if (syslogMsg_m != nullptr)
        emitSyslogLine();
}

void TraceApi::frameTrace(bool received, TraceBuffer* buffer, TraceStepList& steps,
                          EthernetFrame* frame, port_id_t* port)
{
    recordFrame(received, buffer, steps, frame, port);
}

void TraceApi::frameTrace(bool received, TraceBuffer* buffer, TraceStepList& steps,
                          fcFrame* frame, port_id_t* port)
{
    recordFrame(received, buffer, steps, frame, port);
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
    stampRecord(*this, entry, identifier_m);

    entry = buffer->getFreeEntry();
    TRACE_ASSERT(entry);
    step->capture(entry, name, address, port);
    entry->flags |= TRACE_ENTRY_END;
    stampRecord(*this, entry, step);
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
        syslog(kTracePriority, "%s.%d: traceLib to syslog disabled", __FILE__, __LINE__);
        syslogEnable(false);
    } else if (syslogMsg_m == nullptr && on) {
        syslogEnable(true);
        syslog(kTracePriority, "%s.%d: traceLib to syslog enabled", __FILE__, __LINE__);
    }
}

void TraceApi::addTraceMsgToSyslog(TraceEntry* entry, TraceStep* step)
{
    TRACE_ASSERT(entry);
    TRACE_ASSERT(step);
    TRACE_ASSERT(syslogMsg_m);
    if (step->prefix_m != nullptr)
        strlcat(syslogMsg_m, step->prefix_m, kSyslogLineSize);
    char text[kStepTextSize];
    memset(text, 0, sizeof text);
    step->format(entry, text, kStepTextSize);
    strlcat(syslogMsg_m, text, kSyslogLineSize);
    if (step->postfix_m != nullptr)
        strlcat(syslogMsg_m, step->postfix_m, kSyslogLineSize);
    if (!(entry->flags & TRACE_ENTRY_END))
        strlcat(syslogMsg_m, " ", kSyslogLineSize);
}

// "%s" keeps percent signs in traced text from being read as conversions.
void TraceApi::emitSyslogLine()
{
    syslog(kTracePriority, "%s", syslogMsg_m);
    syslogMsg_m[0] = '\0';
}

