// The eight-lane body of the own transform, for CPUs with AVX2 and FMA.
//
// Between passes the working buffer holds blocks of eight positions (eight
// real parts, then eight imaginary parts). The first pass still produces
// 4-point results, eight at a time, and writes each into its half of an
// eight-block; the merge of 4-point sub-transforms (m = 4) runs four lanes
// wide on that layout, and every later merge eight lanes wide. Plans under
// 256 points run the baseline body.
#include "dsp/fft/kissfft8Body.h"
#include "dsp/fft/kissfft8Passes.h"
#include "dsp/float4.h"

#include <immintrin.h>

namespace {

using namespace kissfft8_passes;

using float8 = xsimd::batch<float, xsimd::fma3<xsimd::avx2>>;
static_assert(float8::size == 8, "the wide body assumes eight float lanes");

// A 4x4 transpose in each 128-bit half: row l holds lane l of x0..x3 in its
// low half and lane l + 4 in its high half.
inline void transposeHalves(__m256 x0, __m256 x1, __m256 x2, __m256 x3, __m256 row[4]) {
    __m256 t0 = _mm256_unpacklo_ps(x0, x2), t1 = _mm256_unpacklo_ps(x1, x3);
    __m256 t2 = _mm256_unpackhi_ps(x0, x2), t3 = _mm256_unpackhi_ps(x1, x3);
    row[0] = _mm256_unpacklo_ps(t0, t1);
    row[1] = _mm256_unpackhi_ps(t0, t1);
    row[2] = _mm256_unpacklo_ps(t2, t3);
    row[3] = _mm256_unpackhi_ps(t2, t3);
}

// Real parts of the four values from place P (a multiple of 4) on; the
// imaginary parts follow eight floats later.
inline float* place(float* o, size_t P) { return o + 16 * (P >> 3) + (P & 4); }

// Merge of 4-point sub-transforms (m = 4), four lanes wide on the
// eight-block layout: the group of 16 positions at base holds A and B in its
// first block, C and D in its second.
template <bool Inverse>
void mergeFours(float* o, size_t n, const float* table) {
    const float4 w1r = float4::load_unaligned(table), w1i = float4::load_unaligned(table + 4);
    const float4 w2r = float4::load_unaligned(table + 8), w2i = float4::load_unaligned(table + 12);
    const float4 w3r = float4::load_unaligned(table + 16), w3i = float4::load_unaligned(table + 20);
    for (size_t base = 0; base < n; base += 16) {
        float* g = o + 2 * base;
        float4 br, bi, cr, ci, dr, di, y[8];
        cmul(float4::load_unaligned(g + 4), float4::load_unaligned(g + 12), w1r, w1i, br, bi);
        cmul(float4::load_unaligned(g + 16), float4::load_unaligned(g + 24), w2r, w2i, cr, ci);
        cmul(float4::load_unaligned(g + 20), float4::load_unaligned(g + 28), w3r, w3i, dr, di);
        butterfly4<Inverse>(float4::load_unaligned(g), float4::load_unaligned(g + 8), br, bi, cr, ci, dr, di, y);
        y[0].store_unaligned(g), y[1].store_unaligned(g + 8);
        y[2].store_unaligned(g + 4), y[3].store_unaligned(g + 12);
        y[4].store_unaligned(g + 16), y[5].store_unaligned(g + 24);
        y[6].store_unaligned(g + 20), y[7].store_unaligned(g + 28);
    }
}

template <bool Inverse>
void run(const kissfft8View& v, const cpx* in, cpx* out) {
    const size_t n = v.n;
    const size_t q = n / 4;
    float* o = reinterpret_cast<float*>(out);

    // First pass: 4-point butterflies over the input quarters, eight at a
    // time; the halves of each transposed row go to two places. The parts are
    // split without the lane-crossing permute, so the lanes hold inputs
    // k + {0, 1, 4, 5 | 2, 3, 6, 7}; the places follow that order.
    static constexpr size_t lowLanes[4] = {0, 1, 4, 5}, highLanes[4] = {2, 3, 6, 7};
    for (size_t k = 0; k < q; k += 8) {
        float8 y[8], x[8];
        #pragma GCC unroll 4
        for (size_t j = 0; j < 4; ++j) {
            const float* src = reinterpret_cast<const float*>(in + k + j * q);
            const __m256 lo = _mm256_loadu_ps(src), hi = _mm256_loadu_ps(src + 8);
            x[2 * j] = _mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
            x[2 * j + 1] = _mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
        }
        butterfly4<Inverse>(x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7], y);
        __m256 re[4], im[4];
        transposeHalves(y[0], y[2], y[4], y[6], re);
        transposeHalves(y[1], y[3], y[5], y[7], im);
        #pragma GCC unroll 4
        for (size_t l = 0; l < 4; ++l) {
            float* lo = place(o, v.position[k + lowLanes[l]]);
            float* hi = place(o, v.position[k + highLanes[l]]);
            _mm_storeu_ps(lo, _mm256_castps256_ps128(re[l]));
            _mm_storeu_ps(lo + 8, _mm256_castps256_ps128(im[l]));
            _mm_storeu_ps(hi, _mm256_extractf128_ps(re[l], 1));
            _mm_storeu_ps(hi + 8, _mm256_extractf128_ps(im[l], 1));
        }
    }

    // Plans of 256 points and more have at least four radix stages, so the
    // last two always run as one sweep (see the baseline body).
    size_t s = v.stages - 2;
    mergeFours<Inverse>(o, n, v.narrowTables[s]);
    size_t m = 16;
    for (--s; s >= 2; --s, m *= 4) radix4Pass<float8, Inverse, false>(o, n, m, v.stageTables[s]);

    if (v.radix2)
        radix4ThenRadix2<float8, Inverse>(o, n, m, v.stageTables[1], v.twiddles);
    else
        radix4Then4<float8, Inverse>(o, m, v.stageTables[1], v.stageTables[0]);
}

} // namespace

const kissfft8Body kissfft8Avx2{8, 256, run<false>, run<true>};
