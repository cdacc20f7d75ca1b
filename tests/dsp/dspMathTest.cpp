// The vector kernels against their plain versions (lengths around the
// four-lane body, unaligned views), and the edge cases callers rely on.
#include "dsp/dspMath.h"
#include "dsp/dspMathScalar.h"
#include "support/logCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

using cf = std::complex<float>;

// Around both vector widths (four and eight lanes) and their tails.
const std::vector<size_t> lengths = {0, 1, 3, 4, 5, 7, 8, 9, 13, 15, 16, 17, 64, 1023};

buff<cf> randomComplex(size_t n, std::mt19937& rng) {
    // One extra sample in front so the view starts off the pool's alignment.
    std::uniform_real_distribution<float> u(-2.f, 2.f);
    buff<cf> whole(n + 1);
    for (auto& x : whole) x = cf(u(rng), u(rng));
    return buff<cf>(whole, 1, n);
}

buff<float> randomFloat(size_t n, std::mt19937& rng, float lo = -2.f, float hi = 2.f) {
    std::uniform_real_distribution<float> u(lo, hi);
    buff<float> whole(n + 1);
    for (auto& x : whole) x = u(rng);
    return buff<float>(whole, 1, n);
}

// The fast complex products may differ from the reference in the last bits.
void expectClose(const buff<cf>& got, const buff<cf>& want, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        float tol = 1e-6f * (1 + std::abs(want[i]));
        EXPECT_NEAR(got[i].real(), want[i].real(), tol) << "index " << i;
        EXPECT_NEAR(got[i].imag(), want[i].imag(), tol) << "index " << i;
    }
}

void expectClose(const buff<float>& got, const buff<float>& want, size_t n, float rel = 1e-6f) {
    for (size_t i = 0; i < n; ++i) EXPECT_NEAR(got[i], want[i], rel * (1 + std::abs(want[i]))) << "index " << i;
}

TEST(dspMath, complexProductsMatchReference) {
    std::mt19937 rng(1);
    for (size_t n : lengths) {
        SCOPED_TRACE(n);
        auto a = randomComplex(n, rng), b = randomComplex(n, rng);
        auto w = randomFloat(n, rng);

        expectClose(dspMath::mul(a, b, buff<cf>(n)), dspMathScalar::mul(a, b, buff<cf>(n)), n);

        auto acc = randomComplex(n, rng);
        buff<cf> accRef(n);
        accRef.copy(acc);
        dspMath::mac(a, b, acc);
        dspMathScalar::mac(a, b, accRef);
        expectClose(acc, accRef, n);

        expectClose(dspMath::mul(a, 0.3f, buff<cf>(n)), dspMathScalar::mul(a, 0.3f, buff<cf>(n)), n);
        expectClose(dspMath::mul(a, w, buff<cf>(n)), dspMathScalar::mul(a, w, buff<cf>(n)), n);
        expectClose(dspMath::mul(a, w), dspMathScalar::mul(a, w, buff<cf>(n)), n);
        expectClose(dspMath::scalarMul(a, b), dspMathScalar::scalarMul(a, b, buff<cf>(n)), n);
    }
}

TEST(dspMath, floatKernelsMatchReference) {
    std::mt19937 rng(2);
    for (size_t n : lengths) {
        SCOPED_TRACE(n);
        auto a = randomFloat(n, rng), b = randomFloat(n, rng);
        expectClose(dspMath::mul(a, b), dspMathScalar::mul(a, b, buff<float>(n)), n);
        expectClose(dspMath::mul(a, 1.7f), dspMathScalar::mul(a, 1.7f, buff<float>(n)), n);
        expectClose(dspMath::add(a, b, buff<float>(n)), dspMathScalar::add(a, b, buff<float>(n)), n);

        auto positive = randomFloat(n, rng, 1e-30f, 1e6f);
        expectClose(dspMath::Log10(positive, buff<float>(n)), dspMathScalar::Log10(positive, buff<float>(n)), n);

        auto c = randomComplex(n, rng);
        expectClose(dspMath::Log10MagnitudeSquared(c), dspMathScalar::Log10MagnitudeSquared(c, buff<float>(n)), n);
        expectClose(dspMath::spectrum(c, 2.5e-7f), dspMathScalar::spectrum(c, 2.5e-7f, buff<float>(n)), n);
        // Powers from 0 through the size of the floor (1e-37) to both sides of
        // where it stops showing (1e-29).
        buff<cf> tiny(n);
        for (size_t i = 0; i < n; ++i) tiny[i] = i == 0 ? cf(0) : c[i] * (i % 2 ? 1e-15f : 1e-11f);
        auto got = dspMath::spectrum(tiny, 2.5e-7f), want = dspMathScalar::spectrum(tiny, 2.5e-7f, buff<float>(n));
        for (size_t i = 0; i < n; ++i) EXPECT_NEAR(got[i], want[i], 1e-6f * want[i]) << "index " << i;
    }
}

TEST(dspMath, emptyInputLeavesOutputsAlone) {
    buff<cf> empty;
    buff<cf> out(4, cf(7, 7));
    dspMath::mul(empty, out, out);
    dspMath::mac(empty, out, out);
    dspMath::clip(empty, out);
    EXPECT_EQ(dspMath::MaxMagClip(empty, out), 0.f);
    EXPECT_EQ(dspMath::maxAbs(empty), 0.f);
    EXPECT_EQ(dspMath::peakPower(empty), 0.f);
    for (auto x : out) EXPECT_EQ(x, cf(7, 7));
}

