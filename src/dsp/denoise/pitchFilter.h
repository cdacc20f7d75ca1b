#pragma once
// Comb filtering in the frequency domain: adds the pitch-delayed spectrum to
// bands where the network wants less attenuation than the periodicity alone
// explains, which fills in the harmonics between the band gains.
#include "dsp/denoise/frameFeatures.h"

namespace denoise {

/// Filters a.X with a.P by the band gains g [kNbBands] and restores each
/// band to its energy before the filter. Never allocates.
void pitch_filter(FrameAnalysis& a, const float* g);

} // namespace denoise
