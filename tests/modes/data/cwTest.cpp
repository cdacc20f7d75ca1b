// The CW mode driven as its transceiver and host drive it: the code tables,
// the text keyer's timing and shapes, the end of a transmission, the hand
// key, a radio that keys CW itself, refused host values, and the decoder
// reading the keyer's own output.
#include "modes/data/cw/cwModDemod.h"
#include "modes/data/cw/morseTables.h"

#include "core/drainTasks.h"
#include "core/testRadio.h"
#include "core/vtrx.h"
#include "framework/objectFixture.h"
#include "support/editDistance.h"
#include "support/hostHarness.h"
#include "textModeRig.h"
#include "support/logCapture.h"

#include <cmath>
#include <string>
#include <vector>

namespace {

using cplx = std::complex<float>;
constexpr double pi = 3.1415927;

/// The keyer's raised-cosine edge at sample i of an element of L samples.
double edge(int i, int L) {
    if (i <= 256) return 0.5 + 0.5 * std::cos((256 - i) * pi / 256);
    if (i >= L - 256) return 0.5 + 0.5 * std::cos((256 + i - L) * pi / 256);
    return 1.0;
}


class CwMode : public TextModeRig<cwModDemod> {
protected:
    void SetUp() override {
        TextModeRig::SetUp();
        keyThroughTheTransmission(); // the hang time ends only what the keyer keyed
        mode->wpm.bind(host::on<"wpm", double>, mode.get());
        mode->freq.bind(host::on<"freq", double>, mode.get());
    }
    /// A host request on the mode's task group, and what it posted to the
    /// transceiver.
    template <class F>
    void request(F f) {
        onGroup(mode, [&] { f(*mode); });
        drainDataTasks(v);
        poll();
    }
    /// n transmit samples (real parts), on the transceiver's task group.
    std::vector<float> key(size_t n) {
        buff<cplx> out(n), mic(n);
        onGroup(v, [&] { mode->modulate(mic, out); });
        poll();
        std::vector<float> r;
        for (auto s : out) r.push_back(s.real());
        return r;
    }
    bool ptt() { return v->ptt.get(); }
    bool tone() { return v->outputStream.io->toneOn.load(); }
};

} // namespace

