#pragma once
// Process-wide tables of the noise suppressor: the analysis/synthesis window
// and the 22-point DCT. Built once, on first use, and read-only afterwards,
// so any number of states on any threads share them without locks. The
// 1024-point transforms run on the shared plans of dsp/fft, which are as
// immutable.
#include "dsp/denoise/denoiseSizes.h"

#include <complex>

namespace denoise {

using cpx = std::complex<float>;

class DenoiseTables {
public:
    /// The tables, built by the first caller; later and concurrent callers
    /// wait for that build to finish (a function-local static). Thread-safe.
    static const DenoiseTables& check_init();

    /// x [kWindowSize] *= the window: w(i) on the first half, mirrored on the
    /// second. The window is power-complementary, so analysis and synthesis
    /// windows overlap-add to unity.
    void apply_window(float* x) const;

    /// X [kFreqSize] = DFT(x) / kWindowSize of the real x [kWindowSize].
    void forward_transform(cpx* X, const float* x) const;

    /// x [kWindowSize] = inverse DFT of the Hermitian spectrum whose first
    /// kFreqSize bins are X; undoes forward_transform.
    void inverse_transform(float* x, const cpx* X) const;

    /// out [kNbBands] = orthonormal DCT-II of in [kNbBands].
    void dct(float* out, const float* in) const;

    /// Half window w(i), i < kFrameSize.
    float window(int i) const { return halfWindow_[i]; }

private:
    DenoiseTables();

    float halfWindow_[kFrameSize];
    float dctTable_[kNbBands * kNbBands];
};

} // namespace denoise
