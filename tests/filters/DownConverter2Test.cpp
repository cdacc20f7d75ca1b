#include "dsp/DownConverter2.h"
#include "testSignals.h"

#include <gtest/gtest.h>


using namespace testsig;

namespace {

// Full tap set of a half-band stage: centre 0.5, h_k at offsets ±(2k+1).
template <int K>
std::vector<double> fullTaps(const float (&h)[K]) {
    const int N = 2 * K - 1;
    std::vector<double> taps(2 * N + 1, 0.0);
    taps[N] = 0.5;
    for (int k = 0; k < K; ++k) taps[N - (2 * k + 1)] = taps[N + (2 * k + 1)] = h[k];
    return taps;
}

// Double-precision model of the converter: ideal oscillator, then each stage
// as a plain FIR with zero history followed by keeping every second output.
struct Reference {
    double phase = 0;
    std::vector<std::vector<double>> stages;  // first stage first
    std::vector<std::vector<cd>> histories;   // whole input seen by each stage

    explicit Reference(int decimation) {
        using namespace downconv_detail;
        std::vector<std::vector<double>> lastFirst;
        if (decimation >= 2) lastFirst.push_back(fullTaps(level1));
        if (decimation >= 4) lastFirst.push_back(fullTaps(level2));
        for (int d = 8; d <= decimation; d *= 2) lastFirst.push_back(fullTaps(level3));
        stages.assign(lastFirst.rbegin(), lastFirst.rend());
        histories.resize(stages.size());
    }

    std::vector<cd> run(double step, const buff<cf>& in) {
        std::vector<cd> x(in.count);
        for (size_t i = 0; i < in.count; ++i) {
            x[i] = cd(in[i]) * std::polar(1.0, phase);
            phase += step;
        }
        for (size_t s = 0; s < stages.size(); ++s) {
            auto& h = histories[s];
            const size_t before = h.size();
            h.insert(h.end(), x.begin(), x.end());
            std::vector<cd> y;
            for (size_t n = before; n < h.size(); n += 2) {  // output m ends at input 2m
                cd acc = 0;
                for (size_t j = 0; j < stages[s].size(); ++j)
                    if (n >= j) acc += stages[s][j] * h[n - j];
                y.push_back(acc);
            }
            x = y;
        }
        return x;
    }
};

std::vector<cf> runBlocks(DownConverter2<float>& dc, double step, int decimation, const buff<cf>& in,
                          const std::vector<size_t>& cuts) {
    std::vector<cf> out;
    size_t pos = 0;
    size_t c = 0;
    while (pos < in.count) {
        const size_t n = std::min(cuts[c++ % cuts.size()], in.count - pos);
        buff<cf> block(in, pos, n), o(n / decimation);
        const int got = dc.tuneDecimate(step, decimation, block, o);
        EXPECT_EQ(got, static_cast<int>(n / decimation));
        out.insert(out.end(), o.begin(), o.begin() + got);
        pos += n;
    }
    return out;
}

}  // namespace

TEST(DownConverter2, MatchesDoublePrecisionMixerAndCascade) {
    const double step = 2 * M_PI * 0.0137;
    for (int decimation : {1, 2, 4, 8, 16, 32}) {
        SCOPED_TRACE(decimation);
        buff<cf> in = noise(32 * 1024, 7);
        DownConverter2<float> dc;
        Reference ref(decimation);
        std::vector<cf> got = runBlocks(dc, step, decimation, in, {4096});
        std::vector<cd> want = ref.run(step, in);
        ASSERT_EQ(got.size(), want.size());
        double err = 0, power = 0;
        for (size_t i = 0; i < got.size(); ++i) {
            err = std::max(err, std::abs(cd(got[i]) - want[i]));
            power += std::norm(want[i]);
        }
        const double rms = std::sqrt(power / static_cast<double>(want.size()));
        EXPECT_LT(err / rms, 2e-4);
    }
}

