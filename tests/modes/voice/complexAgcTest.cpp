// The gain control on FreeDV's receive IQ, against a plain computation of
// its rule, across attack, hang and decay, and with bad input.
#include "modes/voice/ComplexAGC.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <vector>

namespace {

using cplx = std::complex<float>;

/// The rule written out plainly, in double: gain falls towards the block's
/// target with time constant `attack`, holds `hang` seconds after a fall,
/// then rises with `decay`; capped at maxGain dB; the output is x * gain *
/// level.
struct Reference {
    double gain = 200.0;
    int hangCount = 0;
    std::vector<cplx> process(const std::vector<cplx>& x) {
        const double A = std::exp(-1.0 / (0.01 * 48000)), D = std::exp(-1.0 / (0.2 * 48000));
        double peak = 0;
        for (auto s : x) peak = std::max(peak, double(std::abs(s)));
        const double target = peak > 0 ? 1.0 / (1.2 * peak) : 200.0;
        std::vector<cplx> y;
        for (auto s : x) {
            if (gain > target) {
                gain = gain * A + (1 - A) * target;
                hangCount = 2 * 48000;
            } else if (hangCount > 0) {
                --hangCount;
            } else {
                gain = gain * D + (1 - D) * target;
            }
            gain = std::min(gain, 10000.0);
            y.push_back(s * float(gain * 20000.0));
        }
        return y;
    }
};

std::vector<cplx> tone(size_t n, float amplitude, size_t& at) {
    std::vector<cplx> x;
    for (size_t i = 0; i < n; ++i, ++at) x.push_back(std::polar(amplitude, float(0.07 * double(at))));
    return x;
}

TEST(ComplexAGC, FollowsAttackHangAndDecayAsThePlainRuleDoes) {
    ComplexAGC agc;
    Reference ref;
    size_t at = 0;
    // Loud, then quiet for longer than the hang, so the gain rises again.
    std::vector<std::pair<int, float>> plan = {{40, 0.5f}, {250, 0.01f}, {20, 0.0f}};
    for (auto [blocks, amplitude] : plan)
        for (int b = 0; b < blocks; ++b) {
            auto x = tone(512, amplitude, at);
            buff<cplx> in(512), out(512);
            std::copy(x.begin(), x.end(), in.begin());
            agc.process(in, out);
            auto y = ref.process(x);
            for (size_t i = 0; i < 512; ++i)
                ASSERT_NEAR(std::abs(out[i] - y[i]), 0.0, 1e-3 * (1.0 + std::abs(y[i])))
                    << "block " << b << " sample " << i << " amplitude " << amplitude;
        }
    // After the hang the gain rose past the quiet tone's target (83.3) and
    // heads for silence's 200.
    EXPECT_NEAR(agc.gain, ref.gain, 1e-3 * ref.gain);
    EXPECT_GT(agc.gain, 84.0);
    EXPECT_LT(agc.gain, 200.0);
    EXPECT_EQ(agc.hangCount, 0);
}

TEST(ComplexAGC, ABadBlockIsSilencedAndLeavesTheGainAsItWas) {
    ComplexAGC agc;
    buff<cplx> in(512, cplx{0.1f, 0.0f}), out(512);
    agc.process(in, out);
    const double gain = agc.gain;
    in[100] = {std::numeric_limits<float>::quiet_NaN(), 0.0f};
    agc.process(in, out);
    EXPECT_EQ(agc.gain, gain);
    for (auto s : out) EXPECT_EQ(s, cplx{});
    in[100] = {std::numeric_limits<float>::infinity(), 0.0f};
    agc.process(in, out);
    EXPECT_EQ(agc.gain, gain);
    agc.process(buff<cplx>(), buff<cplx>()); // empty: nothing changes
    EXPECT_EQ(agc.gain, gain);
}

} // namespace
