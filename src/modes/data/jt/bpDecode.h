#pragma once
// Belief-propagation (sum-product) decoding of the two LDPC codes.
//
// Soft values are positive for a 1. Each iteration forms every bit's total
// (its soft value plus the messages of its three checks) and hard decision,
// counts the failed checks (stopping at none), then sends every bit's total
// less one check's own message to that check as tanh(-T/2), and every check
// the -2 atanh of the product of its other bits' messages back to each bit.
// The messages to the checks start as the soft values; as the first
// iteration replaces them before any is read, they are not kept between
// the phases.
#include <cstdint>

namespace ft8 {

/// The (174,91) code of FT8 and FT4 (83 checks). plain gets the 174 hard
/// bits of the last iteration run; *ok the fewest failed checks seen (83
/// when no iteration ran).
void bp_decode(const float* codeword, int maxIterations, uint8_t* plain, int* ok);

/// Rational approximations used in the inner loops: tanh(x) with -1 below
/// -4.97 and 1 above 4.97, and atanh(x) for |x| up to about 1 (its poles
/// lie at |x| = 1.1 and 1.86; the products it is given stay below 1.05).
/// Branch-free, so that loops over many values run in vector lanes.
inline float fast_tanh(float x) {
    const float x2 = x * x;
    const float r = x * (945.0f + x2 * (105.0f + x2)) / (945.0f + x2 * (420.0f + 15.0f * x2));
    return x < -4.97f ? -1.0f : x > 4.97f ? 1.0f : r;
}
inline float fast_atanh(float x) {
    const float x2 = x * x;
    return x * (945.0f + x2 * (-735.0f + 64.0f * x2)) / (945.0f + x2 * (-1050.0f + 225.0f * x2));
}

} // namespace ft8

namespace js8 {

/// The (174,87) code of JS8 (87 checks), message first.
void bp_decode(const float* codeword, int maxIterations, uint8_t* plain, int* ok);

} // namespace js8
