#include "dsp/FractionalKernels.h"

#include "dsp/PolyphaseLoop.h"
#include "dsp/float4.h"
#include "dsp/simd/simdLevel.h"

namespace {

// 46 taps as 23 four-lane steps over two complex inputs at a time, on two
// accumulators so that consecutive multiply-adds do not wait on each other,
// then the 47th.
struct FourLaneInner {
    static void apply(const float* h, const float* x, float* y) {
        float4 acc0 = float4::load_unaligned(h) * float4::load_unaligned(x);
        float4 acc1 = float4::load_unaligned(h + 4) * float4::load_unaligned(x + 4);
        for (int t = 8; t < 88; t += 8) {
            acc0 = xsimd::fma(float4::load_unaligned(h + t), float4::load_unaligned(x + t), acc0);
            acc1 = xsimd::fma(float4::load_unaligned(h + t + 4), float4::load_unaligned(x + t + 4), acc1);
        }
        acc0 = xsimd::fma(float4::load_unaligned(h + 88), float4::load_unaligned(x + 88), acc0);
        alignas(16) float lanes[4];
        (acc0 + acc1).store_aligned(lanes);
        y[0] = lanes[0] + lanes[2] + h[92] * x[92];
        y[1] = lanes[1] + lanes[3] + h[93] * x[93];
    }
};

const FractionalKernels baselineKernels{polyphaseLoop<FourLaneInner>};

} // namespace

#if VIREO_AVX2_KERNELS
extern const FractionalKernels fractionalAvx2Kernels;
#endif

const FractionalKernels& fractionalKernels() {
    static const FractionalKernels& chosen = kernelsFor(baselineKernels, VIREO_AVX2_TABLE(fractionalAvx2Kernels));
    return chosen;
}
