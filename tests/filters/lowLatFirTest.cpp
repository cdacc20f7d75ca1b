#include "dsp/filterDesign.h"
#include "dsp/lowLatFir.h"
#include "support/logCapture.h"
#include "testSignals.h"

#include <gtest/gtest.h>

#include <mutex>

using namespace testsig;

namespace {

void ensureCache() {
    static std::once_flag once;
    std::call_once(once, [] { lowLatFir::BuildFilterCache(); });
}

// Runs x through the filter block by block.
std::vector<cf> filterAll(lowLatFir& f, const buff<cf>& x) {
    std::vector<cf> y;
    for (size_t pos = 0; pos + f.B <= x.count; pos += f.B) {
        f.inBlock.copy(buff<cf>(x, pos, f.B));
        f.calc();
        y.insert(y.end(), f.outBlock.begin(), f.outBlock.end());
    }
    return y;
}

// y[n] = Σ h[k] x[n - k] in double; taps change to h2 from sample `switchAt`.
std::vector<cd> direct(const buff<cf>& x, const buff<cf>& h, const buff<cf>* h2 = nullptr, size_t switchAt = 0) {
    std::vector<cd> y(x.count);
    for (size_t n = 0; n < x.count; ++n) {
        const buff<cf>& taps = (h2 && n >= switchAt) ? *h2 : h;
        cd acc = 0;
        for (size_t k = 0; k < taps.count && k <= n; ++k) acc += cd(taps[k]) * cd(x[n - k]);
        y[n] = acc;
    }
    return y;
}

double relativeError(const std::vector<cf>& got, const std::vector<cd>& want) {
    double err = 0, power = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        err = std::max(err, std::abs(cd(got[i]) - want[i]));
        power += std::norm(want[i]);
    }
    return err / std::sqrt(power / static_cast<double>(got.size()));
}

bool sameSpectra(const std::vector<buff<cf>>& a, const std::vector<buff<cf>>& b) {
    if (a.size() != b.size()) return false;
    for (size_t p = 0; p < a.size(); ++p) {
        if (a[p].count != b[p].count) return false;
        for (size_t i = 0; i < a[p].count; ++i)
            if (a[p][i] != b[p][i]) return false;
    }
    return true;
}

}  // namespace

TEST(lowLatFir, MatchesDirectConvolutionOverManyBlocks) {
    // 1536 and 2048 taps as the system uses them, and a length that leaves a
    // zero-padded last partition.
    for (int len : {1536, 2048, 1000}) {
        SCOPED_TRACE(len);
        buff<cf> h = filterDesign<float>::bandpass(-2500, 4100, 48000, len, len);
        lowLatFir f(h, 512);
        EXPECT_EQ(f.P, (len + 511) / 512);
        buff<cf> x = noise(512 * 24, 11);
        EXPECT_LT(relativeError(filterAll(f, x), direct(x, h)), 1e-5);
    }
}

TEST(lowLatFir, FilterChangeKeepsInputHistory) {
    // The new taps apply from the next block on, to the old input as well.
    buff<cf> h1 = noise(1536, 1), h2 = noise(1536, 2);
    lowLatFir f(h1, 512);
    buff<cf> x = noise(512 * 12, 3);
    std::vector<cf> y;
    for (size_t pos = 0; pos < x.count; pos += 512) {
        if (pos == 512 * 5) f.setFilter(h2);
        f.inBlock.copy(buff<cf>(x, pos, 512));
        f.calc();
        y.insert(y.end(), f.outBlock.begin(), f.outBlock.end());
    }
    EXPECT_LT(relativeError(y, direct(x, h1, &h2, 512 * 5)), 1e-5);
}

TEST(lowLatFir, ImpulseGivesTheTapsWithUnitGain) {
    buff<cf> h = noise(1000, 4);
    lowLatFir f(h, 512);
    buff<cf> x(1024, cf(0));
    x[0] = cf(1, 0);
    std::vector<cf> y = filterAll(f, x);
    for (size_t i = 0; i < 1024; ++i) {
        const cf want = i < h.count ? h[i] : cf(0);
        ASSERT_NEAR(std::abs(y[i] - want), 0.0, 1e-5) << i;
    }
}

