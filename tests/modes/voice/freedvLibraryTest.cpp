// FreeDV with the system's codec2: loading, the mode list, the size trace,
// refused input, conjugation below 10 MHz, saturating speech and mode
// changes while the transceiver's lane streams.
#include "core/vtrx.h"
#include "modes/voice/FreeDVModDemod.h"

#include "framework/objectFixture.h"
#include "freedvChain.h"
#include "support/logCapture.h"
#include "support/skipOrFail.h"
#include "support/stdoutCapture.h"
#include "support/waitFor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <numbers>
#include <thread>

namespace {

using cplx = std::complex<float>;

class FreeDVLibrary : public ObjectTest {
protected:
    void SetUp() override {
        FreeDVLib::getInstance()->LoadApi();
        if (!FreeDVLib::getInstance()->loaded()) VIREO_SKIP_OR_FAIL("codec2 (libcodec2-1.0) is not installed");
    }
    /// A microphone block of a tone, as the transceiver hands it over.
    static buff<cplx> toneBlock(double hz, float amplitude, int64_t& at) {
        buff<cplx> b(512);
        for (auto& s : b) {
            const float m = amplitude * float(std::sin(2 * std::numbers::pi * hz * double(at++) / 48000.0));
            s = {m, m};
        }
        return b;
    }
};

TEST(FreeDVLibraryLoad, TwoModesLoadOnceListTheModesAndTraceMode7Once) {
    sothreadPool pool{1};
    auto group = std::make_shared<syncTask>(pool);
    const bool before = FreeDVLib::getInstance()->loaded();
    LogCapture log;
    StdoutCapture out;
    auto a = std::make_shared<FreeDVModDemod>(group);
    if (!FreeDVLib::getInstance()->loaded()) VIREO_SKIP_OR_FAIL("codec2 (libcodec2-1.0) is not installed");
    const std::string trace = out.stop();
    auto b = std::make_shared<FreeDVModDemod>(group);
    size_t loadedLines = 0;
    for (auto& l : log.lines()) loadedLines += l.starts_with("info|freedv loaded dll ");
    EXPECT_EQ(loadedLines, before ? 0u : 1u);
    EXPECT_FALSE(log.contains("info|failed to load freedv_set_clip")); // 1.0.5 has all fifteen

    std::vector<std::pair<int, std::string>> modes;
    for (auto& item : a->Modes.items()) modes.emplace_back(item->Value.get(), item->Label.get());
    EXPECT_EQ(modes, (std::vector<std::pair<int, std::string>>{{0, "1600"},
                                                               {3, "2400A"},
                                                               {4, "2400B"},
                                                               {5, "800XA"},
                                                               {6, "700C"},
                                                               {7, "700D"},
                                                               {13, "700E"},
                                                               {8, "2020"},
                                                               {16, "2020B"},
                                                               {17, "2020C"}}));
    // 700D: maximum speech and modem samples, per frame, speech and modem rate.
    EXPECT_EQ(trace, "1320\r\n1320\r\n1280\r\n1280\r\n8000\r\n8000\r\n");
    EXPECT_EQ(a->rateFactor, 6);
    StdoutCapture closing;
    a.reset();
    EXPECT_EQ(closing.stop(), "closing fdv\r\nclosed fdv\r\n");
    while (pool.busy()) std::this_thread::yield();
}

TEST_F(FreeDVLibrary, OverlongBlocksAndBadSamplesAreRefusedWithOneLine) {
    LogCapture log;
    auto mode = std::make_shared<FreeDVModDemod>(group);
    buff<cplx> big(600, cplx{0.1f, 0.1f}), out(600, cplx{1.0f, 0.0f});
    for (int i = 0; i < 2; ++i) {
        auto audio = mode->demodulate(big);
        EXPECT_EQ(audio.count, 600u);
        EXPECT_TRUE(std::all_of(audio.begin(), audio.end(), [](float s) { return s == 0.0f; }));
        mode->modulate(big, out);
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](cplx s) { return s == cplx{}; }));
    }
    EXPECT_EQ(log.count("info|freedv receive block of 600 refused"), 1u);
    EXPECT_EQ(log.count("info|freedv transmit block of 600 refused"), 1u);
    // An output shorter than the microphone block would be written past.
    buff<cplx> shortOut(100);
    mode->modulate(buff<cplx>(512, cplx{}), shortOut);

    // A NaN reaches at most its own block: the filters and the gain control
    // carry on with finite values.
    int64_t at = 0;
    auto nan = toneBlock(700, 0.3f, at);
    nan[10] = {std::numeric_limits<float>::quiet_NaN(), 0.0f};
    buff<cplx> iq(512);
    mode->modulate(nan, iq);
    mode->demodulate(nan);
    for (int b = 0; b < 40; ++b) {
        mode->modulate(toneBlock(700, 0.3f, at), iq);
        for (auto s : iq) ASSERT_TRUE(std::isfinite(s.real()) && std::isfinite(s.imag()));
        auto audio = mode->demodulate(iq);
        for (auto s : audio) ASSERT_TRUE(std::isfinite(s));
    }
    EXPECT_TRUE(std::isfinite(mode->complexAgc.gain));
}