TEST(DownConverter2, ToneAtTuningOffsetLandsAtZeroHz) {
    // A tone at -step radians per sample; the rest of the band is a strong
    // out-of-band tone the cascade must remove.
    const double f = 0.05;
    buff<cf> in = tone(65536, -f);
    buff<cf> far = tone(65536, 0.3, 1.0);
    for (size_t i = 0; i < in.count; ++i) in[i] += far[i];
    DownConverter2<float> dc;
    buff<cf> out(in.count / 8);
    ASSERT_EQ(dc.tuneDecimate(2 * M_PI * f, 8, in, out), static_cast<int>(out.count));
    const size_t settle = 64, n = 4096;
    EXPECT_NEAR(toneLevel(out, settle, n, 0.0), 1.0, 1e-3);
    // The far tone lies in the stop band of the cascade.
    double worst = 0;
    for (size_t i = settle; i < settle + n; ++i) worst = std::max(worst, double(std::abs(out[i] - out[settle])));
    EXPECT_LT(db(worst), -60);
}

TEST(DownConverter2, OutputDoesNotDependOnBlockCuts) {
    const double step = 2 * M_PI * -0.21;
    buff<cf> in = noise(40960, 3);
    for (int decimation : {1, 2, 4, 32}) {
        SCOPED_TRACE(decimation);
        DownConverter2<float> whole, cut;
        std::vector<cf> a = runBlocks(whole, step, decimation, in, {in.count});
        std::vector<size_t> cuts = {32, 1024, 96, 4096, 2048 + 64, 160, 8192};
        if (decimation == 1) cuts = {7, 1021, 3, 4096, 513};
        // Blocks that leave a group of four samples to the mixer and a pair
        // or a single output to the stages, after the vector steps.
        if (decimation == 2 || decimation == 4) cuts = {12, 1024, 44, 4096, 100, 160, 8192};
        std::vector<cf> b = runBlocks(cut, step, decimation, in, cuts);
        ASSERT_EQ(a.size(), b.size());
        double err = 0;
        for (size_t i = 0; i < a.size(); ++i) err = std::max(err, double(std::abs(a[i] - b[i])));
        EXPECT_LT(err, 1e-3);  // the oscillator is re-anchored at other places
    }
}

TEST(DownConverter2, DcPassesEveryFactorAtUnitGain) {
    for (int decimation : {1, 2, 4, 8, 16, 32, 64}) {
        SCOPED_TRACE(decimation);
        DownConverter2<float> dc;
        buff<cf> in(4096, cf(0.5f, -0.25f)), out(4096 / decimation);
        for (int i = 0; i < 3; ++i) dc.tuneDecimate(0.0, decimation, in, out);
        EXPECT_NEAR(std::abs(out[out.count - 1] - cf(0.5f, -0.25f)), 0.0, 1e-5);
    }
}

TEST(DownConverter2, FactorOneWithZeroStepCopiesExactly) {
    DownConverter2<float> dc;
    buff<cf> in = noise(1000, 1), out(1000);
    EXPECT_EQ(dc.tuneDecimate(0.0, 1, in, out), 1000);
    for (size_t i = 0; i < in.count; ++i) ASSERT_EQ(in[i], out[i]);
    // A shorter output is left alone (with the copy trace) and nothing is reported written.
    buff<cf> shortOut(10, cf(9, 9));
    EXPECT_EQ(dc.tuneDecimate(0.0, 1, in, shortOut), 0);
    EXPECT_EQ(shortOut[0], cf(9, 9));
}

TEST(DownConverter2, UnsupportedFactorsWriteAndReportNothing) {
    for (int decimation : {3, 5, 6, 7, 0, -2}) {
        SCOPED_TRACE(decimation);
        DownConverter2<float> dc;
        buff<cf> in = noise(840, 2), out(840, cf(7, 7));
        EXPECT_EQ(dc.tuneDecimate(0.1, decimation, in, out), 0);
        for (size_t i = 0; i < out.count; ++i) ASSERT_EQ(out[i], cf(7, 7));
    }
}

TEST(DownConverter2, LastStageStopsAtItsInputWhenOutputIsLonger) {
    // An output longer than in.count / factor: only the outputs the input
    // feeds are written (ASan would see a read past the stage buffers).
    DownConverter2<float> dc;
    buff<cf> in = noise(512, 4), out(512, cf(7, 7));
    EXPECT_EQ(dc.tuneDecimate(0.1, 4, in, out), 128);
    EXPECT_NE(out[127], cf(7, 7));
    EXPECT_EQ(out[128], cf(7, 7));
}

