// The four-lane bodies of the down-converter's mixer and half-band stages.
#include "dsp/DownConverterKernels.h"

#include "dsp/HalfbandCoefficients.h"
#include "dsp/float4.h"
#include "dsp/simd/simdLevel.h"

namespace {

using cf = std::complex<float>;
using namespace downconv_detail;

// Product written out so that it is neither a library call (the NaN/Inf
// recovery of the standard complex product) nor reassociated.
inline cf cmul(cf a, cf b) {
    return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

// Four phasors stepping by r4 per group of four samples.
template <class Sink>
void mixGroups(const cf* in, size_t n, const cf* phasors, cf r4, Sink&& sink) {
    cf p[4] = {phasors[0], phasors[1], phasors[2], phasors[3]};
    for (size_t g = 0; g < n; g += 4) {
        cf v[4];
        for (int k = 0; k < 4; ++k) {
            v[k] = cmul(in[g + k], p[k]);
            p[k] = cmul(p[k], r4);
        }
        sink(g, v);
    }
}

void mix(const cf* in, size_t n, const cf* p, cf r4, cf* out) {
    mixGroups(in, n, p, r4, [&](size_t g, const cf* v) {
        for (int k = 0; k < 4; ++k) out[g + k] = v[k];
    });
}

void mixSplit(const cf* in, size_t n, const cf* p, cf r4, cf* even, cf* odd) {
    mixGroups(in, n, p, r4, [&](size_t g, const cf* v) {
        even[g / 2] = v[0];
        odd[g / 2] = v[1];
        even[g / 2 + 1] = v[2];
        odd[g / 2 + 1] = v[3];
    });
}

// Two complex outputs m = 2i and 2i + 1 of a half-band stage as one four-lane
// vector (re0, im0, re1, im1); c = (N - 1) / 2 with N = 2K - 1.
template <int K>
float4 halfbandPair(const float* E, const float* O, const float (&h)[K], size_t m) {
    constexpr size_t c = K - 1;
    float4 acc = float4::load_unaligned(O + 2 * (m + c)) * float4(0.5f);
    for (int k = 0; k < K; ++k) {
        float4 a = float4::load_unaligned(E + 2 * (m + c - k));
        float4 b = float4::load_unaligned(E + 2 * (m + c + 1 + k));
        acc = xsimd::fma(a + b, float4(h[k]), acc);
    }
    return acc;
}

// The same for a single output m, for a last stage with an odd count.
template <int K>
cf halfbandOne(const cf* E, const cf* O, const float (&h)[K], size_t m) {
    constexpr size_t c = K - 1;
    float re = 0.5f * O[m + c].real();
    float im = 0.5f * O[m + c].imag();
    for (int k = 0; k < K; ++k) {
        cf a = E[m + c - k], b = E[m + c + 1 + k];
        re += h[k] * (a.real() + b.real());
        im += h[k] * (a.imag() + b.imag());
    }
    return {re, im};
}

void lastStage(const cf* even, const cf* odd, cf* out, size_t count) {
    const float* e = reinterpret_cast<const float*>(even);
    const float* o = reinterpret_cast<const float*>(odd);
    float* y = reinterpret_cast<float*>(out);
    const size_t pairs = count / 2;
    for (size_t i = 0; i < pairs; ++i) halfbandPair<10>(e, o, level1, 2 * i).store_unaligned(y + 4 * i);
    if (count & 1) out[count - 1] = halfbandOne<10>(even, odd, level1, count - 1);
}

// An intermediate stage: even outputs to the next stage's even phase, odd
// ones to its odd phase.
template <int K>
void splitStage(const cf* E, const cf* O, const float (&h)[K], cf* nextEven, cf* nextOdd, size_t pairs) {
    const float* e = reinterpret_cast<const float*>(E);
    const float* o = reinterpret_cast<const float*>(O);
    for (size_t i = 0; i < pairs; ++i) {
        alignas(16) float y[4];
        halfbandPair<K>(e, o, h, 2 * i).store_aligned(y);
        nextEven[i] = {y[0], y[1]};
        nextOdd[i] = {y[2], y[3]};
    }
}

void secondStage(const cf* even, const cf* odd, cf* nextEven, cf* nextOdd, size_t pairs) {
    splitStage<5>(even, odd, level2, nextEven, nextOdd, pairs);
}

void earlyStage(const cf* even, const cf* odd, cf* nextEven, cf* nextOdd, size_t pairs) {
    splitStage<3>(even, odd, level3, nextEven, nextOdd, pairs);
}

const DownConverterKernels baselineKernels{mix, mixSplit, lastStage, secondStage, earlyStage};

} // namespace

#if VIREO_AVX2_KERNELS
extern const DownConverterKernels downConverterAvx2Kernels;
#endif

const DownConverterKernels& downConverterKernels() {
    static const DownConverterKernels& chosen =
        kernelsFor(baselineKernels, VIREO_AVX2_TABLE(downConverterAvx2Kernels));
    return chosen;
}
