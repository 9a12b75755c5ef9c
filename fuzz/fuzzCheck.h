// FUZZ_CHECK: a property that must hold for every input. A failure prints
// the condition and aborts, which libFuzzer reports as a crash and saves the
// input that caused it.
#ifndef TRACELIB_FUZZ_FUZZCHECK_H
#define TRACELIB_FUZZ_FUZZCHECK_H

#include <stdio.h>
#include <stdlib.h>

#define FUZZ_CHECK(condition)                                                   \
    do {                                                                        \
        if (!(condition)) {                                                     \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__,   \
                    #condition);                                                \
            abort();                                                            \
        }                                                                       \
    } while (0)

#endif
