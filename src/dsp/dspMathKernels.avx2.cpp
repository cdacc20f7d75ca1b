// The eight-lane dspMath bodies (AVX2 with fused multiply-add).
//
// The complex kernels work on interleaved (re, im) pairs as they lie in
// memory: separating the parts costs more shuffles across the two halves of
// a 256-bit register than the products save. The others are the shared
// bodies of dspMathBodies.h.
#include "dsp/dspMathBodies.h"

#include <immintrin.h>

namespace {

using Avx2 = xsimd::fma3<xsimd::avx2>;

// Four interleaved complex products: (ar br - ai bi, ai br + ar bi) as a
// fused multiply with alternating subtract and add.
inline __m256 cmul(__m256 a, __m256 b) {
    const __m256 bRe = _mm256_moveldup_ps(b);
    const __m256 bIm = _mm256_movehdup_ps(b);
    const __m256 aSwapped = _mm256_permute_ps(a, 0xB1);
    return _mm256_fmaddsub_ps(a, bRe, _mm256_mul_ps(aSwapped, bIm));
}

// |x|^2 of the eight complex values in two registers, in order.
inline __m256 power8(__m256 x0, __m256 x1) {
    const __m256 h = _mm256_hadd_ps(_mm256_mul_ps(x0, x0), _mm256_mul_ps(x1, x1));
    // hadd leaves the 128-bit halves interleaved: (0 1 4 5 | 2 3 6 7).
    return _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(h), 0xD8));
}

void complexMul(const float* a, const float* b, float* out, size_t n) {
    const size_t body = n - n % 4;
    for (size_t i = 0; i < body; i += 4)
        _mm256_storeu_ps(out + 2 * i, cmul(_mm256_loadu_ps(a + 2 * i), _mm256_loadu_ps(b + 2 * i)));
    dspmath_bodies::complexMulTail<Avx2>(a + 2 * body, b + 2 * body, out + 2 * body, n - body);
}

void complexMac(const float* a, const float* b, float* acc, size_t n) {
    const size_t body = n - n % 4;
    for (size_t i = 0; i < body; i += 4) {
        const __m256 p = cmul(_mm256_loadu_ps(a + 2 * i), _mm256_loadu_ps(b + 2 * i));
        _mm256_storeu_ps(acc + 2 * i, _mm256_add_ps(_mm256_loadu_ps(acc + 2 * i), p));
    }
    dspmath_bodies::complexMacTail<Avx2>(a + 2 * body, b + 2 * body, acc + 2 * body, n - body);
}

void complexWindow(const float* a, const float* w, float* out, size_t n) {
    const size_t body = n - n % 8;
    for (size_t i = 0; i < body; i += 8) {
        const __m256 g = _mm256_loadu_ps(w + i);
        const __m256 lo = _mm256_unpacklo_ps(g, g); // w0 w0 w1 w1 | w4 w4 w5 w5
        const __m256 hi = _mm256_unpackhi_ps(g, g); // w2 w2 w3 w3 | w6 w6 w7 w7
        _mm256_storeu_ps(out + 2 * i, _mm256_mul_ps(_mm256_loadu_ps(a + 2 * i), _mm256_permute2f128_ps(lo, hi, 0x20)));
        _mm256_storeu_ps(out + 2 * i + 8,
                         _mm256_mul_ps(_mm256_loadu_ps(a + 2 * i + 8), _mm256_permute2f128_ps(lo, hi, 0x31)));
    }
    dspmath_bodies::complexWindowTail<Avx2>(a + 2 * body, w + body, out + 2 * body, n - body);
}

void powerPlus(const float* a, float floor, float* out, size_t n) {
    const size_t body = n - n % 8;
    const __m256 f = _mm256_set1_ps(floor);
    for (size_t i = 0; i < body; i += 8)
        _mm256_storeu_ps(out + i,
                         _mm256_add_ps(power8(_mm256_loadu_ps(a + 2 * i), _mm256_loadu_ps(a + 2 * i + 8)), f));
    dspmath_bodies::powerPlusTail<Avx2>(a + 2 * body, floor, out + body, n - body);
}

void spectrum(const float* a, float k, float* out, size_t n) {
    const size_t body = n - n % 8;
    const __m256 kk = _mm256_set1_ps(k);
    const __m256d floor = _mm256_set1_pd(1e-37);
    const __m256 invisible = _mm256_set1_ps(dspmath_bodies::floorInvisibleAbove);
    for (size_t i = 0; i < body; i += 8) {
        const __m256 p = _mm256_mul_ps(power8(_mm256_loadu_ps(a + 2 * i), _mm256_loadu_ps(a + 2 * i + 8)), kk);
        if (_mm256_movemask_ps(_mm256_cmp_ps(p, invisible, _CMP_LT_OQ)) == 0) {
            _mm256_storeu_ps(out + i, p);
            continue;
        }
        // The floor is added in double (see dspMathBodies.h).
        const __m128 lo = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(p)), floor));
        const __m128 hi = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(p, 1)), floor));
        _mm256_storeu_ps(out + i, _mm256_insertf128_ps(_mm256_castps128_ps256(lo), hi, 1));
    }
    dspmath_bodies::spectrumTail<Avx2>(a + 2 * body, k, out + body, n - body);
}

constexpr DspMathKernels avx2Table() {
    DspMathKernels t = dspmath_bodies::realTable<Avx2>();
    t.complexMul = complexMul;
    t.complexMac = complexMac;
    t.complexWindow = complexWindow;
    t.powerPlus = powerPlus;
    t.spectrum = spectrum;
    return t;
}

} // namespace

extern const DspMathKernels dspMathAvx2Kernels;
const DspMathKernels dspMathAvx2Kernels = avx2Table();
