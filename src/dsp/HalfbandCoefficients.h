#pragma once
// The half-band filters of DownConverter2, one coefficient h_k per pair of
// taps at offsets ±(2k+1) from a centre tap of 0.5 (every even offset is 0).
// Taken from their bit patterns so that the filters are exactly these values
// whatever the compiler does with decimal literals.
#include <bit>
#include <cstdint>

namespace downconv_detail {

constexpr float hb(std::uint32_t bits) { return std::bit_cast<float>(bits); }

/// The last stage (39 taps).
inline constexpr float level1[10] = {
    hb(0x3EA02E76), hb(0xBDB9DE89), hb(0x3D28545B), hb(0xBC9C3055), hb(0x3C06157A),
    hb(0xBB49A002), hb(0x3A7CAE64), hb(0xB9774A4D), hb(0x3828CE81), hb(0xB6738B1A)};
/// The stage before it (19 taps).
inline constexpr float level2[5] = {
    hb(0x3E9B7607), hb(0xBD8D3AE2), hb(0x3C97C241), hb(0xBB6799EC), hb(0x39AF0378)};
/// Every earlier stage (11 taps).
inline constexpr float level3[3] = {hb(0x3E965C82), hb(0xBD4C640A), hb(0x3BCBFFCD)};

} // namespace downconv_detail
