#include "dsp/iqbalancer/iq_balancer.h"
#include "support/logCapture.h"
#include "testSignals.h"

#include <gtest/gtest.h>

#include <thread>

using namespace testsig;

namespace {

struct Corrector {
    iq_balancer_t* s;
    Corrector(float p = 0, float a = 0) : s(iq_balancer_create(p, a)) {}
    ~Corrector() { iq_balancer_destroy(s); }
};

// A tone at f cycles per sample through an I/Q path whose Q branch has gain g
// and phase error phi, plus a little noise so that every bin has power.
struct Imbalanced {
    double f, g, phi;
    size_t n = 0;
    std::mt19937 rng{5};
    std::normal_distribution<float> noise{0.0f, 1e-3f};

    buff<cf> next(size_t count) {
        buff<cf> x(count);
        for (size_t i = 0; i < count; ++i, ++n) {
            const double t = 2 * M_PI * f * static_cast<double>(n);
            x[i] = cf(static_cast<float>(std::cos(t)) + noise(rng), static_cast<float>(g * std::sin(t + phi)) + noise(rng));
        }
        return x;
    }
};

// Image level relative to the tone, in dB, over one block.
double imageDb(const buff<cf>& y, double f) {
    return db(toneLevel(y, 0, y.count, -f) / toneLevel(y, 0, y.count, f));
}

}  // namespace

TEST(iq_balancer, ShrinksTheImageOfAnImbalancedTone) {
    // 1.05 gain and 3 degrees phase error: an image at about -30 dB.
    Corrector c;
    const double f = 1000.0 / 16384;
    Imbalanced in{f, 1.05, 3 * M_PI / 180};
    buff<cf> first = in.next(16384);
    const double before = imageDb(first, f);
    iq_balancer_process_buff(c.s, first);
    for (int block = 0; block < 600; ++block) iq_balancer_process_buff(c.s, in.next(16384));
    buff<cf> last = in.next(16384);
    iq_balancer_process_buff(c.s, last);
    const double after = imageDb(last, f);
    RecordProperty("image_before_db", std::to_string(before));
    RecordProperty("image_after_db", std::to_string(after));
    std::printf("image %.1f dB -> %.1f dB\n", before, after);
    EXPECT_GT(before, -32);
    EXPECT_LT(after, -60);
}

TEST(iq_balancer, DivergedCorrectorStartsAgainAndRecovers) {
    Corrector c;
    const double f = -1300.0 / 16384;
    Imbalanced in{f, 0.95, -2 * M_PI / 180};
    c.s->amplitude = 25;  // as if an update had run away
    c.s->raw_count = 4;
    for (float& a : c.s->raw_amplitudes) a = 25;
    iq_balancer_process_buff(c.s, in.next(4096));
    EXPECT_EQ(c.s->amplitude, 0.0f);
    EXPECT_EQ(c.s->phase, 0.0f);
    EXPECT_EQ(c.s->previous_amplitude, 0.0f);
    EXPECT_EQ(c.s->raw_count, 0);
    for (int block = 0; block < 400; ++block) iq_balancer_process_buff(c.s, in.next(16384));
    buff<cf> last = in.next(16384);
    iq_balancer_process_buff(c.s, last);
    EXPECT_LT(imageDb(last, f), -50);
}

TEST(iq_balancer, TermsRampAcrossTheBlock) {
    // First sample with the previous terms (0 here), last with the current.
    Corrector plain, ramped;
    ramped.s->phase = 0.1f;
    ramped.s->amplitude = 0.05f;
    buff<cf> x = noise(600, 3), a(600), b(600);
    a.copy(x);
    b.copy(x);
    plain.s->phase = plain.s->amplitude = 0;
    iq_balancer_process_buff(plain.s, a);  // DC removal alone
    iq_balancer_process_buff(ramped.s, b);
    EXPECT_EQ(b[0], a[0]);
    const cf u = a[599];
    const cf want((1 + 0.05f) * (u.real() + 0.1f * u.imag()), (1 - 0.05f) * (u.imag() + 0.1f * u.real()));
    EXPECT_NEAR(std::abs(b[599] - want), 0.0, 1e-6);
    EXPECT_EQ(ramped.s->previous_phase, 0.1f);
}

TEST(iq_balancer, ConstantInputDecaysToZero) {
    Corrector c;
    buff<cf> x(100000, cf(0.3f, -0.2f));
    iq_balancer_process_buff(c.s, x);
    // Ten time constants; single precision stalls the estimate a little short
    // of the input (steps below half an ulp of the estimate are lost).
    EXPECT_LT(std::abs(x[99999]), 1e-3 * std::abs(x[0]));
    EXPECT_NEAR(std::abs(x[0] - cf(0.3f, -0.2f)), 0.0, 1e-4);
}

