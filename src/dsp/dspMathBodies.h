#pragma once
// The dspMath kernel bodies, written once for any xsimd architecture A and
// instantiated per vector width by the sources that build the tables
// (dspMathKernels.cpp: four lanes; dspMathKernels.avx2.cpp: eight).
//
// Each body runs whole batches and finishes the last n mod width elements
// one at a time with the plain product (no fused multiply-add), so the last
// bits of an element may depend on whether it fell in the body or the tail.
// The bodies touch nothing but batches of A, raw floats and the C library:
// a helper shared with the other width would be one inline function for the
// linker, which could then hand the wide copy to a baseline caller.
#include "dsp/dspMathKernels.h"

#include <xsimd/xsimd.hpp>

#include <cmath>
#include <complex>

namespace dspmath_bodies {

template <class A>
using fbatch = xsimd::batch<float, A>;
template <class A>
using cbatch = xsimd::batch<std::complex<float>, A>;

template <class A>
const std::complex<float>* asComplex(const float* p) {
    return reinterpret_cast<const std::complex<float>*>(p);
}
template <class A>
std::complex<float>* asComplex(float* p) {
    return reinterpret_cast<std::complex<float>*>(p);
}

// The plain one-at-a-time forms, for the elements after the last whole
// batch (also of the bodies written with intrinsics).
template <class A>
void complexMulTail(const float* a, const float* b, float* out, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const float ar = a[2 * i], ai = a[2 * i + 1], br = b[2 * i], bi = b[2 * i + 1];
        out[2 * i] = ar * br - ai * bi;
        out[2 * i + 1] = ar * bi + ai * br;
    }
}

template <class A>
void complexMacTail(const float* a, const float* b, float* acc, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const float ar = a[2 * i], ai = a[2 * i + 1], br = b[2 * i], bi = b[2 * i + 1];
        acc[2 * i] += ar * br - ai * bi;
        acc[2 * i + 1] += ar * bi + ai * br;
    }
}

template <class A>
void complexWindowTail(const float* a, const float* w, float* out, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = a[2 * i] * w[i];
        out[2 * i + 1] = a[2 * i + 1] * w[i];
    }
}

template <class A>
void powerPlusTail(const float* a, float floor, float* out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = a[2 * i] * a[2 * i] + a[2 * i + 1] * a[2 * i + 1] + floor;
}

// The floor is added in double so that it survives next to tiny powers and a
// later logarithm never sees 0. Above floorInvisibleAbove it is less than half
// a unit in the last place of the power, so the sum rounds back to the power
// itself: the bodies take that short way for a batch without smaller values.
inline constexpr float floorInvisibleAbove = 1e-29f;

template <class A>
void spectrumTail(const float* a, float k, float* out, size_t n) {
    for (size_t i = 0; i < n; ++i)
        out[i] = float(double((a[2 * i] * a[2 * i] + a[2 * i + 1] * a[2 * i + 1]) * k) + 1e-37);
}

// Complex product of split parts: one product and one multiply-add per part.
template <class A>
void cmul(const cbatch<A>& x, const cbatch<A>& y, fbatch<A>& re, fbatch<A>& im) {
    re = xsimd::fms(x.real(), y.real(), x.imag() * y.imag());
    im = xsimd::fma(x.real(), y.imag(), x.imag() * y.real());
}

template <class A>
void complexMul(const float* a, const float* b, float* out, size_t n) {
    constexpr size_t W = fbatch<A>::size;
    const size_t body = n - n % W;
    for (size_t i = 0; i < body; i += W) {
        fbatch<A> re, im;
        cmul<A>(cbatch<A>::load_unaligned(asComplex<A>(a) + i), cbatch<A>::load_unaligned(asComplex<A>(b) + i), re, im);
        cbatch<A>(re, im).store_unaligned(asComplex<A>(out) + i);
    }
    complexMulTail<A>(a + 2 * body, b + 2 * body, out + 2 * body, n - body);
}

template <class A>
void complexMac(const float* a, const float* b, float* acc, size_t n) {
    constexpr size_t W = fbatch<A>::size;
    const size_t body = n - n % W;
    for (size_t i = 0; i < body; i += W) {
        fbatch<A> re, im;
        cmul<A>(cbatch<A>::load_unaligned(asComplex<A>(a) + i), cbatch<A>::load_unaligned(asComplex<A>(b) + i), re, im);
        const cbatch<A> s = cbatch<A>::load_unaligned(asComplex<A>(acc) + i);
        cbatch<A>(s.real() + re, s.imag() + im).store_unaligned(asComplex<A>(acc) + i);
    }
    complexMacTail<A>(a + 2 * body, b + 2 * body, acc + 2 * body, n - body);
}

