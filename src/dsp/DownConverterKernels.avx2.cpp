// The eight-lane bodies of the down-converter's mixer and half-band stages
// (AVX2 with FMA). Samples stay interleaved (re, im): a register holds four
// complex values, and a stage computes four consecutive outputs at once.
#include "dsp/DownConverterKernels.h"

#include "dsp/HalfbandCoefficients.h"

#include <immintrin.h>

namespace {

using cf = std::complex<float>;
using namespace downconv_detail;

// Four complex products a * b with b given as its real and imaginary parts
// duplicated into both lanes of each pair.
inline __m256 cmulSplit(__m256 a, __m256 bRe, __m256 bIm) {
    return _mm256_fmaddsub_ps(a, bRe, _mm256_mul_ps(_mm256_permute_ps(a, 0xB1), bIm));
}

inline __m256 cmul(__m256 a, __m256 b) { return cmulSplit(a, _mm256_moveldup_ps(b), _mm256_movehdup_ps(b)); }

// Eight phasors in two registers turning by r8 = r4^2 per group of eight, so
// that the two chains of products overlap; a last group of four uses the
// first register. Each group goes to sink(g, v0..3, v4..7) or sink4(g, v0..3).
template <class Sink8, class Sink4>
void mixGroups(const cf* in, size_t n, const cf* phasors, cf r4, Sink8&& sink8, Sink4&& sink4) {
    const float* x = reinterpret_cast<const float*>(in);
    // Through the floats: no member of std::complex is called from here.
    const __m256 r4v = _mm256_castpd_ps(_mm256_broadcast_sd(reinterpret_cast<const double*>(&r4)));
    __m256 pa = _mm256_loadu_ps(reinterpret_cast<const float*>(phasors));
    __m256 pb = cmul(pa, r4v);
    const __m256 r8 = cmul(r4v, r4v);
    const __m256 r8Re = _mm256_moveldup_ps(r8), r8Im = _mm256_movehdup_ps(r8);
    size_t g = 0;
    for (; g + 8 <= n; g += 8) {
        const __m256 va = cmul(_mm256_loadu_ps(x + 2 * g), pa);
        const __m256 vb = cmul(_mm256_loadu_ps(x + 2 * g + 8), pb);
        pa = cmulSplit(pa, r8Re, r8Im);
        pb = cmulSplit(pb, r8Re, r8Im);
        sink8(g, va, vb);
    }
    if (g < n) sink4(g, cmul(_mm256_loadu_ps(x + 2 * g), pa));
}

void mix(const cf* in, size_t n, const cf* p, cf r4, cf* out) {
    float* y = reinterpret_cast<float*>(out);
    mixGroups(
        in, n, p, r4,
        [&](size_t g, __m256 va, __m256 vb) {
            _mm256_storeu_ps(y + 2 * g, va);
            _mm256_storeu_ps(y + 2 * g + 8, vb);
        },
        [&](size_t g, __m256 va) { _mm256_storeu_ps(y + 2 * g, va); });
}

// The complex values of a register as 64-bit lanes reordered (0 2 1 3):
// the even samples in the low half, the odd ones in the high half.
inline __m256 evenOddHalves(__m256 v) {
    return _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(v), 0xD8));
}

void mixSplit(const cf* in, size_t n, const cf* p, cf r4, cf* even, cf* odd) {
    float* e = reinterpret_cast<float*>(even);
    float* o = reinterpret_cast<float*>(odd);
    mixGroups(
        in, n, p, r4,
        [&](size_t g, __m256 va, __m256 vb) {
            // (v0 v1 v2 v3), (v4 v5 v6 v7) -> (v0 v2 v4 v6), (v1 v3 v5 v7)
            const __m256d a = _mm256_castps_pd(va), b = _mm256_castps_pd(vb);
            const __m256d lo = _mm256_permute4x64_pd(_mm256_unpacklo_pd(a, b), 0xD8);
            const __m256d hi = _mm256_permute4x64_pd(_mm256_unpackhi_pd(a, b), 0xD8);
            _mm256_storeu_ps(e + g, _mm256_castpd_ps(lo));
            _mm256_storeu_ps(o + g, _mm256_castpd_ps(hi));
        },
        [&](size_t g, __m256 va) {
            const __m256 v = evenOddHalves(va);
            _mm_storeu_ps(e + g, _mm256_castps256_ps128(v));
            _mm_storeu_ps(o + g, _mm256_extractf128_ps(v, 1));
        });
}

