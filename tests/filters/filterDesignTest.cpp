#include "dsp/filterDesign.h"
#include "testSignals.h"

#include <gtest/gtest.h>

using namespace testsig;
using fd = filterDesign<float>;

TEST(filterDesign, WindowIsSymmetricWithUnitCentreAndNoZeros) {
    for (int N : {1, 47, 1536}) {
        buff<float> w = fd::window(N);
        for (int i = 0; i < N; ++i) {
            ASSERT_EQ(w[i], w[N - 1 - i]) << N << " " << i;
            ASSERT_GT(w[i], 0.0f);
        }
        if (N % 2) {
            EXPECT_FLOAT_EQ(w[(N - 1) / 2], 1.0f);
        }
    }
}

TEST(filterDesign, BandpassShapes) {
    // Even N around 0 Hz: no centre tap, conjugate-symmetric and purely real.
    buff<cf> h = fd::bandpass(-3000, 3000, 48000, 1536, 1536);
    ASSERT_EQ(h.count, 1536u);
    for (int i = 0; i < 1536; ++i) {
        ASSERT_EQ(h[i], std::conj(h[1535 - i]));
        ASSERT_EQ(h[i].imag(), 0.0f);
    }
    // One tap: the band width as a fraction of the rate.
    buff<cf> one = fd::bandpass(-1000, 2000, 48000, 1, 1);
    EXPECT_EQ(one[0], cf(3000.0f / 48000.0f, 0));
    // Odd N: centre tap exactly b; M > N pads with zeros.
    buff<cf> odd = fd::bandpass(100, 2500, 48000, 101, 128);
    EXPECT_EQ(odd[50], cf(2400.0f / 48000.0f, 0));
    for (int i = 101; i < 128; ++i) ASSERT_EQ(odd[i], cf(0));
    // Equal edges: all zero.
    for (cf v : fd::bandpass(500, 500, 48000, 64, 64)) ASSERT_EQ(v, cf(0));
}

TEST(filterDesign, BandpassRealIsSymmetricLowPass) {
    buff<float> h = fd::bandpassReal(-14000, 14000, 48000, 47, 47);
    EXPECT_EQ(h[23], 28000.0f / 48000.0f);
    for (int i = 0; i < 47; ++i) ASSERT_EQ(h[i], h[46 - i]);
    EXPECT_NEAR(response(h, 47, 0.0), 1.0, 0.01);
    EXPECT_LT(response(h, 47, 20000.0 / 48000), 0.01);
    buff<float> padded = fd::bandpassReal(-1000, 1000, 48000, 31, 40);
    for (int i = 31; i < 40; ++i) ASSERT_EQ(padded[i], 0.0f);
}

TEST(filterDesign, PassBandRippleAndStopBand) {
    // The designs the receive and transmit filters use, and an asymmetric one.
    struct Band {
        float low, high;
    };
    for (Band b : {Band{-3000, 3000}, Band{-3000, 6000}, Band{300, 3000}, Band{-2900, -250}}) {
        SCOPED_TRACE(b.low);
        SCOPED_TRACE(b.high);
        const int rate = 48000, N = 1536;
        buff<cf> h = fd::bandpass(b.low, b.high, rate, N, N);
        // The 7-term window widens each edge by its main lobe, 7 bins of rate / N.
        const double guard = 8.0 * rate / N;
        double lo = 1e9, hi = 0, stop = 0;
        for (double f = -rate / 2.0; f < rate / 2.0; f += 25) {
            const double a = response(h, N, f / rate);
            if (f > b.low + guard && f < b.high - guard) {
                lo = std::min(lo, a);
                hi = std::max(hi, a);
            } else if (f < b.low - guard || f > b.high + guard) {
                stop = std::max(stop, a);
            }
        }
        EXPECT_LT(db(hi / lo), 0.01);  // ripple in dB
        EXPECT_NEAR(lo, 1.0, 0.001);
        EXPECT_LT(db(stop), -100);
    }
}

TEST(filterDesign, MinimumPhaseKeepsMagnitudeAndMovesEnergyToTheStart) {
    const int N = 1536;
    buff<cf> lin = fd::bandpass(-3000, 3000, 48000, N, N);
    buff<cf> minp = fd::bandpassMinPhase(-3000, 3000, 48000, N, N);
    ASSERT_EQ(minp.count, static_cast<size_t>(N));
    for (double f : {0.0, 0.02, 0.05, -0.04, 0.0625, 0.1, 0.3}) {
        const double a = response(lin, N, f), b = response(minp, N, f);
        EXPECT_NEAR(b, a, 2e-3 + 1e-2 * a) << f;
    }
    auto peak = [&](const buff<cf>& h) {
        size_t best = 0;
        for (size_t i = 0; i < h.count; ++i)
            if (std::abs(h[i]) > std::abs(h[best])) best = i;
        return best;
    };
    EXPECT_EQ(peak(lin), 767u);
    EXPECT_LT(peak(minp), 40u);
    // Energy concentrated at the start: half of it within the first 10 %.
    double total = 0, early = 0;
    for (int i = 0; i < N; ++i) {
        total += std::norm(minp[i]);
        if (i < N / 10) early += std::norm(minp[i]);
    }
    EXPECT_GT(early / total, 0.5);
}

TEST(filterDesign, AnalyticOfCosineIsComplexExponential) {
    const size_t n = 1024;
    buff<cf> x(n);
    for (size_t i = 0; i < n; ++i) x[i] = cf(static_cast<float>(std::cos(2 * M_PI * 37 * i / n)), 0.0f);
    buff<cf> a = fd::analytic(x);
    for (size_t i = 0; i < n; ++i) {
        const double ang = 2 * M_PI * 37 * i / n;
        ASSERT_NEAR(a[i].real(), std::cos(ang), 1e-5);
        ASSERT_NEAR(a[i].imag(), std::sin(ang), 1e-5);
    }
}
