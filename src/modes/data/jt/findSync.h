#pragma once
// Sync search: scores every start position of a frame by how much the tones
// of its sync groups stand out from their neighbours in frequency and time,
// and keeps the best positions in a binary min-heap on score.
#include "modes/data/jt/MagArray.h"

namespace ft8 {

/// FT8 and JS8: 7-tone groups at symbols 0, 36 and 72. Returns the number of
/// candidates written to heap (at most maxCandidates, each scoring at least
/// minScore), in heap order; 0 with fewer than 66 blocks or 9 bins.
int find_sync(const MagArray& power, const uint8_t* costas, int maxCandidates, Candidate* heap, int minScore);

/// FT4: four 4-tone groups at symbols 0, 33, 66 and 99, group g with
/// costas[g]; 0 with fewer than 100 blocks or 5 bins.
int find_sync4(const MagArray& power, const uint8_t (*costas)[4], int maxCandidates, Candidate* heap,
               int minScore);

/// Adds c to the min-heap of size n (capacity cap): appended while there is
/// room, else taken only above the root, which it displaces. Returns the new
/// size.
int heap_push(Candidate* heap, int n, int cap, const Candidate& c);

} // namespace ft8
