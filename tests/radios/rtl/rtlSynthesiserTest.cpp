// The R82xx synthesiser model against settings worked out by hand from the
// tuner's arithmetic.
#include "radios/rtl/R82xxSynthesiser.h"

#include <gtest/gtest.h>

namespace {

struct worked {
    uint32_t frequency;
    int rate;
    uint32_t lo, divider, integer, fraction, predicted;
    int32_t error;
};

} // namespace

TEST(R82xxSynthesiser, PredictsTheOscillatorTheTunerReallyMakes) {
    const worked cases[] = {
        {99000000, 1536000, 100525000, 32, 55, 55524, 100525012, 12},
        {99000000, 2880000, 102570000, 32, 56, 64444, 102570007, 7},
        {14074000, 2880000, 17644000, 128, 39, 13690, 17644001, 1}, // no divider up to 64 fits
        {144300000, 1536000, 145825000, 16, 40, 33222, 145824938, -62},
        {433920000, 3200000, 437490000, 8, 60, 49970, 437489868, -132},
        {99000010, 1536000, 100525010, 32, 55, 55524, 100525012, 2}, // a calibrated request
    };
    for (const worked& w : cases) {
        SCOPED_TRACE(w.frequency);
        const R82xxPll p = r82xxPredict(w.frequency, w.rate);
        EXPECT_TRUE(p.valid);
        EXPECT_EQ(p.lo, w.lo);
        EXPECT_EQ(p.divider, w.divider);
        EXPECT_EQ(p.integer, w.integer);
        EXPECT_EQ(p.fraction, w.fraction);
        EXPECT_EQ(p.predicted, w.predicted);
        EXPECT_EQ(p.error(), w.error);
    }
}

TEST(R82xxSynthesiser, AboveTheRangeNoSettingExistsAndTheErrorIsZero) {
    const R82xxPll p = r82xxPredict(1800000000, 3200000);
    EXPECT_EQ(p.divider, 128u);
    EXPECT_EQ(p.integer, 167u); // 4007 kept to 8 bits
    EXPECT_FALSE(p.valid);
    EXPECT_EQ(p.error(), 0);
    // The 32-bit oscillator wraps at the top of the range, as the tuner's does.
    EXPECT_EQ(r82xxPredict(4294967295u, 3200000).lo, 3569999u);
}
