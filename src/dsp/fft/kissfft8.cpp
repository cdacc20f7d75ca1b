#include "dsp/fft/kissfft8.h"

#include "dsp/float4.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace {

using cpx = std::complex<float>;

// 2pi and pi as the single-precision values the twiddles are built from.
constexpr float twoPi = 6.2831855f;
constexpr float pi = 3.1415927f;

std::vector<cpx> makeTwiddles(unsigned long m, bool inverse) {
    const float phi = (inverse ? twoPi : -twoPi) / float(m);
    std::vector<cpx> t(m);
    for (unsigned long k = 0; k < m; ++k) {
        float theta = float(k) * phi;
        t[k] = cpx(std::cos(theta), std::sin(theta));
    }
    return t;
}

// x * w with one product and one multiply-add per part; the multiply-add is
// fused where the target has it (NEON, FMA3) and two operations on plain SSE2.
inline void cmul4(float4 xr, float4 xi, float4 wr, float4 wi, float4& re, float4& im) {
    re = xsimd::fms(wr, xr, wi * xi);
    im = xsimd::fma(wr, xi, wi * xr);
}

inline cpx cmul(cpx a, cpx b) {
    return cpx(a.real() * b.real() - a.imag() * b.imag(), a.imag() * b.real() + a.real() * b.imag());
}

// One radix-4 butterfly on four lanes: y holds X0..X3 as (real, imaginary)
// pairs. X1 = (A - C) + r and X3 = (A - C) - r with r = -j(B - D) forward and
// +j(B - D) inverse, written out per part so no negation is needed.
template <bool Inverse>
inline void butterfly4(float4 ar, float4 ai, float4 br, float4 bi, float4 cr, float4 ci, float4 dr, float4 di,
                       float4 y[8]) {
    float4 sr = ar + cr, si = ai + ci; // A + C
    float4 er = ar - cr, ei = ai - ci; // A - C
    float4 tr = br + dr, ti = bi + di; // B + D
    float4 ur = br - dr, ui = bi - di; // B - D
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

// Loads the four twiddled inputs of a radix-4 merge at position p: A plain,
// B, C, D times W^p, W^2p, W^3p from the stage table group w.
inline void loadTwiddled(const float* pa, size_t m, const float* w, float4 x[8]) {
    const float* pb = pa + 2 * m;
    const float* pc = pa + 4 * m;
    const float* pd = pa + 6 * m;
    x[0] = float4::load_unaligned(pa), x[1] = float4::load_unaligned(pa + 4);
    cmul4(float4::load_unaligned(pb), float4::load_unaligned(pb + 4), float4::load_unaligned(w),
          float4::load_unaligned(w + 4), x[2], x[3]);
    cmul4(float4::load_unaligned(pc), float4::load_unaligned(pc + 4), float4::load_unaligned(w + 8),
          float4::load_unaligned(w + 12), x[4], x[5]);
    cmul4(float4::load_unaligned(pd), float4::load_unaligned(pd + 4), float4::load_unaligned(w + 16),
          float4::load_unaligned(w + 20), x[6], x[7]);
}

// Radix-4 merge of groups of four consecutive m-point sub-transforms, in
// place on the blocked layout. table holds W^p, W^2p, W^3p for four positions
// at a time (24 floats). The last pass writes interleaved complex values
// instead: each group of four positions occupies the same 8 floats in both
// layouts, and all four are loaded before any is stored.
template <bool Inverse, bool Interleaved>
void radix4Pass(float* o, size_t n, size_t m, const float* table) {
    for (size_t base = 0; base < n; base += 4 * m) {
        for (size_t p = 0; p < m; p += 4) {
            float* pa = o + 2 * (base + p);
            float4 x[8], y[8];
            loadTwiddled(pa, m, table + 6 * p, x);
            butterfly4<Inverse>(x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7], y);
            for (size_t j = 0; j < 4; ++j) {
                float* dst = pa + 2 * m * j;
                if constexpr (Interleaved) {
                    complex4(y[2 * j], y[2 * j + 1]).store_unaligned(reinterpret_cast<cpx*>(dst));
                } else {
                    y[2 * j].store_unaligned(dst);
                    y[2 * j + 1].store_unaligned(dst + 4);
                }
            }
        }
    }
}

// The last two passes of the 2048-point plan in one sweep: the radix-4 merge
// into the two 1024-point halves (m = 256) and the radix-2 merge of those
// halves. Each value sees the same operations in the same order as in two
// separate passes; fusing them saves one trip through the buffer.
template <bool Inverse>
void radix4ThenRadix2(float* o, size_t n, size_t m, const float* table, const float* tw) {
    const size_t h = n / 2;
    for (size_t p = 0; p < m; p += 4) {
        float* lo = o + 2 * p;
        float* hi = lo + n;
        float4 x[8], a[8], b[8];
        loadTwiddled(lo, m, table + 6 * p, x);
        butterfly4<Inverse>(x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7], a);
        loadTwiddled(hi, m, table + 6 * p, x);
        butterfly4<Inverse>(x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7], b);
        for (size_t j = 0; j < 4; ++j) {
            const size_t i = p + m * j; // value index in the lower half
            float4 yr, yi;
            cmul4(b[2 * j], b[2 * j + 1], float4::load_unaligned(tw + 2 * i), float4::load_unaligned(tw + 2 * i + 4),
                  yr, yi);
            complex4(a[2 * j] + yr, a[2 * j + 1] + yi).store_unaligned(reinterpret_cast<cpx*>(o + 2 * i));
            complex4(a[2 * j] - yr, a[2 * j + 1] - yi).store_unaligned(reinterpret_cast<cpx*>(o + 2 * (i + h)));
        }
    }
}

