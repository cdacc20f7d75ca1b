// The receive audio ring on the simulated card: rate matching against a
// drifting card clock, the warm-up, underruns and repositioning, balance,
// sidetone and the gap skip.
#include "audio/AudioStreams.h"
#include "audio/audioClock.h"

#include "soundRig.h"

#include <algorithm>
#include <cstdio>

namespace {

struct Drift {
    int device;
    double ppm;
};

class DriftTest : public SoundRig, public ::testing::WithParamInterface<Drift> {};

TEST_P(DriftTest, RatioFollowsTheCardAndTheFillSettlesAtTheSteeringOffset) {
    const auto [device, ppm] = GetParam();
    card.setPpm(true, device, ppm);
    AudioOutputStream out(device);
    const audioIO& io = *out.io;
    const int64_t t0 = card.now();
    int64_t at = 0;
    double fill = 0, ratio = 0;
    long repositionsWhenWarm = 0;
    int underruns = 0;
    const int blocks = 12000, measured = 1000;
    for (int k = 0; k < blocks; ++k) {
        card.advanceTo(t0 + int64_t(k * blockNs));
        if (k >= blocks - measured) {
            // Frames ahead of the reader, less what the card played since
            // its last callback: the ring's true fill at this write.
            const double ahead = int16_t(uint16_t(io.writePosition() - io.readPosition()));
            const double played = double(card.now() - card.lastCallbackAt(true, device)) * 48e-6 * (1 + ppm * 1e-6);
            fill += ahead - played;
        }
        out.write(sine(1000, at), true, false, 0.5f);
        if (k == 40) repositionsWhenWarm = io.repositions();
        if (k > 40) underruns = std::max(underruns, io.underruns());
        if (k >= blocks - measured) ratio += io.ratio();
    }
    fill /= measured;
    ratio /= measured;
    const double expected = 512 - 1e6 * (ratio - 1);
    std::printf("drift %s %+g ppm: ratio %.6f (%+.1f ppm), fill %.1f, expected %.1f, error %+.1f\n",
                device == FakeAudio::monoOut ? "mono" : "stereo", ppm, ratio, (ratio - 1) * 1e6, fill, expected,
                fill - expected);
    EXPECT_NEAR((ratio - 1) * 1e6, ppm, 20);
    EXPECT_NEAR(fill, expected, 50);
    EXPECT_EQ(underruns, 0);
    EXPECT_EQ(io.repositions(), repositionsWhenWarm);
    EXPECT_EQ(io.repositions(), 1); // priming only
    EXPECT_EQ(io.target(), 512.0);

    // 65536 frames span one whole turn of the ring: audio misplaced at its
    // wrap, or stale audio replayed, shows as noise.
    std::vector<float> played = card.played(device), left;
    const size_t ch = device == FakeAudio::monoOut ? 1 : 2;
    for (size_t i = 0; i + ch <= played.size(); i += ch) {
        left.push_back(played[i]);
        if (ch == 2) {
            ASSERT_EQ(played[i], played[i + 1]);
        }
    }
    const double thd = thdPlusNoiseDb(left);
    std::printf("drift THD+N %.1f dB\n", thd);
    EXPECT_LT(thd, -45.0);
}

INSTANTIATE_TEST_SUITE_P(Cards, DriftTest,
                         ::testing::Values(Drift{FakeAudio::stereoOut, 300}, Drift{FakeAudio::stereoOut, -300},
                                           Drift{FakeAudio::monoOut, 300}, Drift{FakeAudio::monoOut, -300}),
                         [](const auto& info) {
                             return std::string(info.param.device == FakeAudio::monoOut ? "Mono" : "Stereo") +
                                    (info.param.ppm > 0 ? "Fast" : "Slow");
                         });

class Ring : public SoundRig {
protected:
    /// Writes n blocks, one block time apart (or all at once).
    void play(AudioOutputStream& out, int n, bool sync, bool paced = true) {
        for (int k = 0; k < n; ++k) {
            if (paced) card.advance(std::chrono::nanoseconds(int64_t(blockNs)));
            out.write(sine(700, at), sync, false, 0.5f);
        }
    }
    /// The reader's position as the writer estimates it now.
    uint16_t reader(const audioIO& io) {
        const uint32_t s = io.readerStamp();
        const uint16_t wt = uint16_t(audioClock::ticks48k(card.now()));
        return uint16_t(uint16_t(s) + uint16_t(wt - (s >> 16)));
    }
    /// Frames from a to b on the ring.
    static int ahead(uint16_t a, uint16_t b) { return uint16_t(b - a); }
    int64_t at = 0;
};

TEST_F(Ring, WarmUpDrops32BlocksAndSyncDropsThe33rd) {
    for (bool sync : {true, false}) {
        AudioOutputStream out(FakeAudio::stereoOut);
        const audioIO& io = *out.io;
        play(out, 32, sync);
        EXPECT_EQ(io.writePosition(), 0);
        EXPECT_EQ(io.repositions(), 0);
        card.advance(std::chrono::nanoseconds(int64_t(blockNs)));
        const uint16_t primed = uint16_t(reader(io) + 512);
        out.write(sine(700, at), sync, false, 0.5f);
        if (sync) {
            EXPECT_EQ(io.writePosition(), 0); // only seeds the average
            EXPECT_EQ(io.repositions(), 0);
            play(out, 1, sync);
            EXPECT_EQ(io.repositions(), 1);
        } else {
            EXPECT_EQ(io.writePosition(), uint16_t(primed + 511)); // the first block carries one sample
            EXPECT_EQ(io.repositions(), 1);
            EXPECT_EQ(io.ratio(), 1.0);
        }
        EXPECT_EQ(io.underruns(), 0); // the gap the warm-up left is no underrun
        EXPECT_EQ(io.target(), 512.0);
        out.setStreamId(0);
        card.advance(std::chrono::milliseconds(50));
    }
}

TEST_F(Ring, UnderrunsGrowTheTargetAndSyncKeepsPositionThroughThree) {
    for (bool sync : {true, false}) {
        AudioOutputStream out(FakeAudio::stereoOut);
        const audioIO& io = *out.io;
        play(out, 100, sync);
        ASSERT_EQ(io.target(), 512.0);
        const long before = io.repositions();
        card.advance(std::chrono::milliseconds(200)); // the writer stalls; the reader overtakes it
        double target = 512;
        for (int k = 1; k <= (sync ? 4 : 1); ++k) {
            const uint16_t kept = io.writePosition(), r = reader(io);
            out.write(sine(700, at), sync, false, 0.5f);
            target *= 10.0 / 9.0;
            EXPECT_DOUBLE_EQ(io.target(), target);
            EXPECT_EQ(io.underruns(), k);
            const bool reposition = !sync || k == 4;
            EXPECT_EQ(io.repositions(), before + (reposition ? 1 : 0)) << k;
            // One block written from where the writer was, or from target
            // frames ahead of the reader.
            EXPECT_NEAR(ahead(reposition ? uint16_t(r + int(target)) : kept, io.writePosition()), 512, 2) << k;
        }
        play(out, 1, sync);
        EXPECT_EQ(io.underruns(), 0);

        // The target stops growing at the first value at or above 8192.
        while (io.target() < 8192) {
            card.advance(std::chrono::milliseconds(400));
            play(out, 1, sync, false);
        }
        const double top = io.target();
        card.advance(std::chrono::milliseconds(400));
        play(out, 1, sync, false);
        EXPECT_EQ(io.target(), top);
        EXPECT_LT(top, 8192 * 10.0 / 9.0);
        out.setStreamId(0);
        card.advance(std::chrono::milliseconds(50));
    }
}

TEST_F(Ring, AFillAbove16384RepositionsTargetAheadOfTheReader) {
    AudioOutputStream out(FakeAudio::stereoOut);
    const audioIO& io = *out.io;
    play(out, 100, true);
    const long before = io.repositions();
    int written = 0;
    while (io.repositions() == before && written < 40) { // a burst: no time passes
        const uint16_t moved = uint16_t(reader(io) + 512);
        out.write(sine(700, at), true, false, 0.5f);
        ++written;
        if (io.repositions() != before) {
            EXPECT_NEAR(ahead(moved, io.writePosition()), 512, 2);
            EXPECT_EQ(io.lastFill(), 512);
        }
    }
    EXPECT_EQ(io.repositions(), before + 1);
    EXPECT_GE(written, 16384 / 512);
    EXPECT_EQ(io.underruns(), 0);
    EXPECT_EQ(io.target(), 512.0);
}

TEST_F(Ring, RatioIsClampedAndExactlyOneWithoutSync) {
    // A card 0.8 % slow fills the ring faster than the steering may follow;
    // one 0.8 % fast drains it.
    for (double ppm : {-8000.0, 8000.0}) {
        card.setPpm(true, FakeAudio::stereoOut, ppm);
        AudioOutputStream out(FakeAudio::stereoOut);
        double lowest = 2, highest = 0;
        for (int k = 0; k < 4000; ++k) {
            play(out, 1, true);
            lowest = std::min(lowest, out.io->ratio());
            highest = std::max(highest, out.io->ratio());
        }
        EXPECT_GE(lowest, audioIO::minRatio);
        EXPECT_LE(highest, audioIO::maxRatio);
        if (ppm < 0) {
            EXPECT_EQ(lowest, audioIO::minRatio);
        }
        play(out, 1, false);
        EXPECT_EQ(out.io->ratio(), 1.0);
        out.setStreamId(0);
        card.advance(std::chrono::milliseconds(50));
    }
}

TEST_F(Ring, BalanceAndChannelLayouts) {
    auto level = [&](int device, bool stereo, float balance) {
        AudioOutputStream out(device);
        for (int k = 0; k < 60; ++k) {
            card.advance(std::chrono::nanoseconds(int64_t(blockNs)));
            buff<float> b(stereo ? 1024 : 512);
            for (size_t i = 0; i < b.count; ++i) b[i] = stereo ? (i % 2 ? 0.2f : 0.6f) : 0.5f;
            out.write(b, false, stereo, balance);
        }
        card.clearPlayed(device);
        card.advance(std::chrono::milliseconds(12));
        auto p = card.played(device);
        out.setStreamId(0);
        card.advance(std::chrono::milliseconds(30));
        return device == FakeAudio::monoOut ? std::vector<float>{p.at(100)} : std::vector<float>{p.at(200), p.at(201)};
    };
    EXPECT_EQ(level(FakeAudio::stereoOut, false, 0.0f), (std::vector<float>{0.5f, 0.0f}));
    EXPECT_EQ(level(FakeAudio::stereoOut, false, 0.5f), (std::vector<float>{0.5f, 0.5f}));
    EXPECT_EQ(level(FakeAudio::stereoOut, false, 1.0f), (std::vector<float>{0.0f, 0.5f}));
    EXPECT_EQ(level(FakeAudio::stereoOut, false, 0.25f), (std::vector<float>{0.5f, 0.25f}));
    EXPECT_EQ(level(FakeAudio::stereoOut, true, 0.5f), (std::vector<float>{0.6f, 0.2f}));
    EXPECT_FLOAT_EQ(level(FakeAudio::monoOut, true, 0.5f)[0], 0.4f);
    EXPECT_EQ(level(FakeAudio::monoOut, false, 0.5f), (std::vector<float>{0.5f}));
}

TEST_F(Ring, SidetoneRampsReplacesTheFirstStreamAndAddsToLaterOnes) {
    AudioOutputStream first(FakeAudio::stereoOut), second(FakeAudio::stereoOut);
    first.genToneFrequency(750);
    first.genVolume(0.5f);
    first.genVolume(std::nanf("")); // refused: the tone keeps its volume
    for (int k = 0; k < 80; ++k) {
        card.advance(std::chrono::nanoseconds(int64_t(blockNs)));
        first.write(buff<float>(512, 0.25f), false, false, 0.5f);
        second.write(buff<float>(512, 0.125f), false, false, 0.5f);
    }
    auto next = [&] { // the frames of the next callback, left channel
        card.clearPlayed(FakeAudio::stereoOut);
        card.advance(std::chrono::nanoseconds(int64_t(blockNs)));
        first.write(buff<float>(512, 0.25f), false, false, 0.5f);
        second.write(buff<float>(512, 0.125f), false, false, 0.5f);
        auto p = card.played(FakeAudio::stereoOut);
        std::vector<float> left;
        for (size_t i = 0; i < p.size(); i += 2) {
            EXPECT_EQ(p[i], p[i + 1]);
            left.push_back(p[i]);
        }
        return left;
    };
    ASSERT_FLOAT_EQ(next().at(0), 0.375f);
    first.genTone(true);
    auto keyed = next();
    const double step = 2 * std::numbers::pi * 750 / 48000;
    for (int f = 0; f < 512; ++f) {
        const double g = f <= 254 ? 0.5 * std::cos((255 - f) * std::numbers::pi / 255) + 0.5 : 1.0;
        ASSERT_NEAR(keyed[f], 0.5 * 0.99 * g * std::sin(f * step) + 0.125, 1e-4) << f;
    }
    first.genTone(false);
    auto released = next();
    const double phase = 512 * step;
    for (int f = 0; f < 512; ++f) {
        const double g = 0.5 * std::cos((255 - f) * std::numbers::pi / 255) + 0.5;
        const double expected = f <= 254 ? 0.5 * 0.99 * (1 - g) * std::sin(phase + f * step) + 0.125 : 0.375;
        ASSERT_NEAR(released[f], expected, 5e-4) << f;
    }
    // Keyed on a later stream (default 650 Hz, volume 1), the tone is added
    // to the mix.
    second.genToneHW(true);
    auto added = next();
    const double step2 = 2 * std::numbers::pi * 650 / 48000;
    for (int f = 0; f < 512; ++f) {
        const double g = f <= 254 ? 0.5 * std::cos((255 - f) * std::numbers::pi / 255) + 0.5 : 1.0;
        ASSERT_NEAR(added[f], 0.99 * g * std::sin(f * step2) + 0.375, 1e-4) << f;
    }
}

TEST(RingCopies, RunsWrapAtTheRingsEndAndReadsCanClearOrAdd) {
    std::vector<float> ring(8, 0.0f), in{1, 2, 3, 4, 5};
    EXPECT_EQ(audioIO::copyToCircular(in.data(), 5, ring.data(), 8, 6), 3u);
    EXPECT_EQ(ring, (std::vector<float>{3, 4, 5, 0, 0, 0, 1, 2}));
    buff<float> held(8), out(5);
    std::copy(ring.begin(), ring.end(), held.begin());
    EXPECT_EQ(audioIO::copyFromCircular(held, 6, out), 3u);
    EXPECT_EQ(std::vector<float>(out.begin(), out.end()), in);
    std::vector<float> mix(5, 10.0f);
    EXPECT_EQ(audioIO::AddFromCircularAndClear(ring.data(), 8, 7, mix.data(), 2), 1u);
    EXPECT_EQ(mix, (std::vector<float>{12, 13, 10, 10, 10}));
    EXPECT_EQ(audioIO::copyFromCircularAndClear(ring.data(), 8, 6, mix.data(), 4), 2u);
    EXPECT_EQ(mix, (std::vector<float>{1, 0, 0, 4, 10})); // the first read took 2 and 3
    EXPECT_EQ(ring, (std::vector<float>{0, 0, 5, 0, 0, 0, 0, 0}));
    EXPECT_EQ(audioIO::circDiff(5, 65530), 11);
    EXPECT_EQ(audioIO::circDiff(65530, 5), 65525);
}

TEST(RingGapSkip, MissedBuffersMoveTheReaderOnModuloTheRing) {
    // Buffers of 375 frames last 2^-7 s: every time below is exact.
    audioIO io;
    std::vector<float> out(750);
    auto call = [&](double t) {
        io.AudioCallback(out.data(), 375, t, false, 2);
        return int(io.readPosition());
    };
    EXPECT_EQ(call(0.0), 375);                         // time unknown: no skip
    EXPECT_EQ(call(1.0), 375 + 127 * 375 + 375);       // 128 buffers since 0: 127 skipped
    EXPECT_EQ(call(1.0 + 1 / 128.0), 48750);           // the next buffer
    EXPECT_EQ(call(1.0 + 3 / 128.0), 49125);           // 2 buffers apart: below 2.5, no skip
    EXPECT_EQ(call(1.0 + 7 / 128.0), 49125 + 3 * 375 + 375);
    EXPECT_EQ(call(std::nan("")), 51000);              // ignored
    EXPECT_EQ(call(INFINITY), 51375);
    EXPECT_EQ(call(1.0 + 8 / 128.0), 51750);           // one buffer after the last good time
    // 2^30 s later the skip, (2^37 - 1) × 375 frames, is reduced modulo the
    // ring before it becomes an integer: 65536 - 375.
    EXPECT_EQ(call(1.0 + 8 / 128.0 + 1073741824.0), 51750);
    EXPECT_EQ(call(1.0), 52125); // backwards: no skip
}

} // namespace
