// Shared by the api, alloc and output tests: frames parsed by the reference
// host, buffer and file readers, and the system-log capture.
#ifndef TRACELIB_TESTS_APISUPPORT_H
#define TRACELIB_TESTS_APISUPPORT_H

#include <stdint.h>
#include <stdio.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "hostsim.h"
#include "hostsimClock.h"
#include "traceApi.h"

const uint16_t kBegin = TRACE_ENTRY_BEGIN, kEnd = TRACE_ENTRY_END, kRx = TRACE_ENTRY_RX;
const uint16_t kPort = TRACE_ENTRY_PORT, kPair = TRACE_ENTRY_PORT_PAIR, kTx = TRACE_ENTRY_TX;
const int kTracePriority = 134;  // LOG_LOCAL0 | LOG_INFO, the mirrored traces' priority
const size_t kSyslogLines = 256;
const std::string kWwnText = "10:00:00:05:1e:12:34:56";

// Bytes written in hex; spaces are ignored.
inline std::vector<uint8_t> wire(const std::string& hex)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i < hex.size(); i += hex[i] == ' ' ? 1 : 2)
        if (hex[i] != ' ')
            out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}
// PLOGI (ELS) 010200 -> fffffc, OX_ID 1234; FCP_CMND 010200 -> 020300, OX_ID 0042.
const std::string kPlogi =
    "22fffffc 00010200 01290000 00000000 1234ffff 00000000 03000000 20200000 88000800 00ff0000";
const std::string kFcp =
    "06020300 00010200 08290000 00000000 0042ffff 00000000 00010000 00000000 00000002 28000000";
// IPv4 00:1b:21:3a:4f:5e <- 52:54:00:12:34:56, optionally tagged 81000064.
inline std::vector<uint8_t> ethWire(bool vlan)
{
    return wire("001b213a4f5e 525400123456 " + std::string(vlan ? "81000064 " : "") +
                "0800 45000054 1c464000 4001a05b c0a8010a c0a80101");
}

inline char* cs(const char* text)
{
    return const_cast<char*>(text);
}

// FC frames with R_CTL 22 (record word 25 is R_CTL << 24 | D_ID) into the buffer.
inline TraceFrameFilter* rctl22(int bufferId, std::initializer_list<TraceStep*> steps)
{
    auto* filter = new TraceFrameFilter();
    filter->rule.offset_from = TraceFrameFilter::kFcFrames;
    filter->rule.field_1 = {0xFF000000, 25, 0x22000000};
    filter->bufferId = bufferId;
    for (TraceStep* step : steps)
        filter->addStep(step);
    return filter;
}

// A buffer's records, oldest first, as (step id, flags, word1, word2, word3).
using Rec = std::tuple<uint16_t, uint16_t, uint32_t, uint32_t, uint32_t>;
using Recs = std::vector<Rec>;
inline Recs recs(TraceBuffer* buffer)
{
    Recs out;
    int i = 0;
    if (buffer == nullptr || (!buffer->wrapped && buffer->nextIndex == 0))
        return out;
    for (TraceEntry* e = buffer->getFirstEntry(i); e != nullptr; e = buffer->getNextEntry(i))
        out.emplace_back(e->id, e->flags, e->word1, e->word2, e->word3);
    return out;
}

// What `write` puts in a file, "<missing>" if there is no file.
inline std::string streamText(const std::function<void(FILE*)>& write, FILE* file = tmpfile())
{
    if (file == nullptr)
        return "<missing>";
    write(file);
    rewind(file);
    std::string text;
    for (int c; (c = fgetc(file)) != EOF;)
        text += char(c);
    fclose(file);
    return text;
}
inline std::string describeText(TraceStep* step)
{
    return streamText([step](FILE* f) { step->describe(f); });
}

// apiSupport.cpp defines syslog, __syslog_chk and closelog in the executable:
// the library's messages land here, in static memory (nothing allocates).
extern struct SyslogCapture {
    int priority[kSyslogLines];
    char text[kSyslogLines][1024];
    size_t count;
    int closelogs;
} syslogCap;
inline void syslogClear()
{
    syslogCap.count = 0;
    syslogCap.closelogs = 0;
}

// The captured lines, marked "<priority> " unless at kTracePriority; clears.
inline std::vector<std::string> syslogLines()
{
    std::vector<std::string> out;
    for (size_t i = 0; i < syslogCap.count && i < kSyslogLines; i++) {
        const int priority = syslogCap.priority[i];
        std::string mark = priority == kTracePriority ? "" : "<" + std::to_string(priority) + "> ";
        out.push_back(mark + syslogCap.text[i]);
    }
    syslogClear();
    return out;
}

#endif
