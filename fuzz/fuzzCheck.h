// A property every input must keep: a failure aborts, so libFuzzer keeps the input.
#ifndef TRACELIB_FUZZ_FUZZCHECK_H
#define TRACELIB_FUZZ_FUZZCHECK_H
#include <stdio.h>
#include <stdlib.h>

#define FUZZ_CHECK(c)                                                                      \
    do {                                                                                   \
        if (!(c))                                                                          \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #c), abort(); \
    } while (0)

char* fuzzScratchPath();  // a file of this process's own, removed at exit (fuzzSupport.cpp)
#endif