TEST_F(FreeDVLibrary, Below10MHzBothDirectionsAreConjugated) {
    auto radioless = [&](long long vfo) {
        auto v = std::make_shared<vtrx>(group);
        onGroup(v, [&] { v->vfo.hostSet(vfo); });
        auto mode = std::make_shared<FreeDVModDemod>(group);
        mode->setOwner(v);
        return std::make_pair(v, mode);
    };
    auto [v1, low] = radioless(9999999);
    auto [v2, high] = radioless(10000000);
    int64_t at1 = 0, at2 = 0;
    std::vector<cplx> a, b;
    for (int i = 0; i < 30; ++i) {
        buff<cplx> x(512), y(512);
        low->modulate(toneBlock(440, 0.3f, at1), x);
        high->modulate(toneBlock(440, 0.3f, at2), y);
        a.insert(a.end(), x.begin(), x.end());
        b.insert(b.end(), y.begin(), y.end());
    }
    double power = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(a[i], std::conj(b[i])) << i;
        power += std::norm(b[i]);
    }
    EXPECT_GT(power, 0.0);
    // Receive: the same IQ conjugated at one and not at the other gives the
    // same audio.
    std::vector<float> heardLow, heardHigh;
    for (size_t at = 0; at + 512 <= b.size(); at += 512) {
        buff<cplx> x(512), y(512);
        for (size_t i = 0; i < 512; ++i) x[i] = std::conj(b[at + i]), y[i] = b[at + i];
        auto l = low->demodulate(x);
        auto h = high->demodulate(y);
        heardLow.insert(heardLow.end(), l.begin(), l.end());
        heardHigh.insert(heardHigh.end(), h.begin(), h.end());
    }
    EXPECT_EQ(heardLow, heardHigh);
    onGroup(v1, [&] { v1->remove(); });
    onGroup(v2, [&] { v2->remove(); });
}

TEST_F(FreeDVLibrary, LoudSpeechAtCompressionTwoSaturatesInsteadOfWrapping) {
    auto mode = std::make_shared<FreeDVModDemod>(group);
    onGroup(mode, [&] { mode->compression.hostSet(2.0); });
    int64_t at = 0;
    buff<cplx> iq(512);
    int high = 0, low = 0, jumps = 0;
    int16_t last = 0;
    for (int b = 0; b < 40; ++b) {
        mode->modulate(toneBlock(300, 0.9f, at), iq);
        // The frame being collected, as far as it goes.
        for (int i = 0; i < mode->txSpeechPos; ++i) {
            const int16_t s = mode->txSpeech[size_t(i)];
            high += s == 32767;
            low += s == -32768;
            if (i > 0 && std::abs(int(s) - int(last)) > 20000) ++jumps;
            last = s;
        }
    }
    EXPECT_GT(high, 10);
    EXPECT_GT(low, 10);
    EXPECT_EQ(jumps, 0); // a wrapped sample would leap to the other sign
}

TEST_F(FreeDVLibrary, ModeChangesWhileStreamingStayInsideTheBuffers) {
    const auto speech = freedvtest::recording48k(0.5f);
    auto tx = std::make_shared<FreeDVModDemod>(group);
    auto rx = std::make_shared<FreeDVModDemod>(group);
    std::atomic<bool> done{false};
    std::atomic<int> blocks{0};
    // The transceiver's lane: blocks through both directions without pause.
    std::thread lane([&] {
        size_t at = 0;
        while (!done.load()) {
            buff<cplx> in(512), iq(512);
            for (auto& s : in) {
                const float m = speech.empty() ? 0.0f : speech[at++ % speech.size()];
                s = {m, m};
            }
            tx->modulate(in, iq);
            rx->demodulate(iq);
            blocks.fetch_add(1);
        }
    });
    // The mode's own lane: a change every few blocks, from long frames to
    // short ones and between the three paths.
    const int sequence[] = {7, 0, 8, 3, 0, 7, 3, 8, 7, 0};
    StdoutCapture quiet; // the size traces
    for (int round = 0; round < 3; ++round)
        for (int m : sequence) {
            onGroup(tx, [&] { tx->Mode.hostSet(m); });
            onGroup(rx, [&] { rx->Mode.hostSet(m); });
            const int seen = blocks.load();
            EXPECT_TRUE(waitFor([&] { return blocks.load() >= seen + 3; }));
        }
    done = true;
    lane.join();
    quiet.stop();
    EXPECT_EQ(tx->Mode.get(), 0);
    EXPECT_NE(tx->fdv, nullptr);
}

} // namespace
