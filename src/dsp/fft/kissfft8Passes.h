#pragma once
// The passes of the own transform, written once for any batch width W
// (xsimd::batch<float, A>): the four-lane baseline body and the eight-lane
// AVX2 body instantiate them. Between passes the working buffer holds blocks
// of W positions, W real parts then W imaginary parts, so a pass loads the
// parts of W positions with two plain loads. Everything here has internal
// linkage or is a template on the arch: a body built for AVX2 never lends an
// out-of-line copy to the baseline. The loops over the four parts of a
// butterfly are unrolled by pragma: left rolled (GCC at -O2), the parts stay
// in memory and a transform takes twice as long.
#include <xsimd/xsimd.hpp>

#include <complex>
#include <cstddef>

namespace kissfft8_passes {
namespace {

using cpx = std::complex<float>;

// x * w with one product and one multiply-add per part; the multiply-add is
// fused where the target has it (NEON, FMA3) and two operations on plain SSE2.
template <class V>
inline void cmul(V xr, V xi, V wr, V wi, V& re, V& im) {
    re = xsimd::fms(wr, xr, wi * xi);
    im = xsimd::fma(wr, xi, wi * xr);
}

// One radix-4 butterfly on W lanes: y holds X0..X3 as (real, imaginary)
// pairs. X1 = (A - C) + r and X3 = (A - C) - r with r = -j(B - D) forward and
// +j(B - D) inverse, written out per part so no negation is needed.
template <bool Inverse, class V>
inline void butterfly4(V ar, V ai, V br, V bi, V cr, V ci, V dr, V di, V y[8]) {
    V sr = ar + cr, si = ai + ci; // A + C
    V er = ar - cr, ei = ai - ci; // A - C
    V tr = br + dr, ti = bi + di; // B + D
    V ur = br - dr, ui = bi - di; // B - D
    y[0] = sr + tr, y[1] = si + ti;
    y[4] = sr - tr, y[5] = si - ti;
    if constexpr (Inverse) {
        y[2] = er - ui, y[3] = ei + ur;
        y[6] = er + ui, y[7] = ei - ur;
    } else {
        y[2] = er + ui, y[3] = ei - ur;
        y[6] = er - ui, y[7] = ei + ur;
    }
}

// Interleaved store of W complex values given as real and imaginary parts.
template <class V>
inline void storeComplex(float* dst, V re, V im) {
    using C = xsimd::batch<cpx, typename V::arch_type>;
    C(re, im).store_unaligned(reinterpret_cast<cpx*>(dst));
}

// Loads the four twiddled inputs of a radix-4 merge at position p: A plain,
// B, C, D times W^p, W^2p, W^3p from the stage table group w.
template <class V>
inline void loadTwiddled(const float* pa, size_t m, const float* w, V x[8]) {
    constexpr size_t W = V::size;
    const float* pb = pa + 2 * m;
    const float* pc = pa + 4 * m;
    const float* pd = pa + 6 * m;
    x[0] = V::load_unaligned(pa), x[1] = V::load_unaligned(pa + W);
    cmul(V::load_unaligned(pb), V::load_unaligned(pb + W), V::load_unaligned(w), V::load_unaligned(w + W), x[2], x[3]);
    cmul(V::load_unaligned(pc), V::load_unaligned(pc + W), V::load_unaligned(w + 2 * W),
         V::load_unaligned(w + 3 * W), x[4], x[5]);
    cmul(V::load_unaligned(pd), V::load_unaligned(pd + W), V::load_unaligned(w + 4 * W),
         V::load_unaligned(w + 5 * W), x[6], x[7]);
}

// Radix-4 merge of groups of four consecutive m-point sub-transforms, in
// place on the blocked layout (m a multiple of W). table holds W^p, W^2p, W^3p
// for W positions at a time (6W floats). The last pass writes interleaved
// complex values instead: each group of W positions occupies the same 2W
// floats in both layouts, and all four are loaded before any is stored.
template <class V, bool Inverse, bool Interleaved>
void radix4Pass(float* o, size_t n, size_t m, const float* table) {
    constexpr size_t W = V::size;
    for (size_t base = 0; base < n; base += 4 * m) {
        for (size_t p = 0; p < m; p += W) {
            float* pa = o + 2 * (base + p);
            V x[8], y[8];
            loadTwiddled(pa, m, table + 6 * p, x);
            butterfly4<Inverse>(x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7], y);
            #pragma GCC unroll 4
            for (size_t j = 0; j < 4; ++j) {
                float* dst = pa + 2 * m * j;
                if constexpr (Interleaved) {
                    storeComplex(dst, y[2 * j], y[2 * j + 1]);
                } else {
                    y[2 * j].store_unaligned(dst);
                    y[2 * j + 1].store_unaligned(dst + W);
                }
            }
        }
    }
}

// The last two passes of the 2048-point plan in one sweep: the radix-4 merge
// into the two 1024-point halves (m = 256) and the radix-2 merge of those
// halves. Each value sees the same operations in the same order as in two
// separate passes; fusing them saves one trip through the buffer.
template <class V, bool Inverse>
void radix4ThenRadix2(float* o, size_t n, size_t m, const float* table, const float* tw) {
    constexpr size_t W = V::size;
    const size_t h = n / 2;
    for (size_t p = 0; p < m; p += W) {
        float* lo = o + 2 * p;
        float* hi = lo + n;
        V x[8], a[8], b[8];
        loadTwiddled(lo, m, table + 6 * p, x);
        butterfly4<Inverse>(x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7], a);
        loadTwiddled(hi, m, table + 6 * p, x);
        butterfly4<Inverse>(x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7], b);
        #pragma GCC unroll 4
        for (size_t j = 0; j < 4; ++j) {
            const size_t i = p + m * j; // value index in the lower half
            V yr, yi;
            cmul(b[2 * j], b[2 * j + 1], V::load_unaligned(tw + 2 * i), V::load_unaligned(tw + 2 * i + W), yr, yi);
            storeComplex(o + 2 * i, a[2 * j] + yr, a[2 * j + 1] + yi);
            storeComplex(o + 2 * (i + h), a[2 * j] - yr, a[2 * j + 1] - yi);
        }
    }
}