// Four outputs m .. m + 3 of a half-band stage with K coefficients
// (c = K - 1 is the offset of the centre in the odd phase).
template <int K>
__m256 halfbandQuad(const float* e, const float* o, const float (&h)[K], size_t m) {
    constexpr size_t c = K - 1;
    __m256 acc = _mm256_mul_ps(_mm256_loadu_ps(o + 2 * (m + c)), _mm256_set1_ps(0.5f));
    for (int k = 0; k < K; ++k) {
        const __m256 pair = _mm256_add_ps(_mm256_loadu_ps(e + 2 * (m + c - k)), _mm256_loadu_ps(e + 2 * (m + c + 1 + k)));
        acc = _mm256_fmadd_ps(pair, _mm256_set1_ps(h[k]), acc);
    }
    return acc;
}

// Two outputs m, m + 1, for what is left after the groups of four.
template <int K>
__m128 halfbandPair(const float* e, const float* o, const float (&h)[K], size_t m) {
    constexpr size_t c = K - 1;
    __m128 acc = _mm_mul_ps(_mm_loadu_ps(o + 2 * (m + c)), _mm_set1_ps(0.5f));
    for (int k = 0; k < K; ++k) {
        const __m128 pair = _mm_add_ps(_mm_loadu_ps(e + 2 * (m + c - k)), _mm_loadu_ps(e + 2 * (m + c + 1 + k)));
        acc = _mm_fmadd_ps(pair, _mm_set1_ps(h[k]), acc);
    }
    return acc;
}

// One output m, for a last stage with an odd count.
template <int K>
void halfbandOne(const float* e, const float* o, const float (&h)[K], size_t m, float* y) {
    constexpr size_t c = K - 1;
    float re = 0.5f * o[2 * (m + c)];
    float im = 0.5f * o[2 * (m + c) + 1];
    for (int k = 0; k < K; ++k) {
        re += h[k] * (e[2 * (m + c - k)] + e[2 * (m + c + 1 + k)]);
        im += h[k] * (e[2 * (m + c - k) + 1] + e[2 * (m + c + 1 + k) + 1]);
    }
    y[0] = re;
    y[1] = im;
}

void lastStage(const cf* even, const cf* odd, cf* out, size_t count) {
    const float* e = reinterpret_cast<const float*>(even);
    const float* o = reinterpret_cast<const float*>(odd);
    float* y = reinterpret_cast<float*>(out);
    size_t m = 0;
    for (; m + 4 <= count; m += 4) _mm256_storeu_ps(y + 2 * m, halfbandQuad<10>(e, o, level1, m));
    if (m + 2 <= count) {
        _mm_storeu_ps(y + 2 * m, halfbandPair<10>(e, o, level1, m));
        m += 2;
    }
    if (m < count) halfbandOne<10>(e, o, level1, m, y + 2 * m);
}

template <int K>
void splitStage(const cf* even, const cf* odd, const float (&h)[K], cf* nextEven, cf* nextOdd, size_t pairs) {
    const float* e = reinterpret_cast<const float*>(even);
    const float* o = reinterpret_cast<const float*>(odd);
    float* ne = reinterpret_cast<float*>(nextEven);
    float* no = reinterpret_cast<float*>(nextOdd);
    size_t i = 0;
    for (; i + 2 <= pairs; i += 2) {
        const __m256 v = evenOddHalves(halfbandQuad<K>(e, o, h, 2 * i));
        _mm_storeu_ps(ne + 2 * i, _mm256_castps256_ps128(v));
        _mm_storeu_ps(no + 2 * i, _mm256_extractf128_ps(v, 1));
    }
    if (i < pairs) {
        const __m128 v = halfbandPair<K>(e, o, h, 2 * i);
        _mm_storel_pi(reinterpret_cast<__m64*>(ne + 2 * i), v);
        _mm_storeh_pi(reinterpret_cast<__m64*>(no + 2 * i), v);
    }
}

void secondStage(const cf* even, const cf* odd, cf* nextEven, cf* nextOdd, size_t pairs) {
    splitStage<5>(even, odd, level2, nextEven, nextOdd, pairs);
}

void earlyStage(const cf* even, const cf* odd, cf* nextEven, cf* nextOdd, size_t pairs) {
    splitStage<3>(even, odd, level3, nextEven, nextOdd, pairs);
}

} // namespace

extern const DownConverterKernels downConverterAvx2Kernels;
const DownConverterKernels downConverterAvx2Kernels{mix, mixSplit, lastStage, secondStage, earlyStage};
