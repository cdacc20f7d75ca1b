#include "dsp/denoise/bandEnergy.h"

namespace denoise {

const int eband5ms[kNbBands] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 12, 14, 16, 20, 24, 28, 34, 40, 48, 60, 78, 100};

namespace {

// Spreads a per-bin value over the two bands whose edges enclose the bin.
template <class BinValue>
void accumulateBands(float* bandE, BinValue binValue) {
    float sum[kNbBands] = {};
    for (int i = 0; i < kNbBands - 1; ++i) {
        const int start = eband5ms[i] << kBandShift;
        const int bandSize = (eband5ms[i + 1] - eband5ms[i]) << kBandShift;
        for (int j = 0; j < bandSize; ++j) {
            const float frac = static_cast<float>(j) / bandSize;
            const float v = binValue(start + j);
            sum[i] += (1.f - frac) * v;
            sum[i + 1] += frac * v;
        }
    }
    sum[0] *= 2.f;
    sum[kNbBands - 1] *= 2.f;
    for (int i = 0; i < kNbBands; ++i) bandE[i] = sum[i];
}

} // namespace

void compute_band_energy(float* bandE, const cpx* X) {
    accumulateBands(bandE, [X](int k) { return X[k].real() * X[k].real() + X[k].imag() * X[k].imag(); });
}

void compute_band_corr(float* bandE, const cpx* X, const cpx* P) {
    accumulateBands(bandE, [X, P](int k) { return X[k].real() * P[k].real() + X[k].imag() * P[k].imag(); });
}

void interp_band_gain(float* g, const float* bandE) {
    for (int k = 0; k < kFreqSize; ++k) g[k] = 0.f;
    for (int i = 0; i < kNbBands - 1; ++i) {
        const int start = eband5ms[i] << kBandShift;
        const int bandSize = (eband5ms[i + 1] - eband5ms[i]) << kBandShift;
        for (int j = 0; j < bandSize; ++j) {
            const float frac = static_cast<float>(j) / bandSize;
            g[start + j] = (1.f - frac) * bandE[i] + frac * bandE[i + 1];
        }
    }
}

} // namespace denoise
