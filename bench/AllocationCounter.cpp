#include "AllocationCounter.h"

#include <cstddef>

// glibc's own allocator entry points, which the counting versions below
// forward to.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
}

namespace {

// Per thread, so a helper thread of Qt's cannot blur the window thread's
// figure. Initial-exec TLS in the executable: usable from the first malloc.
thread_local std::uint64_t t_allocations = 0;

} // namespace

std::uint64_t AllocationCounter::count()
{
    return t_allocations;
}

// Defined in the executable, these take the place of the C library's
// functions for every shared library too (operator new included); free,
// memalign and the rest stay glibc's, which is the same allocator.
extern "C" void* malloc(std::size_t size)
{
    ++t_allocations;
    return __libc_malloc(size);
}

extern "C" void* calloc(std::size_t count, std::size_t size)
{
    ++t_allocations;
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* pointer, std::size_t size)
{
    ++t_allocations;
    return __libc_realloc(pointer, size);
}
