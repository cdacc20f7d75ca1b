// Kept in a file of its own so that no caller's inlined allocation is seen
// next to the replacement.
#include "allocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>

namespace {
std::atomic<long> allocations{0};
thread_local long threadAllocations = 0;
thread_local size_t failFrom = std::numeric_limits<size_t>::max();
} // namespace

long allocationCount() { return allocations.load(std::memory_order_relaxed); }
long threadAllocationCount() { return threadAllocations; }

failAllocationsFrom::failAllocationsFrom(size_t bytes) : previous_(failFrom) { failFrom = bytes; }
failAllocationsFrom::~failAllocationsFrom() { failFrom = previous_; }

void* operator new(std::size_t n) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    ++threadAllocations;
    if (n >= failFrom) throw std::bad_alloc();
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
