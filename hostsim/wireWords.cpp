#include "wireWords.h"

void hostsimLoadWords(const uint8_t* src, size_t count, uint32_t* dest)
{
    size_t whole = count / 4;
    for (size_t i = 0; i < whole; ++i)
        dest[i] = hostsimBe32(src + 4 * i);
    size_t rest = count % 4;
    if (rest == 0)
        return;
    uint8_t last[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < rest; ++i)
        last[i] = src[4 * whole + i];
    dest[whole] = hostsimBe32(last);
}
