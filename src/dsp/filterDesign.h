#pragma once
// filterDesign<T>: windowed-sinc FIR designs.
//
// Every design uses one window, a 7-term Blackman-Harris window sampled at
// cell centres ((i + 0.5) / N): it is symmetric, never reaches zero at either
// end, and for odd N its centre sample is exactly 1. Designs run when a filter
// is built or its band changes, never per block; each returns a new buffer
// owned by the caller.
//
// Band edges are signed frequencies in Hz relative to the stream's centre.
// Designs need N >= 1, M >= N and rate > 0 (taps at 0 .. N-1, zeros after);
// other sizes are refused with a log line and give an empty buffer, as do
// minimum-phase requests beyond the 32768-point grid. The rounding points
// (which quotients are taken in float and which angles in double) are
// deliberate: designs are compared bit for bit with the ones cached at
// start-up.
#include "dsp/buff.h"
#include "dsp/dspMath.h"
#include "dsp/fft/fft.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>
#include <complex>

template <class T>
class filterDesign {
public:
    using cplx = std::complex<T>;

    /// Linear-phase complex band-pass passing low .. high: unity gain in the
    /// band, group delay (N - 1) / 2. [result: M samples]
    static buff<cplx> bandpass(float low, float high, int rate, int N, int M) {
        if (!sizesUsable("bandpass", rate, N, M)) return {};
        buff<cplx> out(static_cast<size_t>(M), cplx(0));
        buff<float> w = window(N);
        const float b = (high - low) / static_cast<float>(rate);
        if (N % 2 == 1) out[(N - 1) / 2] = cplx(b, 0);
        const float q = (low + high) / static_cast<float>(rate);
        const double omega = 2.0 * static_cast<double>(pi) * (static_cast<double>(q) / 2.0);
        const float mid = static_cast<float>(N - 1) / 2.0f;
        for (int i = (N + 1) / 2; i < N; ++i) {
            const float t = static_cast<float>(i) - mid;
            const float v = std::sin(pi * b * t) / (pi * t) * w[i];
            const float theta = static_cast<float>(omega * static_cast<double>(t));
            const float s = std::sin(theta), k = std::cos(theta);
            out[i] = cplx(v * k, v * s);
            out[N - 1 - i] = cplx(v * k, -v * s);
        }
        return out;
    }

    /// Real counterpart of bandpass (cosine instead of complex exponential);
    /// with low = -high a low-pass of cut-off high. [result: M samples]
    static buff<T> bandpassReal(float low, float high, int rate, int N, int M) {
        if (!sizesUsable("bandpassReal", rate, N, M)) return {};
        buff<T> out(static_cast<size_t>(M));
        buff<float> w = window(N);
        const float b = (high - low) / static_cast<float>(rate);
        if (N % 2 == 1) out[(N - 1) / 2] = b;
        const float q = (low + high) / static_cast<float>(rate);
        const float phi = static_cast<float>(static_cast<double>(q) * 0.5 * 2.0 * static_cast<double>(pi));
        const float mid = static_cast<float>(N - 1) / 2.0f;
        for (int i = (N + 1) / 2; i < N; ++i) {
            const float t = static_cast<float>(i) - mid;
            const float v = std::sin(pi * b * t) / (pi * t) * w[i];
            out[i] = out[N - 1 - i] = v * std::cos(t * phi);
        }
        for (int i = N; i < M; ++i) out[i] = 0;
        return out;
    }

    /// bandpassMinPhase(bandpass(low, high, rate, N, M)).
    static buff<cplx> bandpassMinPhase(float low, float high, int rate, int N, int M) {
        return bandpassMinPhase(bandpass(low, high, rate, N, M));
    }

    /// Minimum-phase filter with the magnitude response of taps (at most
    /// 32768 of them): phase = -Hilbert{ln |H|} on a 32768-point grid, which
    /// moves the energy of the response to its first samples. [result: same
    /// length as taps]
    static buff<cplx> bandpassMinPhase(buff<cplx> taps) {
        const size_t n = taps.count;
        if (n == 0 || n > grid) {
            spdlog::error("filterDesign bandpassMinPhase: {} taps refused (1 to {})", n, grid);
            return {};
        }
        buff<cplx> X(grid, cplx(0));
        taps.copyTo(X);
        buff<cplx> H = fft::fwd(X);
        buff<float> mag(grid);
        buff<cplx> logMag(grid);
        for (size_t k = 0; k < grid; ++k) {
            // 1/grid here cancels the unscaled inverse transform below.
            mag[k] = std::hypot(H[k].real(), H[k].imag()) * 3.0517578e-5f;
            logMag[k] = cplx(std::log(std::max(mag[k], 1e-37f)), 0);
        }
        buff<cplx> A = analytic(logMag);
        for (size_t k = 0; k < grid; ++k) {
            const float phase = A[k].imag();
            X[k] = cplx(mag[k] * std::cos(phase), -mag[k] * std::sin(phase));
        }
        buff<cplx> y = fft::rev(X);
        buff<cplx> out(n);
        out.copy(buff<cplx>(y, 0, n));
        return out;
    }

    /// Analytic signal of the real parts of x (n even): real part kept,
    /// imaginary part its discrete Hilbert transform. [result: n samples]
    static buff<cplx> analytic(buff<cplx> x) {
        const size_t n = x.count;
        if (n == 0) return {};
        buff<cplx> X = fft::fwd(x);
        const float s = 1.0f / static_cast<float>(n);
        const size_t h = n / 2;
        for (size_t k = h + 1; k < n; ++k) X[k] = cplx(0);
        X[0] *= s;
        X[h] *= s;
        if (h > 1) {
            buff<cplx> positive(X, 1, h - 1);
            dspMath::mul(positive, 2 * s, positive);
        }
        return fft::rev(X);
    }

    /// The shared window for N taps. [result: N samples]
    static buff<float> window(int N) {
        static constexpr double a[7] = {0.27105140069342, 0.43329793923448, 0.21812299954311,
                                        0.06592544638803, 0.01081174209837, 0.00077658482522,
                                        0.00001388721735};
        buff<float> w(static_cast<size_t>(N));
        for (int i = 0; i < N; ++i) {
            double v = a[0];
            double sign = -1;
            for (int k = 1; k < 7; ++k, sign = -sign)
                v += sign * a[k] * std::cos((i + 0.5) * 2.0 * M_PI * k / N);
            w[i] = static_cast<float>(v);
        }
        return w;
    }

private:
    static bool sizesUsable(const char* fn, int rate, int N, int M) {
        if (N >= 1 && M >= N && rate > 0) return true;
        spdlog::error("filterDesign {}: {} taps in {} at rate {} refused", fn, N, M, rate);
        return false;
    }

    static constexpr float pi = 3.1415927f;
    static constexpr size_t grid = 32768;
};
