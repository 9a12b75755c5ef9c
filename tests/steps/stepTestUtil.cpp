#include "stepTestUtil.h"

#include <stdarg.h>

std::string sprintfText(const char* format, ...)
{
    char buf[512];
    va_list args;
    va_start(args, format);
    vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    return std::string(buf);
}

void expectBoundedAtEverySize(TraceStep& step, const TraceEntry& entry, const std::string& full)
{
    const unsigned char kCanary = 0xA5;
    const int kMaxSize = 120;
    ASSERT_LT(full.size(), 100u) << "every step text fits the library's 100-byte buffer";
    for (int size = 0; size <= kMaxSize; ++size) {
        SCOPED_TRACE(testing::Message() << "size " << size);
        unsigned char raw[kMaxSize + 32];
        memset(raw, kCanary, sizeof raw);
        char* buf = reinterpret_cast<char*>(raw);
        if (size > 0)
            buf[0] = '\0';
        TraceEntry copy = entry;
        step.format(&copy, buf, size);
        EXPECT_EQ(memcmp(&copy, &entry, sizeof entry), 0) << "format changed the entry";
        int firstUntouched = size;
        if (size > 0) {
            size_t length = strnlen(buf, static_cast<size_t>(size));
            ASSERT_LT(length, static_cast<size_t>(size)) << "not terminated within size";
            size_t expectedLength = full.size() < static_cast<size_t>(size - 1)
                                        ? full.size()
                                        : static_cast<size_t>(size - 1);
            EXPECT_EQ(std::string(buf, length), full.substr(0, expectedLength));
        }
        for (int i = firstUntouched; i < static_cast<int>(sizeof raw); ++i) {
            if (raw[i] != kCanary) {
                ADD_FAILURE() << "byte " << i << " beyond size " << size << " was written";
                break;
            }
        }
    }
}
