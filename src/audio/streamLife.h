#pragma once
// streamLife: the one owner of a sound device's stream state, and of which
// stream is the device's own.
//
// Each stream the device opens is a generation: open() is the one way in and
// starts the next one; end() is the one way out, for every ending (the
// stream finished, the device stopped it, or it stopped calling back and is
// closed as failed). A generation ends once: a second end(), from another
// ending that crossed the first, does nothing.
//
// A stream closed as failed may not be gone: the back-end cannot stop one
// that calls back no more, and it may wake and call back again. Its
// callbacks carry its generation; current() tells the device that it is no
// longer its own, and the device lets it write nothing. No timing is
// involved: the generation decides.
//
// One atomic word holds both the generation and the phase, so a callback
// reads them together, without a lock.
#include <atomic>
#include <cstdint>

class streamLife {
public:
    enum class phase : uint32_t {
        closed,  // no stream, or the last one finished or was stopped
        opening, // an open was asked for; no callback yet
        running, // its callbacks arrive
        failed,  // it stopped calling back, and was closed as failed
    };

    /// The way in: from closed or failed, starts the next generation, in
    /// opening, and returns it (never 0); 0 while a stream is opening or
    /// running. Any thread.
    uint32_t open() noexcept;
    /// The way out: ends generation g as closed or failed. False, and
    /// nothing changes, when g is not the current generation or has ended
    /// already. Any thread.
    bool end(uint32_t g, phase how) noexcept;
    /// Whether generation g is the device's stream: opening or running. The
    /// first callback of an opening one makes it running. Any thread.
    bool current(uint32_t g) noexcept;

    /// The current phase, and the generation it belongs to (0 before the
    /// first open). Any thread.
    phase state() const noexcept { return phaseOf(word_.load(std::memory_order_acquire)); }
    uint32_t generation() const noexcept { return generationOf(word_.load(std::memory_order_acquire)); }
    /// Opening or running. Any thread.
    bool live() const noexcept { return isLive(state()); }

private:
    static constexpr uint64_t pack(uint32_t g, phase p) noexcept { return uint64_t(g) << 32 | uint64_t(p); }
    static constexpr uint32_t generationOf(uint64_t w) noexcept { return uint32_t(w >> 32); }
    static constexpr phase phaseOf(uint64_t w) noexcept { return phase(uint32_t(w)); }
    static constexpr bool isLive(phase p) noexcept { return p == phase::opening || p == phase::running; }

    std::atomic<uint64_t> word_{pack(0, phase::closed)};
};
