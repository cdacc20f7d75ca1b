#include "dsp/dspMath.h"

#include "dsp/float4.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace {

using cf = std::complex<float>;

// Complex product of split parts, one product and one multiply-add per part
// (fused where the target has it); the tail uses the ordinary product, so the
// last bits of an element may depend on whether it fell in the body or the
// tail.
inline void cmul4(float4 ar, float4 ai, float4 br, float4 bi, float4& re, float4& im) {
    re = xsimd::fms(ar, br, ai * bi);
    im = xsimd::fma(ar, bi, ai * br);
}

inline float power(cf x) { return x.real() * x.real() + x.imag() * x.imag(); }

} // namespace

buff<cf> dspMath::mul(buff<cf> a, buff<cf> b, buff<cf> out) {
    const size_t n = a.count;
    const size_t body = n & ~size_t(3);
    for (size_t i = 0; i < body; i += 4) {
        complex4 x = complex4::load_unaligned(a.data + i);
        complex4 y = complex4::load_unaligned(b.data + i);
        float4 re, im;
        cmul4(x.real(), x.imag(), y.real(), y.imag(), re, im);
        complex4(re, im).store_unaligned(out.data + i);
    }
    for (size_t i = body; i < n; ++i) {
        cf x = a.data[i], y = b.data[i];
        out.data[i] = cf(x.real() * y.real() - x.imag() * y.imag(), x.real() * y.imag() + x.imag() * y.real());
    }
    return out;
}

buff<cf> dspMath::mac(buff<cf> a, buff<cf> b, buff<cf> acc) {
    const size_t n = a.count;
    const size_t body = n & ~size_t(3);
    for (size_t i = 0; i < body; i += 4) {
        complex4 x = complex4::load_unaligned(a.data + i);
        complex4 y = complex4::load_unaligned(b.data + i);
        complex4 s = complex4::load_unaligned(acc.data + i);
        float4 re, im;
        cmul4(x.real(), x.imag(), y.real(), y.imag(), re, im);
        complex4(s.real() + re, s.imag() + im).store_unaligned(acc.data + i);
    }
    for (size_t i = body; i < n; ++i) {
        cf x = a.data[i], y = b.data[i];
        acc.data[i] += cf(x.real() * y.real() - x.imag() * y.imag(), x.real() * y.imag() + x.imag() * y.real());
    }
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
    const size_t n = a.count * 2;
    const float* x = reinterpret_cast<const float*>(a.data);
    float* y = reinterpret_cast<float*>(out.data);
    const size_t body = n & ~size_t(3);
    const float4 kk(k);
    for (size_t i = 0; i < body; i += 4) (float4::load_unaligned(x + i) * kk).store_unaligned(y + i);
    for (size_t i = body; i < n; ++i) y[i] = x[i] * k;
    return out;
}

buff<cf> dspMath::mul(buff<cf> a, buff<float> w, buff<cf> out) {
    const size_t n = a.count;
    const size_t body = n & ~size_t(3);
    for (size_t i = 0; i < body; i += 4) {
        complex4 x = complex4::load_unaligned(a.data + i);
        float4 g = float4::load_unaligned(w.data + i);
        complex4(x.real() * g, x.imag() * g).store_unaligned(out.data + i);
    }
    for (size_t i = body; i < n; ++i) out.data[i] = cf(a.data[i].real() * w.data[i], a.data[i].imag() * w.data[i]);
    return out;
}

buff<cf> dspMath::mul(buff<cf> a, buff<float> w) { return mul(a, w, buff<cf>(a.count)); }

buff<cf> dspMath::scalarMul(buff<cf> a, buff<cf> b, buff<cf> out) {
    // Lane-wise product: the interleaved parts multiply as plain floats.
    const size_t n = a.count * 2;
    const float* x = reinterpret_cast<const float*>(a.data);
    const float* y = reinterpret_cast<const float*>(b.data);
    float* z = reinterpret_cast<float*>(out.data);
    const size_t body = n & ~size_t(3);
    for (size_t i = 0; i < body; i += 4)
        (float4::load_unaligned(x + i) * float4::load_unaligned(y + i)).store_unaligned(z + i);
    for (size_t i = body; i < n; ++i) z[i] = x[i] * y[i];
    return out;
}

