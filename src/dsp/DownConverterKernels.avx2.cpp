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
// duplicated into both lanes of each pair: one shuffle (a with its parts
// swapped) per product.
inline __m256 cmulSplit(__m256 a, __m256 bRe, __m256 bIm) {
    return _mm256_fmaddsub_ps(a, bRe, _mm256_mul_ps(_mm256_permute_ps(a, 0xB1), bIm));
}

inline __m256 cmul(__m256 a, __m256 b) { return cmulSplit(a, _mm256_moveldup_ps(b), _mm256_movehdup_ps(b)); }

// Four phasors kept as their parts duplicated, the form cmulSplit takes, so
// that turning them needs no shuffle at all.
struct Phasors {
    __m256 re, im;

    explicit Phasors(__m256 p) : re(_mm256_moveldup_ps(p)), im(_mm256_movehdup_ps(p)) {}
    void turn(__m256 rRe, __m256 rIm) {
        const __m256 r = _mm256_fmsub_ps(re, rRe, _mm256_mul_ps(im, rIm));
        im = _mm256_fmadd_ps(re, rIm, _mm256_mul_ps(im, rRe));
        re = r;
    }
};

// Eight phasors in two registers.
struct EightPhasors {
    Phasors a, b;

    void turn(__m256 rRe, __m256 rIm) {
        a.turn(rRe, rIm);
        b.turn(rRe, rIm);
    }
};

// Runs n samples (a multiple of 4) in groups of eight, step8(g, phasors),
// and a last group of four, step4(g, phasors) on the low halves. The
// phasors of samples 0 .. 7 are given; two sets, eight samples apart, turn by
// r16 per sixteen samples, so that four chains of products overlap instead
// of one waiting on the last.
template <class Step8, class Step4>
void mixGroups(size_t n, EightPhasors first, __m256 r8, Step8&& step8, Step4&& step4) {
    const __m256 r16 = cmul(r8, r8);
    const __m256 r16Re = _mm256_moveldup_ps(r16), r16Im = _mm256_movehdup_ps(r16);
    EightPhasors p0 = first, p1 = first;
    p1.turn(_mm256_moveldup_ps(r8), _mm256_movehdup_ps(r8));
    size_t g = 0;
    for (; g + 16 <= n; g += 16) {
        step8(g, p0);
        step8(g + 8, p1);
        p0.turn(r16Re, r16Im);
        p1.turn(r16Re, r16Im);
    }
    if (g + 8 <= n) {
        step8(g, p0);
        g += 8;
        p0 = p1;
    }
    if (g < n) step4(g, p0);
}

// A complex value in every pair of lanes. Read through the floats: no
// member of std::complex is called from here.
inline __m256 broadcast(const cf& r) {
    return _mm256_castpd_ps(_mm256_broadcast_sd(reinterpret_cast<const double*>(&r)));
}

void mix(const cf* in, size_t n, const cf* p, cf r4, cf* out) {
    const float* x = reinterpret_cast<const float*>(in);
    float* y = reinterpret_cast<float*>(out);
    // The phasors of samples 0 .. 3 and, turned by r4, of 4 .. 7.
    const __m256 r4v = broadcast(r4);
    const __m256 p03 = _mm256_loadu_ps(reinterpret_cast<const float*>(p));
    const EightPhasors first{Phasors(p03), Phasors(cmul(p03, r4v))};
    mixGroups(
        n, first, cmul(r4v, r4v),
        [&](size_t g, const EightPhasors& ph) {
            _mm256_storeu_ps(y + 2 * g, cmulSplit(_mm256_loadu_ps(x + 2 * g), ph.a.re, ph.a.im));
            _mm256_storeu_ps(y + 2 * g + 8, cmulSplit(_mm256_loadu_ps(x + 2 * g + 8), ph.b.re, ph.b.im));
        },
        [&](size_t g, const EightPhasors& ph) {
            _mm256_storeu_ps(y + 2 * g, cmulSplit(_mm256_loadu_ps(x + 2 * g), ph.a.re, ph.a.im));
        });
}

inline __m256 loadPair(const float* lo, const float* hi) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(lo)), _mm_loadu_ps(hi), 1);
}

// The complex values of a register as 64-bit lanes reordered (0 2 1 3).
inline __m256 evenOddHalves(__m256 v) {
    return _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(v), 0xD8));
}

inline __m128 cmulSplit(__m128 a, __m128 bRe, __m128 bIm) {
    return _mm_fmaddsub_ps(a, bRe, _mm_mul_ps(_mm_permute_ps(a, 0xB1), bIm));
}

void mixSplit(const cf* in, size_t n, const cf* p, cf r4, cf* even, cf* odd) {
    // The input is split into its phases as it is loaded, the phasors
    // arranged to match: the products then go straight to even and odd.
    const float* x = reinterpret_cast<const float*>(in);
    float* e = reinterpret_cast<float*>(even);
    float* o = reinterpret_cast<float*>(odd);
    const __m256 r4v = broadcast(r4);
    const __m256 p03 = _mm256_loadu_ps(reinterpret_cast<const float*>(p));
    const __m256 p47 = cmul(p03, r4v);
    // (p0 p1 p4 p5), (p2 p3 p6 p7) -> (p0 p2 p4 p6), (p1 p3 p5 p7)
    const __m256d lo = _mm256_castps_pd(_mm256_permute2f128_ps(p03, p47, 0x20));
    const __m256d hi = _mm256_castps_pd(_mm256_permute2f128_ps(p03, p47, 0x31));
    const EightPhasors first{Phasors(_mm256_castpd_ps(_mm256_unpacklo_pd(lo, hi))),
                             Phasors(_mm256_castpd_ps(_mm256_unpackhi_pd(lo, hi)))};
    mixGroups(
        n, first, cmul(r4v, r4v),
        [&](size_t g, const EightPhasors& ph) {
            const __m256d s0145 = _mm256_castps_pd(loadPair(x + 2 * g, x + 2 * g + 8));
            const __m256d s2367 = _mm256_castps_pd(loadPair(x + 2 * g + 4, x + 2 * g + 12));
            const __m256 sEven = _mm256_castpd_ps(_mm256_unpacklo_pd(s0145, s2367)); // 0 2 4 6
            const __m256 sOdd = _mm256_castpd_ps(_mm256_unpackhi_pd(s0145, s2367));  // 1 3 5 7
            _mm256_storeu_ps(e + g, cmulSplit(sEven, ph.a.re, ph.a.im));
            _mm256_storeu_ps(o + g, cmulSplit(sOdd, ph.b.re, ph.b.im));
        },
        [&](size_t g, const EightPhasors& ph) {
            // Samples 0 .. 3 of a group: the low halves of both registers.
            const __m128d s01 = _mm_castps_pd(_mm_loadu_ps(x + 2 * g));
            const __m128d s23 = _mm_castps_pd(_mm_loadu_ps(x + 2 * g + 4));
            const __m128 sEven = _mm_castpd_ps(_mm_unpacklo_pd(s01, s23));
            const __m128 sOdd = _mm_castpd_ps(_mm_unpackhi_pd(s01, s23));
            _mm_storeu_ps(e + g, cmulSplit(sEven, _mm256_castps256_ps128(ph.a.re), _mm256_castps256_ps128(ph.a.im)));
            _mm_storeu_ps(o + g, cmulSplit(sOdd, _mm256_castps256_ps128(ph.b.re), _mm256_castps256_ps128(ph.b.im)));
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
