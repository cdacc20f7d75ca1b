#include "dsp/dspMathKernels.h"

#include "dsp/dspMathBodies.h"
#include "dsp/float4.h"
#include "dsp/simd/simdLevel.h"

namespace {

const DspMathKernels baselineKernels = dspmath_bodies::table<float4::arch_type>();

} // namespace

#if VIREO_AVX2_KERNELS
extern const DspMathKernels dspMathAvx2Kernels;
#endif

const DspMathKernels& dspMathKernels() {
    static const DspMathKernels& chosen = kernelsFor(baselineKernels, VIREO_AVX2_TABLE(dspMathAvx2Kernels));
    return chosen;
}
