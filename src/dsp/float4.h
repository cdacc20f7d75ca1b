#pragma once
// Four-lane single-precision batches: the width every target has (SSE2 on
// x86-64, NEON on 64-bit Arm) and so the width of the baseline kernel bodies.
// The eight-lane AVX2 bodies (*.avx2.cpp) name their own batch type; see
// dsp/simd/simdLevel.h.
#include <xsimd/xsimd.hpp>

#include <complex>

using float4 = xsimd::make_sized_batch_t<float, 4>;
/// Four complex values held as a batch of real parts and a batch of imaginary
/// parts; loads and stores convert from and to interleaved memory.
using complex4 = xsimd::batch<std::complex<float>, float4::arch_type>;

static_assert(float4::size == 4, "the kernels assume four float lanes");
