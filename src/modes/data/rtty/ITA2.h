#pragma once
// The 5-bit teleprinter alphabet (ITA2) of the RTTY mode.
//
// ITA2 lists the 32 letters-shift characters, then the 32 figures-shift
// characters, each at its code with the first transmitted element as bit 0.
// Functions: code 0 is 0x00, 2 line feed, 4 space, 8 carriage return in both
// shifts; 27 (figures shift) is 0x0E and 31 (letters shift) 0x0F. Figures D
// (who are you) is 0x05, J (bell) 0x07; the national positions F, G, H are
// "!", "&" and 0xA3 (pound sign in Latin-1).
//
// ITA2Table maps every byte to 0x100 | code << 3 | flags (flag bit 0:
// figures shift, bit 1: the same in both shifts, no shift needed); shifted
// right by 2 it is the character's 7-element frame: start (0), the five
// code elements, stop (1). Lower-case letters send as capitals; every byte
// outside the alphabet sends as code 0 without a shift.
#include <array>
#include <cstdint>

namespace rtty {

extern const std::array<uint8_t, 64> ITA2;

/// The reverse table, freshly built from ITA2.
std::array<uint32_t, 256> buildTables();

/// The process-wide reverse table: built once, on first use, however many
/// threads ask at once; read-only from then on.
const std::array<uint32_t, 256>& ITA2Table();

constexpr uint32_t needsNoShift = 2;
constexpr uint32_t figuresShift = 1;

/// The 7-element frame of a table entry, start element first (bit 0).
constexpr uint32_t frameOf(uint32_t entry) { return entry >> 2; }

} // namespace rtty
