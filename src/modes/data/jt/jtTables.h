#pragma once
// The published tables of the FT8, FT4 and JS8 protocols that the decoder
// needs: sync patterns, Gray maps, the FT4 scrambling vector and the
// parity-check graphs of the two LDPC codes (ldpcTables.cpp, generated).
//
// Parity-check graphs, 0-based: kNm[m][0 .. kNrw[m]-1] are the bits of check
// m (the places after them are unused), kMn[n] the three checks of bit n.
// Codewords are message first: 91 bits (77 payload, 14 CRC) then 83 parity
// bits for FT8/FT4; 87 bits (75 payload, 12 CRC) then 87 parity for JS8.
#include <cstdint>

namespace ft8 {

constexpr int kN = 174;         // codeword bits
constexpr int kK = 91;          // message bits
constexpr int kM = kN - kK;     // parity checks
constexpr int kPayloadBits = 77;

extern const uint8_t kNm[kM][7];
extern const uint8_t kMn[kN][3];
extern const uint8_t kNrw[kM];

/// Tone of each symbol of the three sync groups.
constexpr uint8_t kCostas[7] = {3, 1, 4, 0, 6, 5, 2};
/// Tone sent for three data bits (MSB first) of value i.
constexpr uint8_t kGrayMap[8] = {0, 1, 3, 2, 5, 6, 4, 7};

} // namespace ft8

namespace ft4 {

/// Tones of the four sync groups, one array per group.
constexpr uint8_t kCostas[4][4] = {{0, 1, 3, 2}, {1, 0, 2, 3}, {2, 3, 1, 0}, {3, 2, 0, 1}};
constexpr uint8_t kGrayMap[4] = {0, 1, 3, 2};
/// XORed over the 77 payload bits (the last 3 bits of byte 9 unused).
constexpr uint8_t kScramble[10] = {0x4A, 0x5E, 0x89, 0xB4, 0xB0, 0x8A, 0x79, 0x55, 0xBE, 0x28};

} // namespace ft4

namespace js8 {

constexpr int kN = 174;
constexpr int kK = 87;
constexpr int kM = kN - kK;
constexpr int kPayloadBits = 75;

extern const uint8_t kNm[kM][7];
extern const uint8_t kMn[kN][3];
extern const uint8_t kNrw[kM];

constexpr uint8_t kCostas[7] = {4, 2, 5, 6, 1, 3, 0};
constexpr uint8_t kGrayMap[8] = {0, 1, 2, 3, 4, 5, 6, 7};

} // namespace js8
