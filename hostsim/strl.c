/* Bounded string copy and append with the BSD contract: size is the whole
 * destination including the terminator, the result is always terminated
 * when size > 0, and the return value is the length the call tried to
 * create. Written in C without <string.h> so that these definitions never
 * meet a C library declaration of the same functions in C++. */
#include <stddef.h>

size_t strlcpy(char* dst, const char* src, size_t size);
size_t strlcat(char* dst, const char* src, size_t size);

static size_t lengthOf(const char* s)
{
    const char* p = s;
    while (*p)
        ++p;
    return (size_t)(p - s);
}

size_t strlcpy(char* dst, const char* src, size_t size)
{
    size_t srcLength = lengthOf(src);
    if (size > 0) {
        size_t copy = srcLength < size - 1 ? srcLength : size - 1;
        for (size_t i = 0; i < copy; ++i)
            dst[i] = src[i];
        dst[copy] = '\0';
    }
    return srcLength;
}

/* When dst holds no terminator within size bytes, nothing is appended and
 * the result is size + strlen(src), as in the BSD original. */
size_t strlcat(char* dst, const char* src, size_t size)
{
    size_t dstLength = 0;
    while (dstLength < size && dst[dstLength])
        ++dstLength;
    if (dstLength == size)
        return size + lengthOf(src);
    return dstLength + strlcpy(dst + dstLength, src, size - dstLength);
}
