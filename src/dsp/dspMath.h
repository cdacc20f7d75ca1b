#pragma once
// dspMath: element-wise kernels on sample buffers.
//
// Conventions shared by every kernel:
// - The length n of an operation is the count of its first buffer. Every other
//   buffer, the output included, must hold at least n elements; lengths are
//   not compared (the caller's contract, as for any hot-path kernel).
// - Forms with an output argument write elements [0, n) of it and return it
//   (a view sharing its samples) so calls can be chained; forms without one
//   return a new pooled buffer of n elements, one allocation per call.
// - Stateless: any number of threads may run them on buffers they own.
//
// The products, sums and scalings of complex and float buffers, spectrum,
// the power stage of Log10MagnitudeSquared and Log10 run on vector batches
// (eight lanes where the CPU has AVX2 with FMA, four otherwise; see
// dspMathKernels.h) and finish the last elements one at a time.
// dspMathScalar holds the plain version of each of them.
#include "dsp/buff.h"

#include <complex>

class dspMath {
public:
    using cf = std::complex<float>;

    /// out[i] = a[i] * b[i] (complex). Allocates nothing.
    static buff<cf> mul(buff<cf> a, buff<cf> b, buff<cf> out);
    /// acc[i] += a[i] * b[i] (complex). Allocates nothing.
    static buff<cf> mac(buff<cf> a, buff<cf> b, buff<cf> acc);
    /// New buffer of a[i] * c.
    static buff<cf> mul(buff<cf> a, cf c);
    /// out[i] = a[i] * k.
    static buff<cf> mul(buff<cf> a, float k, buff<cf> out);
    /// out[i] = a[i] * w[i]: a real window or gain curve on complex samples.
    static buff<cf> mul(buff<cf> a, buff<float> w, buff<cf> out);
    /// New buffer of a[i] * w[i].
    static buff<cf> mul(buff<cf> a, buff<float> w);
    /// out[i] = (a.re * b.re, a.im * b.im): lane by lane, not a complex product.
    static buff<cf> scalarMul(buff<cf> a, buff<cf> b, buff<cf> out);
    /// New buffer of the lane-by-lane product.
    static buff<cf> scalarMul(buff<cf> a, buff<cf> b);
    /// New buffer of a[i] * b[i].
    static buff<float> mul(buff<float> a, buff<float> b);
    /// out[i] = a[i] * b[i]. Allocates nothing.
    static buff<float> mul(buff<float> a, buff<float> b, buff<float> out);
    /// New buffer of a[i] * k.
    static buff<float> mul(buff<float> a, float k);
    /// out[i] = a[i] * k.
    static buff<float> mul(buff<float> a, float k, buff<float> out);
    /// New buffer of a[i] + b[i].
    static buff<cf> add(buff<cf> a, buff<cf> b);
    /// out[i] = a[i] + b[i].
    static buff<float> add(buff<float> a, buff<float> b, buff<float> out);

    /// Samples of power above 1 scaled to magnitude 1, the rest copied (NaN
    /// included).
    static buff<cf> clip(buff<cf> a, buff<cf> out);
    /// clip into out; returns the largest input magnitude (0 when empty, NaN
    /// samples ignored).
    static float MaxMagClip(buff<cf> a, buff<cf> out);
    /// out[i] = conj(a[i]).
    static buff<cf> conjugate(buff<cf> a, buff<cf> out);
    static buff<cf> conjugate(buff<cf> a);
    /// New buffer in reverse order.
    static buff<cf> reverse(buff<cf> a);
    /// New buffer circularly shifted towards higher indices by k (k <= n).
    static buff<cf> rotate(buff<cf> a, unsigned long k);

    /// New buffer of log10(|a|^2 + 1e-37).
    static buff<float> Log10MagnitudeSquared(buff<cf> a);
    /// out[i] = log10(a[i]).
    static buff<float> Log10(buff<float> a, buff<float> out);
    /// New buffer of |a|^2 * k + 1e-37: a power spectrum that is never 0.
    static buff<float> spectrum(buff<cf> a, float k);
    /// The same into out. Allocates nothing.
    static buff<float> spectrum(buff<cf> a, float k, buff<float> out);
    /// Largest magnitude; 0 when empty; NaN samples ignored.
    static float maxAbs(buff<cf> a);
    /// Largest power |a|^2; 0 when empty; NaN samples ignored.
    static float peakPower(buff<cf> a);
    /// Sets every sample with a part that is not finite (NaN or infinite) to
    /// 0; returns how many. One vectorised pass when there are none.
    /// Allocates nothing.
    static size_t replaceNonFinite(buff<cf> a);
    /// New buffer of (a[i], a[i]): a real table usable by scalarMul.
    static buff<cf> DupToComplex(buff<float> a);

    /// Splits the rate change inRate -> outRate into a power-of-two decimation
    /// (the result) and a rational rest *L / *M. Returns 0 when outRate is
    /// above inRate, and 0 with a log line when either rate is not positive.
    /// L and M are written on every path.
    static int getDecimation(int inRate, int outRate, int* L, int* M);
    /// Greatest common divisor of two positive numbers.
    static int gcd(int a, int b);
};
