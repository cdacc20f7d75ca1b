#pragma once
// The binary Golay (23,12) code with generator x^11 + x^10 + x^6 + x^5 + x^4
// + x^2 + 1 (0xC75), systematic: a codeword holds its 12-bit value in bits
// 11 to 22 and the remainder of that value (times x^11) by the generator in
// bits 0 to 10.
//
// The code is perfect: the 2048 syndromes stand one to one for the 2048 error
// patterns of weight 0 to 3, so decoding is a syndrome and two table reads.
// Up to three wrong bits are corrected; a word with more decodes to another
// value with no sign of it.
//
// The tables are process-wide and built once, on first use, by whichever
// thread gets there first (a function-local static: the build is guarded and
// every other caller waits for it). Afterwards they are only read.
#include <cstdint>

/// Keeps the 23 bits a codeword has.
inline constexpr uint32_t golayWordMask = (1u << 23) - 1;

/// Remainder of the 23-bit word p (higher bits ignored) divided by the
/// generator: an 11-bit syndrome, 0 for a codeword.
uint32_t get_syndrome(uint32_t p);
/// The 23-bit codeword of the 12-bit value (higher bits ignored).
uint32_t encode_golay(uint32_t value);
/// The 12-bit value of the 23-bit word r (higher bits ignored); errors gets
/// the number of bits corrected (0 to 3) when not null.
uint32_t decode_golay(uint32_t r, int* errors);

/// Builds the encoding table if no one has yet; returns its 4096 codewords.
const uint32_t* gen_enc_table();
/// Builds the decoding tables if no one has yet; returns the 2048 error
/// patterns indexed by syndrome (errorWeights, when not null, gets the 2048
/// weights of those patterns).
const uint32_t* gen_dec_table(const uint8_t** errorWeights = nullptr);

/// Steps the r positions a[0] < ... < a[r-1], chosen from 0 .. n-1, to the
/// next combination in lexicographic order; false (a unchanged) after the
/// last one.
bool nextcomb(int n, int r, int* a);
/// The bit mask with the r bit positions of a set.
uint32_t arr2int(const int* a, int r);
