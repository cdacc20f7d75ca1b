#pragma once
// The tables of the phase reference symbol of DAB transmission mode I.
//
// Carrier k (-768..-1, 1..768) belongs to the group whose range holds it;
// its phase is (pi / 2) * (h(i, k - k') + n), with k' the group's first
// carrier, i and n from the group's row and h from H_TABLE.
#include <cstdint>

struct dabCarrierGroup {
    int firstCarrier; // k'
    int lastCarrier;
    int i;            // row of H_TABLE
    int n;            // phase offset, in quarter turns
};

/// 48 groups of 32 carriers, from k = -768 up.
extern const dabCarrierGroup PRS_PARAMS_MODE_I[48];
/// h(i, j), i = 0..3, j = 0..31, in quarter turns.
extern const int8_t H_TABLE[4][32];
