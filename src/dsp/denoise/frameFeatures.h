#pragma once
// Analysis of one frame: its spectrum and band energies, the pitch-delayed
// spectrum, and the 42 features the network sees.
#include "dsp/denoise/DenoiseState.h"
#include "dsp/denoise/DenoiseTables.h"

namespace denoise {

/// The analysis of one frame; Exp holds normalised band correlations.
struct FrameAnalysis {
    cpx X[kFreqSize];
    cpx P[kFreqSize];
    float Ex[kNbBands];
    float Ep[kNbBands];
    float Exp[kNbBands];
    float features[kNbFeatures];
};

/// Analyses the high-passed frame in [kFrameSize] into a, advancing the
/// analysis, pitch and cepstral memories of st. Returns true for a silent
/// frame (band energies summing below 0.04), whose features are all zero and
/// whose cepstral memory is left as it was. Never allocates.
bool compute_frame_features(DenoiseState* st, FrameAnalysis& a, const float* in);

} // namespace denoise