// The last two radix-4 passes in one sweep: the merge into sub-transforms of
// 4m points (inner table) and the final merge of four of those (outer table,
// interleaved output), m = N/16. Sixteen values at p + m*i + 4m*j are carried
// in registers from one merge to the next; each value sees the same
// operations in the same order as in two separate passes.
template <class V, bool Inverse>
void radix4Then4(float* o, size_t m, const float* inner, const float* outer) {
    constexpr size_t W = V::size;
    for (size_t p = 0; p < m; p += W) {
        V x[8], y[4][8];
        #pragma GCC unroll 4
        for (size_t j = 0; j < 4; ++j) {
            loadTwiddled(o + 2 * (4 * m * j + p), m, inner + 6 * p, x);
            butterfly4<Inverse>(x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7], y[j]);
        }
        #pragma GCC unroll 4
        for (size_t i = 0; i < 4; ++i) {
            const size_t at = p + m * i; // position within the final merge
            const float* w = outer + 6 * at;
            V br, bi, cr, ci, dr, di, z[8];
            cmul(y[1][2 * i], y[1][2 * i + 1], V::load_unaligned(w), V::load_unaligned(w + W), br, bi);
            cmul(y[2][2 * i], y[2][2 * i + 1], V::load_unaligned(w + 2 * W), V::load_unaligned(w + 3 * W), cr, ci);
            cmul(y[3][2 * i], y[3][2 * i + 1], V::load_unaligned(w + 4 * W), V::load_unaligned(w + 5 * W), dr, di);
            butterfly4<Inverse>(y[0][2 * i], y[0][2 * i + 1], br, bi, cr, ci, dr, di, z);
            #pragma GCC unroll 4
            for (size_t j = 0; j < 4; ++j) storeComplex(o + 2 * (at + 4 * m * j), z[2 * j], z[2 * j + 1]);
        }
    }
}

} // namespace
} // namespace kissfft8_passes
