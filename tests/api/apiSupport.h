// Shared by the api, alloc and output tests: frames parsed by the reference
// host, buffer and stream readers, and the system-log capture.
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

// Big-endian wire bytes of the words, less `cut` bytes at the end.
inline std::vector<uint8_t> wire(const std::vector<uint32_t>& words, size_t cut = 0)
{
    std::vector<uint8_t> out;
    for (uint32_t w : words)
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(uint8_t(w >> shift));
    out.resize(out.size() - cut);
    return out;
}
// PLOGI (ELS) 010200 -> fffffc, OX_ID 1234, payload 03000000 20200000 88000800 00ff0000.
inline std::vector<uint8_t> plogiWire()
{
    return wire({0x22fffffc, 0x00010200, 0x01290000, 0, 0x1234ffff, 0, 0x03000000, 0x20200000, 0x88000800,
                 0x00ff0000});
}
// FCP_CMND 010200 -> 020300, OX_ID 0042.
inline std::vector<uint8_t> fcpWire()
{
    return wire({0x06020300, 0x00010200, 0x08290000, 0, 0x0042ffff, 0, 0x00010000, 0, 2, 0x28000000});
}
// IPv4 00:1b:21:3a:4f:5e <- 52:54:00:12:34:56, optionally tagged 81000064;
// payload words 45000054 1c464000 4001a05b.
inline std::vector<uint8_t> ethWire(bool vlan)
{
    std::vector<uint32_t> w = {0x001b213a, 0x4f5e5254, 0x00123456, 0x08004500, 0x00541c46, 0x40004001,
                               0xa05bc0a8, 0x010ac0a8, 0x01010000};
    if (vlan)
        w.insert(w.begin() + 3, 0x81000064);
    return wire(w, 2);
}

inline char* cs(const char* text) { return const_cast<char*>(text); }

// A record as (step id, flags, word1, word2, word3).
using Rec = std::tuple<uint16_t, uint16_t, uint32_t, uint32_t, uint32_t>;
using Recs = std::vector<Rec>;

// A buffer's records, oldest first.
inline Recs recs(TraceBuffer* buffer)
{
    Recs out;
    int i = 0;
    if (buffer != nullptr && (buffer->wrapped || buffer->nextIndex != 0))
        for (TraceEntry* e = buffer->getFirstEntry(i); e != nullptr; e = buffer->getNextEntry(i))
            out.emplace_back(e->id, e->flags, e->word1, e->word2, e->word3);
    return out;
}

// What `write` puts in a file; the text of a file, "<missing>" if there is none.
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
inline std::string fileText(const std::string& path)
{
    return streamText([](FILE*) {}, fopen(path.c_str(), "rb"));
}

inline std::string describeText(TraceStep* step)
{
    return streamText([step](FILE* f) { step->describe(f); });
}

// apiSupport.cpp defines syslog, __syslog_chk and closelog in the executable:
// the library's messages land here, in static memory (nothing allocates).
struct SyslogCapture {
    int priority[256];
    char text[256][1024];
    size_t count;
    int closelogs;
};
extern SyslogCapture syslogCap;

inline void syslogClear() { syslogCap.count = 0, syslogCap.closelogs = 0; }

// The captured lines, marked "<priority> " unless at 134 (LOG_LOCAL0 | LOG_INFO); clears.
inline std::vector<std::string> syslogLines()
{
    std::vector<std::string> out;
    for (size_t i = 0; i < syslogCap.count && i < 256; i++)
        out.push_back((syslogCap.priority[i] == 134 ? "" : "<" + std::to_string(syslogCap.priority[i]) + "> ") +
                      syslogCap.text[i]);
    syslogClear();
    return out;
}

#endif
