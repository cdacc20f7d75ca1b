#include "dsp/denoise/pitchFilter.h"

#include "dsp/denoise/bandEnergy.h"

#include <algorithm>
#include <cmath>

namespace denoise {

void pitch_filter(FrameAnalysis& a, const float* g) {
    float r[kNbBands];
    for (int i = 0; i < kNbBands; ++i) {
        const float exp2 = a.Exp[i] * a.Exp[i];
        const float g2 = g[i] * g[i];
        float ri = (a.Exp[i] > g[i]) ? 1.f : exp2 * (1.f - g2) / (0.001f + g2 * (1.f - exp2));
        ri = std::sqrt(std::clamp(ri, 0.f, 1.f));
        r[i] = ri * std::sqrt(a.Ex[i] / (1e-8f + a.Ep[i]));
    }
    float rf[kFreqSize];
    interp_band_gain(rf, r);
    for (int k = 0; k < kFreqSize; ++k) a.X[k] += rf[k] * a.P[k];

    float newE[kNbBands];
    compute_band_energy(newE, a.X);
    float norm[kNbBands];
    for (int i = 0; i < kNbBands; ++i) norm[i] = std::sqrt(a.Ex[i] / (1e-8f + newE[i]));
    float normf[kFreqSize];
    interp_band_gain(normf, norm);
    for (int k = 0; k < kFreqSize; ++k) a.X[k] *= normf[k];
}

} // namespace denoise
