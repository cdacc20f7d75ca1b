#include "dsp/denoise/frameFeatures.h"

#include "dsp/denoise/bandEnergy.h"
#include "dsp/denoise/pitchAnalysis.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace denoise {
namespace {

// Offsets of the feature groups after the 22 cepstral values.
constexpr int kFirstDiff = kNbBands;
constexpr int kSecondDiff = kNbBands + kNbDeltaCeps;
constexpr int kPitchCorr = kNbBands + 2 * kNbDeltaCeps;
constexpr int kPitchPeriod = kNbBands + 3 * kNbDeltaCeps;
constexpr int kSpecVariability = kPitchPeriod + 1;

// Spectrum and band energies of the previous and the new frame, windowed.
void frame_analysis(DenoiseState* st, const DenoiseTables& t, cpx* X, float* Ex, const float* in) {
    float x[kWindowSize];
    std::memcpy(x, st->analysis_mem, sizeof(float) * kFrameSize);
    std::memcpy(x + kFrameSize, in, sizeof(float) * kFrameSize);
    std::memcpy(st->analysis_mem, in, sizeof(float) * kFrameSize);
    t.apply_window(x);
    t.forward_transform(X, x);
    compute_band_energy(Ex, X);
}

// Finds the period and gain in the pitch buffer, and the spectrum P of the
// signal one period back with its band energies and correlation with X.
void pitch_analysis(DenoiseState* st, const DenoiseTables& t, FrameAnalysis& a) {
    float x_lp[kPitchBufSize / 2];
    pitch_downsample(st->pitch_buf, x_lp, kPitchBufSize);
    const int lag = pitch_search(x_lp + kPitchMaxPeriod / 2, x_lp, kPitchFrameSize,
                                 kPitchMaxPeriod - 3 * kPitchMinPeriod);
    int period = kPitchMaxPeriod - lag;
    const float gain = remove_doubling(x_lp, kPitchMaxPeriod, kPitchMinPeriod, kPitchFrameSize, &period,
                                       st->last_period, st->last_gain);
    st->last_period = period;
    st->last_gain = gain;

    float p[kWindowSize];
    const float* from = st->pitch_buf + (kPitchBufSize - kWindowSize - period);
    std::memcpy(p, from, sizeof(float) * kWindowSize);
    t.apply_window(p);
    t.forward_transform(a.P, p);
    compute_band_energy(a.Ep, a.P);
    compute_band_corr(a.Exp, a.X, a.P);
    for (int i = 0; i < kNbBands; ++i) a.Exp[i] = a.Exp[i] / std::sqrt(0.001f + a.Ex[i] * a.Ep[i]);

    float tmp[kNbBands];
    t.dct(tmp, a.Exp);
    for (int i = 0; i < kNbDeltaCeps; ++i) a.features[kPitchCorr + i] = tmp[i];
    a.features[kPitchCorr] -= 1.3f;
    a.features[kPitchCorr + 1] -= 0.9f;
    a.features[kPitchPeriod] = 0.01f * (period - 300);
}

// Mean over the stored frames of the distance to the nearest other frame:
// low for stationary noise, high for speech.
float spectral_variability(const DenoiseState* st) {
    float total = 0.f;
    for (int i = 0; i < kCepsMem; ++i) {
        float mindist = 1e15f;
        for (int j = 0; j < kCepsMem; ++j) {
            if (i == j) continue;
            float dist = 0.f;
            for (int k = 0; k < kNbBands; ++k) {
                const float d = st->cepstral_mem[i][k] - st->cepstral_mem[j][k];
                dist += d * d;
            }
            mindist = std::min(mindist, dist);
        }
        total += mindist;
    }
    return total / kCepsMem - 2.1f;
}

} // namespace

bool compute_frame_features(DenoiseState* st, FrameAnalysis& a, const float* in) {
    const DenoiseTables& t = DenoiseTables::check_init();
    frame_analysis(st, t, a.X, a.Ex, in);
    std::memmove(st->pitch_buf, st->pitch_buf + kFrameSize, sizeof(float) * (kPitchBufSize - kFrameSize));
    std::memcpy(st->pitch_buf + (kPitchBufSize - kFrameSize), in, sizeof(float) * kFrameSize);
    pitch_analysis(st, t, a);

    // Log band energies, floored so that deep spectral valleys do not
    // dominate the cepstrum.
    float Ly[kNbBands];
    float logMax = -2.f;
    float follow = -2.f;
    float E = 0.f;
    for (int i = 0; i < kNbBands; ++i) {
        Ly[i] = std::log10(1e-2f + a.Ex[i]);
        Ly[i] = std::max(logMax - 7.f, std::max(follow - 1.5f, Ly[i]));
        logMax = std::max(logMax, Ly[i]);
        follow = std::max(follow - 1.5f, Ly[i]);
        E += a.Ex[i];
    }
    if (E < 0.04f) {
        std::fill(a.features, a.features + kNbFeatures, 0.f);
        return true;
    }

    t.dct(a.features, Ly);
    a.features[0] -= 12.f;
    a.features[1] -= 4.f;
    float* ceps_0 = st->cepstral_mem[st->memid];
    const float* ceps_1 = st->cepstral_mem[(st->memid + kCepsMem - 1) % kCepsMem];
    const float* ceps_2 = st->cepstral_mem[(st->memid + kCepsMem - 2) % kCepsMem];
    for (int i = 0; i < kNbBands; ++i) ceps_0[i] = a.features[i];
    st->memid = (st->memid + 1) % kCepsMem;
    for (int i = 0; i < kNbDeltaCeps; ++i) {
        a.features[i] = ceps_0[i] + ceps_1[i] + ceps_2[i];
        a.features[kFirstDiff + i] = ceps_0[i] - ceps_2[i];
        a.features[kSecondDiff + i] = ceps_0[i] - 2.f * ceps_1[i] + ceps_2[i];
    }
    a.features[kSpecVariability] = spectral_variability(st);
    return false;
}

} // namespace denoise
