// Hellschreiber transmit: the font, the raster rebuilt from the signal (the
// energy at each row's tone over each pixel), the end character, refused
// and changed row spacings, and "HELLO 123" over the noisy loop-back.
#include "modes/data/hell/hellFont.h"
#include "modes/data/hell/hellschreiberModDemod.h"

#include "core/testRadio.h"
#include "core/vtrx.h"
#include "support/hostHarness.h"
#include "textModeRig.h"
#include "support/logCapture.h"

#include "modeLoop.h"

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace {

using cplx = std::complex<float>;

/// Rebuilds columns from a signal whose pixel grid starts at `start`: pixel
/// k (bit k mod 8 of its column, bottom row first) is lit when the signal
/// over its own and the next pixel time, at its row's tone, holds at least
/// half of what a lit pixel gives (0.9 * pixel length).
std::vector<uint8_t> columnsOf(const std::vector<cplx>& s, size_t start, double step) {
    const int N = int(48000.0 / step);
    const size_t P = size_t(N) + 1;
    std::vector<uint8_t> columns;
    for (size_t k = 0; start + (k + 2) * P <= s.size(); ++k) {
        const int bit = int(k % 8);
        const double hz = 1300.0 - step * (7 - bit);
        const double w = 2 * std::numbers::pi * hz / 48000.0;
        std::complex<double> sum{};
        for (size_t i = 0; i < 2 * P; ++i) sum += std::complex<double>(s[start + k * P + i]) * std::polar(1.0, -w * double(i));
        if (bit == 0) columns.push_back(0);
        if (std::abs(sum) > 0.45 * double(P)) columns.back() |= uint8_t(1 << bit);
    }
    return columns;
}

/// The columns a text should give: per character a blank column, then its
/// glyph's.
std::vector<uint8_t> expectedColumns(const std::string& text) {
    std::vector<uint8_t> c;
    for (unsigned char ch : text) {
        const auto& g = hell::font[ch >= 32 && ch <= 127 ? ch - 32u : 0u];
        c.push_back(0);
        for (int i = 1; i <= g[0]; ++i) c.push_back(g[size_t(i)]);
    }
    return c;
}

std::vector<uint8_t> trimmed(std::vector<uint8_t> c) {
    while (!c.empty() && c.back() == 0) c.pop_back();
    size_t first = 0;
    while (first < c.size() && c[first] == 0) ++first;
    return {c.begin() + long(first), c.end()};
}

/// Fewest pixels that differ between `want` and a stretch of `got`.
size_t pixelErrors(const std::vector<uint8_t>& want, const std::vector<uint8_t>& got) {
    size_t best = want.size() * 8;
    for (size_t at = 0; at + want.size() <= got.size(); ++at) {
        size_t e = 0;
        for (size_t i = 0; i < want.size(); ++i) e += size_t(std::popcount(unsigned(want[i] ^ got[at + i])));
        best = std::min(best, e);
    }
    return best;
}


class HellMode : public TextModeRig<hellschreiberModDemod> {
protected:
    std::vector<cplx> sent;

    void SetUp() override {
        TextModeRig::SetUp();
        mode->frequencyStep.bind(host::on<"step", double>, mode.get());
    }
    void send(size_t n) {
        buff<cplx> out(n), mic(n);
        onGroup(v, [&] { mode->modulate(mic, out); });
        sent.insert(sent.end(), out.begin(), out.end());
        poll();
    }
};

} // namespace

TEST(HellFont, GlyphWidthsAndColumns) {
    ASSERT_EQ(hell::font.size(), 96u);
    int widths[6] = {};
    for (const auto& g : hell::font) {
        ASSERT_GE(g[0], 1);
        ASSERT_LE(g[0], 5);
        ++widths[g[0]];
        for (int i = g[0] + 1; i <= 5; ++i) EXPECT_EQ(g[size_t(i)], 0) << "past the width";
    }
    // As tabled: 5 glyphs of width 1, 5 of 2, 7 of 3, 6 of 4, 73 of 5.
    EXPECT_EQ(widths[1], 5);
    EXPECT_EQ(widths[2], 5);
    EXPECT_EQ(widths[3], 7);
    EXPECT_EQ(widths[4], 6);
    EXPECT_EQ(widths[5], 73);
    EXPECT_EQ(hell::font['I' - 32], (hell::glyph{3, 0x82, 0xFE, 0x82, 0, 0}));
    EXPECT_EQ(hell::font['0' - 32], (hell::glyph{5, 0x7C, 0x8A, 0x92, 0xA2, 0x7C}));
    EXPECT_EQ(hell::font['z' - 32], (hell::glyph{5, 0x22, 0x26, 0x2A, 0x32, 0x22}));
    EXPECT_EQ(hell::font[0x7F - 32], (hell::glyph{5, 0xA8, 0x68, 0x3E, 0x68, 0xA8}));
}

