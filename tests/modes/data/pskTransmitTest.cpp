// The PSK transmitter: the modulator's QPSK sense and Morse timing on their
// own; through transceivers, the start hold after PTT and the end at "~";
// and a band of five signals read by the 66 channels.
#include "pskLoop.h"

#include <array>
#include <utility>

namespace {

using cplx = std::complex<float>;
using psktest::PskLoop;

/// Phase state (0-3, as (I, Q) signs ++, +-, --, -+) late in each symbol
/// of a modulator on 0 Hz, so the output is the baseband itself.
std::vector<int> statesPerSymbol(int mode, const std::string& text, size_t symbols) {
    CPSKMod mod;
    psktest::TextSource source{text};
    psktest::startModulator(mod, source, mode, 0.0);
    const size_t n = 1536; // 31.25 baud at 48000
    auto x = psktest::iq(mod, n * symbols);
    std::vector<int> states;
    for (size_t k = 0; k < symbols; ++k) {
        const cplx s = x[k * n + 1400];
        if (std::abs(s) < 0.5f) {
            states.push_back(-1);
            continue;
        }
        const bool i = s.real() > 0, q = s.imag() > 0;
        states.push_back(i ? (q ? 0 : 1) : (q ? 3 : 2));
    }
    return states;
}

/// On (1) or off (0) in the middle of each symbol.
std::string keying(int mode, const std::string& text, size_t symbols) {
    CPSKMod mod;
    psktest::TextSource source{text};
    psktest::startModulator(mod, source, mode, 0.0);
    auto x = psktest::iq(mod, 1536 * symbols);
    std::string s;
    for (size_t k = 0; k < symbols; ++k) s += std::abs(x[k * 1536 + 1400]) > 0.5f ? '1' : '0';
    return s;
}

} // namespace

TEST(PskModulator, InvertedQpskSwapsOnlyTheQuarterTurns) {
    const std::string text = "quarter turns both ways 0123";
    auto a = statesPerSymbol(1, text, 300);
    auto b = statesPerSymbol(2, text, 300);
    int quarter = 0, other = 0;
    for (size_t k = 1; k < a.size(); ++k) {
        ASSERT_GE(a[k], 0);
        ASSERT_GE(b[k], 0);
        if (a[k - 1] < 0 || b[k - 1] < 0) continue;
        const int stepA = (a[k] - a[k - 1] + 4) % 4, stepB = (b[k] - b[k - 1] + 4) % 4;
        if (stepA % 2) {
            EXPECT_EQ(stepB, 4 - stepA) << k;
            ++quarter;
        } else {
            EXPECT_EQ(stepB, stepA) << k;
            ++other;
        }
    }
    EXPECT_GT(quarter, 50);
    EXPECT_GT(other, 50);
}

// A dot is two symbols on at 31.25 baud (64 ms), then the element gap and
// the letter's gap; a character without Morse costs one symbol off.
TEST(PskModulator, MorseKeysDotsAndSkipsUnknownCharacters) {
    const std::string plain = keying(5, "EE", 60), unknown = keying(5, "E!E", 60);
    const size_t first = plain.find('1');
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(plain.substr(first, 10), "1100000011");
    EXPECT_EQ(unknown.substr(first, 11), "11000000011");
    // Tune sends a steady carrier from the first full symbol on.
    const std::string tune = keying(3, "", 20);
    EXPECT_EQ(tune.substr(2), std::string(18, '1'));
}

// First transmission: "a", then "~" ends it: reported, PTT off at the host,
// a steady carrier for the tail, "b" never sent. Second transmission: a
// second of reversals before the queued character.
TEST_F(PskLoop, StartHoldAndEndCharacter) {
    radio->setClean();
    tx->ptt.bind(host::on<"ptt", bool>, tx.get());
    std::mutex m;
    std::vector<cplx> recorded;
    onGroup(radio, [&] {
        radio->tap = [&](const buff<cplx>& sent, const buff<cplx>&) {
            std::lock_guard<std::mutex> l(m);
            if (radio->ptt.get()) recorded.insert(recorded.end(), sent.begin(), sent.end());
        };
    });
    onGroup(sender, [&] { sender->QueueText("a~b", 0); });
    setPtt(true);
    ASSERT_TRUE(stepUntil([&] { return !host::Log::get().of("ptt").empty(); }, 10));
    EXPECT_EQ(host::Log::get().of("ptt").back().args[0], "false");
    EXPECT_EQ(psktest::joined("sent"), "a~");
    {
        std::lock_guard<std::mutex> l(m);
        recorded.clear();
    }
    ASSERT_TRUE(stepUntil([&] { return !radio->ptt.get(); }, 3));
    {
        std::lock_guard<std::mutex> l(m);
        ASSERT_GE(recorded.size(), 90000u);
        float lo = 2, hi = 0;
        for (size_t i = 4096; i < 90000; ++i) {
            lo = std::min(lo, std::abs(recorded[i]));
            hi = std::max(hi, std::abs(recorded[i]));
        }
        EXPECT_GT(lo, 0.97f);
        EXPECT_LT(hi, 1.03f);
        recorded.clear();
    }
    EXPECT_EQ(sender->sentCount(), 2);

    onGroup(sender, [&] { sender->QueueText("e", 2); });
    setPtt(true);
    ASSERT_TRUE(stepUntil([&] { return sender->sentCount() == 3; }, 3));
    ASSERT_TRUE(stepFor(0.3));
    std::lock_guard<std::mutex> l(m);
    size_t steady = 0;
    for (size_t run = 0; steady < recorded.size(); ++steady) {
        run = std::abs(recorded[steady]) > 0.9f ? run + 1 : 0;
        if (run == 1536) break;
    }
    steady -= 1535; // the first sample of the first symbol without a reversal
    EXPECT_GE(steady, 48000u);
    EXPECT_LE(steady, 48000u + 4 * 1536);
    EXPECT_EQ(psktest::joined("sent"), "a~e");
}

