// FreeDV against stand-ins of codec2 that lack one entry: freedv_set_clip
// (looked up, never called: the mode works), or freedv_comprx (called on
// every receive step: no instance opens). The stand-in is an identity codec
// in the shape of FreeDV 1600, so the mode's rate adaptation can be checked
// sample for sample.
#include "modes/voice/FreeDVModDemod.h"

#include "framework/objectFixture.h"
#include "standins/standinControl.h"
#include "support/logCapture.h"
#include "support/stdoutCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

using cplx = std::complex<float>;

int calls(const char* name) {
    return standin::control<int(const char*)>("libcodec2.so", "standin_codec2_calls")(name);
}

class FreeDVStandin : public ObjectTest {};

#ifdef STANDIN_LACKS_CLIP

TEST_F(FreeDVStandin, ALibraryWithoutTheClipSetterLogsItAndTheModeWorks) {
    LogCapture log;
    StdoutCapture out;
    auto mode = std::make_shared<FreeDVModDemod>(group);
    auto lines = log.lines();
    lines.resize(std::min<size_t>(lines.size(), 2)); // then the flat-curve notice: no root object here
    EXPECT_EQ(lines, (std::vector<std::string>{"info|freedv loaded dll libcodec2.so",
                                               "info|failed to load freedv_set_clip"}));
    ASSERT_NE(mode->fdv, nullptr);
    EXPECT_EQ(mode->Modes.items().size(), 10u);
    EXPECT_EQ(out.stop(), "320\r\n320\r\n320\r\n320\r\n8000\r\n8000\r\n");

    // A 1 kHz tone through modulate, straight into demodulate: with the
    // identity codec the speaker plays the microphone, after the ring's
    // 8192 speech samples of silence.
    std::vector<float> heard;
    int64_t n = 0;
    for (int b = 0; b < 200; ++b) {
        buff<cplx> in(512), iq(512);
        for (auto& s : in) {
            const float m = 0.3f * float(std::sin(2 * std::numbers::pi * 1000.0 * double(n++) / 48000.0));
            s = {m, m};
        }
        mode->modulate(in, iq);
        auto audio = mode->demodulate(iq);
        heard.insert(heard.end(), audio.begin(), audio.end());
    }
    const size_t ringDelay = 8192 * 6;
    float early = 0, late = 0;
    for (size_t i = 0; i < ringDelay; ++i) early = std::max(early, std::abs(heard[i]));
    int crossings = 0;
    for (size_t i = heard.size() - 48000; i < heard.size(); ++i) {
        late = std::max(late, std::abs(heard[i]));
        crossings += heard[i - 1] < 0 && heard[i] >= 0;
    }
    EXPECT_EQ(early, 0.0f);
    EXPECT_GT(late, 0.05f);
    EXPECT_NEAR(crossings, 1000, 2); // one second of the tone
    EXPECT_EQ(calls("freedv_set_clip"), 0);
    EXPECT_EQ(calls("freedv_open"), 1);
    EXPECT_GT(calls("freedv_comprx"), 0);
}

TEST_F(FreeDVStandin, InstancesTheModeCannotServeAreRefusedWithALine) {
    auto mode = std::make_shared<FreeDVModDemod>(group);
    StdoutCapture quiet;
    LogCapture log;
    for (int bent : {90, 91, 92, 93}) {
        mode->setMode(bent);
        EXPECT_EQ(mode->fdv, nullptr) << bent;
        buff<cplx> in(512, cplx{0.3f, 0.3f}), iq(512);
        mode->modulate(in, iq); // would loop for ever on a rate factor of 0
        mode->demodulate(in);
    }
    quiet.stop();
    auto lines = log.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "info|freedv mode 90 refused: rates that do not divide 48000 (speech 320 at 0, modem 320 at 8000)");
    EXPECT_EQ(lines[1], "info|freedv mode 91 refused: rates that do not divide 48000 (speech 320 at 8000, modem 320 at 96000)");
    EXPECT_EQ(lines[2], "info|freedv mode 92 refused: a decode larger than the speech ring (speech 320 at 8000, modem 320 at 8000)");
    EXPECT_EQ(lines[3], "info|freedv mode 93 refused: frames the mode cannot place at 48000 (speech 320 at 8000, modem 1900 at 48000)");
    EXPECT_EQ(calls("freedv_close"), 5); // the first instance, and each refused one
    mode->setMode(0);
    EXPECT_NE(mode->fdv, nullptr);
}

TEST_F(FreeDVStandin, ACodecYieldingTooLittleSpeechGetsSilenceUntilTheRingIsHalfFullAgain) {
    // 300 speech samples for every 320: the ring loses 500 a second, and the
    // reader would reach the writer after 16 s and then play what the ring
    // held 2 s before. It pauses instead, for about a second.
    auto mode = std::make_shared<FreeDVModDemod>(group);
    StdoutCapture quiet;
    mode->setMode(1);
    int64_t n = 0;
    std::vector<float> heard;
    for (int b = 0; b < 30 * 94; ++b) {
        buff<cplx> in(512), iq(512);
        for (auto& s : in) {
            const float m = 0.3f * float(std::sin(2 * std::numbers::pi * 1000.0 * double(n++) / 48000.0));
            s = {m, m};
        }
        mode->modulate(in, iq);
        auto audio = mode->demodulate(iq);
        heard.insert(heard.end(), audio.begin(), audio.end());
    }
    quiet.stop();
    // The longest quiet stretch after the first ring's worth.
    size_t longest = 0, run = 0;
    for (size_t i = 2 * 48000; i < heard.size(); ++i) {
        run = std::abs(heard[i]) < 1e-4f ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    EXPECT_NEAR(double(longest) / 48000.0, 8192.0 / 8000.0, 0.1);
    float late = 0;
    for (size_t i = heard.size() - 24000; i < heard.size(); ++i) late = std::max(late, std::abs(heard[i]));
    EXPECT_GT(late, 0.05f); // and plays again
}

#else

TEST_F(FreeDVStandin, ALibraryWithoutTheReceiveEntryOpensNothingAndTheModeIsSilent) {
    LogCapture log;
    StdoutCapture out;
    auto mode = std::make_shared<FreeDVModDemod>(group);
    onGroup(mode, [&] { mode->Mode.hostSet(0); }); // the hook tries again: still refused, not logged again
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"info|freedv loaded dll libcodec2.so",
                                                     "info|failed to load freedv_comprx",
                                                     "info|freedv mode 7 not opened: freedv_comprx missing"}));
    EXPECT_EQ(mode->fdv, nullptr);
    EXPECT_EQ(calls("freedv_open"), 0);

    buff<cplx> in(512, cplx{0.3f, 0.3f}), iq(512, cplx{1.0f, 0.0f});
    mode->modulate(in, iq);
    EXPECT_TRUE(std::all_of(iq.begin(), iq.end(), [](cplx s) { return s == cplx{}; }));
    auto audio = mode->demodulate(in);
    EXPECT_EQ(audio.count, 512u);
    EXPECT_TRUE(std::all_of(audio.begin(), audio.end(), [](float s) { return s == 0.0f; }));
    mode.reset();
    EXPECT_EQ(out.stop(), "");
}

#endif

} // namespace
