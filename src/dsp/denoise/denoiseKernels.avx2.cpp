// The eight-lane bodies; this file is built for AVX2 with fused multiply-add
// and only called once the CPU is known to have both.
#include "dsp/denoise/denoiseKernelBodies.h"

namespace denoise {

constinit const DenoiseKernels denoiseKernelsAvx2 = kernelsOn<xsimd::fma3<xsimd::avx2>>();

} // namespace denoise
