#pragma once
// The 22 perceptual bands: energies and correlations with triangular
// weighting between adjacent band edges, and per-band gains spread back over
// the bins.
#include "dsp/denoise/DenoiseTables.h"

namespace denoise {

/// Band edges in units of 4 bins; the last band ends at bin 400 (18750 Hz).
inline constexpr int eband5ms[kNbBands] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 12, 14, 16, 20, 24, 28, 34, 40, 48, 60, 78, 100};

/// bandE [kNbBands] from the spectrum X [kFreqSize]. The first and last band
/// are doubled because they have only one neighbour to share with.
void compute_band_energy(float* bandE, const cpx* X);

/// bandE [kNbBands]: the real part of X times conj(P), weighted as above.
void compute_band_corr(float* bandE, const cpx* X, const cpx* P);

/// g [kFreqSize] linearly interpolated from bandE [kNbBands]; bins from 400
/// up get 0.
void interp_band_gain(float* g, const float* bandE);

} // namespace denoise
