#include "modes/data/jt/extractPower.h"

#include "dsp/fft/fft.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

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
    std::array<uint32_t, 256> histogram{};

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
                    ++histogram[size_t(v)];
                }
            }
        }
    }

    const double wanted = 0.3 * double(power.mag.size());
    uint64_t below = 0;
    power.noise = 255;
    for (int v = 0; v < 256; ++v) {
        below += histogram[size_t(v)];
        if (double(below) >= wanted) {
            power.noise = v;
            break;
        }
    }
}
