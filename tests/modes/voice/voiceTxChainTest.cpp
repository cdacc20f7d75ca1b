// The shared voice transmit chain, step by step, against reference
// computations written out here in double precision.
#include "modes/voice/delay.h"
#include "modes/voice/micEqualiser.h"
#include "modes/voice/voiceTxChain.h"

#include "framework/objectFixture.h"
#include "support/logCapture.h"
#include "support/stdoutCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <vector>

namespace {

using cplx = std::complex<float>;
using cd = std::complex<double>;
constexpr double pi = std::numbers::pi;

/// Response of taps at f Hz (48000 samples per second), in double.
cd response(const buff<cplx>& taps, double f) {
    cd sum = 0;
    for (size_t n = 0; n < taps.size(); ++n) sum += cd(taps[n]) * std::polar(1.0, -2 * pi * f * double(n) / 48000);
    return sum;
}

/// The equaliser design written out directly: prototype, its spectrum by a
/// plain DFT, the curve applied bin by bin, the inverse DFT and the window.
std::vector<cd> referenceTaps(double low, double high, const std::vector<float>& curve) {
    const int N = 2048;
    std::vector<cd> taps(N), X(N), y(N), twiddle(N);
    for (int i = 0; i < N; ++i) twiddle[size_t(i)] = std::polar(1.0, -2 * pi * i / N);
    for (int k = 0; k < N / 2; ++k) {
        const double t = k + 0.5;
        const double h = std::sin(pi * (high - low) / 48000 * t) / (pi * t);
        const double th = pi * (low + high) / 48000 * t;
        taps[size_t(N / 2 + k)] = h * std::polar(1.0, th);
        taps[size_t(N / 2 - 1 - k)] = h * std::polar(1.0, -th);
    }
    for (int u = 0; u < N; ++u) {
        cd s = 0;
        for (int n = 0; n < N; ++n) s += taps[size_t(n)] * twiddle[size_t(u * n % N)];
        const double f = double(u < N / 2 ? u : u - N) * 48000 / N;
        if (low <= f && f < high) s *= f >= 0 ? curve[size_t(u)] : curve[size_t(N - 1 - u)];
        X[size_t(u)] = s / double(N);
    }
    const double c[7] = {0.27105140069342,  -0.43329793923448, 0.21812299954311, -0.06592544638803,
                         0.01081174209837,  -0.00077658482522, 0.00001388721735};
    for (int n = 0; n < N; ++n) {
        cd s = 0;
        for (int u = 0; u < N; ++u) s += X[size_t(u)] * std::conj(twiddle[size_t(u * n % N)]);
        double w = 0;
        for (int m = 0; m < 7; ++m) w += c[m] * std::cos(2 * pi * m * (n + 0.5) / N);
        y[size_t(n)] = s * w;
    }
    return y;
}

/// A curve of 1.0 with gain g from 1000 to 1400 Hz (entries 43 .. 59).
std::vector<float> bumpCurve(float g) {
    std::vector<float> c(1024, 1.0f);
    for (int i = 43; i < 60; ++i) c[size_t(i)] = g;
    return c;
}

buff<float> toBuff(const std::vector<float>& v) {
    buff<float> b(v.size());
    for (size_t i = 0; i < v.size(); ++i) b[i] = v[i];
    return b;
}

TEST(VoiceTxEqualiser, TapsMatchTheDirectComputationForBothSidebandsAndShapeTheBand) {
    const auto curve = bumpCurve(2.0f);
    for (auto [low, high] : {std::pair{400.0, 2700.0}, std::pair{-2700.0, -400.0}}) {
        SCOPED_TRACE(low);
        buff<cplx> taps = voiceTx::equaliserTaps(low, high, toBuff(curve));
        ASSERT_EQ(taps.size(), 2048u);
        auto ref = referenceTaps(low, high, curve);
        double err = 0, peak = 0;
        for (size_t n = 0; n < 2048; ++n) {
            err = std::max(err, std::abs(cd(taps[n]) - ref[n]));
            peak = std::max(peak, std::abs(ref[n]));
        }
        EXPECT_LT(err, 1e-5 * peak);

        // The band passes at unity, the curve's bump lifts 1200 Hz (or, for
        // the lower sideband, -1200 Hz through the mirrored entries), and the
        // opposite side is stopped.
        const double s = low < 0 ? -1 : 1;
        EXPECT_NEAR(std::abs(response(taps, s * 700)), 1.0, 0.02);
        EXPECT_NEAR(std::abs(response(taps, s * 2200)), 1.0, 0.02);
        EXPECT_NEAR(std::abs(response(taps, s * 1200)), 2.0, 0.04);
        EXPECT_LT(std::abs(response(taps, -s * 1200)), 1e-3);
        EXPECT_LT(std::abs(response(taps, s * 3500)), 1e-3);
    }
}

TEST(VoiceTxEqualiser, PreEmphasisRisesSixDecibelsPerOctave) {
    buff<cplx> taps = voiceTx::equaliserTaps(300, 3000, buff<float>(1024, 1.0f), 300.0);
    const double at600 = std::abs(response(taps, 600)), at1200 = std::abs(response(taps, 1200));
    EXPECT_NEAR(at600, 2.0, 0.05);
    EXPECT_NEAR(20 * std::log10(at1200 / at600), 6.02, 0.1);
}

TEST(VoiceTxEqualiser, FollowsTheCurveVersionAndIsFlatWithoutARoot) {
    LogCapture log;
    // No root object in this process: flat, and said once.
    auto c = micEqualiser::curve();
    ASSERT_EQ(c.size(), 1024u);
    for (float g : c) ASSERT_EQ(g, 1.0f);
    micEqualiser::curve();
    EXPECT_EQ(log.count("error|microphone equaliser: no root object, the curve is flat"), 1u);

    int64_t eqVersion = -1;
    EXPECT_TRUE(micEqualiser::changedSince(eqVersion)); // the first block designs
    EXPECT_FALSE(micEqualiser::changedSince(eqVersion));

    uint32_t version = 7;
    micEqualiser::replaceSource({[&] { return version; }, [] {
                                     buff<float> g(1024, 1.0f);
                                     g[3] = std::nanf("");
                                     return g;
                                 }});
    EXPECT_TRUE(micEqualiser::changedSince(eqVersion));
    EXPECT_EQ(eqVersion, 7);
    EXPECT_FALSE(micEqualiser::changedSince(eqVersion));
    EXPECT_EQ(micEqualiser::curve()[3], 1.0f); // a gain that is no number counts as 1
    micEqualiser::replaceSource({});
    EXPECT_EQ(micEqualiser::version(), 0u);
}

TEST(VoiceTxLimiter, DelaysByThreeScalesByTheCeilingAndNeverExceedsIt) {
    delay<float> limiter;
    limiter = delay<float>(6, 512); // moved in, as the modes do
    ASSERT_EQ(limiter.window.size(), 518u);
    ASSERT_EQ(limiter.input.data, limiter.window.data + 6);
    for (auto s : limiter.window) ASSERT_EQ(s, cplx{});

    // Three blocks: a quiet tone, then one with bursts up to 1.6 (as a band
    // filter overshoots after the clipper), then quiet again.
    std::vector<cplx> x(3 * 512);
    for (size_t n = 0; n < x.size(); ++n) {
        const float a = (n >= 512 && n < 1024 && (n / 40) % 2) ? 1.6f : 0.4f;
        x[n] = a * cplx(float(std::cos(0.3 * double(n))), float(std::sin(0.3 * double(n))));
    }
    const float k = 0.94f;
    std::vector<cplx> y;
    for (int b = 0; b < 3; ++b) {
        buff<cplx> in(512), out(512);
        for (size_t i = 0; i < 512; ++i) in[i] = x[size_t(b) * 512 + i];
        voiceTx::lookAheadLimit(limiter, 6, in, out, k);
        y.insert(y.end(), out.begin(), out.end());
    }
    for (size_t n = 0; n < y.size(); ++n) {
        // Reference: the sample 3 behind, x[n - 3]; the peak over the 3
        // before it, itself and the 2 after, x[n - 6] .. x[n - 1].
        const cplx c = n >= 3 ? x[n - 3] : cplx{};
        double p = 0;
        for (int j = -6; j < 0; ++j)
            if (long(n) + j >= 0) p = std::max(p, double(std::abs(x[size_t(long(n) + j)])));
        const cplx expect = p <= 1 ? c * k : c / float(2 * p - 1) * k;
        ASSERT_NEAR(std::abs(y[n] - expect), 0.0, 1e-5) << n;
        ASSERT_LE(std::abs(y[n]), k * 1.00001f) << n;
    }

    // An output longer than the window's block gets the block's 512 only.
    buff<cplx> longOut(600, cplx{9, 9});
    voiceTx::lookAheadLimit(limiter, 6, buff<cplx>(512, cplx{}), longOut, k);
    EXPECT_EQ(longOut[511], cplx{});
    EXPECT_EQ(longOut[512], cplx(9, 9));
}

class VoiceTxShape : public ObjectTest {};

TEST_F(VoiceTxShape, CompressesMetersClipsAndTracesALongBlock) {
    auto mode = std::make_shared<modDemod>(group);
    // A unit-response equaliser and post-clip filter show the steps alone.
    buff<cplx> unit(2048, cplx{});
    unit[0] = 1;
    lowLatFir eq(unit, 512), post(buff<cplx>(unit, 0, 1536), 512);

    buff<cplx> in(512);
    for (size_t i = 0; i < 512; ++i) in[i] = cplx(0.6f, 0.0f) * float(std::sin(0.05 * double(i)));
    float peak = 0;
    for (int b = 0; b < 19; ++b) { // 9728 samples: one meter report
        voiceTx::shapeBlock(*mode, in, eq, voiceTx::compressionGain(1.0), post);
        for (auto s : post.outBlock) peak = std::max(peak, std::abs(s));
    }
    // Gain 2 lifts 0.6 to 1.2, which the clipper limits to 1.
    EXPECT_NEAR(peak, 1.0f, 1e-6);
    EXPECT_GT(mode->OpLevel.get(), 1.0f);
    for (size_t i = 0; i < 512; ++i) {
        const float v = 1.2f * float(std::sin(0.05 * double(i)));
        ASSERT_NEAR(post.outBlock[i].real(), std::clamp(v, -1.0f, 1.0f), 1e-5);
    }

    buff<cplx> before(512);
    post.outBlock.copyTo(before);
    StdoutCapture out;
    voiceTx::shapeBlock(*mode, buff<cplx>(600, cplx{0.1f, 0.1f}), eq, 2.0f, post);
    EXPECT_EQ(out.stop(), " buff copy error600 > 512");
    // The filter ran on what its input block still held: the same block.
    for (size_t i = 0; i < 512; ++i) ASSERT_NEAR(std::abs(post.outBlock[i] - before[i]), 0.0, 1e-5);
}

// The equaliser's curve as the chain reads it: a gain that is no number
// counts as 1, one past 10^6 refuses the whole curve, and the last curve
// without such a gain stays in use.
TEST(VoiceTxCurve, AGainPastWhatTheChainCarriesRefusesTheCurveAndKeepsTheLastOne) {
    LogCapture log;
    buff<float> source(1024, 1.0f);
    micEqualiser::replaceSource({[] { return 1u; }, [&] {
                                     buff<float> c(1024);
                                     source.copyTo(c);
                                     return c;
                                 }});
    source[100] = 2.0f;
    source[101] = std::nanf("");
    source[102] = -1e6f; // a level of either sign, up to the limit
    buff<float> c = micEqualiser::curve();
    EXPECT_EQ(c[100], 2.0f);
    EXPECT_EQ(c[101], 1.0f);
    EXPECT_EQ(c[102], -1e6f);

    source[100] = 3.0f;
    source[200] = 1e30f;
    source[300] = -2e30f;
    c = micEqualiser::curve();
    EXPECT_EQ(c[100], 2.0f); // the curve before
    EXPECT_EQ(c[200], 1.0f);
    EXPECT_EQ(c[300], 1.0f);
    EXPECT_EQ(log.lines(),
              std::vector<std::string>{"error|microphone equaliser gain -2e+30 at 7031.25 Hz refused, keeping the curve "
                                       "before it"});
    source[200] = source[300] = 1.0f;
    EXPECT_EQ(micEqualiser::curve()[100], 3.0f);
    micEqualiser::replaceSource({});
}

} // namespace
