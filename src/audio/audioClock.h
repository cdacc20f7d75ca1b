#pragma once
// The steady clock of the sound side, in nanoseconds, and the 48 kHz tick
// count that the audio rings stamp their positions with.
//
// The writers and readers of the rings (transceivers, sound-card callbacks,
// microphone readers) all read this one clock, so a test can replace it with
// a simulated one and drive a whole sound path in simulated time.
#include <cstdint>

namespace audioClock {

using source = int64_t (*)();

/// Nanoseconds of the steady clock, or of the source installed with use().
/// Any thread; never blocks.
int64_t now() noexcept;

/// Makes s the clock (null restores the steady clock). Install a source
/// before the sound side is used; every thread reads the new one afterwards.
void use(source s) noexcept;

/// 48 kHz ticks of a time: ns × 48000 / 10^9, truncated, modulo 2^32. Split
/// into whole and fractional seconds so that no product overflows.
constexpr uint32_t ticks48k(int64_t ns) noexcept {
    const int64_t sec = ns / 1'000'000'000;
    const int64_t rest = ns % 1'000'000'000;
    return uint32_t(uint64_t(sec) * 48000u + uint64_t(rest * 48000 / 1'000'000'000));
}

/// A ring stamp: the 48 kHz tick count modulo 65536 in the high half, a
/// 16-bit ring position in the low half.
constexpr uint32_t stamp(int64_t ns, uint16_t position) noexcept {
    return ((ticks48k(ns) & 0xFFFFu) << 16) | position;
}

} // namespace audioClock
