#pragma once
// DspMathKernels: the bodies of the element-wise dspMath kernels as one table
// of function pointers per vector width (see dsp/simd/simdLevel.h). Pointers
// are raw and lengths are element counts; complex buffers are interleaved
// (re, im) floats.
#include <cstddef>

struct DspMathKernels {
    /// out[i] = a[i] * b[i], complex, n elements.
    void (*complexMul)(const float* a, const float* b, float* out, size_t n);
    /// acc[i] += a[i] * b[i], complex.
    void (*complexMac)(const float* a, const float* b, float* acc, size_t n);
    /// out[i] = a[i] * w[i]: complex a, real w.
    void (*complexWindow)(const float* a, const float* w, float* out, size_t n);
    /// y[i] = x[i] * k over n floats.
    void (*scale)(const float* x, float k, float* y, size_t n);
    /// z[i] = x[i] * y[i] over n floats.
    void (*mul)(const float* x, const float* y, float* z, size_t n);
    /// z[i] = x[i] + y[i] over n floats.
    void (*add)(const float* x, const float* y, float* z, size_t n);
    /// out[i] = |a[i]|^2 + floor, complex a.
    void (*powerPlus)(const float* a, float floor, float* out, size_t n);
    /// out[i] = float(double(|a[i]|^2 * k) + 1e-37), complex a.
    void (*spectrum)(const float* a, float k, float* out, size_t n);
    /// y[i] = log10(x[i]).
    void (*log10)(const float* x, float* y, size_t n);
};

/// The table of this process's level.
const DspMathKernels& dspMathKernels();
