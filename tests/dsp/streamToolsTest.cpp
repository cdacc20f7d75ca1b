// movingAverage and blockLerp: the documented sequences, ring wrap, and
// seamless output across block boundaries at ratios around 1.
#include "dsp/blockLerp.h"
#include "dsp/movingAverage.h"
#include "support/logCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

buff<float> block(std::initializer_list<float> v) {
    buff<float> b(v.size());
    size_t i = 0;
    for (float x : v) b[i++] = x;
    return b;
}

TEST(movingAverage, windowMeans) {
    movingAverage avg(4);
    EXPECT_EQ(avg.value(), 0.0);
    EXPECT_DOUBLE_EQ(avg.next(1), 1.0);
    EXPECT_DOUBLE_EQ(avg.next(2), 1.5);
    EXPECT_DOUBLE_EQ(avg.next(3), 2.0);
    EXPECT_FALSE(avg.full());
    avg.next(10);
    EXPECT_TRUE(avg.full());
    avg.next(10), avg.next(10);
    EXPECT_DOUBLE_EQ(avg.next(10), 10.0);
    avg.reset();
    EXPECT_EQ(avg.value(), 0.0);
    EXPECT_FALSE(avg.full());
    EXPECT_DOUBLE_EQ(avg.next(4), 4.0);

    movingAverage seeded(3, 5.0);
    EXPECT_DOUBLE_EQ(seeded.value(), 5.0);
    EXPECT_FALSE(seeded.full());

    // A window of no values is refused; the average still works, over one.
    LogCapture log;
    movingAverage none(0);
    EXPECT_TRUE(log.contains("error|movingAverage window 0 refused, 1 used"));
    EXPECT_DOUBLE_EQ(none.next(3), 3.0);
    EXPECT_DOUBLE_EQ(none.next(5), 5.0);
    EXPECT_TRUE(none.full());
}

TEST(blockLerp, ratioOneDelaysByOneSample) {
    blockLerp lerp;
    buff<float> ring(32, -1.f);
    EXPECT_EQ(lerp.interpolateVarOut(block({1, 2, 3, 4}), ring, 0, 1.0), 3u);
    EXPECT_EQ(lerp.interpolateVarOut(block({5, 6, 7, 8}), ring, 6, 1.0), 4u);
    float want[] = {1, 2, 3, 4, 5, 6, 7};
    for (size_t f = 0; f < 7; ++f) {
        EXPECT_EQ(ring[2 * f], want[f]) << f;
        EXPECT_EQ(ring[2 * f + 1], want[f]) << f;
    }
    EXPECT_EQ(ring[14], -1.f);
}

TEST(blockLerp, oneSampleBlockWritesNothing) {
    blockLerp lerp;
    buff<float> ring(8, -1.f);
    EXPECT_EQ(lerp.interpolateVarOut(block({3}), ring, 0, 1.0), 0u);
    for (float v : ring) EXPECT_EQ(v, -1.f);
}

TEST(blockLerp, ringWrapsInsideABlock) {
    // A ring of four frames written from frame 2: frames land on 2, 3, 0, 1.
    blockLerp stereo;
    buff<float> ring(8, -1.f);
    EXPECT_EQ(stereo.interpolateVarOut(block({1, 2, 3, 4, 5}), ring, 4, 1.0), 4u);
    float want[] = {3, 3, 4, 4, 1, 1, 2, 2};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(ring[i], want[i]) << i;

    blockLerp mono;
    buff<float> monoRing(3, -1.f);
    EXPECT_EQ(mono.interpolateVarOutToMono(block({1, 2, 3, 4}), monoRing, 2, 1.0), 3u);
    EXPECT_EQ(monoRing[2], 1.f);
    EXPECT_EQ(monoRing[0], 2.f);
    EXPECT_EQ(monoRing[1], 3.f);
}

TEST(blockLerp, channelVariants) {
    blockLerp balance;
    buff<float> ring(8, 0.f);
    balance.interpolateVarOutBalance(block({2, 4, 6}), ring, 0, 1.0, 0.5f, 2.f);
    EXPECT_EQ(ring[0], 1.f);
    EXPECT_EQ(ring[1], 4.f);
    EXPECT_EQ(ring[2], 2.f);
    EXPECT_EQ(ring[3], 8.f);

    blockLerp stereo;
    buff<float> sring(8, 0.f);
    EXPECT_EQ(stereo.interpolateVarOutStereo(block({1, 10, 2, 20, 3, 30}), sring, 0, 1.0), 2u);
    EXPECT_EQ(sring[0], 1.f);
    EXPECT_EQ(sring[1], 10.f);
    EXPECT_EQ(sring[2], 2.f);
    EXPECT_EQ(sring[3], 20.f);

    blockLerp mix;
    buff<float> mring(4, 0.f);
    EXPECT_EQ(mix.interpolateVarOutStereoToMono(block({1, 3, 2, 6, 3, 9}), mring, 0, 1.0), 2u);
    EXPECT_EQ(mring[0], 2.f);
    EXPECT_EQ(mring[1], 4.f);
}

