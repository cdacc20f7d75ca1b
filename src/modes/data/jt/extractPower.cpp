#include "modes/data/jt/extractPower.h"

#include "dsp/fft/fft.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr double noiseFraction = 0.3;
/// Half-dB steps below the loudest tenth of the bins from which on a bin
/// holds no signal: a receive filter's stop band, or the silence past the
/// band of a recording.
constexpr int bandDepth = 20;

/// The value below which lie `fraction` of the values (reordered).
uint8_t percentile(std::vector<uint8_t>& values, double fraction) {
    const auto at = values.begin() + long(fraction * double(values.size() - 1));
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

/// The noise fraction of the cells of the bins a signal can be in, each bin
/// judged by its own noise fraction over the period. Over every bin, a
/// receive filter's empty stop band would hold most of the low cells.
int noiseWhereSignalsCanBe(const ft8::MagArray& power) {
    const size_t perBin = size_t(power.blocks) * 4;
    if (power.bins <= 0 || perBin == 0) return 0;
    std::vector<uint8_t> column(perBin);
    auto gather = [&](int j, uint8_t* to) {
        for (int b = 0; b < power.blocks; ++b)
            for (int t = 0; t < 2; ++t)
                for (int f = 0; f < 2; ++f) *to++ = power.row(b, t, f)[j];
    };
    std::vector<uint8_t> level(static_cast<size_t>(power.bins));
    for (int j = 0; j < power.bins; ++j) {
        gather(j, column.data());
        level[size_t(j)] = percentile(column, noiseFraction);
    }
    std::vector<uint8_t> levels = level;
    const int lowest = int(percentile(levels, 0.9)) - bandDepth;
    std::vector<uint8_t> cells;
    for (int j = 0; j < power.bins; ++j) {
        if (int(level[size_t(j)]) < lowest) continue;
        cells.resize(cells.size() + perBin);
        gather(j, cells.data() + cells.size() - perBin);
    }
    return percentile(cells, noiseFraction);
}

} // namespace

void extract_power(const int16_t* samples, ft8::MagArray& power) {
    const int bins = power.bins;
    const int B = 2 * bins; // block
    const int n = 2 * B;    // frame and transform length
    power.mag.assign(size_t(power.blocks) * 4 * size_t(bins), 0);

    std::vector<float> window(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const double s = std::sin(std::numbers::pi * i / (n - 1));
        window[size_t(i)] = float(s * s / 32000.0);
    }
    const float norm = float((2.0 / n) * (2.0 / n));

    buff<float> frame(static_cast<size_t>(n));
    buff<std::complex<float>> spectrum(static_cast<size_t>(n));

    for (int b = 0; b < power.blocks; ++b) {
        for (int t = 0; t < 2; ++t) {
            const int16_t* x = samples + size_t(b) * size_t(B) + size_t(t * (B / 2));
            for (int i = 0; i < n; ++i) frame[size_t(i)] = window[size_t(i)] * float(x[i]);
            // Real-input transform: value 0 holds DC (real) and Nyquist
            // (imaginary); the bins used stop below Nyquist.
            fft::fwd(frame, spectrum);
            for (int f = 0; f < 2; ++f) {
                uint8_t* cell = power.mag.data() + ((size_t(b) * 2 + size_t(t)) * 2 + size_t(f)) * size_t(bins);
                for (int j = 0; j < bins; ++j) {
                    const int k = f + 2 * j;
                    const float re = spectrum[size_t(k)].real();
                    const float mag2 = k == 0 ? re * re : std::norm(spectrum[size_t(k)]);
                    const float db = 10.0f * std::log10(norm * mag2 + 1e-10f);
                    const int v = std::clamp(int((db + 120.0f) * 2.0f), 0, 255);
                    cell[j] = uint8_t(v);
                }
            }
        }
    }

    power.noise = noiseWhereSignalsCanBe(power);
}
