#include "modes/voice/ComplexAGC.h"

#include <algorithm>
#include <cmath>

void ComplexAGC::process(buff<std::complex<float>> in, buff<std::complex<float>> out) {
    const size_t n = std::min(in.count, out.count);
    if (n == 0) return;
    constexpr float rate = 48000.0f;
    const float A = std::exp(-1.0f / (attack * rate));
    const float D = std::exp(-1.0f / (decay * rate));

    float peak = 0.0f;
    bool finite = true;
    for (size_t i = 0; i < n; ++i) {
        const float m = std::hypot(in[i].real(), in[i].imag());
        finite = finite && std::isfinite(m);
        peak = std::max(peak, m);
    }
    if (!finite) {
        // One bad block must not leave the gain at NaN or zero for good.
        std::fill_n(out.data, n, std::complex<float>{});
        return;
    }
    const double cap = std::pow(10.0, double(maxGain) / 20.0);
    const float target = peak > 0.0f ? 1.0f / (1.2f * peak) : 200.0f;
    const float attackStep = (1.0f - A) * target;
    const float decayStep = (1.0f - D) * target;
    const int hangSamples = int(hang * rate);

    for (size_t i = 0; i < n; ++i) {
        if (gain > target) {
            gain = gain * A + attackStep;
            hangCount = hangSamples;
        } else if (hangCount > 0) {
            --hangCount;
        } else {
            gain = gain * D + decayStep;
        }
        gain = std::min(gain, cap);
        out[i] = in[i] * float(gain * level);
    }
}
