#include "framework/exitGate.h"

#include <spdlog/spdlog.h>

#include <atomic>
#include <cstdlib>

namespace exitGate {
namespace {

// Passes and holds given out and not yet returned.
std::atomic<long> inside{0};
std::atomic<bool> shut{false};
// Passes the calling thread holds.
thread_local long depth = 0;

/// Counts one more unit of work unless the gate is shut and the calling
/// thread is outside. The increment comes first and both are sequentially
/// consistent, so that either this sees the gate shut or the exit sees the
/// increment (and waits for it).
bool enter() noexcept {
    inside.fetch_add(1, std::memory_order_seq_cst);
    if (depth > 0 || !shut.load(std::memory_order_seq_cst)) return true;
    inside.fetch_sub(1, std::memory_order_release);
    return false;
}

/// Pairs with the exit's load: what the work did happens before the statics
/// go.
void leave() noexcept { inside.fetch_sub(1, std::memory_order_release); }

void onExit() {
    shut.store(true, std::memory_order_seq_cst);
    // Exit called from inside library work (a host callback on a pool
    // worker): this thread's own passes never come back.
    const long own = depth;
    const auto limit = std::chrono::steady_clock::now() + drainLimit;
    long left;
    while ((left = inside.load(std::memory_order_seq_cst)) > own) {
        if (std::chrono::steady_clock::now() > limit) {
            spdlog::error("exit: {} stretches of library work still running after {} s", left - own,
                          drainLimit.count());
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace

pass::pass() noexcept : entered_(enter()) {
    if (entered_) ++depth;
}

pass::~pass() {
    if (!entered_) return;
    --depth;
    leave();
}

hold hold::take() noexcept {
    hold h;
    h.held_ = enter();
    return h;
}

hold::hold(const hold& other) noexcept : held_(other.held_) {
    // The original keeps the exit waiting, so this cannot be refused.
    if (held_) inside.fetch_add(1, std::memory_order_seq_cst);
}

void hold::release() noexcept {
    if (!held_) return;
    held_ = false;
    leave();
}

void arm() noexcept {
    static std::atomic<bool> armed{false};
    if (armed.exchange(true)) return;
    if (std::atexit(onExit) != 0)
        spdlog::error("exit handler not registered: the library's threads may outlive its statics");
}

bool closed() noexcept { return shut.load(std::memory_order_acquire); }

} // namespace exitGate