// Silence while idle, "I" as blank, 82, FE, 82, a character outside the
// font drawn as a space, and "~" reported, drawn as a space, dropping ptt;
// what follows it waits for the next transmission.
TEST_F(HellMode, RasterFromTheSignal) {
    send(3 * 48 * 1601);
    for (auto x : sent) ASSERT_EQ(x, cplx{});
    onGroup(mode, [&] { mode->QueueText("I\x01~I", 0); });
    v->ptt.set(true, false);
    send(size_t(4 + 6 + 6 + 4 + 6) * 8 * 1601);
    EXPECT_EQ(host::Log::get().joined("sent"), "I\x01~");
    EXPECT_FALSE(v->ptt.get());
    EXPECT_EQ(host::Log::get().of("ptt").back().args[0], "false");
    // The first pixel of a column starts the grid.
    const auto columns = columnsOf(sent, 0, 30.0);
    const std::vector<uint8_t> want = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // idle spaces
                                       0, 0x82, 0xFE, 0x82,                                // I
                                       0, 0, 0, 0, 0, 0,                                   // \x01
                                       0, 0, 0, 0, 0, 0,                                   // ~
                                       0, 0, 0, 0};                                        // idle
    ASSERT_GE(columns.size(), want.size());
    EXPECT_EQ(std::vector<uint8_t>(columns.begin(), columns.begin() + long(want.size())), want);
    for (auto x : sent) ASSERT_LE(std::abs(x), 0.9f + 1e-5f);
    onGroup(v, [&] { mode->pttChanged(true); });
    send(6 * 8 * 1601);
    EXPECT_EQ(host::Log::get().joined("sent"), "I\x01~I");
}

// Refused spacings keep the old one; a new one applies from the next call
// on, while the pixel already started keeps its tone.
TEST_F(HellMode, RowSpacing) {
    LogCapture log;
    // 2e-05 Hz would make a pixel 2.4e9 samples long, past an int.
    for (double bad : {0.0, -30.0, 48001.0, std::nan(""), 2.0e-5})
        onGroup(mode, [&] { mode->frequencyStep.hostSet(bad); });
    EXPECT_TRUE(log.contains("error|hellschreiberModDemod frequencyStep 2e-05 refused, keeping 30"));
    EXPECT_TRUE(log.contains("error|hellschreiberModDemod frequencyStep 0 refused, keeping 30"));
    EXPECT_TRUE(log.contains("error|hellschreiberModDemod frequencyStep -30 refused, keeping 30"));
    EXPECT_TRUE(log.contains("error|hellschreiberModDemod frequencyStep 48001 refused, keeping 30"));
    poll();
    EXPECT_EQ(host::Log::get().of("step").back().args[0], std::to_string(30.0));

    // "_" lights row 1 only: one burst per column at 1300 - 6 * step Hz.
    onGroup(mode, [&] { mode->QueueText("___", 0); });
    send(6 * 8 * 1601 + 5 * 1601 + 100); // 100 samples into pixel 5 of the second underscore's blank column
    onGroup(mode, [&] { mode->frequencyStep.hostSet(60.0); });
    const size_t from = sent.size();
    send(12 * 8 * 801);
    // The pixel under way ends at its old length; the grid then runs at 801
    // samples a pixel with the new tones.
    const size_t grid = from + 1601 - 100;
    const auto columns = columnsOf(sent, grid - 6 * 801, 60.0); // from the column's start
    ASSERT_GE(columns.size(), 8u);
    EXPECT_EQ(columns[0], 0x00);
    for (size_t c = 1; c <= 5; ++c) EXPECT_EQ(columns[c], 0x02) << c;
    EXPECT_EQ(columns[6], 0x00); // the third underscore's blank column
    // Measured directly: the bursts now sit at 940 Hz.
    std::complex<double> turn{};
    for (size_t i = grid + 1; i < sent.size(); ++i)
        if (std::abs(sent[i]) > 0.3f) turn += std::complex<double>(sent[i]) * std::conj(std::complex<double>(sent[i - 1]));
    EXPECT_NEAR(std::arg(turn) * 48000 / (2 * std::numbers::pi), 940.0, 1.0);

    // The narrowest spacing taken: pixels of 2e9 samples, sent without harm.
    onGroup(mode, [&] { mode->frequencyStep.hostSet(2.3e-5); });
    EXPECT_EQ(mode->frequencyStep.get(), 2.3e-5);
    send(2 * 1601);
    for (size_t i = sent.size() - 1601; i < sent.size(); ++i) ASSERT_LE(std::abs(sent[i]), 0.9f + 1e-5f);
}

