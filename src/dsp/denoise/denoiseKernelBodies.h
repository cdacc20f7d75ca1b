#pragma once
// Bodies of the noise suppressor's kernels, written once on an xsimd
// architecture A and instantiated by denoiseKernels.cpp (the four-lane
// baseline) and denoiseKernels.avx2.cpp (eight lanes, AVX2+FMA). Only
// templates on A and functions of this file's unnamed namespace belong here,
// so nothing built for AVX2 can be linked into a baseline caller.
#include "dsp/denoise/activation.h"
#include "dsp/denoise/denoiseKernels.h"

#include <xsimd/xsimd.hpp>

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace denoise {
namespace {

template <class A>
using floats = xsimd::batch<float, A>;

// Lanes' worth of signed 8-bit weights as floats. The conversion is exact,
// so converting in registers gives the products the plain loop gives, and
// the weights stay a quarter of the size in the cache.
template <class A>
floats<A> loadWeights(const rnn_weight* w) {
    using B = floats<A>;
#if defined(__AVX2__)
    if constexpr (B::size == 8) {
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(w));
        return B(_mm256_cvtepi32_ps(_mm256_cvtepi8_epi32(bytes)));
    }
#endif
#if defined(__SSE2__)
    if constexpr (B::size == 4 && std::is_base_of_v<xsimd::sse2, A>) {
        int32_t four;
        std::memcpy(&four, w, sizeof four);
        // Each byte into the top of a 32-bit lane, then an arithmetic shift
        // brings it down with its sign.
        __m128i v = _mm_cvtsi32_si128(four);
        v = _mm_unpacklo_epi8(v, v);
        v = _mm_unpacklo_epi16(v, v);
        return B(_mm_cvtepi32_ps(_mm_srai_epi32(v, 24)));
    }
#endif
    alignas(64) float f[B::size];
    for (std::size_t i = 0; i < B::size; ++i) f[i] = w[i];
    return B::load_aligned(f);
}

// V batches of neurons (sums[0 .. V lanes)) kept in registers over all the
// inputs, so the sums touch memory once per block rather than once per
// input, and V chains of multiply-adds hide each other's latency.
template <class A, int V>
void accumulateBlock(float* sums, const rnn_weight* w, int stride, const float* x, int m) {
    using B = floats<A>;
    constexpr int L = B::size;
    B s[V];
#pragma GCC unroll 8
    for (int v = 0; v < V; ++v) s[v] = B::load_unaligned(sums + v * L);
    for (int j = 0; j < m; ++j, w += stride) {
        const B xj(x[j]);
#pragma GCC unroll 8
        for (int v = 0; v < V; ++v) s[v] = xsimd::fma(loadWeights<A>(w + v * L), xj, s[v]);
    }
#pragma GCC unroll 8
    for (int v = 0; v < V; ++v) s[v].store_unaligned(sums + v * L);
}

template <class A>
void accumulateBody(float* sums, const rnn_weight* w, int stride, const float* x, int m, int n) {
    constexpr int L = floats<A>::size;
    int i = 0;
    for (; i + 8 * L <= n; i += 8 * L) accumulateBlock<A, 8>(sums + i, w + i, stride, x, m);
    for (; i + 4 * L <= n; i += 4 * L) accumulateBlock<A, 4>(sums + i, w + i, stride, x, m);
    for (; i + 2 * L <= n; i += 2 * L) accumulateBlock<A, 2>(sums + i, w + i, stride, x, m);
    for (; i + L <= n; i += L) accumulateBlock<A, 1>(sums + i, w + i, stride, x, m);
    // The last neurons one by one: a wider load would read past the end of
    // the last layer's table.
    for (; i < n; ++i) {
        float s = sums[i];
        for (int j = 0; j < m; ++j) s += w[j * stride + i] * x[j];
        sums[i] = s;
    }
}

float lagSum(const float* x, const float* y, int len) {
    float s = 0.f;
    for (int i = 0; i < len; ++i) s += x[i] * y[i];
    return s;
}

// Lags [0, count) of x against y, count <= V lanes' worth: x[i] is broadcast
// and each lane adds x[i] y[i + k] for its own k, so every lag keeps the
// plain loop's order. Lanes past count are computed and dropped.
template <class A, int V>
void xcorrBlock(const float* x, const float* y, int len, float* out, int count) {
    using B = floats<A>;
    constexpr int L = B::size;
    B s[V];
#pragma GCC unroll 8
    for (int v = 0; v < V; ++v) s[v] = B(0.f);
    for (int i = 0; i < len; ++i) {
        const B xi(x[i]);
#pragma GCC unroll 8
        for (int v = 0; v < V; ++v) s[v] = xsimd::fma(xi, B::load_unaligned(y + i + v * L), s[v]);
    }
    if (count == V * L) {
#pragma GCC unroll 8
        for (int v = 0; v < V; ++v) s[v].store_unaligned(out + v * L);
        return;
    }
    alignas(64) float lanes[V * L];
#pragma GCC unroll 8
    for (int v = 0; v < V; ++v) s[v].store_aligned(lanes + v * L);
    for (int l = 0; l < count; ++l) out[l] = lanes[l];
}

template <class A>
void xcorrBody(const float* x, const float* y, int ylen, int len, float* out, int lags) {
    constexpr int L = floats<A>::size;
    // A block of lags [k, k + width) reads y up to k + width + len - 2; the
    // last blocks may run past lags while they stay within y.
    const auto fits = [&](int k, int width) { return k + width + len - 1 <= ylen; };
    int k = 0;
    for (; lags - k > 4 * L && fits(k, 8 * L); k += 8 * L)
        xcorrBlock<A, 8>(x, y + k, len, out + k, lags - k < 8 * L ? lags - k : 8 * L);
    for (; lags - k > L && fits(k, 4 * L); k += 4 * L)
        xcorrBlock<A, 4>(x, y + k, len, out + k, lags - k < 4 * L ? lags - k : 4 * L);
    for (; k < lags && fits(k, L); k += L) xcorrBlock<A, 1>(x, y + k, len, out + k, lags - k < L ? lags - k : L);
    for (; k < lags; ++k) out[k] = lagSum(x, y + k, len);
}

template <class A>
float innerBody(const float* x, const float* y, int n) {
    using B = floats<A>;
    constexpr int L = B::size;
    B s0(0.f), s1(0.f), s2(0.f), s3(0.f);
    int i = 0;
    for (; i + 4 * L <= n; i += 4 * L) {
        s0 = xsimd::fma(B::load_unaligned(x + i), B::load_unaligned(y + i), s0);
        s1 = xsimd::fma(B::load_unaligned(x + i + L), B::load_unaligned(y + i + L), s1);
        s2 = xsimd::fma(B::load_unaligned(x + i + 2 * L), B::load_unaligned(y + i + 2 * L), s2);
        s3 = xsimd::fma(B::load_unaligned(x + i + 3 * L), B::load_unaligned(y + i + 3 * L), s3);
    }
    for (; i + L <= n; i += L) s0 = xsimd::fma(B::load_unaligned(x + i), B::load_unaligned(y + i), s0);
    float sum = xsimd::hadd((s0 + s1) + (s2 + s3));
    for (; i < n; ++i) sum += x[i] * y[i];
    return sum;
}

// table[i] in every lane.
template <class A>
floats<A> lookup(const float* table, xsimd::batch<int32_t, A> i) {
    using B = floats<A>;
#if defined(__AVX2__)
    if constexpr (B::size == 8) return B(_mm256_i32gather_ps(table, i, sizeof(float)));
#endif
    alignas(64) int32_t index[B::size];
    alignas(64) float value[B::size];
    i.store_aligned(index);
    for (std::size_t l = 0; l < B::size; ++l) value[l] = table[index[l]];
    return B::load_aligned(value);
}

// tanhApprox in every lane, with its operations in its order and without
// its branches.
template <class A>
floats<A> tanhLanes(floats<A> x, const float* table) {
    using B = floats<A>;
    const auto nan = xsimd::isnan(x);
    const auto saturated = xsimd::abs(x) >= B(8.f);
    const B sign = xsimd::select(x < B(0.f), B(-1.f), B(1.f));
    // Lanes that take no value from the table still index inside it.
    const B ax = xsimd::select(nan || saturated, B(0.f), xsimd::abs(x));
    const auto i = xsimd::to_int(B(0.5f) + B(25.f) * ax);
    const B d = ax - B(0.04f) * xsimd::to_float(i);
    const B y = lookup<A>(table, i);
    const B t = xsimd::select(saturated, B(1.f), y + d * (B(1.f) - y * y) * (B(1.f) - y * d));
    return xsimd::select(nan, B(0.f), sign * t);
}

template <class A>
floats<A> activateLanes(floats<A> v, int activation, const float* table) {
    using B = floats<A>;
    switch (activation) {
    case ACTIVATION_TANH: return tanhLanes<A>(v, table);
    case ACTIVATION_SIGMOID: return B(0.5f) + B(0.5f) * tanhLanes<A>(B(0.5f) * v, table);
    case ACTIVATION_RELU: return xsimd::select(v < B(0.f), B(0.f), v);
    default: return v;
    }
}

template <class A>
void activateBody(float* x, int n, float scale, int activation) {
    using B = floats<A>;
    constexpr int L = B::size;
    const float* table = tanhTable();
    int i = 0;
    for (; i + L <= n; i += L)
        activateLanes<A>(B(scale) * B::load_unaligned(x + i), activation, table).store_unaligned(x + i);
    if (i == n) return;
    // The last few through the lanes as well, so every value is computed alike.
    alignas(64) float rest[L] = {};
    for (int l = 0; i + l < n; ++l) rest[l] = x[i + l];
    activateLanes<A>(B(scale) * B::load_aligned(rest), activation, table).store_aligned(rest);
    for (int l = 0; i + l < n; ++l) x[i + l] = rest[l];
}

template <class A>
constexpr DenoiseKernels kernelsOn() {
    return {accumulateBody<A>, xcorrBody<A>, innerBody<A>, activateBody<A>};
}

} // namespace
} // namespace denoise
