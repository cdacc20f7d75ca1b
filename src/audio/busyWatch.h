#pragma once
// busyWatch: since when a worker thread has been inside its current piece of
// work, so that another thread can tell a worker that a sound server holds
// (one that was stopped, and may never answer) from one that is only busy,
// without waiting for it.
//
// Written by the worker, read from any thread. Relaxed: a reader needs this
// one value only, nothing written before it.
#include <atomic>
#include <cstdint>

class busyWatch {
public:
    /// The worker begins a piece of work at `now` (audioClock). Worker only.
    void begin(int64_t now) noexcept { since_.store(now != 0 ? now : 1, std::memory_order_relaxed); }
    /// The worker waits for work: it is held by nothing. Worker only.
    void idle() noexcept { since_.store(0, std::memory_order_relaxed); }

    /// Whether the worker has been inside one piece of work for more than
    /// `ns` at `now`. Any thread.
    bool heldFor(int64_t now, int64_t ns) const noexcept {
        const int64_t since = since_.load(std::memory_order_relaxed);
        return since != 0 && now - since > ns;
    }

private:
    std::atomic<int64_t> since_{0};
};
