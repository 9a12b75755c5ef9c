// Helpers shared by the steps' format operations. Every format writes into a
// caller-supplied buffer of `size` bytes; these keep the bounded copies and
// appends in one place and treat a size of zero or less as "no room at all".
#ifndef TRACELIB_SRC_STEPTEXT_H
#define TRACELIB_SRC_STEPTEXT_H

#include <stddef.h>

#include "hostUtil.h"

// Every caller formats one record into a buffer of this many bytes, so a
// record's text is at most 99 characters.
const int kStepTextSize = 100;

inline size_t textCapacity(int size)
{
    return size > 0 ? static_cast<size_t>(size) : 0;
}

inline void clearText(char* buf, int size)
{
    if (size > 0)
        buf[0] = '\0';
}

inline void appendText(char* buf, const char* text, int size)
{
    strlcat(buf, text, textCapacity(size));
}

#endif
