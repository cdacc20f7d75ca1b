#include "modes/voice/voiceTxChain.h"

#include "dsp/dspMath.h"
#include "dsp/fft/fft.h"
#include "dsp/filterDesign.h"
#include "modes/voice/micEqualiser.h"

#include <algorithm>
#include <cmath>

namespace voiceTx {

buff<cplx> equaliserTaps(double low, double high, const buff<float>& curve, double preEmphasisFrom) {
    constexpr int N = eqTaps;
    constexpr int half = N / 2;
    constexpr float pi = 3.1415927f;
    const bool shaped = curve.size() == size_t(micEqualiser::curveLength);

    // Prototype: a sinc low-pass of half-width (high - low) / 2, turned to
    // the band centre. It is left unwindowed here: the window comes after
    // the shaping, so that it also smooths the curve's corners.
    buff<cplx> taps(size_t(N), cplx{});
    const float a = pi * float(high - low) / float(rate);
    const double b = double(float((low + high) / rate)) * double(pi);
    for (int k = 0; k < half; ++k) {
        const float t = float(k) + 0.5f;
        const float h = std::sin(a * t) / (pi * t);
        const float theta = float(b * double(t));
        const float c = std::cos(theta), s = std::sin(theta);
        taps[size_t(half + k)] = cplx(h * c, h * s);
        taps[size_t(half - 1 - k)] = cplx(h * c, -h * s);
    }

    // The curve's entry i is the gain at bin i's frequency, so the bins of
    // the band take their gains directly. A negative bin u takes entry
    // 2047 - u, one below its mirror 2048 - u: that keeps the Nyquist bin
    // 1024 inside the curve.
    buff<cplx> X = fft::fwd(taps);
    const float scale = 1.0f / float(N);
    for (int u = 0; u < N; ++u) {
        const double f = double(u - (u >= half ? N : 0)) * rate / N;
        if (low <= f && f < high) {
            if (preEmphasisFrom > 0.0) X[size_t(u)] *= float(f / preEmphasisFrom);
            if (shaped) X[size_t(u)] *= f >= 0 ? curve[size_t(u)] : curve[size_t(N - 1 - u)];
        }
        X[size_t(u)] *= scale;
    }
    return dspMath::mul(fft::rev(X), filterDesign<float>::window(N));
}

void shapeBlock(modDemod& mode, buff<cplx> in, lowLatFir& eqFilter, float gain, lowLatFir& postClip) {
    eqFilter.inBlock.copy(in);
    eqFilter.calc();
    dspMath::mul(eqFilter.outBlock, gain, eqFilter.outBlock);
    mode.CalcOpHist(eqFilter.outBlock);
    dspMath::clip(eqFilter.outBlock, postClip.inBlock);
    postClip.calc();
}

void lookAheadLimit(delay<float>& limiter, int limiterWindow, buff<cplx> block, buff<cplx> out, float k) {
    limiter.shift();
    limiter.input.copy(block);
    // The window may not reach past the newest sample: W - 1 <= H.
    const size_t W = std::clamp<size_t>(size_t(std::max(limiterWindow, 1)), 1, size_t(limiter.history) + 1);
    const size_t centre = W / 2;
    const size_t n = std::min(out.size(), limiter.input.size());
    const cplx* w = limiter.window.data;
    for (size_t i = 0; i < n; ++i) {
        // Peak of W magnitudes around the sample (re-taken per sample: W is
        // small, and a running maximum would need a deque per block).
        float peakPower = 0.0f;
        for (size_t j = 0; j < W; ++j) {
            const float p = w[i + j].real() * w[i + j].real() + w[i + j].imag() * w[i + j].imag();
            if (p > peakPower) peakPower = p; // NaN never wins
        }
        const float p = std::sqrt(peakPower);
        const cplx c = w[i + centre];
        if (p <= 1.0f) {
            out[i] = c * k;
        } else {
            // Maps a peak p to p / (2p - 1) < 1.
            const float d = ((p - 1.0f) + (p - 1.0f)) + 1.0f;
            out[i] = (c / d) * k;
        }
    }
}

} // namespace voiceTx
