#pragma once
// Four-lane single-precision batches shared by the vector kernels and the own
// transform. Four lanes is what every target has (SSE2 on x86-64, NEON on
// 64-bit Arm), so the kernels and the transform's blocked layout are written
// for exactly that width rather than for whatever the widest register is.
#include <xsimd/xsimd.hpp>

#include <complex>

using float4 = xsimd::make_sized_batch_t<float, 4>;
/// Four complex values held as a batch of real parts and a batch of imaginary
/// parts; loads and stores convert from and to interleaved memory.
using complex4 = xsimd::batch<std::complex<float>, float4::arch_type>;

static_assert(float4::size == 4, "the kernels assume four float lanes");
