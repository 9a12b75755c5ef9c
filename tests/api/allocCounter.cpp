// Without a sanitizer, the malloc family forwards to the next definition in
// the lookup order (the C library's, or valgrind's replacement), found with
// dlsym(RTLD_NEXT); while dlsym itself needs memory the requests are served
// from a static arena that is never given back. Operator new/delete are
// replaced too, so that every C++ allocation is counted even where the C++
// runtime would not pass through malloc.
//
// AddressSanitizer owns the allocator and cannot have it replaced; there the
// counter uses the sanitizer's own allocation hooks instead.
#include "allocCounter.h"

#include <stddef.h>

#if defined(__has_include)
#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif
#endif

namespace {

bool counting = false;
size_t allocations = 0;

void count()
{
    if (counting)
        allocations++;
}

}  // namespace

namespace alloccount {

bool available()
{
#if defined(RUNNING_ON_VALGRIND)
    return RUNNING_ON_VALGRIND == 0;
#else
    return true;
#endif
}

void start()
{
    allocations = 0;
    counting = true;
}

size_t stop()
{
    counting = false;
    return allocations;
}

}  // namespace alloccount

#if defined(__SANITIZE_ADDRESS__)

// From the sanitizer runtime's allocator interface (GCC ships no header for it).
extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*mallocHook)(const volatile void*, size_t), void (*freeHook)(const volatile void*));

namespace {

void onMalloc(const volatile void*, size_t)
{
    count();
}

void onFree(const volatile void*) {}

const int hooksInstalled = __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);

}  // namespace

#else

#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

#include <new>

namespace {

using MallocFn = void* (*)(size_t);
using CallocFn = void* (*)(size_t, size_t);
using ReallocFn = void* (*)(void*, size_t);
using FreeFn = void (*)(void*);
using MemalignFn = void* (*)(size_t, size_t);
using PosixMemalignFn = int (*)(void**, size_t, size_t);

MallocFn realMalloc = nullptr;
CallocFn realCalloc = nullptr;
ReallocFn realRealloc = nullptr;
FreeFn realFree = nullptr;
MemalignFn realMemalign = nullptr;
MemalignFn realAlignedAlloc = nullptr;
PosixMemalignFn realPosixMemalign = nullptr;
bool resolving = false;

alignas(64) char arena[64 * 1024];
size_t arenaUsed = 0;

void* arenaAlloc(size_t size)
{
    size = (size + 63) & ~size_t(63);
    if (size > sizeof arena - arenaUsed)
        return nullptr;
    void* p = arena + arenaUsed;
    arenaUsed += size;
    return p;
}

bool inArena(const void* p)
{
    return p >= static_cast<const void*>(arena) &&
           p < static_cast<const void*>(arena + sizeof arena);
}

template <class Fn>
Fn lookUp(const char* name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

// All pointers are published together, so nothing is freed by a different
// allocator from the one that served it.
bool resolved()
{
    if (realMalloc != nullptr)
        return true;
    if (resolving)
        return false;
    resolving = true;
    auto m = lookUp<MallocFn>("malloc");
    auto c = lookUp<CallocFn>("calloc");
    auto r = lookUp<ReallocFn>("realloc");
    auto f = lookUp<FreeFn>("free");
    auto ma = lookUp<MemalignFn>("memalign");
    auto aa = lookUp<MemalignFn>("aligned_alloc");
    auto pm = lookUp<PosixMemalignFn>("posix_memalign");
    realCalloc = c;
    realRealloc = r;
    realFree = f;
    realMemalign = ma;
    realAlignedAlloc = aa;
    realPosixMemalign = pm;
    realMalloc = m;
    resolving = false;
    return realMalloc != nullptr;
}

}  // namespace

extern "C" {

void* malloc(size_t size)
{
    count();
    return resolved() ? realMalloc(size) : arenaAlloc(size);
}

void* calloc(size_t n, size_t size)
{
    count();
    if (resolved())
        return realCalloc(n, size);
    if (size != 0 && n > static_cast<size_t>(-1) / size)
        return nullptr;
    return arenaAlloc(n * size);   // the arena is zero and never reused
}

void* realloc(void* p, size_t size)
{
    count();
    if (p != nullptr && inArena(p)) {
        void* q = malloc(size);
        size_t room = static_cast<size_t>(arena + sizeof arena - static_cast<char*>(p));
        if (q != nullptr)
            memcpy(q, p, size < room ? size : room);
        return q;
    }
    return resolved() ? realRealloc(p, size) : arenaAlloc(size);
}

void free(void* p)
{
    if (p == nullptr || inArena(p))
        return;
    if (resolved())
        realFree(p);
}

void* memalign(size_t alignment, size_t size)
{
    count();
    return resolved() ? realMemalign(alignment, size) : nullptr;
}

void* aligned_alloc(size_t alignment, size_t size)
{
    count();
    return resolved() ? realAlignedAlloc(alignment, size) : nullptr;
}

int posix_memalign(void** out, size_t alignment, size_t size)
{
    count();
    return resolved() ? realPosixMemalign(out, alignment, size) : 12 /* ENOMEM */;
}

}  // extern "C"

void* operator new(size_t size)
{
    if (void* p = malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void* operator new[](size_t size)
{
    return operator new(size);
}

void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    return malloc(size == 0 ? 1 : size);
}

void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    return malloc(size == 0 ? 1 : size);
}

void operator delete(void* p) noexcept
{
    free(p);
}

void operator delete[](void* p) noexcept
{
    free(p);
}

void operator delete(void* p, size_t) noexcept
{
    free(p);
}

void operator delete[](void* p, size_t) noexcept
{
    free(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept
{
    free(p);
}

void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    free(p);
}

#endif
