#include "dsp/dspMath.h"

#include "dsp/dspMathKernels.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace {

using cf = std::complex<float>;

inline float power(cf x) { return x.real() * x.real() + x.imag() * x.imag(); }

float* floats(cf* p) { return reinterpret_cast<float*>(p); }

} // namespace

buff<cf> dspMath::mul(buff<cf> a, buff<cf> b, buff<cf> out) {
    dspMathKernels().complexMul(floats(a.data), floats(b.data), floats(out.data), a.count);
    return out;
}

buff<cf> dspMath::mac(buff<cf> a, buff<cf> b, buff<cf> acc) {
    dspMathKernels().complexMac(floats(a.data), floats(b.data), floats(acc.data), a.count);
    return acc;
}

buff<cf> dspMath::mul(buff<cf> a, cf c) {
    buff<cf> out(a.count);
    for (size_t i = 0; i < a.count; ++i) {
        cf x = a.data[i];
        out.data[i] = cf(x.real() * c.real() - x.imag() * c.imag(), x.real() * c.imag() + x.imag() * c.real());
    }
    return out;
}

buff<cf> dspMath::mul(buff<cf> a, float k, buff<cf> out) {
    // Interleaved parts are all scaled alike: treat the samples as 2n floats.
    dspMathKernels().scale(floats(a.data), k, floats(out.data), a.count * 2);
    return out;
}

buff<cf> dspMath::mul(buff<cf> a, buff<float> w, buff<cf> out) {
    dspMathKernels().complexWindow(floats(a.data), w.data, floats(out.data), a.count);
    return out;
}

buff<cf> dspMath::mul(buff<cf> a, buff<float> w) { return mul(a, w, buff<cf>(a.count)); }

buff<cf> dspMath::scalarMul(buff<cf> a, buff<cf> b, buff<cf> out) {
    // Lane-wise product: the interleaved parts multiply as plain floats.
    dspMathKernels().mul(floats(a.data), floats(b.data), floats(out.data), a.count * 2);
    return out;
}

buff<cf> dspMath::scalarMul(buff<cf> a, buff<cf> b) { return scalarMul(a, b, buff<cf>(a.count)); }

buff<float> dspMath::mul(buff<float> a, buff<float> b) { return mul(a, b, buff<float>(a.count)); }

buff<float> dspMath::mul(buff<float> a, buff<float> b, buff<float> out) {
    dspMathKernels().mul(a.data, b.data, out.data, a.count);
    return out;
}

buff<float> dspMath::mul(buff<float> a, float k) { return mul(a, k, buff<float>(a.count)); }

buff<float> dspMath::mul(buff<float> a, float k, buff<float> out) {
    dspMathKernels().scale(a.data, k, out.data, a.count);
    return out;
}

buff<cf> dspMath::add(buff<cf> a, buff<cf> b) {
    buff<cf> out(a.count);
    for (size_t i = 0; i < a.count; ++i) out.data[i] = a.data[i] + b.data[i];
    return out;
}

buff<float> dspMath::add(buff<float> a, buff<float> b, buff<float> out) {
    dspMathKernels().add(a.data, b.data, out.data, a.count);
    return out;
}

buff<cf> dspMath::clip(buff<cf> a, buff<cf> out) {
    MaxMagClip(a, out);
    return out;
}

float dspMath::MaxMagClip(buff<cf> a, buff<cf> out) {
    float peak = 0;
    for (size_t i = 0; i < a.count; ++i) {
        cf x = a.data[i];
        float p = power(x);
        // Written so that NaN fails both tests: it is copied and never a peak.
        if (p > peak) peak = p;
        if (p > 1.0f) {
            float m = std::sqrt(p);
            out.data[i] = cf(x.real() / m, x.imag() / m);
        } else {
            out.data[i] = x;
        }
    }
    return std::sqrt(peak);
}

buff<cf> dspMath::conjugate(buff<cf> a, buff<cf> out) {
    for (size_t i = 0; i < a.count; ++i) out.data[i] = std::conj(a.data[i]);
    return out;
}

buff<cf> dspMath::conjugate(buff<cf> a) { return conjugate(a, buff<cf>(a.count)); }