namespace {

// The transmitting transceiver's own output as the loop-back wrote it into
// the receiver, and the mode's output, to find the chain's delay.
class HellLoop : public ModeLoop {
protected:
    struct recordingMode : hellschreiberModDemod {
        using hellschreiberModDemod::hellschreiberModDemod;
        void modulate(buff<cplx> in, buff<cplx> out) override {
            hellschreiberModDemod::modulate(in, out);
            emitted.insert(emitted.end(), out.begin(), out.end());
        }
        std::vector<cplx> emitted; // transceiver's task group
    };
    std::shared_ptr<recordingMode> sender;
    std::vector<cplx> clean, noisy; // radio's task group while stepping

    void SetUp() override {
        addTransceivers(0);
        sender = std::make_shared<recordingMode>(group);
        attach(tx, sender, false);
        radio->tap = [this](const buff<cplx>& s, const buff<cplx>& w) {
            clean.insert(clean.end(), s.begin(), s.end());
            noisy.insert(noisy.end(), w.begin(), w.end());
        };
    }

    /// The pixel errors of "HELLO 123" read from the loop at snr dB in
    /// 2500 Hz; the signal power is that of a steady lit row (0.9).
    double pixelErrorRate(double snr) {
        if (snr > 100)
            radio->setClean();
        else
            radio->setSnr(snr, 0.9 * 0.9);
        // A blank before "~": "~" releases ptt as the character before it
        // ends, and the transceiver's fade-out would cut the fall of that
        // character's last lit pixel.
        onGroup(sender, [&] { sender->QueueText("HELLO 123 ~", 0); });
        setPtt(true);
        EXPECT_TRUE(stepUntil([&] { return !tx->ptt.get(); }, 30)); // 11 characters of 0.8 s and 1.6 s of lead-in
        EXPECT_TRUE(stepFor(0.5));
        onGroup(radio, [&] { radio->tap = nullptr; });
        // The delay through the transmit chain: where the first lit pixel
        // rises in each.
        auto rise = [](const std::vector<cplx>& s) {
            size_t i = 0;
            while (i < s.size() && std::abs(s[i]) < 0.2f) ++i;
            return i;
        };
        const size_t at = rise(clean), emittedAt = rise(sender->emitted);
        EXPECT_LT(at, clean.size());
        EXPECT_GE(at, emittedAt);
        const auto want = trimmed(expectedColumns("HELLO 123"));
        const auto got = columnsOf(noisy, at - emittedAt, 30.0);
        if (snr > 100) {
            EXPECT_EQ(trimmed(got), want);
        }
        return double(pixelErrors(want, got)) / double(want.size() * 8);
    }
};

} // namespace

TEST_F(HellLoop, CleanIsPixelExact) {
    EXPECT_EQ(pixelErrorRate(1000), 0.0);
}

TEST_F(HellLoop, ZeroDb) {
    const double rate = pixelErrorRate(0);
    std::printf("Hellschreiber at +0.0 dB: pixel error rate %.4f\n", rate);
    EXPECT_LE(rate, 0.01);
}
