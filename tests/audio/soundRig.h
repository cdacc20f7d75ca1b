#pragma once
// The sound side on the simulated card: the root object lists the fake
// devices, streams attach to them, and the test moves simulated time.
#include "audio/Wireless.h"
#include "framework/objectFixture.h"
#include "support/fakeAudio.h"

#include <gtest/gtest.h>
#include <kissfft/kissfft.hh>

#include <cmath>
#include <complex>
#include <memory>
#include <numbers>
#include <vector>

class SoundRig : public ObjectTest {
protected:
    FakeAudio& card = FakeAudio::install();
    std::shared_ptr<Wireless> root = std::make_shared<Wireless>(group);

    ~SoundRig() override {
        card.stopPacing();
        card.closeAll();
    }

    static constexpr double blockNs = 512 * 1e9 / 48000;

    /// A block of n samples of a sine at hz, continuing from sample *at.
    static buff<float> sine(double hz, int64_t& at, size_t n = 512, float level = 0.5f) {
        buff<float> b(n);
        for (size_t i = 0; i < n; ++i, ++at) b[i] = level * float(std::sin(2 * std::numbers::pi * hz * double(at) / 48000));
        return b;
    }
};

/// Noise and distortion against the strongest tone, in dB: 65536 samples
/// under a 4-term Blackman-Harris window (side lobes below -92 dB), the tone
/// being its peak bin ± 8.
inline double thdPlusNoiseDb(const std::vector<float>& x) {
    const size_t n = 65536;
    if (x.size() < n) return 0;
    std::vector<std::complex<double>> in(n), out(n);
    for (size_t i = 0; i < n; ++i) {
        const double p = 2 * std::numbers::pi * double(i) / double(n);
        const double w = 0.35875 - 0.48829 * std::cos(p) + 0.14128 * std::cos(2 * p) - 0.01168 * std::cos(3 * p);
        in[i] = w * double(x[x.size() - n + i]);
    }
    kissfft<double>(n, false).transform(in.data(), out.data());
    size_t peak = 4;
    for (size_t k = 4; k < n / 2; ++k)
        if (std::norm(out[k]) > std::norm(out[peak])) peak = k;
    double tone = 0, rest = 0;
    for (size_t k = 4; k < n / 2; ++k) (k + 8 >= peak && k <= peak + 8 ? tone : rest) += std::norm(out[k]);
    return 10 * std::log10(rest / tone);
}
