#include "framework/poolAlloc.h"

#include <boost/lockfree/stack.hpp>

#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace vireo {

int poolSizeClass(size_t n) noexcept {
    // Blocks are 2^c + 64 bytes: the 64 leave room for the buffer's control
    // header in front of power-of-two sample counts.
    double m = n > 96 ? double(n - 64) : 32.0;
    return int(std::ceil(std::log2(m)));
}

namespace {

class mempool {
public:
    static mempool& getInstance() {
        // Never destroyed: buffers held by other statics (filter caches,
        // per-thread plans) are released during exit, after any ordinary
        // static pool would already be gone.
        static mempool* instance = new mempool();
        return *instance;
    }

    boost::lockfree::stack<void*>& freeList(int c) { return *lists_[c]; }

private:
    mempool() {
        for (auto& l : lists_) l = std::make_unique<boost::lockfree::stack<void*>>(32);
    }
    std::array<std::unique_ptr<boost::lockfree::stack<void*>>, 64> lists_;
};

// Per thread, so that counting costs no shared cache line.
thread_local size_t allocationsOfThread = 0;

} // namespace

size_t poolAllocationsOnThisThread() noexcept { return allocationsOfThread; }

} // namespace vireo

void* poolAlloc(size_t n) noexcept {
    using namespace vireo;
    ++allocationsOfThread;
    int c = poolSizeClass(n);
    if (c < 5 || c >= 63) return nullptr; // nothing can hold it
    void* p = nullptr;
    if (mempool::getInstance().freeList(c).pop(p)) return p;
    return std::aligned_alloc(32, poolBlockSize(c));
}

void poolFree(void* p, size_t n) noexcept {
    using namespace vireo;
    if (!p) return;
    int c = poolSizeClass(n);
    if (c < 5 || c >= 63) return;
    try {
        mempool::getInstance().freeList(c).push(p);
    } catch (...) {
        // The free list could not grow its nodes: hand the block back to the
        // system rather than lose it.
        std::free(p);
    }
}
