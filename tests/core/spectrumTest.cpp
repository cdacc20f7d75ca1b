// Spectrum lines of a transceiver: where a tone lands, levels against
// reference transforms, pacing, overlap, averaging, the wide-band fill and
// the limits on zoom and waterfall speed.
#include "core/vtrx.h"

#include "framework/hostArrays.h"
#include "framework/objectFixture.h"
#include "testRadio.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <tuple>
#include <vector>

namespace {

constexpr int N = 2048;
constexpr long long centre = 7000000;

struct Line {
    std::vector<float> v;
    int rate;
    double lo, hi;
    int peak() const { return int(std::max_element(v.begin(), v.end()) - v.begin()); }
};

// The host side: callbacks run on the polling thread only.
std::vector<Line> lines;

void onSpectrum(void* handle, int rate, double lo, double hi) {
    auto* b = static_cast<buff<float>*>(handle);
    lines.push_back({std::vector<float>(b->begin(), b->end()), rate, lo, hi});
    vireo::api::arrayDelete<float>(handle);
}

// 7-term Blackman-Harris at half-sample points, mean 1, in double precision.
std::vector<double> referenceWindow() {
    const double a[7] = {0.27105140069342, 0.43329793923448, 0.21812299954311, 0.06592544638803,
                         0.01081174209837, 0.00077658482522, 0.00001388721735};
    std::vector<double> w(N);
    double sum = 0;
    for (int n = 0; n < N; ++n) {
        double t = 2 * std::numbers::pi * (n + 0.5) / N;
        for (int k = 0; k < 7; ++k) w[n] += (k % 2 ? -a[k] : a[k]) * std::cos(k * t);
        sum += w[n];
    }
    for (double& x : w) x *= N / sum;
    return w;
}

// Power of transform bin k (0 = DC) of a windowed frame, scaled as a line.
double referencePower(const std::vector<std::complex<double>>& x, const std::vector<double>& w, int k) {
    std::complex<double> s = 0;
    for (int n = 0; n < N; ++n) s += x[n] * w[n] * std::polar(1.0, -2 * std::numbers::pi * k * n / N);
    return 10.0 / (double(N) * N) * std::norm(s);
}

buff<std::complex<float>> tone(size_t n, int rate, double hz, double amplitude = 1.0, size_t start = 0) {
    buff<std::complex<float>> b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = std::complex<float>(std::polar(amplitude, 2 * std::numbers::pi * hz * double(start + i) / rate));
    return b;
}

class SpectrumTest : public ObjectTest {
protected:
    std::shared_ptr<FakeRadio> radio = std::make_shared<FakeRadio>(group);
    std::shared_ptr<vtrx> v;

    void SetUp() override {
        lines.clear();
        onGroup(radio, [&] { radio->addVtrx(centre, 0, 0); });
        {
            std::lock_guard<std::mutex> l(radio->listMutex);
            v = radio->vtrxList.back();
        }
        v->bindnewSpectrum(onSpectrum);
    }

    void pollRender() {
        asTask t;
        while (pool.renderQueue.pop(t)) t.fn();
    }

    /// One block through the spectrum on the transceiver's task group; the
    /// host then polls (the render queue holds 64 lines).
    void feed(buff<std::complex<float>> block, int rate, long long frequency = centre,
              buff<float> wideBand = {}, double wideBandValue = 0) {
        onGroup(v, [&] { v->processRxSpectrumChunk(block, frequency, rate, wideBand, wideBandValue); });
        pollRender();
    }

    void configure(double zoom, bool foreground, int speed = 0, long long offset = 0) {
        onGroup(v, [&] {
            v->specZoom.hostSet(zoom);
            v->foregroundDisplay.hostSet(foreground);
            v->waterfallSpeed.hostSet(speed);
            v->specOffset.hostSet(offset);
            v->specCentre = v->specFreq.get(); // as if a frame had ended
        });
    }
};

} // namespace