TEST(dspMath, clipAndPeaks) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    buff<cf> a(5);
    a[0] = cf(1, 0);   // exactly on the unit circle: kept
    a[1] = cf(2, 0);   // scaled to 1
    a[2] = cf(nan, 0); // copied, ignored by the maxima
    a[3] = cf(0, -3);
    a[4] = cf(0.5f, 0.5f);
    buff<cf> out(5);
    EXPECT_FLOAT_EQ(dspMath::MaxMagClip(a, out), 3.f);
    EXPECT_EQ(out[0], cf(1, 0));
    EXPECT_EQ(out[1], cf(1, 0));
    EXPECT_TRUE(std::isnan(out[2].real()));
    EXPECT_FLOAT_EQ(out[3].imag(), -1.f);
    EXPECT_EQ(out[4], cf(0.5f, 0.5f));
    EXPECT_FLOAT_EQ(dspMath::maxAbs(a), 3.f);
    EXPECT_FLOAT_EQ(dspMath::peakPower(a), 9.f);
    buff<cf> clipped(5);
    dspMath::clip(a, clipped);
    EXPECT_EQ(clipped[1], cf(1, 0));
}

TEST(dspMath, logarithmsAtTheEdges) {
    // Special values both in the four-lane body (0..3) and in the tail (4..6).
    const float inf = std::numeric_limits<float>::infinity();
    buff<float> a(7);
    float values[7] = {0.f, -1.f, inf, 100.f, 0.f, -1.f, inf};
    for (int i = 0; i < 7; ++i) a[i] = values[i];
    buff<float> out = dspMath::Log10(a, buff<float>(7));
    for (int i : {0, 4}) EXPECT_EQ(out[i], -inf) << i;
    for (int i : {1, 5}) EXPECT_TRUE(std::isnan(out[i])) << i;
    for (int i : {2, 6}) EXPECT_EQ(out[i], inf) << i;
    EXPECT_FLOAT_EQ(out[3], 2.f);

    buff<cf> zero(5, cf(0, 0));
    for (float v : dspMath::Log10MagnitudeSquared(zero)) EXPECT_NEAR(v, -37.f, 1e-5f);
    for (float v : dspMath::spectrum(zero, 1.f)) EXPECT_EQ(v, 1e-37f);
}

TEST(dspMath, orderAndLaneOperations) {
    buff<cf> a(4);
    for (int i = 0; i < 4; ++i) a[i] = cf(float(i + 1), 0);
    buff<cf> three(a, 0, 3);
    auto r = dspMath::reverse(three);
    EXPECT_EQ(r[0], cf(3, 0));
    EXPECT_EQ(r[1], cf(2, 0));
    EXPECT_EQ(r[2], cf(1, 0));

    auto rot = dspMath::rotate(a, 1);
    float want[4] = {4, 1, 2, 3};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(rot[i].real(), want[i]);
    for (unsigned long k : {0ul, 4ul}) {
        auto same = dspMath::rotate(a, k);
        EXPECT_NE(same.data, a.data);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(same[i], a[i]);
    }

    buff<cf> x(1, cf(1, 2)), y(1, cf(3, 4));
    EXPECT_EQ(dspMath::scalarMul(x, y)[0], cf(3, 8));
    EXPECT_EQ(dspMath::conjugate(x)[0], cf(1, -2));
    EXPECT_EQ(dspMath::mul(x, cf(3, 4))[0], cf(-5, 10));
    EXPECT_EQ(dspMath::add(x, y)[0], cf(4, 6));

    buff<float> table(3);
    table[0] = 0.5f, table[1] = 2.f, table[2] = -1.f;
    auto dup = dspMath::DupToComplex(table);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(dup[i], cf(table[i], table[i]));
}

TEST(dspMath, decimationPlans) {
    struct Case {
        int in, out, d, l, m;
    } cases[] = {
        {48000, 48000, 1, 1, 1},   {192000, 48000, 4, 1, 1}, {768000, 48000, 16, 1, 1},
        {250000, 48000, 4, 96, 125}, {2500000, 48000, 32, 384, 625}, {96000, 44100, 2, 147, 160},
        {8000, 48000, 0, 1, 1},
        // Rates that are not positive would halve for ever: refused.
        {48000, -48000, 0, 1, 1}, {48000, 0, 0, 1, 1}, {-1, -2, 0, 1, 1},
    };
    LogCapture log;
    for (auto c : cases) {
        int l = -7, m = -7;
        EXPECT_EQ(dspMath::getDecimation(c.in, c.out, &l, &m), c.d) << c.in << " -> " << c.out;
        EXPECT_EQ(l, c.l) << c.in << " -> " << c.out;
        EXPECT_EQ(m, c.m) << c.in << " -> " << c.out;
    }
    EXPECT_TRUE(log.contains("error|getDecimation: rates 48000 -> -48000 refused"));
    EXPECT_EQ(dspMath::gcd(48000, 44100), 300);
    EXPECT_EQ(dspMath::gcd(7, 49), 7);
    EXPECT_EQ(dspMath::gcd(13, 8), 1);
    EXPECT_EQ(dspMath::gcd(0, 5), 5);
}

} // namespace
