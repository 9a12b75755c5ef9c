// Helpers shared by the step tests: a memory stream, regex escaping, and the
// bounded-format check that every step's text must pass at every size.
#ifndef TRACELIB_TESTS_STEPS_STEPTESTUTIL_H
#define TRACELIB_TESTS_STEPS_STEPTESTUTIL_H

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "traceApi.h"

class MemStream {
public:
    MemStream() : stream_(open_memstream(&data_, &size_)) {}
    ~MemStream()
    {
        if (stream_)
            fclose(stream_);
        free(data_);
    }
    MemStream(const MemStream&) = delete;
    MemStream& operator=(const MemStream&) = delete;
    FILE* get() { return stream_; }
    std::string text()
    {
        fflush(stream_);
        return std::string(data_, size_);
    }

private:
    char* data_ = nullptr;
    size_t size_ = 0;
    FILE* stream_;
};

inline std::string escapeRegex(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (strchr("\\^$.|?*+()[]{}", c) != nullptr)
            out += '\\';
        out += c;
    }
    return out;
}

// The text of one format call into a 100-byte buffer handed in empty, as
// every caller in the library does.
inline std::string formatted(TraceStep& step, TraceEntry& entry)
{
    char buf[100];
    buf[0] = '\0';
    step.format(&entry, buf, sizeof buf);
    return std::string(buf);
}

// The printf-style text of the arguments.
std::string sprintfText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Formats the entry at every size from 0 to 120 into a buffer with a canary
// behind it: the text must be the first size - 1 characters of `full`,
// terminated, and no byte at or beyond `size` may change. Size 0 must write
// nothing at all. The entry must not change either.
void expectBoundedAtEverySize(TraceStep& step, const TraceEntry& entry, const std::string& full);

#endif
