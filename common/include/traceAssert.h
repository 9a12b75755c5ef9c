// TRACE_ASSERT: the library's assertion. Unlike <cassert> it is never
// compiled out: a failed condition is a programming error in the caller and
// stops the process in every build type, naming the condition as written.
#ifndef TRACELIB_COMMON_TRACEASSERT_H
#define TRACELIB_COMMON_TRACEASSERT_H

#include <stdio.h>
#include <stdlib.h>

// why, when given, is a line of its own before the assertion's: what went
// wrong, where the condition alone does not say it.
inline void traceAssertFail(const char* condition, const char* file, int line,
                            const char* function, const char* why = nullptr)
{
    if (why != nullptr)
        fprintf(stderr, "%s:%d: %s: %s\n", file, line, function, why);
    fprintf(stderr, "%s:%d: %s: Assertion `%s' failed.\n", file, line, function,
            condition);
    fflush(stderr);
    abort();
}

#define TRACE_ASSERT(condition)                                              \
    ((condition) ? (void)0                                                   \
                 : traceAssertFail(#condition, __FILE__, __LINE__, __func__))
#define TRACE_ASSERT_WHY(condition, why)                                     \
    ((condition) ? (void)0                                                   \
                 : traceAssertFail(#condition, __FILE__, __LINE__, __func__, why))

#endif
