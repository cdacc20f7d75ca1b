#include "dsp/denoise/DenoiseTables.h"

#include "dsp/fft/fft.h"

#include <cmath>
#include <numbers>

namespace denoise {

const DenoiseTables& DenoiseTables::check_init() {
    // C++ guarantees one initialisation even when several threads arrive at
    // once; the others block until it is complete.
    static const DenoiseTables tables;
    return tables;
}

static_assert(kWindowSize == 1024, "the transforms run on the shared 1024-point plans");

DenoiseTables::DenoiseTables() {
    const double pi = std::numbers::pi;
    for (int i = 0; i < kFrameSize; ++i) {
        const double s = std::sin(0.5 * pi * (i + 0.5) / kFrameSize);
        halfWindow_[i] = static_cast<float>(std::sin(0.5 * pi * s * s));
    }
    for (int i = 0; i < kNbBands; ++i) {
        for (int j = 0; j < kNbBands; ++j) {
            double v = std::cos((i + 0.5) * j * pi / kNbBands);
            if (j == 0) v *= std::sqrt(0.5);
            dctTable_[i * kNbBands + j] = static_cast<float>(v);
        }
    }
}

void DenoiseTables::apply_window(float* x) const {
    for (int i = 0; i < kFrameSize; ++i) {
        x[i] *= halfWindow_[i];
        x[kWindowSize - 1 - i] *= halfWindow_[i];
    }
}

void DenoiseTables::forward_transform(cpx* X, const float* x) const {
    cpx in[kWindowSize];
    cpx out[kWindowSize];
    for (int i = 0; i < kWindowSize; ++i) in[i] = cpx(x[i], 0.f);
    fft::forward1024.transform(in, out);
    constexpr float scale = 1.f / kWindowSize;
    for (int i = 0; i < kFreqSize; ++i) X[i] = out[i] * scale;
}

void DenoiseTables::inverse_transform(float* x, const cpx* X) const {
    cpx in[kWindowSize];
    cpx out[kWindowSize];
    for (int i = 0; i < kFreqSize; ++i) in[i] = X[i];
    for (int i = kFreqSize; i < kWindowSize; ++i) in[i] = std::conj(X[kWindowSize - i]);
    fft::reverse1024.transform(in, out);
    for (int i = 0; i < kWindowSize; ++i) x[i] = out[i].real();
}

void DenoiseTables::dct(float* out, const float* in) const {
    const float scale = std::sqrt(2.f / kNbBands);
    for (int j = 0; j < kNbBands; ++j) {
        float sum = 0.f;
        for (int i = 0; i < kNbBands; ++i) sum += in[i] * dctTable_[i * kNbBands + j];
        out[j] = sum * scale;
    }
}

} // namespace denoise