// The last two radix-4 passes in one sweep: the merge into sub-transforms of
// 4m points (inner table) and the final merge of four of those (outer table,
// interleaved output), m = N/16. Sixteen values at p + m*i + 4m*j are carried
// in registers from one merge to the next; each value sees the same
// operations in the same order as in two separate passes.
template <bool Inverse>
void radix4Then4(float* o, size_t m, const float* inner, const float* outer) {
    for (size_t p = 0; p < m; p += 4) {
        float4 x[8], y[4][8];
        for (size_t j = 0; j < 4; ++j) {
            loadTwiddled(o + 2 * (4 * m * j + p), m, inner + 6 * p, x);
            butterfly4<Inverse>(x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7], y[j]);
        }
        for (size_t i = 0; i < 4; ++i) {
            const size_t at = p + m * i; // position within the final merge
            const float* w = outer + 6 * at;
            float4 br, bi, cr, ci, dr, di, z[8];
            cmul4(y[1][2 * i], y[1][2 * i + 1], float4::load_unaligned(w), float4::load_unaligned(w + 4), br, bi);
            cmul4(y[2][2 * i], y[2][2 * i + 1], float4::load_unaligned(w + 8), float4::load_unaligned(w + 12), cr, ci);
            cmul4(y[3][2 * i], y[3][2 * i + 1], float4::load_unaligned(w + 16), float4::load_unaligned(w + 20), dr, di);
            butterfly4<Inverse>(y[0][2 * i], y[0][2 * i + 1], br, bi, cr, ci, dr, di, z);
            for (size_t j = 0; j < 4; ++j)
                complex4(z[2 * j], z[2 * j + 1]).store_unaligned(reinterpret_cast<cpx*>(o + 2 * (at + 4 * m * j)));
        }
    }
}

// 4x4 transpose: row l of the result holds lane l of x0..x3.
inline void transpose(float4 x0, float4 x1, float4 x2, float4 x3, float4 row[4]) {
    float4 t0 = xsimd::zip_lo(x0, x2), t1 = xsimd::zip_lo(x1, x3);
    float4 t2 = xsimd::zip_hi(x0, x2), t3 = xsimd::zip_hi(x1, x3);
    row[0] = xsimd::zip_lo(t0, t1);
    row[1] = xsimd::zip_hi(t0, t1);
    row[2] = xsimd::zip_lo(t2, t3);
    row[3] = xsimd::zip_hi(t2, t3);
}

} // namespace

template <class T>
kissfft8<T>::kissfft8(unsigned long n, bool inverse) : nfft(n), isInverse(inverse) {
    // The position table goes through a 4096-value scratch and holds 16-bit
    // places; the passes need at least four 4-point blocks.
    bool powerOfFour = n >= 16 && n <= 4096 && (n & (n - 1)) == 0 && (n & 0x5555) != 0;
    if (!powerOfFour && n != 2048)
        throw std::invalid_argument("kissfft8: unsupported size " + std::to_string(n));

    unsigned long rest = n;
    if (n == 2048) {
        stageRadix.push_back(2);
        stageRemainder.push_back(1024);
        rest = 1024;
    }
    unsigned long p = 4;
    do {
        while (rest % p) {
            switch (p) {
            case 4: p = 2; break;
            case 2: p = 3; break;
            default: p += 2; break;
            }
            if (p * p > rest) p = rest;
        }
        rest /= p;
        stageRadix.push_back(p);
        stageRemainder.push_back(rest);
    } while (rest > 1);

    // The 2048-point plan's radix-4 passes merge the same sub-transforms as a
    // 4096-point plan's, so its stage tables are made from 4096 twiddles.
    const unsigned long M = n == 2048 ? 4096 : n;
    std::vector<cpx> t = makeTwiddles(M, inverse);
    const size_t tables = stageRadix.size() - 1;
    unsigned long q = 4;
    for (size_t s = 0; s < tables; ++s, q *= 4) {
        const unsigned long m = M / q;   // points of each merged sub-transform
        const unsigned long step = M / (4 * m);
        std::vector<T>& table = stageTables[s];
        table.resize(6 * m);
        for (unsigned long p4 = 0; p4 < m; ++p4) {
            T* g = table.data() + 24 * (p4 / 4) + p4 % 4;
            cpx w1 = t[p4 * step], w2 = t[2 * p4 * step], w3 = t[3 * p4 * step];
            g[0] = w1.real(), g[4] = w1.imag();
            g[8] = w2.real(), g[12] = w2.imag();
            g[16] = w3.real(), g[20] = w3.imag();
        }
    }

    twiddles = makeTwiddles(n, inverse);
    blockedTwiddles.resize(2 * n);
    for (unsigned long k = 0; k < n; ++k) {
        blockedTwiddles[8 * (k / 4) + k % 4] = twiddles[k].real();
        blockedTwiddles[8 * (k / 4) + 4 + k % 4] = twiddles[k].imag();
    }
    buildBitReverseTable();
}