TEST(iq_balancer, SilenceLeavesTheEstimateAlone) {
    Corrector c(0.001f, -0.002f);
    buff<cf> quiet(12288, cf(0));
    for (int i = 0; i < 80; ++i) iq_balancer_process_buff(c.s, quiet);
    EXPECT_EQ(c.s->integration_counter, 0);
    EXPECT_EQ(c.s->phase, 0.001f);
    EXPECT_EQ(c.s->amplitude, -0.002f);
}

TEST(iq_balancer, ShortBlocksPassThrough) {
    Corrector c(0.1f, 0.1f);
    airspyhf_complex_float_t one{0.5f, 0.25f};
    iq_balancer_process(c.s, &one, 1);
    iq_balancer_process(c.s, &one, 0);
    iq_balancer_process_buff(c.s, buff<cf>());
    EXPECT_EQ(one.re, 0.5f);
    EXPECT_EQ(one.im, 0.25f);
    EXPECT_EQ(c.s->dc_re, 0.0f);
    EXPECT_EQ(c.s->working_position, 0);
}

TEST(iq_balancer, OptimalPointPicksABinAndRequestsAReset) {
    Corrector c;
    const std::pair<float, int> cases[] = {{0.0f, 2048}, {0.25f, 3072}, {1.0f, 4096}, {-3.0f, 0}, {-0.1f, 1638}};
    for (auto [w, bin] : cases) {
        c.s->reset_request = 0;
        iq_balancer_set_optimal_point(c.s, w);
        EXPECT_EQ(c.s->optimal_bin, bin) << w;
        EXPECT_EQ(c.s->reset_request, 1);
    }
    // A NaN would pass the clamp and index the boost table anywhere.
    LogCapture log;
    c.s->reset_request = 0;
    iq_balancer_set_optimal_point(c.s, std::nanf(""));
    EXPECT_EQ(c.s->optimal_bin, 1638);
    EXPECT_EQ(c.s->reset_request, 0);
    EXPECT_TRUE(log.contains("error|iq_balancer_set_optimal_point: nan refused"));
}

// A block holding a sample that is not finite spoils only itself: the
// corrector goes on exactly as one that never saw the block.
TEST(iq_balancer, NonFiniteBlockSpoilsOnlyItself) {
    Corrector c, twin;
    const double f = 900.0 / 16384;
    Imbalanced in{f, 1.05, 3 * M_PI / 180};
    for (int block = 0; block < 40; ++block) {
        buff<cf> x = in.next(16384), y(x.count);
        y.copy(x);
        iq_balancer_process_buff(c.s, x);
        iq_balancer_process_buff(twin.s, y);
        if (block % 10 == 5) {
            buff<cf> bad = in.next(16384);
            bad[100] = cf(std::nanf(""), 0);
            bad[200] = cf(0, std::numeric_limits<float>::infinity());
            iq_balancer_process_buff(c.s, bad);
        }
    }
    buff<cf> x = in.next(16384), y(x.count);
    y.copy(x);
    iq_balancer_process_buff(c.s, x);
    iq_balancer_process_buff(twin.s, y);
    for (size_t i = 0; i < x.count; ++i) ASSERT_EQ(x[i], y[i]) << i;
    EXPECT_TRUE(std::isfinite(c.s->dc_re) && std::isfinite(c.s->phase) && std::isfinite(c.s->amplitude));
}

TEST(iq_balancer, FirstCreatesOnManyThreadsAgree) {
    // The shared tables are set up once; correctors made concurrently behave
    // the same.
    iq_balancer_t* made[6];
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) threads.emplace_back([&, t] { made[t] = iq_balancer_create(0, 0); });
    for (auto& t : threads) t.join();
    // The shared tables hold the 4-term Blackman-Harris window and the boost
    // weights, whichever thread filled them.
    const buff<float>& w = iq_balancer_window();
    ASSERT_EQ(w.count, 4096u);
    for (int i = 0; i < 4096; i += 31) {
        const double t = 6.28318530718 * i / 4095;
        const double want = 0.35875 - 0.48829 * std::cos(t) + 0.14128 * std::cos(2 * t) - 0.01168 * std::cos(3 * t);
        ASSERT_NEAR(w[i], want, 1e-6) << i;
        const double x = 2.0 * i / 163.0;
        ASSERT_NEAR(__boost_window[i], std::exp(-x * x) + 1e-5, 1e-7) << i;
    }
    EXPECT_NEAR(w[2047], 1.0, 1e-3);
    EXPECT_NEAR(__boost_window[0], 1.00001, 1e-6);
    Imbalanced in{0.05, 1.1, 0.05};
    buff<cf> x = in.next(12288 * 40);
    buff<cf> ref(x.count);
    for (int t = 0; t < 6; ++t) {
        buff<cf> y(x.count);
        y.copy(x);
        iq_balancer_process_buff(made[t], y);
        if (t == 0) ref.copy(y);
        for (size_t i = 0; i < y.count; i += 997) ASSERT_EQ(y[i], ref[i]);
        iq_balancer_destroy(made[t]);
    }
}
