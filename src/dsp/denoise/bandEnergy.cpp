#include "dsp/denoise/bandEnergy.h"

#include <array>

namespace denoise {

namespace {

constexpr int kBandBins = eband5ms[kNbBands - 1] << kBandShift;

// Position of every bin between its band's edges, j / bandSize, worked out
// once (with the same float division) rather than per bin and call.
constexpr std::array<float, kBandBins> kBinFrac = [] {
    std::array<float, kBandBins> f{};
    for (int i = 0; i < kNbBands - 1; ++i) {
        const int start = eband5ms[i] << kBandShift;
        const int bandSize = (eband5ms[i + 1] - eband5ms[i]) << kBandShift;
        for (int j = 0; j < bandSize; ++j) f[start + j] = static_cast<float>(j) / bandSize;
    }
    return f;
}();

// Spreads a per-bin value over the two bands whose edges enclose the bin.
template <class BinValue>
void accumulateBands(float* bandE, BinValue binValue) {
    float sum[kNbBands] = {};
    for (int i = 0; i < kNbBands - 1; ++i) {
        const int start = eband5ms[i] << kBandShift;
        const int bandSize = (eband5ms[i + 1] - eband5ms[i]) << kBandShift;
        for (int j = 0; j < bandSize; ++j) {
            const float frac = kBinFrac[start + j];
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
            const float frac = kBinFrac[start + j];
            g[start + j] = (1.f - frac) * bandE[i] + frac * bandE[i + 1];
        }
    }
}

} // namespace denoise