TEST_F(SpectrumTest, ALineMatchesAReferenceTransformOfTheWindowedFrame) {
    configure(1.0, true);
    // Two tones, one between bins, so that the window's main lobe shows.
    std::vector<std::complex<double>> x(N);
    buff<std::complex<float>> block(N);
    for (int n = 0; n < N; ++n) {
        x[n] = std::polar(0.5, 2 * std::numbers::pi * 3000.0 * n / 48000) +
               std::polar(0.01, -2 * std::numbers::pi * 7321.7 * n / 48000);
        block[n] = std::complex<float>(x[n]);
        x[n] = std::complex<double>(block[n]);
    }
    feed(block, 48000);
    ASSERT_EQ(lines.size(), 1u);
    const Line& l = lines[0];
    EXPECT_EQ(l.rate, 48000);
    EXPECT_DOUBLE_EQ(l.lo, centre - 24000.0);
    EXPECT_DOUBLE_EQ(l.hi, centre + 24000.0);
    ASSERT_EQ(l.v.size(), size_t(N));
    auto w = referenceWindow();
    int compared = 0;
    for (int i = 0; i < N; ++i) {
        double expected = std::log10(referencePower(x, w, i - N / 2) + 1e-37);
        if (expected < -6) {
            EXPECT_LT(l.v[i], -5.0) << i; // leakage far below the tones: float rounding only
            continue;
        }
        EXPECT_NEAR(l.v[i], expected, 2e-3) << i;
        ++compared;
    }
    EXPECT_GE(compared, 15);
    // An on-bin tone of amplitude a reads log10(10 a^2).
    EXPECT_NEAR(l.v[1024 + 128], std::log10(10 * 0.25), 1e-3);
}

TEST_F(SpectrumTest, AToneLandsOnTheBinOfItsFrequency) {
    struct Case {
        int rate;
        size_t blockLength;
        double zoom;
        long long offset; // specOffset
        double toneHz;    // from the block's centre
    };
    const Case cases[] = {
        {48000, 512, 1.0, 0, 937.5},
        {192000, 2048, 1.0, 0, -18750.0},
        {250000, 4096, 1.0, 0, 61035.15625},
        {192000, 2048, 4.0, 10000, 10468.75}, // zoomed around centre + 10000
        {250000, 4096, 0.5, 0, 7324.21875},
        {48000, 512, 0.5, 30000, 4687.5},     // band cut off at the line's low edge
        {250000, 4096, 8.0, -40000, -39023.4375},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "rate " << c.rate << " zoom " << c.zoom << " offset " << c.offset);
        lines.clear();
        configure(c.zoom, true, 0, c.offset);
        // Enough for the decimator to settle and several lines.
        size_t samples = size_t(3 * N * std::max(1.0, c.zoom));
        for (size_t s = 0; s < samples; s += c.blockLength) feed(tone(c.blockLength, c.rate, c.toneHz, 1.0, s), c.rate);
        ASSERT_FALSE(lines.empty());
        const Line& l = lines.back();
        double span = c.rate / c.zoom;
        double lineCentre = double(centre + c.offset);
        EXPECT_DOUBLE_EQ(l.lo, lineCentre - span / 2);
        EXPECT_DOUBLE_EQ(l.hi, lineCentre + span / 2);
        double expectedBin = (centre + c.toneHz - l.lo) / ((l.hi - l.lo) / N);
        EXPECT_EQ(l.peak(), int(std::lround(expectedBin)));
        EXPECT_NEAR(l.v[l.peak()], 1.0, 0.01); // log10(10 x 1^2): unit gain through the decimator
    }
}

TEST_F(SpectrumTest, BackgroundLinesArePacedToAboutTwoPerSecond) {
    configure(1.0, false);
    // 10 ms per block against 500 - 42.67: blocks 1 to 45 are skipped, 46 to
    // 49 fill a frame.
    for (int b = 1; b <= 98; ++b) {
        feed(tone(512, 48000, 1000.0), 48000);
        size_t want = b < 49 ? 0u : b < 98 ? 1u : 2u;
        ASSERT_EQ(lines.size(), want) << b;
    }
    EXPECT_EQ(lines.size(), 2u);
}

TEST_F(SpectrumTest, ForegroundOverlapGivesALinePerSlide) {
    configure(1.0, true, 2); // 4 transforms per 2048 samples
    for (int b = 0; b < 10; ++b) feed(tone(512, 48000, 937.5, 1.0, size_t(b) * 512), 48000);
    ASSERT_EQ(lines.size(), 7u); // one at 2048 samples, then one per 512
    // Overlapping frames are windowed once, when transformed.
    for (const Line& l : lines) {
        EXPECT_EQ(l.peak(), 1024 + 40);
        EXPECT_NEAR(l.v[l.peak()], 1.0, 1e-3);
    }
}