template <class T>
void kissfft8<T>::buildBitReverseTable() {
    // Run the decomposition's visit over the input indices themselves; the
    // index found at a place tells which input the first pass sends there.
    std::vector<cpx> scratch(4096), placed(4096);
    for (unsigned long i = 0; i < nfft; ++i) scratch[i] = cpx(float(i), 0);
    reorder(scratch.data(), placed.data(), 0, 1, 1);
    position.assign(nfft, 0);
    for (unsigned long place = 0; place < nfft; ++place)
        position[size_t(placed[place].real())] = uint16_t(place);
}

template <class T>
void kissfft8<T>::reorder(cpx* src, cpx* dst, unsigned long stage, unsigned long fstride, unsigned long instride) {
    const unsigned long p = stageRadix[stage];
    const unsigned long m = stageRemainder[stage];
    cpx* const end = dst + p * m;
    if (m == 1) {
        do {
            *dst = *src;
            src += fstride * instride;
        } while (++dst != end);
    } else {
        do {
            reorder(src, dst, stage + 1, fstride * p, instride);
            src += fstride * instride;
        } while ((dst += m) != end);
    }
}

template <class T>
void kissfft8<T>::transform(const cpx* in, cpx* out) const {
    if (isInverse)
        run<true>(in, out);
    else
        run<false>(in, out);
}

template <class T>
template <bool Inverse>
void kissfft8<T>::run(const cpx* in, cpx* out) const {
    const size_t n = nfft;
    const size_t q = n / 4;
    float* o = reinterpret_cast<float*>(out);

    // First pass: 4-point butterflies over the input quarters, four at a time,
    // each result transposed into its own blocked 4-value place.
    for (size_t k = 0; k < q; k += 4) {
        complex4 a = complex4::load_unaligned(in + k);
        complex4 b = complex4::load_unaligned(in + k + q);
        complex4 c = complex4::load_unaligned(in + k + 2 * q);
        complex4 d = complex4::load_unaligned(in + k + 3 * q);
        float4 y[8];
        butterfly4<Inverse>(a.real(), a.imag(), b.real(), b.imag(), c.real(), c.imag(), d.real(), d.imag(), y);
        float4 re[4], im[4];
        transpose(y[0], y[2], y[4], y[6], re);
        transpose(y[1], y[3], y[5], y[7], im);
        for (size_t l = 0; l < 4; ++l) {
            float* block = o + 2 * size_t(position[k + l]);
            re[l].store_unaligned(block);
            im[l].store_unaligned(block + 4);
        }
    }

    // Middle passes: sub-transforms of 4, 16, 64 ... points merged four at a
    // time, innermost table first. The last two passes (tables 1 and 0, or
    // table 1 and the radix-2 merge of the 2048-point plan) run as one sweep;
    // a 16-point plan has only the one pass on table 0.
    const size_t stages = stageRadix.size();
    const bool radix2 = stageRadix[0] == 2;
    const bool fused = stages >= 3;
    size_t m = 4;
    for (size_t s = stages - 2; s >= (fused ? 2 : 1); --s, m *= 4)
        radix4Pass<Inverse, false>(o, n, m, stageTables[s].data());

    if (radix2)
        radix4ThenRadix2<Inverse>(o, n, m, stageTables[1].data(), blockedTwiddles.data());
    else if (fused)
        radix4Then4<Inverse>(o, m, stageTables[1].data(), stageTables[0].data());
    else
        radix4Pass<Inverse, true>(o, n, m, stageTables[0].data());
}

template <class T>
void kissfft8<T>::transform_real(const T* in, cpx* out) const {
    const size_t n = nfft;
    if (n == 0) return;
    transform(reinterpret_cast<const cpx*>(in), out);

    // Split the transform of the interleaved even/odd samples into the
    // spectrum of the 2N real samples.
    out[0] = cpx(out[0].real() + out[0].imag(), out[0].real() - out[0].imag());
    const float psi = (isInverse ? pi : -pi) / float(n);
    const cpx h(std::cos(psi), std::sin(psi));
    for (size_t k = 1; 2 * k < n; ++k) {
        const cpx w = T(0.5) * cpx(out[k].real() + out[n - k].real(), out[k].imag() - out[n - k].imag());
        const cpx z = T(0.5) * cpx(out[k].imag() + out[n - k].imag(), out[n - k].real() - out[k].real());
        const cpx f = (k % 2 == 0) ? twiddles[k / 2] : cmul(twiddles[k / 2], h);
        const cpx fz = cmul(f, z);
        out[k] = w + fz;
        out[n - k] = std::conj(w - fz);
    }
    if (n % 2 == 0) out[n / 2] = std::conj(out[n / 2]);
}

template class kissfft8<float>;
