// Transforms against a double-precision direct DFT, round trips, the real
// transform against the complex one, and which plan serves which size.
#include "dsp/fft/fft.h"
#include "dsp/simd/simdLevel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <thread>
#include <vector>

namespace {

using cf = std::complex<float>;
using cd = std::complex<double>;

buff<cf> randomSignal(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> g;
    buff<cf> x(n);
    for (auto& v : x) v = cf(g(rng), g(rng));
    return x;
}

// X[k] = sum x[n] e^(sign j2pi kn/N), in double, with an exact table of the N
// roots so the reference itself adds no angle error.
std::vector<cd> directDft(const buff<cf>& x, int sign) {
    const size_t n = x.count;
    std::vector<cd> root(n);
    for (size_t k = 0; k < n; ++k) {
        double t = sign * 2 * M_PI * double(k) / double(n);
        root[k] = cd(std::cos(t), std::sin(t));
    }
    std::vector<cd> out(n);
    for (size_t k = 0; k < n; ++k) {
        cd sum = 0;
        size_t idx = 0;
        for (size_t j = 0; j < n; ++j) {
            sum += cd(x[j]) * root[idx];
            idx += k;
            if (idx >= n) idx -= n;
        }
        out[k] = sum;
    }
    return out;
}

double relativeRmsError(const cf* got, const std::vector<cd>& want) {
    double err = 0, ref = 0;
    for (size_t k = 0; k < want.size(); ++k) {
        err += std::norm(cd(got[k]) - want[k]);
        ref += std::norm(want[k]);
    }
    return std::sqrt(err / ref);
}

TEST(fft, ownPlansMatchDirectDft) {
    for (size_t n : {1024, 2048, 4096}) {
        auto x = randomSignal(n, unsigned(n));
        EXPECT_LT(relativeRmsError(fft::fwd(x).data, directDft(x, -1)), 1e-5) << "forward " << n;
    }
    for (size_t n : {1024, 2048}) {
        auto x = randomSignal(n, unsigned(n) + 1);
        EXPECT_LT(relativeRmsError(fft::rev(x).data, directDft(x, +1)), 1e-5) << "inverse " << n;
    }
}

TEST(fft, ownPlanStructureServesSmallerPowersOfFour) {
    for (unsigned long n : {16ul, 64ul, 256ul}) {
        for (bool inverse : {false, true}) {
            kissfft8<float> plan(n, inverse);
            auto x = randomSignal(n, unsigned(n));
            buff<cf> y(n);
            plan.transform(x.data, y.data);
            EXPECT_LT(relativeRmsError(y.data, directDft(x, inverse ? 1 : -1)), 1e-5) << n << " " << inverse;
            // The eight-lane body takes plans of 256 points and more where it runs.
            EXPECT_EQ(plan.lanes(), simdLevel() == SimdLevel::avx2 && n >= 256 ? 8u : 4u) << n;
        }
    }
    EXPECT_THROW(kissfft8<float>(512, false), std::invalid_argument);
    EXPECT_THROW(kissfft8<float>(8192, false), std::invalid_argument);
    EXPECT_THROW(kissfft8<float>(4, false), std::invalid_argument);
}

TEST(fft, fallbackPlansMatchDirectDft) {
    for (size_t n : {1, 3, 12, 100, 512, 1000}) {
        auto x = randomSignal(n, unsigned(n) + 7);
        EXPECT_LT(relativeRmsError(fft::fwd(x).data, directDft(x, -1)), 1e-5) << "forward " << n;
        EXPECT_LT(relativeRmsError(fft::rev(x).data, directDft(x, +1)), 1e-5) << "inverse " << n;
    }
    auto x = randomSignal(4096, 5);
    EXPECT_LT(relativeRmsError(fft::rev(x).data, directDft(x, +1)), 1e-5) << "inverse 4096";
}

TEST(fft, forwardThenInverseGivesNTimesInput) {
    for (size_t n : {1024, 2048, 4096, 100, 256}) {
        auto x = randomSignal(n, 3);
        auto y = fft::rev(fft::fwd(x));
        double err = 0, ref = 0;
        for (size_t i = 0; i < n; ++i) {
            err += std::norm(cd(y[i]) - cd(x[i]) * double(n));
            ref += std::norm(cd(x[i]) * double(n));
        }
        EXPECT_LT(std::sqrt(err / ref), 1e-5) << n;
    }
}

TEST(fft, impulseAndConstant) {
    for (size_t n : {1024, 2048, 4096, 48}) {
        buff<cf> impulse(n, cf(0, 0));
        impulse[0] = cf(1, 0);
        for (auto v : fft::fwd(impulse)) ASSERT_NEAR(std::abs(v - cf(1, 0)), 0.f, 1e-6f) << n;

        buff<cf> ones(n, cf(1, 0));
        auto spec = fft::fwd(ones);
        EXPECT_NEAR(spec[0].real(), float(n), 1e-3f * n) << n;
        EXPECT_NEAR(spec[0].imag(), 0.f, 1e-3f) << n;
        for (size_t k = 1; k < n; ++k) ASSERT_LT(std::abs(spec[k]), 1e-3f) << n << " bin " << k;
    }
}

// The real transform of 2M samples must equal bins 0..M-1 of the complex
// transform of the same samples, except that value 0 carries (DC, Nyquist).
TEST(fft, realTransformAgreesWithComplex) {
    for (size_t n : {2048, 512, 1000}) {
        std::mt19937 rng{unsigned(n)};
        std::normal_distribution<float> g;
        buff<float> x(n);
        buff<cf> xc(n);
        for (size_t i = 0; i < n; ++i) xc[i] = cf(x[i] = g(rng), 0);
        auto want = directDft(xc, -1);
        auto got = fft::fwd(x);
        ASSERT_EQ(got.count, n);
        std::vector<cd> half(want.begin(), want.begin() + n / 2);
        half[0] = cd(want[0].real(), want[n / 2].real());
        EXPECT_LT(relativeRmsError(got.data, half), 1e-5) << n;

        double alternating = 0;
        for (size_t i = 0; i < n; ++i) alternating += (i % 2 ? -1.0 : 1.0) * x[i];
        EXPECT_NEAR(got[0].imag(), alternating, 1e-3) << n;
        for (size_t k = n / 2; k < n; ++k) ASSERT_EQ(got[k], cf(0, 0)) << n << " value " << k;
    }
}

TEST(fft, realTransformIntoOutputKeepsTheRest) {
    buff<float> x(2048, 1.f);
    buff<cf> out(2048, cf(5, 5));
    fft::fwd(x, out);
    EXPECT_NEAR(out[0].real(), 2048.f, 1e-2f);
    for (size_t k = 1024; k < 2048; ++k) ASSERT_EQ(out[k], cf(5, 5));
}

TEST(fft, planSelection) {
    // The receive-path sizes run on the static plans, bit for bit.
    auto x = randomSignal(4096, 11);
    struct Own {
        size_t n;
        const kissfft8<float>* plan;
        bool forward;
    } own[] = {{1024, &fft::forward1024, true},  {2048, &fft::forward2048, true}, {4096, &fft::forward4096, true},
               {1024, &fft::reverse1024, false}, {2048, &fft::reverse2048, false}};
    for (auto o : own) {
        buff<cf> in(x, 0, o.n), want(o.n);
        o.plan->transform(in.data, want.data);
        auto got = o.forward ? fft::fwd(in) : fft::rev(in);
        for (size_t k = 0; k < o.n; ++k) ASSERT_EQ(got[k], want[k]) << o.n << " " << o.forward << " bin " << k;
    }
    // The inverse 4096-point transform has no own plan.
    buff<cf> want(4096);
    fft::getFPlan(4096, false)->transform(x.data, want.data);
    auto got = fft::rev(x);
    for (size_t k = 0; k < 4096; ++k) ASSERT_EQ(got[k], want[k]) << k;
}

// A thread asked for many sizes keeps a bounded number of plans: the one it
// keeps using stays, the others make room for each other, and a size asked
// for again after it was dropped is planned afresh and still right.
TEST(fft, planCacheIsBoundedAndKeepsWhatIsUsed) {
    std::thread([] {
        kissfft<float>* hot = fft::getFPlan(100, true);
        for (int n = 200; n < 2200; ++n) {
            fft::getFPlan(n, n % 2 == 0);
            ASSERT_EQ(fft::getFPlan(100, true), hot) << n;
            ASSERT_LE(fft::cachedPlans(), fft::maxCachedPlans);
        }
        EXPECT_EQ(fft::cachedPlans(), fft::maxCachedPlans);
        auto x = randomSignal(201, 5);
        buff<cf> y(201);
        fft::getFPlan(201, false)->transform(x.data, y.data);
        EXPECT_LT(relativeRmsError(y.data, directDft(x, +1)), 1e-5);
    }).join();
}

TEST(fft, perThreadPlanCache) {
    kissfft<float>* first = fft::getFPlan(100, true);
    EXPECT_EQ(fft::getFPlan(100, true), first);
    kissfft<float>* inverse = fft::getFPlan(100, false);
    EXPECT_NE(inverse, first);
    EXPECT_EQ(fft::getFPlan(100, false), inverse);

    kissfft<float>* other = nullptr;
    std::thread([&] { other = fft::getFPlan(100, true); }).join();
    EXPECT_NE(other, nullptr);
    EXPECT_NE(other, first);

    // The direction flag maps onto kissfft's inverse flag the right way round.
    auto x = randomSignal(100, 4);
    buff<cf> y(100);
    first->transform(x.data, y.data);
    EXPECT_LT(relativeRmsError(y.data, directDft(x, -1)), 1e-5);
    inverse->transform(x.data, y.data);
    EXPECT_LT(relativeRmsError(y.data, directDft(x, +1)), 1e-5);
}

// The static plans are shared read-only: transforms on several threads at once
// give what one thread alone gives.
TEST(fft, staticPlansServeThreadsAtOnce) {
    auto x = randomSignal(2048, 21);
    auto want = fft::fwd(x);
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            buff<cf> out(2048);
            for (int r = 0; r < 50; ++r) {
                fft::fwd(x, out);
                for (size_t k = 0; k < 2048; ++k) mismatches[size_t(t)] += out[k] != want[k];
            }
        });
    for (auto& th : threads) th.join();
    for (int m : mismatches) EXPECT_EQ(m, 0);
}

TEST(fft, emptyInputDoesNothing) {
    buff<cf> out(4, cf(3, 3));
    fft::fwd(buff<cf>(), out);
    fft::rev(buff<cf>(), out);
    fft::fwd(buff<float>(), out);
    for (auto v : out) EXPECT_EQ(v, cf(3, 3));
    EXPECT_EQ(fft::fwd(buff<float>()).count, 0u);
}

} // namespace