buff<cf> dspMath::reverse(buff<cf> a) {
    const size_t n = a.count;
    buff<cf> out(n);
    for (size_t i = 0; i < n / 2; ++i) {
        out.data[i] = a.data[n - 1 - i];
        out.data[n - 1 - i] = a.data[i];
    }
    if (n & 1) out.data[n / 2] = a.data[n / 2];
    return out;
}

buff<cf> dspMath::rotate(buff<cf> a, unsigned long k) {
    const size_t n = a.count;
    buff<cf> out(n);
    buff<cf>(a, 0, n - k).copyTo(buff<cf>(out, k, n - k));
    buff<cf>(a, n - k, k).copyTo(out);
    return out;
}

buff<float> dspMath::Log10MagnitudeSquared(buff<cf> a) {
    const size_t n = a.count;
    buff<float> out(n);
    dspMathKernels().powerPlus(floats(a.data), 1e-37f, out.data, n);
    // The logarithm stays the library's log10f on every element, so a
    // displayed level does not depend on its place in the buffer.
    for (size_t i = 0; i < n; ++i) out.data[i] = log10f(out.data[i]);
    return out;
}

buff<float> dspMath::Log10(buff<float> a, buff<float> out) {
    dspMathKernels().log10(a.data, out.data, a.count);
    return out;
}

buff<float> dspMath::spectrum(buff<cf> a, float k) { return spectrum(a, k, buff<float>(a.count)); }

buff<float> dspMath::spectrum(buff<cf> a, float k, buff<float> out) {
    dspMathKernels().spectrum(floats(a.data), k, out.data, a.count);
    return out;
}

float dspMath::maxAbs(buff<cf> a) { return std::sqrt(peakPower(a)); }

float dspMath::peakPower(buff<cf> a) {
    float peak = 0;
    for (size_t i = 0; i < a.count; ++i) {
        float p = power(a.data[i]);
        if (p > peak) peak = p; // NaN never wins
    }
    return peak;
}

buff<cf> dspMath::DupToComplex(buff<float> a) {
    buff<cf> out(a.count);
    for (size_t i = 0; i < a.count; ++i) out.data[i] = cf(a.data[i], a.data[i]);
    return out;
}

size_t dspMath::replaceNonFinite(buff<cf> a) {
    const float* f = reinterpret_cast<const float*>(a.data);
    const size_t n = 2 * a.count;
    // An exponent of all ones is an infinity or a NaN. Integer tests on the
    // bits keep this loop a plain vector reduction (isfinite would not).
    uint32_t bad = 0;
    for (size_t i = 0; i < n; ++i) bad |= uint32_t((std::bit_cast<uint32_t>(f[i]) & 0x7f800000u) == 0x7f800000u);
    if (!bad) return 0;
    size_t replaced = 0;
    for (cf& x : a)
        if (!std::isfinite(x.real()) || !std::isfinite(x.imag())) {
            x = cf(0);
            ++replaced;
        }
    return replaced;
}

int dspMath::getDecimation(int inRate, int outRate, int* L, int* M) {
    *L = 1;
    *M = 1;
    if (inRate <= 0 || outRate <= 0) {
        // The halving below would never get under a rate of 0 or less.
        spdlog::error("getDecimation: rates {} -> {} refused", inRate, outRate);
        return 0;
    }
    if (outRate > inRate) return 0;
    if (outRate == inRate) return 1;
    int d = 1;
    int x = inRate;
    while (x >= outRate) {
        d *= 2;
        x /= 2;
        if (x == outRate) return d;
    }
    d /= 2; // the largest power of two with inRate / d >= outRate
    int q = inRate / d;
    int g = gcd(outRate, q);
    *M = q / g;
    *L = int((long long)*M * outRate / q);
    return d;
}

int dspMath::gcd(int a, int b) {
    int small = std::min(a, b);
    int large = std::max(a, b);
    // A zero argument has no remainder to take; the other number divides it.
    if (small == 0) return large;
    int r = large % small;
    while (r > 0) {
        large = small;
        small = r;
        r = large % small;
    }
    return small;
}