TEST_F(SpectrumTest, HighRatesAverageSeveralSpectraPerLine) {
    // 2000000 per second: 8 spectra in linear power per line. Frame f carries
    // an on-bin tone of amplitude f + 1, so the line reads 10 x mean(a^2).
    configure(1.0, true);
    buff<std::complex<float>> block(16 * N);
    for (int f = 0; f < 16; ++f) {
        auto t = tone(N, 2000000, 200 * 976.5625, f % 8 + 1.0);
        std::copy(t.begin(), t.end(), block.begin() + f * N);
    }
    feed(block, 2000000);
    ASSERT_EQ(lines.size(), 2u);
    double meanSquare = (1 + 4 + 9 + 16 + 25 + 36 + 49 + 64) / 8.0;
    for (const Line& l : lines) {
        EXPECT_EQ(l.rate, 2000000);
        EXPECT_DOUBLE_EQ(l.lo, centre - 1000000.0);
        EXPECT_EQ(l.peak(), 1024 + 200);
        EXPECT_NEAR(l.v[l.peak()], std::log10(10 * meanSquare), 1e-3);
    }

    // A zoom change starts the average again: the new span's 4 spectra
    // (D = 1000000) make the next line, not what was summed before.
    lines.clear();
    feed(buff<std::complex<float>>(block, 0, 3 * N), 2000000); // amplitudes 1 to 3
    onGroup(v, [&] { v->specZoom.hostSet(2.0); });
    feed(tone(8 * N, 2000000, 200 * 976.5625), 2000000);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].peak(), 1024 + 400);
    EXPECT_NEAR(lines[0].v[1024 + 400], 1.0, 0.01);

    // 384000 per second: every spectrum is a line of its own.
    lines.clear();
    configure(1.0, true);
    buff<std::complex<float>> slow(2 * N);
    for (int f = 0; f < 2; ++f) {
        auto t = tone(N, 384000, 100 * 187.5, f + 1.0);
        std::copy(t.begin(), t.end(), slow.begin() + f * N);
    }
    feed(slow, 384000);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NEAR(lines[0].v[1124], 1.0, 1e-3);
    EXPECT_NEAR(lines[1].v[1124], std::log10(40.0), 1e-3);
}

TEST_F(SpectrumTest, IdleLinesShowTheEmptyBandAndTheFloorAroundIt) {
    configure(1.0, true);
    feed(buff<std::complex<float>>(N, {0, 0}), 48000);
    ASSERT_EQ(lines.size(), 1u);
    for (float x : lines[0].v) ASSERT_NEAR(x, -37.0, 1e-3);

    // Zoomed out without wide-band data: the band fills bins 512 to 1536.
    lines.clear();
    configure(0.5, true);
    feed(buff<std::complex<float>>(N, {0, 0}), 48000);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_DOUBLE_EQ(lines[0].lo, centre - 48000.0);
    EXPECT_DOUBLE_EQ(lines[0].hi, centre + 48000.0);
    for (int i = 0; i < N; ++i) ASSERT_NEAR(lines[0].v[i], i >= 512 && i <= 1536 ? -37.0 : -20.0, 1e-3) << i;

    // Zoomed in on a centre outside the block: nothing of the block shows.
    lines.clear();
    configure(2.0, true, 0, 100000);
    feed(tone(4 * N, 48000, 1000.0), 48000);
    ASSERT_FALSE(lines.empty());
    EXPECT_DOUBLE_EQ(lines[0].lo, centre + 100000 - 12000.0);
    for (float x : lines.back().v) ASSERT_NEAR(x, -20.0, 1e-3);
}

