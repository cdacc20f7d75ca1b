#pragma once
// A test program that links allocationCounter.cpp replaces the global
// operator new to count allocations, so a test can show that a code path
// allocates nothing, and to fail chosen allocations, so a test can show what
// a path does when memory runs out.
#include <cstddef>

/// Allocations by operator new (all forms) since the program started.
long allocationCount();

/// Allocations by operator new on the calling thread.
long threadAllocationCount();

/// While alive, operator new on the constructing thread throws bad_alloc for
/// every request of at least `bytes`.
class failAllocationsFrom {
public:
    explicit failAllocationsFrom(size_t bytes);
    ~failAllocationsFrom();
    failAllocationsFrom(const failAllocationsFrom&) = delete;
    failAllocationsFrom& operator=(const failAllocationsFrom&) = delete;

private:
    size_t previous_;
};