// A ramp resampled block by block must come out as an evenly spaced ramp:
// any seam at a block boundary shows up as an odd step.
TEST(blockLerp, noSeamsAcrossBlocks) {
    for (double ratio : {0.9, 0.99, 1.0, 1.01, 1.1}) {
        SCOPED_TRACE(ratio);
        blockLerp mono, stereo;
        buff<float> ring(4096), sring(8192);
        size_t k = 0, sk = 0;
        std::vector<float> out, outR;
        float next = 0;
        for (int b = 0; b < 12; ++b) {
            buff<float> in(37), sin(74);
            for (size_t i = 0; i < 37; ++i, next += 1) {
                in[i] = next;
                sin[2 * i] = next;
                sin[2 * i + 1] = -next;
            }
            size_t n = mono.interpolateVarOutToMono(in, ring, k, ratio);
            for (size_t i = 0; i < n; ++i) out.push_back(ring[k + i]);
            k += n;
            size_t sn = stereo.interpolateVarOutStereo(sin, sring, sk, ratio);
            for (size_t i = 0; i < sn; ++i) outR.push_back(sring[sk + 2 * i + 1]);
            sk += 2 * sn;
        }
        ASSERT_GT(out.size(), 100u);
        for (size_t i = 1; i < out.size(); ++i) EXPECT_NEAR(out[i] - out[i - 1], 1.0 / ratio, 1e-3) << i;
        for (size_t i = 1; i < outR.size(); ++i) EXPECT_NEAR(outR[i] - outR[i - 1], -1.0 / ratio, 1e-3) << i;
    }
}

TEST(blockLerp, readsCircularInput) {
    blockLerp lerp;
    buff<float> in = block({0, 1, 2, 3});
    buff<float> out(6);
    lerp.interpolateVarIn(in, out, 1.0);
    float want[] = {0, 1, 2, 3, 0, 1};
    for (int i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(out[i], want[i]);

    blockLerp half;
    buff<float> slow(8);
    half.interpolateVarIn(in, slow, 2.0);
    float wantSlow[] = {0, 0.5f, 1, 1.5f, 2, 2.5f, 3, 1.5f};
    for (int i = 0; i < 8; ++i) EXPECT_FLOAT_EQ(slow[i], wantSlow[i]);
    // The position carries over to the next call.
    buff<float> more(2);
    half.interpolateVarIn(in, more, 2.0);
    EXPECT_FLOAT_EQ(more[0], 0.f);
    EXPECT_FLOAT_EQ(more[1], 0.5f);
}

TEST(blockLerp, emptyCircularInputReturnsAtOnce) {
    blockLerp lerp;
    buff<float> out(4, 9.f);
    lerp.interpolateVarIn(buff<float>(), out, 1.0);
    for (float v : out) EXPECT_EQ(v, 9.f);
}

// Ratios that would hang, read before the input or jump the position out of
// range, and write indices past the ring, are refused: nothing is written and
// the next good call continues exactly as if the bad ones never happened.
TEST(blockLerp, badRatiosAndIndicesChangeNothing) {
    LogCapture log;
    const double inf = std::numeric_limits<double>::infinity();
    const double bad[] = {0.0, -1.0, std::nan(""), inf, 1e-9, 1e9};
    buff<float> in = block({0, 1, 2, 3});

    blockLerp lerp, fresh;
    buff<float> first(3), wantFirst(3);
    lerp.interpolateVarIn(in, first, 0.5);
    fresh.interpolateVarIn(in, wantFirst, 0.5);
    for (double r : bad) {
        buff<float> out(4, 9.f);
        lerp.interpolateVarIn(in, out, r);
        for (float v : out) EXPECT_EQ(v, 9.f) << r;
    }
    buff<float> next(5), wantNext(5);
    lerp.interpolateVarIn(in, next, 0.5);
    fresh.interpolateVarIn(in, wantNext, 0.5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(next[i], wantNext[i]) << i;

    blockLerp out, outFresh;
    buff<float> ring(8, -1.f), want(8, -1.f);
    for (double r : bad) EXPECT_EQ(out.interpolateVarOut(in, ring, 0, r), 0u) << r;
    EXPECT_EQ(out.interpolateVarOutBalance(in, ring, 8, 1.0, 1.f, 1.f), 0u);
    EXPECT_EQ(out.interpolateVarOutToMono(in, ring, 9, 1.0), 0u);
    EXPECT_EQ(out.interpolateVarOutStereo(in, ring, 100, 1.0), 0u);
    EXPECT_EQ(out.interpolateVarOutStereoToMono(in, buff<float>(), 0, 1.0), 0u);
    for (float v : ring) EXPECT_EQ(v, -1.f);
    EXPECT_EQ(out.interpolateVarOut(in, ring, 0, 1.0), outFresh.interpolateVarOut(in, want, 0, 1.0));
    for (int i = 0; i < 8; ++i) EXPECT_EQ(ring[i], want[i]) << i;

    EXPECT_TRUE(log.contains("error|blockLerp interpolateVarIn: ratio 0 refused"));
    EXPECT_TRUE(log.contains("error|blockLerp interpolateVarOut: ratio -1 refused"));
    EXPECT_TRUE(log.contains("error|blockLerp interpolateVarOutToMono: output index 9 outside a ring of 8"));
    EXPECT_TRUE(log.contains("error|blockLerp interpolateVarOutStereoToMono: output index 0 outside a ring of 0"));
}

} // namespace