TEST_F(SpectrumTest, ZoomedOutLinesTakeTheRestFromTheWideBandSpectrum) {
    // A 61.44 MHz ADC (its spectrum ends at 30.72 MHz) with a cosine on its
    // bin 230, 6.9 to 6.93 MHz. The line spans 6.904 to 7.096 MHz.
    const double wideBandValue = 30720000;
    configure(0.25, true);
    buff<float> wideBand(N);
    std::vector<std::complex<double>> x(N);
    for (int n = 0; n < N; ++n) {
        wideBand[n] = float(std::cos(2 * std::numbers::pi * 230 * n / N));
        x[n] = wideBand[n];
    }
    feed(buff<std::complex<float>>(N, {0, 0}), 48000, centre, wideBand, wideBandValue);
    ASSERT_EQ(lines.size(), 1u);
    const Line& l = lines[0];
    auto w = referenceWindow();
    double W = (l.hi - l.lo) / N;
    int compared = 0;
    for (int i = 0; i < N; ++i) {
        if (i >= 768 && i <= 1280) {
            ASSERT_NEAR(l.v[i], -37.0, 1e-3) << i; // the (empty) received band
            continue;
        }
        int k = int((l.lo + i * W) * 1024 / wideBandValue);
        // A real input: half the transform's length, four times the scale.
        double expected = std::log10(4 * referencePower(x, w, k) + 1e-37);
        if (expected < -3) continue;
        ASSERT_NEAR(l.v[i], expected, 2e-3) << i;
        ++compared;
    }
    EXPECT_GE(compared, 278); // bins 0 to 277 lie on bin 230 itself
    EXPECT_NEAR(l.v[0], 1.0, 1e-3);
}

TEST_F(SpectrumTest, ZoomIsLimitedByTheRateAndNeverByZero) {
    struct Case {
        int rate;
        double asked;
        int zoom; // what the line shows
    };
    const Case cases[] = {
        {48000, 1000, 64},
        {2000000, 1e6, 4096},
        {24000, 64, 32}, // below 48000 the limit scales with the rate
        {8000, 64, 8},   // limit 10.67; the decimator takes its power of two
        {8000, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "rate " << c.rate << " zoom " << c.asked);
        lines.clear();
        configure(c.asked, true);
        double span = 2 * (c.rate / c.zoom / 2);
        feed(tone(size_t(N + 16) * c.zoom, c.rate, span / N * 256), c.rate);
        ASSERT_FALSE(lines.empty());
        EXPECT_DOUBLE_EQ(lines.back().hi - lines.back().lo, span);
        EXPECT_EQ(lines.back().peak(), 1024 + 256);
    }
    lines.clear();
    feed(tone(N, 0, 0), 0); // no rate: nothing to place
    EXPECT_TRUE(lines.empty());
}

TEST_F(SpectrumTest, BadZoomIsRefusedAndAZoomChangeRestartsTheFrame) {
    configure(1.0, true);
    feed(tone(1024, 48000, 1000.0), 48000);
    onGroup(v, [&] { v->specZoom.hostSet(0.5); });
    feed(tone(1024, 48000, 1000.0), 48000);
    EXPECT_TRUE(lines.empty()); // the first half was dropped
    feed(tone(1024, 48000, 1000.0), 48000);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_DOUBLE_EQ(lines[0].hi - lines[0].lo, 96000.0);

    // Refused values neither change the span nor restart the frame.
    lines.clear();
    feed(tone(1024, 48000, 1000.0), 48000);
    for (double bad : {0.0, -2.0, std::nan("")}) onGroup(v, [&] { v->specZoom.hostSet(bad); });
    feed(tone(1024, 48000, 1000.0), 48000);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_DOUBLE_EQ(lines[0].hi - lines[0].lo, 96000.0);
}

TEST_F(SpectrumTest, WaterfallSpeedIsClamped) {
    // At most 400 lines a second at any rate and zoom: no host shows more, and
    // more would take the time the receive chain needs for the audio.
    const std::tuple<int, double, size_t> cases[] = {{48000, 1.0, 393}, {1536000, 1.0, 375}, {1536000, 64.0, 366}};
    for (auto [rate, zoom, count] : cases) {
        lines.clear();
        configure(zoom, true, 1000); // clamped to 10
        for (size_t at = 0; at < size_t(rate); at += N) feed(tone(N, rate, 937.5, 1.0, at), rate);
        EXPECT_EQ(lines.size(), count) << rate << " zoom " << zoom;
    }

    lines.clear();
    configure(1.0, true);
    onGroup(v, [&] { v->waterfallSpeed.hostSet(-3); }); // one transform per frame
    feed(tone(2 * N, 48000, 937.5), 48000);
    EXPECT_EQ(lines.size(), 2u);
}

TEST_F(SpectrumTest, NothingIsQueuedWithoutABoundCallback) {
    v->bindnewSpectrum(nullptr);
    configure(1.0, true);
    onGroup(v, [&] { v->processRxSpectrumChunk(tone(4 * N, 48000, 937.5), centre, 48000, {}, 0); });
    asTask t;
    EXPECT_FALSE(pool.renderQueue.pop(t));
}
