#include "audio/eqCurve.h"

#include <cmath>

buff<float> sampleEqCurve(const std::vector<eqPoint>& points, int n) {
    if (n <= 0) return {};
    if (points.size() < 2) return buff<float>(size_t(n), points.empty() ? 1.0f : points[0].gain);

    buff<float> out{size_t(n)};
    const double step = 24000.0 / n;
    const size_t last = points.size() - 1;
    float lowHz = 0, lowGain = points[0].gain;
    float upHz = points[1].hz, upGain = points[1].gain;
    size_t k = 1;
    for (int i = 0; i < n; ++i) {
        const double f = step * i;
        while (f > upHz && k < last) {
            lowHz = upHz;
            lowGain = upGain;
            ++k;
            upHz = points[k].hz;
            upGain = points[k].gain;
        }
        const float width = upHz - lowHz, rise = upGain - lowGain;
        float v = upGain;
        if (width != 0) {
            v = float(double(lowGain) + (f - double(lowHz)) / double(width) * double(rise));
            if (!std::isfinite(v)) v = upGain;
        }
        out[size_t(i)] = v;
    }
    return out;
}
