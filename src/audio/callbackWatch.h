#pragma once
// callbackWatch: when a sound-card stream last called back and how long its
// buffers last, so that another thread can tell a stream that stopped
// calling back without finishing (a JACK client whose server went away or
// dropped it) from one that is between two callbacks.
//
// Written by the stream's callback, read from any thread. Relaxed atomics:
// a reader needs these two values only, nothing written before them.
#include <atomic>
#include <cstdint>

class callbackWatch {
public:
    /// Buffers of silence after which a stream counts as stalled.
    static constexpr int stallPeriods = 4;

    /// A callback of `frames` at `rate` samples per second ended at `now`
    /// (audioClock). Sound-card thread.
    void heard(int64_t now, unsigned long frames, int rate) noexcept {
        heardAt_.store(now, std::memory_order_relaxed);
        period_.store(rate > 0 ? int64_t(frames) * 1'000'000'000 / rate : 0, std::memory_order_relaxed);
    }
    /// Forgets the stream: one about to open, or one that has ended, is not
    /// stalled.
    void forget() noexcept { heardAt_.store(0, std::memory_order_relaxed); }

    /// Whether a callback was heard since the stream was opened. Any thread.
    bool heardOnce() const noexcept { return heardAt_.load(std::memory_order_relaxed) != 0; }
    /// Whether the stream, once heard, has been silent at `now` for more
    /// than `periods` of its buffers and more than `atLeastNs`. A stream not
    /// heard yet is not silent: it may still be opening.
    bool silentFor(int64_t now, int periods, int64_t atLeastNs = 0) const noexcept {
        const int64_t at = heardAt_.load(std::memory_order_relaxed);
        if (at == 0) return false;
        const int64_t silent = now - at;
        return silent > periods * period_.load(std::memory_order_relaxed) && silent > atLeastNs;
    }
    /// Silent for more than stallPeriods of its buffers.
    bool stalled(int64_t now) const noexcept { return silentFor(now, stallPeriods); }
    /// Stalled, and for longer than failAfterNs: well beyond the pauses of a
    /// loaded machine, so the stream has stopped for good.
    bool failed(int64_t now) const noexcept { return silentFor(now, stallPeriods, failAfterNs); }

    static constexpr int64_t failAfterNs = 1'000'000'000; // a loaded JACK server's xruns reach a quarter second

private:
    std::atomic<int64_t> heardAt_{0};
    std::atomic<int64_t> period_{0};
};
