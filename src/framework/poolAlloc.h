#pragma once
// Pooled allocator behind sample buffers.
//
// Blocks come in 64 size classes: class c holds 2^c + 64 bytes, 32-byte
// aligned. A freed block goes back on the lock-free free list of its class
// and is handed out again to the next request of that class; no block is
// ever returned to the system, so the memory held is the high-water mark of
// buffer use per class. Any thread may allocate and free at any time.
#include <cstddef>
#include <limits>
#include <new>

namespace vireo {

/// Size class of a request of n bytes; 64 or more when no class can hold it.
int poolSizeClass(size_t n) noexcept;

/// Byte length of a block of class c (2^c + 64).
constexpr size_t poolBlockSize(int c) noexcept { return (size_t(1) << c) + 64; }

/// Blocks the calling thread has taken from the pool so far: how a path
/// shows that it runs without allocating.
size_t poolAllocationsOnThisThread() noexcept;

} // namespace vireo

/// A block of at least n bytes, 32-byte aligned, contents undefined; null on
/// an exhausted heap or a size no class holds. Lock-free on a recycled block.
void* poolAlloc(size_t n) noexcept;

/// Gives back a block from poolAlloc; n must be a byte count of the block's
/// class (normally the count that was asked for). Never frees to the system.
void poolFree(void* p, size_t n) noexcept;

/// Standard allocator over poolAlloc / poolFree; all instances compare equal.
template <class T>
struct pooled_allocator {
    using value_type = T;
    pooled_allocator() noexcept = default;
    template <class U>
    pooled_allocator(const pooled_allocator<U>&) noexcept {}

    T* allocate(size_t n) {
        if (n > std::numeric_limits<size_t>::max() / sizeof(T)) throw std::bad_alloc();
        void* p = poolAlloc(n * sizeof(T));
        if (!p) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t n) noexcept { poolFree(p, n * sizeof(T)); }

    template <class U>
    bool operator==(const pooled_allocator<U>&) const noexcept { return true; }
};
