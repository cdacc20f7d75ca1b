#include "radios/airspy/SampleFeed.h"

#include "dsp/float4.h"

#include <cmath>

namespace {

/// x scaled into y, and the larger of best and |x| in the lanes that
/// `iLanes` keeps (1) rather than zeroes. A NaN compares false and so never
/// becomes the peak.
inline float4 scaleFour(const float* x, float* y, float4 k, float4 iLanes, float4 best) {
    const float4 v = float4::load_unaligned(x);
    (v * k).store_unaligned(y);
    const float4 a = xsimd::abs(v) * iLanes;
    return xsimd::select(a > best, a, best);
}

} // namespace

float SampleFeed::scaleAndPeak(const float* iq, std::complex<float>* out, size_t n, float scale, float peak) {
    // Runs once per sample on the driver's thread, at up to 10 MS/s. Four
    // lanes carry two interleaved samples, all scaled alike, with I in lanes
    // 0 and 2; four running maxima keep the comparisons from waiting on one
    // another.
    float* y = reinterpret_cast<float*>(out);
    const size_t floats = 2 * n;
    const float4 k(scale), iLanes{1.0f, 0.0f, 1.0f, 0.0f};
    float4 b0(peak), b1(peak), b2(peak), b3(peak);
    size_t i = 0;
    for (; i + 16 <= floats; i += 16) {
        b0 = scaleFour(iq + i, y + i, k, iLanes, b0);
        b1 = scaleFour(iq + i + 4, y + i + 4, k, iLanes, b1);
        b2 = scaleFour(iq + i + 8, y + i + 8, k, iLanes, b2);
        b3 = scaleFour(iq + i + 12, y + i + 12, k, iLanes, b3);
    }
    for (; i + 4 <= floats; i += 4) b0 = scaleFour(iq + i, y + i, k, iLanes, b0);
    alignas(16) float lanes[16];
    b0.store_aligned(lanes);
    b1.store_aligned(lanes + 4);
    b2.store_aligned(lanes + 8);
    b3.store_aligned(lanes + 12);
    for (float v : lanes) peak = peak < v ? v : peak;
    for (; i < floats; i += 2) { // the odd sample left
        const float a = std::fabs(iq[i]);
        peak = peak < a ? a : peak;
        y[i] = iq[i] * scale;
        y[i + 1] = iq[i + 1] * scale;
    }
    return peak;
}

bool SampleFeed::account(float transferPeak, size_t count, int rate, float& published) {
    float held = heldPeak.load(std::memory_order_relaxed);
    if (held < transferPeak) held = transferPeak;
    heldPeak.store(held, std::memory_order_relaxed);
    if (rate > 0) peakTime_ += float(count) / float(rate);
    if (!(peakTime_ > peakInterval)) return false;
    peakTime_ = 0.0f;
    published = held;
    heldPeak.store(0.0f, std::memory_order_relaxed);
    return true;
}
