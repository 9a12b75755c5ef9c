// Heap allocations made by the whole process so far (the benchmark binary
// replaces the C library's allocator entry points to count them; see
// allocCount.c).
#ifndef TRACELIB_BENCH_ALLOCCOUNT_H
#define TRACELIB_BENCH_ALLOCCOUNT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

uint64_t benchAllocationCount(void);

#ifdef __cplusplus
}
#endif

#endif
