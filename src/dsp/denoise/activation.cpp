#include "dsp/denoise/activation.h"

#include "dsp/denoise/RNNModel.h"

#include <array>
#include <cmath>

namespace denoise {
namespace {

constexpr int kTanhTableSize = 201;

} // namespace

const float* tanhTable() {
    // A function-local static is initialised once, thread-safely.
    static const std::array<float, kTanhTableSize> table = [] {
        std::array<float, kTanhTableSize> t{};
        for (int i = 0; i < kTanhTableSize; ++i) t[i] = static_cast<float>(std::tanh(0.04 * i));
        return t;
    }();
    return table.data();
}

float tanhApprox(float x) {
    if (std::isnan(x)) return 0.f;
    if (x >= 8.f) return 1.f;
    if (x <= -8.f) return -1.f;
    float sign = 1.f;
    if (x < 0.f) {
        x = -x;
        sign = -1.f;
    }
    // x is not negative here, so the conversion's truncation is the floor.
    const int i = static_cast<int>(0.5f + 25.f * x);
    const float d = x - 0.04f * i;
    const float y = tanhTable()[i];
    return sign * (y + d * (1.f - y * y) * (1.f - y * d));
}

float sigmoidApprox(float x) { return 0.5f + 0.5f * tanhApprox(0.5f * x); }

float activate(int activation, float x) {
    switch (activation) {
    case ACTIVATION_TANH: return tanhApprox(x);
    case ACTIVATION_SIGMOID: return sigmoidApprox(x);
    case ACTIVATION_RELU: return relu(x);
    default: return x;
    }
}

} // namespace denoise