TEST(DownConverter2, NonPowerOfTwoRunsTheCascadeBelowIt) {
    // 12 runs the stages of 8 and writes in.count / 12 outputs of it.
    DownConverter2<float> a, b;
    buff<cf> in = noise(2400, 5), out12(200), out8(300);
    EXPECT_EQ(a.tuneDecimate(0.2, 12, in, out12), 200);
    b.tuneDecimate(0.2, 8, in, out8);
    for (size_t i = 0; i < out12.count; ++i) ASSERT_EQ(out12[i], out8[i]);
}

TEST(DownConverter2, FactorChangeKeepsOscillatorAndClearsHistories) {
    DownConverter2<float> dc;
    buff<cf> in = noise(1024, 6), out(256);
    dc.tuneDecimate(0.3, 4, in, out);
    EXPECT_EQ(dc.evenLines.size(), 2u);
    const cf osc = dc.osc;
    buff<cf> none(0), noOut(0);
    EXPECT_EQ(dc.tuneDecimate(0.3, 8, none, noOut), 0);  // empty block: nothing moves
    EXPECT_EQ(dc.osc, osc);
    EXPECT_EQ(dc.evenLines.size(), 3u);
    for (auto& line : dc.evenLines)
        for (cf v : line) ASSERT_EQ(v, cf(0));
    // Phase runs on: after 1024 more samples the oscillator sits at 2048 steps.
    dc.tuneDecimate(0.3, 4, in, out);
    EXPECT_NEAR(std::arg(dc.osc), std::remainder(2048 * 0.3, 2 * M_PI), 1e-3);
}

// A step or a sample that is not finite spoils at most its own block: the
// oscillator and the stage histories do not keep it.
TEST(DownConverter2, NonFiniteStepOrSampleSpoilsOnlyItsBlock) {
    const double f = 0.05, step = 2 * M_PI * f;
    for (int decimation : {1, 8}) {
        SCOPED_TRACE(decimation);
        buff<cf> in = tone(4096 * 6, -f);
        DownConverter2<float> dc, ref;
        std::vector<buff<cf>> got, want;
        for (int b = 0; b < 6; ++b) {
            buff<cf> block(in, size_t(b) * 4096, 4096), o(4096 / decimation), r(4096 / decimation);
            if (b == 2) {
                // A step that is not a number: a silent block, nothing kept.
                EXPECT_EQ(dc.tuneDecimate(std::nan(""), decimation, block, o), int(o.count));
                for (cf v : o) ASSERT_EQ(v, cf(0));
                continue; // the reference never sees this block
            }
            dc.tuneDecimate(step, decimation, block, o);
            ref.tuneDecimate(step, decimation, block, r);
            got.push_back(o);
            want.push_back(r);
        }
        for (size_t b = 0; b < got.size(); ++b)
            for (size_t i = 0; i < got[b].count; ++i) ASSERT_EQ(got[b][i], want[b][i]) << b << " " << i;

        // A NaN sample in the last places of a block reaches the histories.
        buff<cf> bad(4096, cf(0));
        bad.copy(buff<cf>(in, 0, 4096));
        bad[4095] = cf(std::nanf(""), 0);
        buff<cf> o(4096 / decimation);
        dc.tuneDecimate(step, decimation, bad, o);
        dc.tuneDecimate(step, decimation, buff<cf>(in, 4096, 4096), o);
        for (cf v : o) ASSERT_TRUE(std::isfinite(v.real()) && std::isfinite(v.imag()));

        // An oscillator that lost its value starts again with unit magnitude.
        dc.osc = cf(std::nanf(""), 0);
        dc.tuneDecimate(step, decimation, buff<cf>(in, 8192, 4096), o);
        dc.tuneDecimate(step, decimation, buff<cf>(in, 12288, 4096), o);
        EXPECT_NEAR(std::abs(dc.osc), 1.0, 1e-5);
        EXPECT_NEAR(toneLevel(o, o.count / 2, o.count / 2, 0.0), 1.0, 1e-3);
    }
}