TEST(CwTables, PatternsAndDecoderAgree) {
    const auto& m = cw::morsePatterns();
    EXPECT_EQ(m.size(), 78u);
    EXPECT_EQ(cw::CharToMorse('a'), ". -   ");
    EXPECT_EQ(cw::CharToMorse('A'), ". -   ");
    EXPECT_EQ(cw::CharToMorse(' '), "       ");
    EXPECT_EQ(cw::CharToMorse('@'), "@");
    EXPECT_EQ(cw::CharToMorse('~'), ". -   . -   ");
    EXPECT_EQ(cw::CharToMorse('$'), " ");
    EXPECT_EQ(cw::CharToMorse(0xE9), " ");
    const std::pair<char, std::string> own[] = {{'!', "-.-.--"}, {'<', ".-..."},  {'>', ".-.-."},
                                                {'%', "...-.-"}, {'+', "-.--."},  {'&', "..-.-"},
                                                {'{', "....--"}, {'}', "...-."},  {'#', "-...-.-"},
                                                {'?', "..--.."}, {'=', "-...-"}, {'.', ".-.-.-"}};
    for (auto& [c, code] : own) {
        std::string p;
        for (char e : code) p += std::string(1, e) + " ";
        EXPECT_EQ(cw::CharToMorse(c), p + "  ") << c;
    }
    // Every decodable entry is a-z or 0-9 and reads back the pattern the
    // keyer sends for it; there are 36.
    int known = 0;
    for (unsigned index = 0; index < 256; ++index) {
        const char c = cw::MorseToChar()[index];
        if (c == ' ') continue;
        ++known;
        EXPECT_TRUE((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) << index;
        std::string p;
        const unsigned n = index >> 5;
        for (unsigned e = n; e-- > 0;) p += (index >> e & 1) ? "- " : ". ";
        EXPECT_EQ(cw::CharToMorse(c), p + "  ") << c;
    }
    EXPECT_EQ(known, 36);
}

// "@e" on a fresh mode: "@" is 6 samples of idle; "e" one 2880-sample dot
// at 0.95 with 256-sample edges and three dots of silence; then idle until
// 200 ms have passed, and only then is ptt released. The sidetone follows
// the keying.
TEST_F(CwMode, TextKeyerTimesElementsAndTheHangTime) {
    request([](cwModDemod& m) { m.QueueText("@e", 0); });
    ASSERT_TRUE(ptt());
    auto s = key(100);
    EXPECT_TRUE(tone());
    auto rest = key(6 + 11520 - 100);
    s.insert(s.end(), rest.begin(), rest.end());
    for (int i = 0; i < 6; ++i) ASSERT_EQ(s[size_t(i)], 0.0f);
    for (int i = 0; i < 2880; ++i) ASSERT_NEAR(s[size_t(6 + i)], 0.95 * edge(i, 2880), 1e-6) << i;
    for (size_t i = 6 + 2880; i < s.size(); ++i) ASSERT_EQ(s[i], 0.0f) << i;
    EXPECT_FALSE(tone());
    EXPECT_EQ(host::Log::get().joined("sent"), "@e");
    // Idle markers every 6 samples: the 1608th, at sample 21168, passes 200 ms.
    key(21168 - 11526);
    EXPECT_TRUE(ptt());
    key(1);
    EXPECT_FALSE(ptt());
    EXPECT_EQ(host::Log::get().of("ptt").back().args[0], "false");
    // With ptt off the keyer is silent and takes nothing.
    request([](cwModDemod& m) { m.QueueText("@ee", 0); }); // 2 sent: queues the third
    onGroup(v, [&] { v->ptt.set(false, true); });
    for (float x : key(4000)) ASSERT_EQ(x, 0.0f);
    EXPECT_EQ(mode->sentCount(), 2);
}

// C, Q, line feed: every character reported, ptt released as the line feed
// is taken (after C's 40320 and Q's 46080 samples). A resend of the whole
// text with the same offset queues only what was not sent.
TEST_F(CwMode, LineFeedEndsAndResendsSkipWhatWentOut) {
    request([](cwModDemod& m) { m.QueueText("CQ\n", 0); });
    key(86400);
    EXPECT_TRUE(ptt());
    EXPECT_EQ(host::Log::get().joined("sent"), "CQ");
    key(1);
    EXPECT_FALSE(ptt());
    EXPECT_EQ(host::Log::get().joined("sent"), "CQ\n");
    for (float x : key(512)) ASSERT_EQ(x, 0.0f);

    request([](cwModDemod& m) { m.QueueText("abcd", 3); });
    EXPECT_TRUE(ptt());
    onGroup(v, [&] { mode->pttChanged(true); }); // as the key's hook tells the mode
    while (mode->sentCount() < 5) key(600);
    request([](cwModDemod& m) { m.QueueText("abcd", 3); }); // from "c" on
    while (mode->sentCount() < 7) key(600);
    EXPECT_EQ(host::Log::get().joined("sent"), "CQ\nabcd");

    // An offset above the count sent would start before the text.
    LogCapture log;
    request([](cwModDemod& m) { m.QueueText("xyz", 100); });
    EXPECT_TRUE(log.contains("error|cwModDemod.QueueText() nothing queued: start 100 with 7 characters sent and a "
                             "text of 3"));
    request([](cwModDemod& m) { m.QueueText(nullptr, 0); });
    EXPECT_TRUE(log.contains("error|cwModDemod.QueueText() null text refused"));
    while (ptt()) key(4800);
    EXPECT_EQ(mode->sentCount(), 7);
}

// The radio's own PTT input holds the transmitter through the hang time.
TEST_F(CwMode, RadioPttHoldsTheTransmitter) {
    radio->RadioPtt.set(true, false);
    request([](cwModDemod& m) { m.QueueText("e", 0); });
    for (float x : key(60000)) (void)x;
    EXPECT_TRUE(ptt());
}

// Hand key: a 256-sample rise to 0.99 and a fall to 0; a repeated press or
// release changes nothing; the hang time then ends the transmission. With a
// radio that keys CW itself, a pressed key is a block of 1.0.
TEST_F(CwMode, HandKeyRampsAndInternalKeying) {
    request([](cwModDemod& m) { m.KeyDown(0); });
    EXPECT_TRUE(ptt());
    EXPECT_TRUE(tone());
    auto up = key(512);
    for (int i = 0; i < 256; ++i)
        ASSERT_NEAR(up[size_t(i)], (0.5 + 0.5 * std::cos((255 - i) * pi / 256)) * 0.99, 1e-6) << i;
    for (int i = 256; i < 512; ++i) ASSERT_FLOAT_EQ(up[size_t(i)], 0.99f);
    request([](cwModDemod& m) { m.KeyDown(0); });
    for (float x : key(512)) ASSERT_FLOAT_EQ(x, 0.99f);

    request([](cwModDemod& m) { m.KeyUp(0); });
    EXPECT_FALSE(tone());
    auto down = key(512);
    for (int i = 0; i < 256; ++i)
        ASSERT_NEAR(down[size_t(i)], 0.99 - (0.5 + 0.5 * std::cos((255 - i) * pi / 256)) * 0.99, 1e-6) << i;
    for (int i = 256; i < 512; ++i) ASSERT_NEAR(down[size_t(i)], 0.0f, 1e-6);
    request([](cwModDemod& m) { m.KeyUp(0); });
    for (float x : key(512)) ASSERT_EQ(x, 0.0f); // no second fall from 0.99
    key(9700);
    EXPECT_FALSE(ptt());

    radio->cwInternal.set(true, false);
    request([](cwModDemod& m) { m.KeyDown(0); });
    for (float x : key(512)) ASSERT_EQ(x, 1.0f);
    request([](cwModDemod& m) {
        m.KeyUp(0);
        m.QueueText("t", 0);
    });
    auto t = key(8640 + 10);
    for (int i = 0; i < 8640; ++i) ASSERT_EQ(t[size_t(i)], 1.0f) << i;
    for (int i = 8640; i < 8650; ++i) ASSERT_EQ(t[size_t(i)], 0.0f);
}

// Bad host values are refused with a log line, the host hears the kept
// value, and the keyer and the beat note go on with it.
TEST_F(CwMode, RefusedHostValuesKeepTheOldOnes) {
    LogCapture log;
    for (double bad : {0.0, -5.0, std::nan(""), 1e-5, 1e6})
        request([bad](cwModDemod& m) { m.wpm.hostSet(bad); });
    EXPECT_TRUE(log.contains("error|cwModDemod wpm 0 refused, keeping 20"));
    EXPECT_TRUE(log.contains("error|cwModDemod wpm -5 refused, keeping 20"));
    EXPECT_TRUE(log.contains("error|cwModDemod wpm 1e-05 refused, keeping 20"));
    EXPECT_EQ(mode->wpm.get(), 20.0);
    EXPECT_EQ(host::Log::get().of("wpm").back().args[0], std::to_string(20.0));
    request([](cwModDemod& m) {
        m.freq.hostSet(24001);
        m.freq.hostSet(-std::numeric_limits<double>::infinity());
        m.sidetoneVolume.hostSet(std::nan(""));
    });
    EXPECT_TRUE(log.contains("error|cwModDemod freq 24001 refused, keeping 650"));
    EXPECT_EQ(mode->sidetoneVolume.get(), 1.0);

    request([](cwModDemod& m) {
        m.wpm.hostSet(40);
        m.freq.hostSet(700.9);
        m.QueueText("e", 0);
    });
    auto s = key(1500);
    EXPECT_NEAR(s[1439], 0.95 * edge(1439, 1440), 1e-6);
    EXPECT_EQ(s[1440], 0.0f);
    EXPECT_EQ(v->outputStream.io->toneFrequency.load(), 700);

    // The beat note moves to 700.9 Hz too: a steady carrier becomes that tone.
    buff<cplx> carrier(4800, cplx(1.0f, 0.0f));
    buff<float> audio = mode->demodulate(carrier);
    double re = 0, im = 0;
    for (size_t i = 0; i < audio.count; ++i) {
        re += audio[i] * std::cos(2 * M_PI * 700.9 * double(i + 1) / 48000);
        im += audio[i] * std::sin(2 * M_PI * 700.9 * double(i + 1) / 48000);
    }
    EXPECT_NEAR(std::hypot(re, im) / 2400.0, 1.0, 1e-3);
}

// The keyer's output read by the decoder: lower-case letters and digits, a
// space per word gap; punctuation is dropped and takes the word space after
// it along. The speed starts at 45 and settles at 20.
TEST_F(CwMode, DecoderReadsTheKeyer) {
    auto listener = std::make_shared<cwModDemod>(group);
    listener->newChars.bind(host::onText<"rx">, listener.get());
    listener->rxwpm.bind(host::on<"rxwpm", double>, listener.get());
    const std::string text = "vvv a wise elf hopes? all is ups= 12345 ever";
    request([&](cwModDemod& m) { m.QueueText(text, 0); });
    while (ptt()) {
        buff<cplx> out(512), mic(512);
        onGroup(v, [&] { mode->modulate(mic, out); });
        listener->demodulate(out);
    }
    listener->demodulate(buff<cplx>(48000, cplx{})); // the last letter's gap
    poll();
    const auto speeds = host::Log::get().of("rxwpm");
    ASSERT_FALSE(speeds.empty());
    EXPECT_EQ(speeds.front().args[0], std::to_string(45.0));
    EXPECT_NEAR(listener->rxwpm.get(), 20.0, 1.0);
    const std::string got = host::Log::get().joined("rx");
    EXPECT_NE(got.find(" a wise elf hopesall is ups12345 ever "), std::string::npos) << got;
}
