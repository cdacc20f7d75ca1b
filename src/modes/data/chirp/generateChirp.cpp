#include "modes/data/chirp/generateChirp.h"

#include <cmath>
#include <numbers>

namespace {

constexpr double twoPi = 2.0 * std::numbers::pi;
constexpr double amplitude = 0.97;

/// Integrates the instantaneous frequency f(i) into the block's phase.
template <class Frequency>
buff<std::complex<float>> sweep(buff<std::complex<float>> block, double rate, Frequency f) {
    double phase = 0.0;
    const double n = double(block.count);
    for (size_t i = 0; i < block.count; ++i) {
        phase += twoPi * f(double(i) / n) / rate;
        if (phase > twoPi) phase -= twoPi;
        block[i] = std::complex<float>(float(amplitude * std::cos(phase)), float(amplitude * std::sin(phase)));
    }
    return block;
}

} // namespace

buff<std::complex<float>> generateChirp(buff<std::complex<float>> block, double rate, double f0, double f1) {
    return sweep(block, rate, [=](double x) { return (f1 - f0) * x + f0; });
}

buff<std::complex<float>> generateChirp(size_t n, double rate, double f0, double f1) {
    return generateChirp(buff<std::complex<float>>(n), rate, f0, f1);
}

buff<std::complex<float>> generateHyperbolicChirp(buff<std::complex<float>> block, double rate, double f0, double f1) {
    return sweep(block, rate, [=](double x) { return rate / (rate / f0 + (rate / f1 - rate / f0) * x); });
}

buff<std::complex<float>> generateHyperbolicChirp(size_t n, double rate, double f0, double f1) {
    return generateHyperbolicChirp(buff<std::complex<float>>(n), rate, f0, f1);
}
