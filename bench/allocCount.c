/* Counts every heap allocation of the benchmark process. The allocator entry
 * points defined here live in the executable, so they take the place of the
 * C library's for the whole process: the trace library, the C++ runtime
 * (whose operator new and new[] allocate through malloc) and the C library's
 * own internal allocations (stdio, syslog) all land here. Each one counts,
 * then hands the work to the C library's allocator. Written in C so that the
 * definitions need not repeat the C++ noexcept declarations of
 * <stdlib.h>. */
#define _GNU_SOURCE
#include <errno.h>
#include <stddef.h>
#include <stdint.h>

#include "allocCount.h"

void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);

void* malloc(size_t size);
void* calloc(size_t count, size_t size);
void* realloc(void* block, size_t size);
void* memalign(size_t alignment, size_t size);
void* aligned_alloc(size_t alignment, size_t size);
int posix_memalign(void** result, size_t alignment, size_t size);
void free(void* block);

static uint64_t allocations;

static void countOne(void)
{
    __atomic_fetch_add(&allocations, 1, __ATOMIC_RELAXED);
}

uint64_t benchAllocationCount(void)
{
    return __atomic_load_n(&allocations, __ATOMIC_RELAXED);
}

void* malloc(size_t size)
{
    countOne();
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size)
{
    countOne();
    return __libc_calloc(count, size);
}

/* Growing or moving a block is an allocation; shrinking one to nothing is
 * a free. */
void* realloc(void* block, size_t size)
{
    if (block == NULL || size != 0)
        countOne();
    return __libc_realloc(block, size);
}

void* memalign(size_t alignment, size_t size)
{
    countOne();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size)
{
    countOne();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, size_t alignment, size_t size)
{
    if (alignment == 0 || (alignment & (alignment - 1)) != 0 || alignment % sizeof(void*) != 0)
        return EINVAL;
    countOne();
    void* block = __libc_memalign(alignment, size);
    if (block == NULL)
        return ENOMEM;
    *result = block;
    return 0;
}

void free(void* block)
{
    __libc_free(block);
}
