// WorldWideName and its printable form. Formatting never touches the heap:
// texts are written into a small per-thread ring of static buffers (see
// kHostsimWwnRingSlots in hostsim.h for how long a text stays valid).
#include "hostsim.h"

namespace {

constexpr size_t kWwnTextBytes = 24;   // "xx:" * 8, last colon becomes the NUL

char* nextRingSlot()
{
    thread_local char ring[kHostsimWwnRingSlots][kWwnTextBytes];
    thread_local unsigned next = 0;
    char* slot = ring[next];
    next = (next + 1) % kHostsimWwnRingSlots;
    return slot;
}

// Style 0: eight lower-case hex bytes, colon-separated, most significant
// byte of the first word first.
void formatColonHex(const WorldWideName& name, char* text)
{
    static const char kHex[] = "0123456789abcdef";
    char* out = text;
    for (unsigned i = 0; i < 8; ++i) {
        unsigned byte = (name.word_m[i / 4] >> (24 - 8 * (i % 4))) & 0xFF;
        if (i != 0)
            *out++ = ':';
        *out++ = kHex[byte >> 4];
        *out++ = kHex[byte & 0xF];
    }
    *out = '\0';
}

}  // namespace

WorldWideName::WorldWideName(unsigned int first, unsigned int second)
    : word_m{first, second}
{
}

// Every style formats as style 0 for now; there is no other.
WorldWideNameString::WorldWideNameString(WorldWideName name, Style)
    : text_m(nextRingSlot())
{
    formatColonHex(name, text_m);
}

WorldWideNameString::~WorldWideNameString() {}
