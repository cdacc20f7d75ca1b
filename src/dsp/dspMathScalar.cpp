#include "dsp/dspMathScalar.h"

#include <cmath>

namespace {
using cf = std::complex<float>;

// Written out rather than std::complex's operator*, which guards against
// infinities through a library call and would measure that, not the loop.
inline cf product(cf x, cf y) {
    return cf(x.real() * y.real() - x.imag() * y.imag(), x.real() * y.imag() + x.imag() * y.real());
}
inline float power(cf x) { return x.real() * x.real() + x.imag() * x.imag(); }
} // namespace

buff<cf> dspMathScalar::mul(buff<cf> a, buff<cf> b, buff<cf> out) {
    for (size_t i = 0; i < a.count; ++i) out.data[i] = product(a.data[i], b.data[i]);
    return out;
}

buff<cf> dspMathScalar::mac(buff<cf> a, buff<cf> b, buff<cf> acc) {
    for (size_t i = 0; i < a.count; ++i) acc.data[i] += product(a.data[i], b.data[i]);
    return acc;
}

buff<cf> dspMathScalar::mul(buff<cf> a, float k, buff<cf> out) {
    for (size_t i = 0; i < a.count; ++i) out.data[i] = cf(a.data[i].real() * k, a.data[i].imag() * k);
    return out;
}

buff<cf> dspMathScalar::mul(buff<cf> a, buff<float> w, buff<cf> out) {
    for (size_t i = 0; i < a.count; ++i) out.data[i] = cf(a.data[i].real() * w.data[i], a.data[i].imag() * w.data[i]);
    return out;
}

buff<cf> dspMathScalar::scalarMul(buff<cf> a, buff<cf> b, buff<cf> out) {
    for (size_t i = 0; i < a.count; ++i)
        out.data[i] = cf(a.data[i].real() * b.data[i].real(), a.data[i].imag() * b.data[i].imag());
    return out;
}

buff<float> dspMathScalar::mul(buff<float> a, buff<float> b, buff<float> out) {
    for (size_t i = 0; i < a.count; ++i) out.data[i] = a.data[i] * b.data[i];
    return out;
}

buff<float> dspMathScalar::mul(buff<float> a, float k, buff<float> out) {
    for (size_t i = 0; i < a.count; ++i) out.data[i] = a.data[i] * k;
    return out;
}

buff<float> dspMathScalar::add(buff<float> a, buff<float> b, buff<float> out) {
    for (size_t i = 0; i < a.count; ++i) out.data[i] = a.data[i] + b.data[i];
    return out;
}

buff<float> dspMathScalar::Log10MagnitudeSquared(buff<cf> a, buff<float> out) {
    for (size_t i = 0; i < a.count; ++i) out.data[i] = log10f(power(a.data[i]) + 1e-37f);
    return out;
}

buff<float> dspMathScalar::Log10(buff<float> a, buff<float> out) {
    for (size_t i = 0; i < a.count; ++i) out.data[i] = log10f(a.data[i]);
    return out;
}

buff<float> dspMathScalar::spectrum(buff<cf> a, float k, buff<float> out) {
    for (size_t i = 0; i < a.count; ++i) out.data[i] = float(double(power(a.data[i]) * k) + 1e-37);
    return out;
}
