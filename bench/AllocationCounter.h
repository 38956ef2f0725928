#pragma once

#include <cstdint>

// Counts every heap allocation of this program's thread: every call of
// malloc, calloc and realloc, which C++'s operator new and Qt's own buffers
// (QImage pixels, QString data) both end in. Linking AllocationCounter.cpp
// puts counting versions of the three in front of the C library's (glibc).
namespace AllocationCounter {

// Allocations made by the calling thread since it started.
std::uint64_t count();

} // namespace AllocationCounter
