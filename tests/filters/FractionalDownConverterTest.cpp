#include "dsp/FractionalDownConverter.h"
#include "support/logCapture.h"
#include "testSignals.h"

#include <gtest/gtest.h>

#include <thread>

using namespace testsig;
using FDC = FractionalDownConverter<float>;

namespace {

// Feeds x in blocks of the given sizes (cycled) and collects every output.
std::vector<cf> resample(FDC& r, const buff<cf>& x, const std::vector<size_t>& cuts, size_t outChunk = 4096) {
    std::vector<cf> y;
    buff<cf> out(outChunk);
    size_t pos = 0, c = 0;
    while (pos < x.count) {
        const size_t n = std::min(cuts[c++ % cuts.size()], x.count - pos);
        buff<cf> dst = r.GetInputBuffer(static_cast<int>(n));
        EXPECT_EQ(dst.count, n);
        dst.copy(buff<cf>(x, pos, n));
        pos += n;
        int got;
        while ((got = r.Process(out)) > 0) y.insert(y.end(), out.begin(), out.begin() + got);
    }
    return y;
}

}  // namespace

TEST(FractionalDownConverter, DeliversLOutputsPerMInputs) {
    struct Ratio {
        int L, M;
    };
    for (Ratio q : {Ratio{96, 125}, Ratio{147, 160}, Ratio{2, 3}, Ratio{384, 625}}) {
        SCOPED_TRACE(q.L);
        FDC r(q.L, q.M);
        const size_t K = 200;
        buff<cf> x = noise(static_cast<size_t>(q.M) * K, 1);
        std::vector<cf> y = resample(r, x, {512});
        // Outputs up to the last whole input period, less the held-back tail.
        const double expect = static_cast<double>(q.L) * K;
        EXPECT_NEAR(static_cast<double>(y.size()), expect, 47.0 * q.L / q.M + 2);
    }
}

TEST(FractionalDownConverter, OutputsAreThePolyphaseInnerProducts) {
    // Output j against the inner product, in double, of its phase of the bank
    // with the 47 inputs ending just before input ceil(j M / L), the stream
    // starting after zeros. Long enough to pass the end of the L x M cycle
    // (where the counter restarts) several times for 2 / 3 and once for
    // 96 / 125.
    struct Ratio {
        int L, M;
    };
    for (Ratio q : {Ratio{96, 125}, Ratio{2, 3}, Ratio{147, 160}}) {
        SCOPED_TRACE(q.L);
        FDC r(q.L, q.M);
        buff<cf> x = noise(16000, 5);
        std::vector<cf> y = resample(r, x, {700, 13, 2048});
        ASSERT_GT(y.size(), size_t(10000));
        for (size_t j = 0; j < y.size(); ++j) {
            const int64_t k = int64_t(j) * q.M;
            const int64_t base = (k + q.L - 1) / q.L;
            const int64_t phase = base * q.L - k;
            std::complex<double> want = 0;
            double scale = 0;
            for (int64_t t = 0; t < 47; ++t) {
                const int64_t i = base - 47 + t;
                if (i < 0) continue;
                const double h = r.bank[size_t(phase * 47 + t) * 2];
                want += h * std::complex<double>(x[size_t(i)]);
                scale += std::abs(h) * std::abs(x[size_t(i)]);
            }
            const double tol = 1e-6 * (1 + scale);
            ASSERT_NEAR(y[j].real(), want.real(), tol) << j;
            ASSERT_NEAR(y[j].imag(), want.imag(), tol) << j;
        }
    }
}

TEST(FractionalDownConverter, OutputDoesNotDependOnBlockCuts) {
    // Cuts that force many compactions with overlapping moves, and a small
    // output buffer that stops Process part way.
    buff<cf> x = noise(60000, 2);
    FDC a(96, 125), b(96, 125);
    std::vector<cf> ya = resample(a, x, {4096});
    std::vector<cf> yb = resample(b, x, {17, 1000, 512, 3, 2048, 999}, 37);
    ASSERT_EQ(ya.size(), yb.size());
    for (size_t i = 0; i < ya.size(); ++i) ASSERT_EQ(ya[i], yb[i]) << i;
}

