#include "dsp/denoise/denoiseKernels.h"

#include "dsp/denoise/denoiseKernelBodies.h"
#include "dsp/float4.h"
#include "dsp/simd/simdLevel.h"

namespace denoise {

constinit const DenoiseKernels denoiseKernelsBaseline = kernelsOn<float4::arch_type>();

const DenoiseKernels& denoiseKernels() {
    static const DenoiseKernels& chosen = kernelsFor(denoiseKernelsBaseline, VIREO_AVX2_TABLE(denoiseKernelsAvx2));
    return chosen;
}

} // namespace denoise