template <class A>
void complexWindow(const float* a, const float* w, float* out, size_t n) {
    constexpr size_t W = fbatch<A>::size;
    const size_t body = n - n % W;
    for (size_t i = 0; i < body; i += W) {
        const cbatch<A> x = cbatch<A>::load_unaligned(asComplex<A>(a) + i);
        const fbatch<A> g = fbatch<A>::load_unaligned(w + i);
        cbatch<A>(x.real() * g, x.imag() * g).store_unaligned(asComplex<A>(out) + i);
    }
    complexWindowTail<A>(a + 2 * body, w + body, out + 2 * body, n - body);
}

template <class A>
void scale(const float* x, float k, float* y, size_t n) {
    constexpr size_t W = fbatch<A>::size;
    const size_t body = n - n % W;
    const fbatch<A> kk(k);
    for (size_t i = 0; i < body; i += W) (fbatch<A>::load_unaligned(x + i) * kk).store_unaligned(y + i);
    for (size_t i = body; i < n; ++i) y[i] = x[i] * k;
}

template <class A>
void mul(const float* x, const float* y, float* z, size_t n) {
    constexpr size_t W = fbatch<A>::size;
    const size_t body = n - n % W;
    for (size_t i = 0; i < body; i += W)
        (fbatch<A>::load_unaligned(x + i) * fbatch<A>::load_unaligned(y + i)).store_unaligned(z + i);
    for (size_t i = body; i < n; ++i) z[i] = x[i] * y[i];
}

template <class A>
void add(const float* x, const float* y, float* z, size_t n) {
    constexpr size_t W = fbatch<A>::size;
    const size_t body = n - n % W;
    for (size_t i = 0; i < body; i += W)
        (fbatch<A>::load_unaligned(x + i) + fbatch<A>::load_unaligned(y + i)).store_unaligned(z + i);
    for (size_t i = body; i < n; ++i) z[i] = x[i] + y[i];
}

template <class A>
void powerPlus(const float* a, float floor, float* out, size_t n) {
    constexpr size_t W = fbatch<A>::size;
    const size_t body = n - n % W;
    const fbatch<A> f(floor);
    for (size_t i = 0; i < body; i += W) {
        const cbatch<A> x = cbatch<A>::load_unaligned(asComplex<A>(a) + i);
        (x.real() * x.real() + x.imag() * x.imag() + f).store_unaligned(out + i);
    }
    powerPlusTail<A>(a + 2 * body, floor, out + body, n - body);
}

template <class A>
void spectrum(const float* a, float k, float* out, size_t n) {
    constexpr size_t W = fbatch<A>::size;
    const size_t body = n - n % W;
    const fbatch<A> kk(k);
    for (size_t i = 0; i < body; i += W) {
        const cbatch<A> x = cbatch<A>::load_unaligned(asComplex<A>(a) + i);
        const fbatch<A> p = (x.real() * x.real() + x.imag() * x.imag()) * kk;
        p.store_unaligned(out + i);
        if (xsimd::any(p < fbatch<A>(floorInvisibleAbove)))
            for (size_t l = i; l < i + W; ++l) out[l] = float(double(out[l]) + 1e-37);
    }
    spectrumTail<A>(a + 2 * body, k, out + body, n - body);
}

template <class A>
void log10(const float* x, float* y, size_t n) {
    constexpr size_t W = fbatch<A>::size;
    const size_t body = n - n % W;
    for (size_t i = 0; i < body; i += W) xsimd::log10(fbatch<A>::load_unaligned(x + i)).store_unaligned(y + i);
    for (size_t i = body; i < n; ++i) y[i] = log10f(x[i]);
}

/// The table with every kernel a body of A.
template <class A>
constexpr DspMathKernels table() {
    return {complexMul<A>, complexMac<A>, complexWindow<A>, scale<A>, mul<A>, add<A>, powerPlus<A>, spectrum<A>, log10<A>};
}

/// The real-valued kernels as bodies of A, the complex ones left empty for a
/// source that writes its own.
template <class A>
constexpr DspMathKernels realTable() {
    return {nullptr, nullptr, nullptr, scale<A>, mul<A>, add<A>, nullptr, nullptr, log10<A>};
}

} // namespace dspmath_bodies
