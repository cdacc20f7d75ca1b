#pragma once
// Constant tables shared by the PSK detector and modulator.
#include <array>
#include <cstdint>

namespace psk {

/// Varicode of every character code, left-justified in 16 bits (first bit
/// in bit 15, zeros after the code). 0-127 are the published PSK31 codes;
/// 128-255 take, in order, the unused valid words (starting and ending in 1,
/// no "00"), shortest first and ascending within a length.
extern const std::array<uint16_t, 256> VARICODE_TABLE;

/// Rate-1/2, constraint-length-5 code of QPSK as phase indices 0..3,
/// indexed by the last five data bits (newest in bit 0).
extern const std::array<uint8_t, 32> CONV_CODE_TABLE;

/// Expected decision angle of each phase index (0 none, 1 one way, 2
/// reversal, 3 the other way); the second table puts index 1 at 2 pi for
/// angles in the upper half.
extern const std::array<double, 4> ANGLE_TBL1;
extern const std::array<double, 4> ANGLE_TBL2;

/// The sample position half a symbol (of 16) away from each position.
extern const std::array<int, 16> HALF_TABLE;

/// Morse patterns of codes 32-90, two bits per element from the top: 01
/// dot, 10 dash, 11 gap; a letter ends in one gap, space is two gaps.
/// Characters without Morse code have pattern 0.
extern const std::array<uint16_t, 59> CW_TABLE;

} // namespace psk
