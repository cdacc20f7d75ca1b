// The four-lane body of the own transform: SSE2 on x86-64, NEON on Arm.
#include "dsp/fft/kissfft8Body.h"
#include "dsp/fft/kissfft8Passes.h"
#include "dsp/float4.h"

namespace {

using namespace kissfft8_passes;

// 4x4 transpose: row l of the result holds lane l of x0..x3.
inline void transpose(float4 x0, float4 x1, float4 x2, float4 x3, float4 row[4]) {
    float4 t0 = xsimd::zip_lo(x0, x2), t1 = xsimd::zip_lo(x1, x3);
    float4 t2 = xsimd::zip_hi(x0, x2), t3 = xsimd::zip_hi(x1, x3);
    row[0] = xsimd::zip_lo(t0, t1);
    row[1] = xsimd::zip_hi(t0, t1);
    row[2] = xsimd::zip_lo(t2, t3);
    row[3] = xsimd::zip_hi(t2, t3);
}

template <bool Inverse>
void run(const kissfft8View& v, const cpx* in, cpx* out) {
    const size_t n = v.n;
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
        #pragma GCC unroll 4
        for (size_t l = 0; l < 4; ++l) {
            float* block = o + 2 * size_t(v.position[k + l]);
            re[l].store_unaligned(block);
            im[l].store_unaligned(block + 4);
        }
    }

    // Middle passes: sub-transforms of 4, 16, 64 ... points merged four at a
    // time, innermost table first. The last two passes (tables 1 and 0, or
    // table 1 and the radix-2 merge of the 2048-point plan) run as one sweep;
    // a 16-point plan has only the one pass on table 0.
    const bool fused = v.stages >= 3;
    size_t m = 4;
    for (size_t s = v.stages - 2; s >= (fused ? 2 : 1); --s, m *= 4)
        radix4Pass<float4, Inverse, false>(o, n, m, v.stageTables[s]);

    if (v.radix2)
        radix4ThenRadix2<float4, Inverse>(o, n, m, v.stageTables[1], v.twiddles);
    else if (fused)
        radix4Then4<float4, Inverse>(o, m, v.stageTables[1], v.stageTables[0]);
    else
        radix4Pass<float4, Inverse, true>(o, n, m, v.stageTables[0]);
}

} // namespace

const kissfft8Body kissfft8Baseline{4, 16, run<false>, run<true>};
