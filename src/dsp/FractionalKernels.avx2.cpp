// The eight-lane output loop of the fractional resampler (AVX2 with FMA).
#include "dsp/FractionalKernels.h"

#include "dsp/PolyphaseLoop.h"

#include <immintrin.h>

namespace {

// 44 taps as 11 eight-lane steps over four complex inputs at a time, on two
// accumulators; the 45th and 46th on four lanes and the 47th on two, folded
// in as the lanes are summed down to (re, im).
struct EightLaneInner {
    static void apply(const float* h, const float* x, float* y) {
        __m256 acc0 = _mm256_mul_ps(_mm256_loadu_ps(h), _mm256_loadu_ps(x));
        __m256 acc1 = _mm256_mul_ps(_mm256_loadu_ps(h + 8), _mm256_loadu_ps(x + 8));
        for (int t = 16; t < 80; t += 16) {
            acc0 = _mm256_fmadd_ps(_mm256_loadu_ps(h + t), _mm256_loadu_ps(x + t), acc0);
            acc1 = _mm256_fmadd_ps(_mm256_loadu_ps(h + t + 8), _mm256_loadu_ps(x + t + 8), acc1);
        }
        acc0 = _mm256_fmadd_ps(_mm256_loadu_ps(h + 80), _mm256_loadu_ps(x + 80), acc0);
        const __m256 sum = _mm256_add_ps(acc0, acc1);
        __m128 s = _mm_add_ps(_mm256_castps256_ps128(sum), _mm256_extractf128_ps(sum, 1));
        s = _mm_fmadd_ps(_mm_loadu_ps(h + 88), _mm_loadu_ps(x + 88), s);
        s = _mm_add_ps(s, _mm_movehl_ps(s, s)); // (re, im) in the low two lanes
        const __m128 h47 = _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(h + 92)));
        const __m128 x47 = _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(x + 92)));
        s = _mm_fmadd_ps(h47, x47, s);
        _mm_storel_pi(reinterpret_cast<__m64*>(y), s);
    }
};

} // namespace

extern const FractionalKernels fractionalAvx2Kernels;
const FractionalKernels fractionalAvx2Kernels{polyphaseLoop<EightLaneInner>};
