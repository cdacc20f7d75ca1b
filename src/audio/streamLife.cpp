#include "audio/streamLife.h"

uint32_t streamLife::open() noexcept {
    uint64_t w = word_.load(std::memory_order_acquire);
    for (;;) {
        if (isLive(phaseOf(w))) return 0;
        uint32_t g = generationOf(w) + 1;
        if (g == 0) g = 1; // 0 stands for no stream
        if (word_.compare_exchange_weak(w, pack(g, phase::opening), std::memory_order_acq_rel,
                                        std::memory_order_acquire))
            return g;
    }
}

bool streamLife::end(uint32_t g, phase how) noexcept {
    if (isLive(how)) return false; // not an ending
    uint64_t w = word_.load(std::memory_order_acquire);
    for (;;) {
        if (generationOf(w) != g || !isLive(phaseOf(w))) return false;
        if (word_.compare_exchange_weak(w, pack(g, how), std::memory_order_acq_rel, std::memory_order_acquire))
            return true;
    }
}

bool streamLife::current(uint32_t g) noexcept {
    uint64_t w = word_.load(std::memory_order_acquire);
    for (;;) {
        if (generationOf(w) != g || !isLive(phaseOf(w))) return false;
        if (phaseOf(w) == phase::running) return true;
        if (word_.compare_exchange_weak(w, pack(g, phase::running), std::memory_order_acq_rel,
                                        std::memory_order_acquire))
            return true;
    }
}