TEST(FractionalDownConverter, CompactionKeepsUnreadInput) {
    // Input written without processing in between: the compaction then moves
    // a kept range onto itself (the checker sees an overlapping block copy).
    buff<cf> x = noise(8100, 4);
    FDC a(96, 125), b(96, 125);
    a.GetInputBuffer(4000).copy(buff<cf>(x, 0, 4000));
    a.GetInputBuffer(4000).copy(buff<cf>(x, 4000, 4000));
    a.GetInputBuffer(100).copy(buff<cf>(x, 8000, 100));
    buff<cf> ya(8192), yb(8192);
    const int na = a.Process(ya);
    b.GetInputBuffer(8000).copy(buff<cf>(x, 0, 8000));
    int nb = b.Process(yb);
    b.GetInputBuffer(100).copy(buff<cf>(x, 8000, 100));
    nb += b.Process(buff<cf>(yb, static_cast<size_t>(nb), yb.count - nb));
    ASSERT_EQ(na, nb);
    for (int i = 0; i < na; ++i) ASSERT_EQ(ya[i], yb[i]) << i;
}

TEST(FractionalDownConverter, PassesTheBandAndRejectsAliases) {
    // 62500 -> 48000 (L/M = 96/125). Tones at 2 and -3 kHz pass at unit gain; a
    // tone at 30 kHz, above the output's Nyquist frequency, would alias to
    // 18 kHz and must be rejected.
    const double inRate = 62500, outRate = 48000;
    auto level = [&](double f, double at) {
        FDC r(96, 125);
        std::vector<cf> y = resample(r, tone(125 * 400, f / inRate), {1000});
        return toneLevel(y, 200, 32768, at / outRate);
    };
    EXPECT_NEAR(level(2000, 2000), 1.0, 0.01);
    EXPECT_NEAR(level(-3000, -3000), 1.0, 0.01);
    const double alias = level(30000, 30000 - outRate);
    EXPECT_LT(db(alias), -70) << db(alias);
}

TEST(FractionalDownConverter, EmptyAndBadCallsChangeNothing) {
    LogCapture log;
    FDC r(2, 3);
    buff<cf> out(16);
    EXPECT_EQ(r.Process(out), 0);  // nothing written yet
    buff<cf> none;
    r.GetInputBuffer(300).copy(noise(300, 3));
    EXPECT_EQ(r.Process(none), 0);
    EXPECT_EQ(r.counter, 0);
    // A negative request must not move the write position back over input
    // not yet read.
    const int64_t written = r.writePos;
    EXPECT_TRUE(r.GetInputBuffer(-200).empty());
    EXPECT_EQ(r.writePos, written);
    EXPECT_TRUE(log.contains("error|FractionalDownConverter: input request of -200 samples refused"));
    EXPECT_GT(r.Process(out), 0);

    // A back-end at 96014 samples per second gives 48000 / 48007: a bank of
    // 4.5 million taps whose rate overflows an int. Refused, and inert.
    EXPECT_FALSE(FDC::supports(48000, 48007));
    FDC odd(48000, 48007);
    EXPECT_TRUE(odd.bank.empty());
    EXPECT_TRUE(odd.GetInputBuffer(512).empty());
    EXPECT_EQ(odd.Process(out), 0);
    EXPECT_TRUE(log.contains("error|FractionalDownConverter: ratio 48000 / 48007 refused (at most 1024 phases)"));
    for (auto [l, m] : {std::pair{0, 3}, {3, 0}, {-2, 3}}) {
        EXPECT_FALSE(FDC::supports(l, m));
        EXPECT_TRUE(FDC::GetFilter(l, m).empty());
    }

    // The largest bank still has unit gain in every phase at DC.
    buff<float> big = FDC::GetFilter(FDC::maxPhases, FDC::maxPhases + 1);
    ASSERT_EQ(big.count, size_t(FDC::maxPhases) * 47 * 2);
    for (int p = 0; p < FDC::maxPhases; p += 97) {
        double dc = 0;
        for (int t = 0; t < 47; ++t) dc += big[size_t(p * 47 + t) * 2];
        EXPECT_NEAR(dc, 1.0, 0.01) << p;
    }
}

TEST(FractionalDownConverter, BanksAreSharedPerRatio) {
    FDC a(2, 3), b(2, 3), c(4, 6);
    EXPECT_EQ(a.bank.data, b.bank.data);
    EXPECT_NE(a.bank.data, c.bank.data);
    EXPECT_EQ(a.bank.count, 2u * 47 * 2);
    for (size_t i = 0; i < a.bank.count; i += 2) ASSERT_EQ(a.bank[i], a.bank[i + 1]);
    // Concurrent first requests for one ratio still get one bank.
    buff<float> got[4];
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back([&, t] { got[t] = FDC::GetFilter(5, 7); });
    for (auto& t : threads) t.join();
    for (int t = 1; t < 4; ++t) EXPECT_EQ(got[t].data, got[0].data);
}
