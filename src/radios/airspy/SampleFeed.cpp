#include "radios/airspy/SampleFeed.h"

#include <cmath>

float SampleFeed::scaleAndPeak(const float* iq, std::complex<float>* out, size_t n, float scale, float peak) {
    // A plain loop: it runs once per sample on the driver's thread, and the
    // compiler keeps the scaling in vector registers. The comparison keeps
    // the peak when |I| is NaN.
    for (size_t i = 0; i < n; ++i) {
        const float re = iq[2 * i], im = iq[2 * i + 1];
        const float a = std::fabs(re);
        peak = peak < a ? a : peak;
        out[i] = {re * scale, im * scale};
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