buff<cf> dspMath::scalarMul(buff<cf> a, buff<cf> b) { return scalarMul(a, b, buff<cf>(a.count)); }

buff<float> dspMath::mul(buff<float> a, buff<float> b) { return mul(a, b, buff<float>(a.count)); }

buff<float> dspMath::mul(buff<float> a, buff<float> b, buff<float> out) {
    const size_t n = a.count;
    const size_t body = n & ~size_t(3);
    for (size_t i = 0; i < body; i += 4)
        (float4::load_unaligned(a.data + i) * float4::load_unaligned(b.data + i)).store_unaligned(out.data + i);
    for (size_t i = body; i < n; ++i) out.data[i] = a.data[i] * b.data[i];
    return out;
}

buff<float> dspMath::mul(buff<float> a, float k) { return mul(a, k, buff<float>(a.count)); }

buff<float> dspMath::mul(buff<float> a, float k, buff<float> out) {
    const size_t n = a.count;
    const size_t body = n & ~size_t(3);
    const float4 kk(k);
    for (size_t i = 0; i < body; i += 4) (float4::load_unaligned(a.data + i) * kk).store_unaligned(out.data + i);
    for (size_t i = body; i < n; ++i) out.data[i] = a.data[i] * k;
    return out;
}

buff<cf> dspMath::add(buff<cf> a, buff<cf> b) {
    buff<cf> out(a.count);
    for (size_t i = 0; i < a.count; ++i) out.data[i] = a.data[i] + b.data[i];
    return out;
}

buff<float> dspMath::add(buff<float> a, buff<float> b, buff<float> out) {
    const size_t n = a.count;
    const size_t body = n & ~size_t(3);
    for (size_t i = 0; i < body; i += 4)
        (float4::load_unaligned(a.data + i) + float4::load_unaligned(b.data + i)).store_unaligned(out.data + i);
    for (size_t i = body; i < n; ++i) out.data[i] = a.data[i] + b.data[i];
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
    const float floor = 1e-37f;
    const size_t body = n & ~size_t(3);
    for (size_t i = 0; i < body; i += 4) {
        complex4 x = complex4::load_unaligned(a.data + i);
        float4 p = x.real() * x.real() + x.imag() * x.imag() + float4(floor);
        p.store_unaligned(out.data + i);
    }
    for (size_t i = body; i < n; ++i) out.data[i] = power(a.data[i]) + floor;
    // The logarithm stays the library's log10f on every element, so a
    // displayed level does not depend on its place in the buffer.
    for (size_t i = 0; i < n; ++i) out.data[i] = log10f(out.data[i]);
    return out;
}

buff<float> dspMath::Log10(buff<float> a, buff<float> out) {
    const size_t n = a.count;
    const size_t body = n & ~size_t(3);
    for (size_t i = 0; i < body; i += 4) xsimd::log10(float4::load_unaligned(a.data + i)).store_unaligned(out.data + i);
    for (size_t i = body; i < n; ++i) out.data[i] = log10f(a.data[i]);
    return out;
}

buff<float> dspMath::spectrum(buff<cf> a, float k) { return spectrum(a, k, buff<float>(a.count)); }

buff<float> dspMath::spectrum(buff<cf> a, float k, buff<float> out) {
    const size_t n = a.count;
    const float4 kk(k);
    const size_t body = n & ~size_t(3);
    for (size_t i = 0; i < body; i += 4) {
        complex4 x = complex4::load_unaligned(a.data + i);
        ((x.real() * x.real() + x.imag() * x.imag()) * kk).store_unaligned(out.data + i);
    }
    for (size_t i = body; i < n; ++i) out.data[i] = power(a.data[i]) * k;
    // The floor is added in double so that it survives next to tiny powers
    // and a later logarithm never sees 0.
    for (size_t i = 0; i < n; ++i) out.data[i] = float(double(out.data[i]) + 1e-37);
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
