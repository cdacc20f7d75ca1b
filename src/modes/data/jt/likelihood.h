#pragma once
// Soft bits: for every data symbol, how much the strongest tone carrying a 1
// in each bit position outweighs the strongest tone carrying a 0 (in
// half-dB steps); positive means 1.
#include "modes/data/jt/MagArray.h"

namespace ft8 {

/// 8-tone modes (FT8 with its Gray map, JS8 with the identity): 58 data
/// symbols of 3 bits, skipping the sync groups at 0, 36 and 72.
void extract_likelihood(const MagArray& power, const Candidate& cand, const uint8_t* grayMap, float* log174);

/// FT4: 87 data symbols of 2 bits, skipping the sync groups at 0, 33, 66, 99.
void extract_likelihood4(const MagArray& power, const Candidate& cand, const uint8_t* grayMap, float* log174);

/// Scales the 174 values to a variance of 16 (about their mean, which is
/// left in). False, values untouched, when they do not vary at all.
bool normalize_likelihood(float* log174);

} // namespace ft8
