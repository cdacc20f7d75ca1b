#pragma once
// Test signals and double-precision references shared by the filter tests.
#include "dsp/buff.h"

#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace testsig {

using cd = std::complex<double>;
using cf = std::complex<float>;

inline buff<cf> noise(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> g(0.0f, 1.0f);
    buff<cf> x(n);
    for (size_t i = 0; i < n; ++i) x[i] = cf(g(rng), g(rng));
    return x;
}

inline buff<cf> tone(size_t n, double cyclesPerSample, double amplitude = 1.0, double phase = 0.0) {
    buff<cf> x(n);
    for (size_t i = 0; i < n; ++i) {
        const double a = 2 * M_PI * cyclesPerSample * static_cast<double>(i) + phase;
        x[i] = cf(static_cast<float>(amplitude * std::cos(a)), static_cast<float>(amplitude * std::sin(a)));
    }
    return x;
}

/// |Σ h[n] e^{-j 2π f n}| at f cycles per sample, in double.
template <class Seq>
double response(const Seq& h, size_t n, double f) {
    cd acc = 0;
    for (size_t i = 0; i < n; ++i) acc += cd(h[i]) * std::polar(1.0, -2 * M_PI * f * static_cast<double>(i));
    return std::abs(acc);
}

/// Amplitude of the component at f cycles per sample over x[from .. from+n).
template <class Seq>
double toneLevel(const Seq& x, size_t from, size_t n, double f) {
    cd acc = 0;
    for (size_t i = 0; i < n; ++i)
        acc += cd(x[from + i]) * std::polar(1.0, -2 * M_PI * f * static_cast<double>(i));
    return std::abs(acc) / static_cast<double>(n);
}

inline double db(double ratio) { return 20 * std::log10(ratio); }

}  // namespace testsig
