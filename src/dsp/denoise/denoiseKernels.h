#pragma once
// The noise suppressor's inner loops: the weighted sums of the network's
// layers and the correlations of the pitch search. Each has a four-lane
// baseline body and, on x86-64, an eight-lane AVX2+FMA body; the process
// uses one set, chosen once (dsp/simd/simdLevel.h).
#include "dsp/denoise/RNNModel.h"

namespace denoise {

struct DenoiseKernels {
    /// sums[i] += w[j * stride + i] * x[j] for i < n, j < m; each sums[i]
    /// gathers its products in order of j.
    void (*accumulate)(float* sums, const rnn_weight* w, int stride, const float* x, int m, int n);
    /// out[k] = sum of x[i] y[i + k] over i < len, for k < lags; each lag sums
    /// in order of i. y holds ylen readable values, at least len + lags - 1;
    /// the wide lanes may read further within them.
    void (*xcorr)(const float* x, const float* y, int ylen, int len, float* out, int lags);
    /// Sum of x[i] y[i] over i < n, in partial sums across the lanes.
    float (*inner)(const float* x, const float* y, int n);
    /// x[i] = activate(activation, scale x[i]) for i < n, each lane as the
    /// scalar approximations of activation.h compute it.
    void (*activate)(float* x, int n, float scale, int activation);
};

/// The set of this process. Thread-safe.
const DenoiseKernels& denoiseKernels();

/// The four-lane set and, in builds that have it, the eight-lane one.
extern const DenoiseKernels denoiseKernelsBaseline;
#if VIREO_AVX2_KERNELS
extern const DenoiseKernels denoiseKernelsAvx2;
#endif

} // namespace denoise
