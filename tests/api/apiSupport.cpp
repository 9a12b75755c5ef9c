#include "apiSupport.h"

#include <fstream>
#include <sstream>

namespace {

void put(Bytes& out, uint32_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

Bytes fcWire(uint8_t rctl, uint32_t did, uint32_t sid, uint8_t type, uint16_t oxid,
             uint16_t rxid, const std::vector<uint32_t>& payload)
{
    Bytes out;
    put(out, rctl, 1);
    put(out, did, 3);
    put(out, 0, 1);            // CS_CTL
    put(out, sid, 3);
    put(out, type, 1);
    put(out, 0x290000, 3);     // F_CTL: first sequence, sequence initiative
    put(out, 0, 4);            // SEQ_ID, DF_CTL, SEQ_CNT
    put(out, oxid, 2);
    put(out, rxid, 2);
    put(out, 0, 4);            // parameter
    for (uint32_t word : payload)
        put(out, word, 4);
    return out;
}

Bytes plogiWire()
{
    return fcWire(0x22, 0xfffffc, 0x010200, 0x01, 0x1234, 0xffff,
                  {0x03000000, 0x20200000, 0x88000800, 0x00ff0000});
}

Bytes fcpCommandWire()
{
    return fcWire(0x06, 0x020300, 0x010200, 0x08, 0x0042, 0xffff,
                  {0x00010000, 0x00000000, 0x00000002, 0x28000000, 0x10000000, 0x08000000,
                   0x00000000, 0x00001000});
}

Bytes ethWire(bool vlan)
{
    Bytes out = {0x00, 0x1b, 0x21, 0x3a, 0x4f, 0x5e, 0x52, 0x54, 0x00, 0x12, 0x34, 0x56};
    if (vlan)
        put(out, 0x81000064, 4);
    put(out, 0x0800, 2);
    const Bytes ipv4 = {0x45, 0x00, 0x00, 0x54, 0x1c, 0x46, 0x40, 0x00, 0x40, 0x01,
                        0xa0, 0x5b, 0xc0, 0xa8, 0x01, 0x0a, 0xc0, 0xa8, 0x01, 0x01};
    out.insert(out.end(), ipv4.begin(), ipv4.end());
    return out;
}

std::vector<TraceEntry> records(TraceBuffer* buffer)
{
    std::vector<TraceEntry> out;
    if (buffer == nullptr || (!buffer->wrapped && buffer->nextIndex == 0))
        return out;
    int index = 0;
    for (TraceEntry* e = buffer->getFirstEntry(index); e != nullptr;
         e = buffer->getNextEntry(index))
        out.push_back(*e);
    return out;
}

std::string streamText(const std::function<void(FILE*)>& write)
{
    FILE* file = tmpfile();
    if (file == nullptr)
        return "<no tmpfile>";
    write(file);
    fflush(file);
    rewind(file);
    std::string text;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, n);
    fclose(file);
    return text;
}

std::string describeText(TraceStep* step)
{
    return streamText([step](FILE* f) { step->describe(f); });
}

std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "<missing>";
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string recText(const TraceEntry& e)
{
    return recText(Rec{e.id, e.flags, e.word1, e.word2, e.word3});
}

std::string recText(const Rec& r)
{
    char text[96];
    snprintf(text, sizeof text, "{id %u flags 0x%04x %08x %08x %08x}", unsigned(r.id),
             unsigned(r.flags), unsigned(r.word1), unsigned(r.word2), unsigned(r.word3));
    return text;
}

std::string diffRecords(TraceBuffer* buffer, const std::vector<Rec>& expected)
{
    std::vector<TraceEntry> actual = records(buffer);
    std::string out;
    if (actual.size() != expected.size())
        out += "count " + std::to_string(actual.size()) + " expected " +
               std::to_string(expected.size()) + "\n";
    for (size_t i = 0; i < actual.size() || i < expected.size(); i++) {
        std::string a = i < actual.size() ? recText(actual[i]) : "<none>";
        std::string e = i < expected.size() ? recText(expected[i]) : "<none>";
        if (a != e)
            out += "record " + std::to_string(i) + ": " + a + " expected " + e + "\n";
    }
    return out;
}