namespace {

constexpr std::array<int, 5> bandHz = {600, 1100, 1700, 2300, 1900};
const std::array<std::string, 5> bandTexts = {
    "alpha sends from six hundred hertz on the band now",
    "bravo is up at eleven hundred, reading you fine ok",
    "charlie at seventeen hundred with a longer message",
    "delta on twenty three hundred signing off shortly.",
    "echo runs psk63 at nineteen hundred, twice as fast",
};

// Idle reversals for a while, then the text.
struct DelayedSource {
    std::string text;
    int idleCalls;
    size_t next = 0;
    static int get(void* p) {
        auto* s = static_cast<DelayedSource*>(p);
        if (s->idleCalls > 0) {
            --s->idleCalls;
            return CPSKMod::sourceIdle;
        }
        if (s->next < s->text.size()) return static_cast<unsigned char>(s->text[s->next++]);
        return CPSKMod::sourceIdle;
    }
};

// Five stations summed: four PSK31 and one PSK63.
struct Band : modDemod {
    explicit Band(std::shared_ptr<syncTask> g) : modDemod(std::move(g)) {
        for (size_t i = 0; i < 5; ++i) {
            const bool fast = i == 4;
            sources[i] = {bandTexts[i], fast ? 3 * 62 : 3 * 31};
            mods[i].setCharSource(&DelayedSource::get, &sources[i]);
            mods[i].InitPSKMod(48000, 0.707);
            mods[i].setCarrier(bandHz[i]);
            mods[i].SetTXMode(fast ? 8 : 0);
        }
    }
    void modulate(buff<cplx>, buff<cplx> out) override {
        std::fill(out.begin(), out.end(), cplx{});
        std::vector<cplx> one(out.count);
        for (auto& mod : mods) {
            mod.CalcPSK(reinterpret_cast<float*>(one.data()), int(2 * out.count), 1);
            for (size_t i = 0; i < out.count; ++i) out[i] += one[i];
        }
    }
    bool done() const {
        for (auto& s : sources)
            if (s.next < s.text.size()) return false;
        return true;
    }
    std::array<CPSKMod, 5> mods;
    std::array<DelayedSource, 5> sources;
};

std::array<std::mutex, 66> channelMutex;
std::array<std::string, 66> channelText;
template <size_t... I>
constexpr auto textCallbacks(std::index_sequence<I...>) {
    return std::array<void (*)(const char*), sizeof...(I)>{[](const char* s) {
        std::lock_guard<std::mutex> l(channelMutex[I]);
        channelText[I] += s;
    }...};
}
constexpr auto onChannelText = textCallbacks(std::make_index_sequence<66>{});

/// Edit distance of the best match of pattern anywhere inside text.
size_t infixDistance(const std::string& pattern, const std::string& text) {
    std::vector<size_t> row(text.size() + 1, 0); // a match may start anywhere
    for (size_t i = 1; i <= pattern.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= text.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (pattern[i - 1] != text[j - 1])});
            diagonal = up;
        }
    }
    return *std::min_element(row.begin(), row.end());
}

} // namespace

// Each station's text reaches one of the scanning channels; the mode's own
// text is that of its primary channel, here moved by the host onto the
// station sent at 1700 Hz (heard at 3000 - 1700 Hz: the listener's band is
// mirrored).
TEST_F(PskLoop, FiveStationsOnSixtySixChannels) {
    auto band = std::make_shared<Band>(group);
    attach(tx, band);
    for (size_t i = 0; i < 66; ++i) {
        channelText[i].clear();
        listener->channel(int(i))->newChars.bind(onChannelText[i], listener->channel(int(i)).get());
    }
    onGroup(listener, [&] { listener->rxFreq.hostSet(3000 - 1700); });
    radio->setSnr(10, psktest::meanPower(0, bandTexts[0]));
    setPtt(true);
    ASSERT_TRUE(stepUntil([&] { return band->done(); }, 40));
    ASSERT_TRUE(stepFor(1.0));

    for (size_t s = 0; s < 5; ++s) {
        size_t best = SIZE_MAX;
        for (size_t c = 0; c < 60; ++c) {
            std::lock_guard<std::mutex> l(channelMutex[c]);
            best = std::min(best, infixDistance(bandTexts[s], channelText[c]));
        }
        EXPECT_LE(double(best), 0.02 * double(bandTexts[s].size())) << bandHz[s];
    }
    std::lock_guard<std::mutex> l(channelMutex[60]);
    EXPECT_EQ(psktest::joined("rx"), channelText[60]);
    EXPECT_LE(infixDistance(bandTexts[2], channelText[60]), 1u) << channelText[60];
}
