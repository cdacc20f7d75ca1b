#include "modes/voice/fmDiscriminator.h"

#include "dsp/float4.h"

#include <cmath>

namespace fmDiscriminator {
namespace {

constexpr float quarterPi = 0.78539816f;
constexpr float halfPi = 1.5707963f;
constexpr float pi = 3.1415927f;
constexpr float tanEighthPi = 0.41421356f;

// The Cephes atanf polynomial, |r| <= tan(pi/8).
template <class T>
T atanSmall(T r) {
    const T z = r * r;
    return (((T(8.05374449538e-2f) * z - T(1.38776856032e-1f)) * z + T(1.99777106478e-1f)) * z -
            T(3.33329491539e-1f)) *
               z * r +
           r;
}

float4 phaseOf4(float4 y, float4 x) {
    const float4 ax = xsimd::abs(x), ay = xsimd::abs(y);
    const float4 num = xsimd::min(ax, ay), den = xsimd::max(ax, ay);
    // 0 / 0 is masked below; the division runs on every lane regardless.
    const float4 r = xsimd::select(den > float4(0.0f), num / den, float4(0.0f));
    const auto folded = r > float4(tanEighthPi);
    const float4 t = xsimd::select(folded, (r - float4(1.0f)) / (r + float4(1.0f)), r);
    float4 a = atanSmall(t) + xsimd::select(folded, float4(quarterPi), float4(0.0f));
    a = xsimd::select(ay > ax, float4(halfPi) - a, a);
    a = xsimd::select(x < float4(0.0f), float4(pi) - a, a);
    a = xsimd::select(y < float4(0.0f), -a, a);
    // x - x is 0 only for finite x.
    const auto finite = ((x - x) == float4(0.0f)) & ((y - y) == float4(0.0f));
    return xsimd::select(finite, a, float4(0.0f));
}

} // namespace

float phaseOf(float y, float x) {
    if (!std::isfinite(x) || !std::isfinite(y)) return 0.0f;
    const float ax = std::fabs(x), ay = std::fabs(y);
    const float num = std::fmin(ax, ay), den = std::fmax(ax, ay);
    if (den == 0.0f) return 0.0f;
    float r = num / den, a = 0.0f;
    if (r > tanEighthPi) {
        r = (r - 1.0f) / (r + 1.0f);
        a = quarterPi;
    }
    a += atanSmall(r);
    if (ay > ax) a = halfPi - a;
    if (x < 0.0f) a = pi - a;
    return y < 0.0f ? -a : a;
}

void run(const cplx* in, size_t n, cplx& last, float gain, cplx* out) {
    if (n == 0) return;
    auto step = [gain](cplx z, cplx p) {
        const float re = z.real() * p.real() + z.imag() * p.imag();
        const float im = z.imag() * p.real() - z.real() * p.imag();
        return cplx(gain * phaseOf(im, re), 0.0f);
    };
    out[0] = step(in[0], last);
    // Four products a step, each against the sample before it.
    size_t i = 1;
    const float4 g(gain);
    for (; i + 4 <= n; i += 4) {
        const complex4 z = complex4::load_unaligned(in + i);
        const complex4 p = complex4::load_unaligned(in + i - 1);
        const float4 re = z.real() * p.real() + z.imag() * p.imag();
        const float4 im = z.imag() * p.real() - z.real() * p.imag();
        complex4(g * phaseOf4(im, re), float4(0.0f)).store_unaligned(out + i);
    }
    for (; i < n; ++i) out[i] = step(in[i], in[i - 1]);
    last = in[n - 1];
}

} // namespace fmDiscriminator