TEST(lowLatFir, EachCachedDesignEqualsAFreshDesign) {
    ensureCache();
    const auto& cache = lowLatFir::cache();
    ASSERT_EQ(cache.size(), 24u);
    for (size_t i = 0; i < cache.size(); ++i) {
        const filterCachEntry& e = cache[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(e.block, 512);
        EXPECT_EQ(e.spectra.size(), static_cast<size_t>(e.length / 512));
        lowLatFir fresh(filterDesign<float>::bandpass(e.low, e.high, e.rate, e.length, e.length), 512);
        EXPECT_TRUE(sameSpectra(fresh.spectra, e.spectra));
        for (size_t j = 0; j < i; ++j)
            EXPECT_FALSE(cache[j].low == e.low && cache[j].high == e.high && cache[j].length == e.length);
    }
}

TEST(lowLatFir, BandRequestsHitTheCacheOnlyAtTheRateOfTheDesign) {
    ensureCache();
    const auto& cache = lowLatFir::cache();
    lowLatFir rx(-3000, 3000, 48000, 1536, 512);
    EXPECT_EQ(rx.P, 3);
    ASSERT_EQ(rx.spectra.size(), 3u);
    EXPECT_EQ(rx.spectra[0].data, cache[0].spectra[0].data);  // shared, not copied
    rx.setFilter(-90000, 90000, 384000, 1536, 512);
    EXPECT_EQ(rx.spectra[1].data, cache[21].spectra[1].data);
    // The same edges at another rate are another band, designed on the spot.
    lowLatFir wide(-3000, 3000, 384000, 1536, 512);
    EXPECT_NE(wide.spectra[2].data, cache[0].spectra[2].data);
    // A miss designs on the spot and leaves the cache alone.
    lowLatFir miss(-2500, 2500, 48000, 1536, 512);
    EXPECT_EQ(cache.size(), 24u);
    lowLatFir fresh(filterDesign<float>::bandpass(-2500, 2500, 48000, 1536, 1536), 512);
    EXPECT_TRUE(sameSpectra(miss.spectra, fresh.spectra));
}

TEST(lowLatFir, ShorterCachedDesignRunsZeroPaddedInALongerFilter) {
    // A 2048-tap filter asking for a band cached only at 1536 taps: the cached
    // three partitions run in the four-partition filter as the 1536-tap design.
    ensureCache();
    buff<cf> x = noise(512 * 10, 8);
    lowLatFir f(-2500, 2500, 48000, 2048, 512);
    ASSERT_EQ(f.P, 4);
    f.setFilter(-3000, 3000, 48000, 1536, 512);
    ASSERT_EQ(f.spectra.size(), 4u);
    buff<cf> h = filterDesign<float>::bandpass(-3000, 3000, 48000, 1536, 1536);
    EXPECT_LT(relativeError(filterAll(f, x), direct(x, h)), 1e-5);
    // And the other way round: a longer cached design in a shorter filter
    // takes part with its first partitions only.
    lowLatFir g(-2500, 2500, 48000, 1536, 512);
    g.setFilter(150, 3000, 48000, 2048, 512);
    EXPECT_EQ(g.spectra.size(), 4u);
    buff<cf> longer = filterDesign<float>::bandpass(150, 3000, 48000, 2048, 2048);
    EXPECT_LT(relativeError(filterAll(g, x), direct(x, buff<cf>(longer, 0, 1536))), 1e-5);
}

// Sizes a filter cannot run are refused and change nothing; a band request
// from a filter of another block size never takes spectra of the cached
// block size (they have another length and calc would read past them).
TEST(lowLatFir, BadSizesAreRefusedAndOtherBlockSizesMissTheCache) {
    ensureCache();
    LogCapture log;
    buff<cf> x = noise(256 * 12, 9);
    lowLatFir small(-2500, 2500, 48000, 1536, 256);
    ASSERT_EQ(small.P, 6);
    small.setFilter(-3000, 3000, 48000, 1536, 512);  // the cached band, at block 512
    for (const auto& s : small.spectra) ASSERT_EQ(s.count, 512u);
    buff<cf> h = filterDesign<float>::bandpass(-3000, 3000, 48000, 1536, 1536);
    EXPECT_LT(relativeError(filterAll(small, x), direct(x, h)), 1e-5);

    lowLatFir zero(-3000, 3000, 48000, 1536, 0), none(buff<cf>(), 512), unbuilt;
    EXPECT_TRUE(log.contains("error|lowLatFir: 1536 taps in blocks of 0 refused"));
    EXPECT_TRUE(log.contains("error|lowLatFir: 0 taps in blocks of 512 refused"));
    for (lowLatFir* f : {&zero, &none, &unbuilt}) {
        EXPECT_EQ(f->P, 0);
        f->setFilter(h);
        f->setFilter(-3000, 3000, 48000, 1536, 512);
        f->calc();
        EXPECT_TRUE(f->spectra.empty());
        EXPECT_EQ(f->blockLength(), 0u);
    }
    EXPECT_TRUE(log.contains("error|lowLatFir: calc on a filter never built refused"));
    // Empty taps leave a built filter as it was.
    const cf* before = small.spectra[0].data;
    small.setFilter(buff<cf>());
    EXPECT_EQ(small.spectra[0].data, before);

    EXPECT_TRUE(filterDesign<float>::bandpass(-3000, 3000, 48000, 1536, 1000).empty());
    EXPECT_TRUE(filterDesign<float>::bandpassReal(-3000, 3000, 0, 47, 47).empty());
    EXPECT_TRUE(filterDesign<float>::bandpassMinPhase(buff<cf>(40000, cf(1))).empty());
    EXPECT_TRUE(log.contains("error|filterDesign bandpass: 1536 taps in 1000 at rate 48000 refused"));
    EXPECT_TRUE(log.contains("error|filterDesign bandpassReal: 47 taps in 47 at rate 0 refused"));
    EXPECT_TRUE(log.contains("error|filterDesign bandpassMinPhase: 40000 taps refused (1 to 32768)"));
}
