// The PSK mode driven directly, as its transceiver would: the hooks, the
// scanner on noise, long silence and bad samples, the text queue, and the
// queue used from the host's side while the transmitter runs.
#include "modes/data/psk/PskModDemod.h"

#include "framework/objectFixture.h"
#include "support/hostHarness.h"
#include "support/logCapture.h"
#include "support/waitFor.h"

#include "pskSignals.h"

#include <array>
#include <climits>
#include <cmath>
#include <random>
#include <thread>
#include <utility>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace {

using cplx = std::complex<float>;

std::array<std::atomic<int>, 66> resets{};
std::array<std::atomic<int>, 66> freqEvents{};

template <size_t... I>
constexpr auto resetCallbacks(std::index_sequence<I...>) {
    return std::array<void (*)(int), sizeof...(I)>{[](int) { resets[I].fetch_add(1); }...};
}
template <size_t... I>
constexpr auto freqCallbacks(std::index_sequence<I...>) {
    return std::array<void (*)(int), sizeof...(I)>{[](int) { freqEvents[I].fetch_add(1); }...};
}
constexpr auto onReset = resetCallbacks(std::make_index_sequence<66>{});
constexpr auto onFreq = freqCallbacks(std::make_index_sequence<66>{});

class PskMode : public ObjectTest {
protected:
    std::shared_ptr<PskModDemod> mode = std::make_shared<PskModDemod>(group);

    void SetUp() override {
        for (int i = 0; i < 66; ++i) {
            resets[size_t(i)] = 0;
            freqEvents[size_t(i)] = 0;
            mode->channel(i)->reset.bind(onReset[size_t(i)], mode->channel(i).get());
            mode->channel(i)->freq.bind(onFreq[size_t(i)], mode->channel(i).get());
        }
        mode->newChars.bind(host::onText<"mode">, mode.get());
        mode->primaryDetector.bind(host::on<"primary", int>, mode.get());
        mode->mode.bind(host::on<"variant", int>, mode.get());
        mode->rxFreq.bind(host::on<"rxFreq", int>, mode.get());
        poll();
        host::Log::get().clear();
        for (auto& f : freqEvents) f = 0;
    }
    void TearDown() override {
        poll();
        host::Log::get().clear();
    }
    /// Host request on the mode's task group.
    template <class F>
    void request(F f) {
        onGroup(mode, [&] { f(*mode); });
        poll();
    }
    /// 48000/s samples into demodulate, in the transceiver's blocks of 512.
    void feed(const std::vector<cplx>& x) {
        for (size_t i = 0; i < x.size(); i += 512) {
            buff<cplx> b(std::min<size_t>(512, x.size() - i));
            std::copy_n(x.begin() + long(i), b.count, b.data);
            mode->demodulate(b);
        }
        poll();
    }
    void feedZeros(size_t n) { feed(std::vector<cplx>(n)); }
    /// Detector blocks of 512 at 8000/s: 3072 input samples each.
    static constexpr size_t detectorBlock = 3072;
    int lastInt(const std::string& what) {
        auto calls = host::Log::get().of(what);
        return calls.empty() ? INT_MIN : std::stoi(calls.back().args[0]);
    }
};

std::vector<cplx> pskAt(int txMode, const std::string& text, double hz, double tailSeconds) {
    CPSKMod mod;
    psktest::TextSource source{text};
    psktest::startModulator(mod, source, txMode, hz);
    std::vector<cplx> out;
    size_t tail = 0;
    while (tail < size_t(tailSeconds * 48000)) {
        auto b = psktest::iq(mod, 4800);
        out.insert(out.end(), b.begin(), b.end());
        if (source.done()) tail += 4800;
    }
    return out;
}

} // namespace

TEST_F(PskMode, HooksSelectTheChannelAndRefuseBadValues) {
    LogCapture log;
    request([](PskModDemod& m) { m.mode.hostSet(17); });
    EXPECT_EQ(mode->primary(), 65);
    EXPECT_EQ(lastInt("primary"), 65);
    EXPECT_EQ(resets[65].load(), 1);
    EXPECT_EQ(mode->txMode(), 17);

    request([](PskModDemod& m) { m.mode.hostSet(2); });
    EXPECT_EQ(mode->primary(), 0);
    EXPECT_EQ(mode->txMode(), 2);
    // Channel 0 runs PSK31, so mode 0 keeps it: no reset, transmit mode set.
    request([](PskModDemod& m) { m.mode.hostSet(0); });
    EXPECT_EQ(mode->primary(), 0);
    EXPECT_EQ(resets[0].load(), 1);
    EXPECT_EQ(mode->txMode(), 0);

    for (int bad : {6, 7}) { // modes the transmitter does not have: keyed, it would never reach the text's end
        request([bad](PskModDemod& m) { m.mode.hostSet(bad); });
        EXPECT_EQ(lastInt("variant"), 0);
        EXPECT_EQ(log.count("error|PskModDemod mode " + std::to_string(bad) + " refused, keeping 0"), 1u);
    }
    request([](PskModDemod& m) { m.primaryDetector.hostSet(63); });
    EXPECT_EQ(lastInt("variant"), 1); // the channel's mode, published
    EXPECT_EQ(mode->txMode(), 0);     // the transmitter is left alone

    for (int bad : {66, -1}) {
        request([bad](PskModDemod& m) { m.primaryDetector.hostSet(bad); });
        EXPECT_EQ(mode->primary(), 63);
        EXPECT_EQ(lastInt("primary"), 63) << "the old value goes back to the host";
        EXPECT_EQ(log.count("error|PskModDemod primaryDetector " + std::to_string(bad) + " refused, keeping 63"), 1u);
    }

    request([](PskModDemod& m) { m.rxFreq.hostSet(1234); });
    EXPECT_EQ(mode->txCarrier(), 1234.0);
    EXPECT_EQ(mode->txFreq.get(), 1234);
    request([](PskModDemod& m) { m.rxFreq.hostSet(-5); });
    EXPECT_EQ(lastInt("rxFreq"), 1234);
    EXPECT_EQ(mode->txCarrier(), 1234.0);
    EXPECT_EQ(log.count("error|PskModDemod rxFreq -5 refused, keeping 1234"), 1u);
}

// Channel frequencies reach the host on the first block and then every
// 11th; a host value in between is only stored.
TEST_F(PskMode, FrequenciesRefreshOnTheFirstBlockThenEveryEleventh) {
    request([](PskModDemod& m) { m.channel(5)->freq.hostSet(12345); });
    feedZeros(detectorBlock);
    EXPECT_EQ(freqEvents[5].load(), 1);
    EXPECT_EQ(mode->channel(5)->freq.get(), 600);
    request([](PskModDemod& m) { m.channel(5)->freq.hostSet(12345); });
    feedZeros(10 * detectorBlock);
    EXPECT_EQ(freqEvents[5].load(), 1);
    feedZeros(detectorBlock);
    EXPECT_EQ(freqEvents[5].load(), 2);
    EXPECT_EQ(mode->channel(5)->freq.get(), 600);
}

// On noise alone every peak search re-tunes at most four channels of each
// group, and the first (all channels free) exactly four.
TEST_F(PskMode, NoiseRetunesAtMostFourChannelsPerGroup) {
    std::mt19937 rng(3);
    std::normal_distribution<float> g(0.0f, 0.1f);
    for (int search = 0; search < 40; ++search) {
        std::vector<cplx> x(3 * detectorBlock);
        for (auto& s : x) s = {g(rng), g(rng)};
        std::array<int, 66> before;
        for (size_t i = 0; i < 66; ++i) before[i] = resets[i].load();
        feed(x);
        int scanners31 = 0, scanners63 = 0, fixed = 0;
        for (size_t i = 0; i < 66; ++i) {
            const int n = resets[i].load() - before[i];
            (i < 30 ? scanners31 : i < 60 ? scanners63 : fixed) += n;
        }
        EXPECT_LE(scanners31, 4) << search;
        EXPECT_LE(scanners63, 4) << search;
        EXPECT_EQ(fixed, 0);
        if (search == 0) { EXPECT_EQ(scanners31 + scanners63, 8); }
    }
}

// 100 s of exact silence, a block of bad samples, then a signal: the level
// peak never reaches zero and nothing bad stays in a filter. Audio code
// often runs with tiny values flushed to zero, which lets a decaying peak
// reach zero exactly; the silence runs so here.
TEST_F(PskMode, SilenceAndBadSamplesLeaveTheReceiverWorking) {
#if defined(__SSE2__)
    const unsigned csr = _mm_getcsr();
    _mm_setcsr(csr | 0x8040); // flush to zero, denormals are zero
    feedZeros(100 * 48000);
    _mm_setcsr(csr);
#else
    feedZeros(100 * 48000);
#endif
    std::vector<cplx> bad(512, cplx(std::nanf(""), 0.0f));
    bad[7] = cplx(INFINITY, 0.0f);
    feed(bad);
    request([](PskModDemod& m) { m.mode.hostSet(16); });
    feed(pskAt(16, "after the silence", 1500, 1.0));
    EXPECT_NE(psktest::joined("mode").find("after the silence"), std::string::npos)
        << psktest::joined("mode");
}

// The host may replace or empty its list of channels: the mode keeps
// working on its own 66.
TEST_F(PskMode, HostEditsOfTheChannelListChangeOnlyTheList) {
    auto standAlone = std::make_shared<PskDetector>(group);
    request([&](PskModDemod& m) {
        m.dets.set(0, 0, standAlone);
        m.dets.reset();
        m.mode.hostSet(16);
    });
    EXPECT_EQ(mode->dets.size(), 0u);
    feed(pskAt(16, "still here", 1500, 1.0));
    EXPECT_NE(psktest::joined("mode").find("still here"), std::string::npos);
    EXPECT_NE(mode->channel(0), standAlone);
}

/// A mode attached nowhere: its queue has no transmission to ask about.
const modDemod& detachedMode() {
    static const modDemod mode{nullptr};
    return mode;
}

TEST(TextQueue, ReplacesSkipsWhatWentOutAndKeepsTheRingWhole) {
    TextQueue q{"~", detachedMode()};
    EXPECT_EQ(q.replace("hello", 0, 1).queued, 5u);
    EXPECT_EQ(q.take(), 'h');
    EXPECT_EQ(q.take(), 'e');
    // The host resends its whole text with the count it started from.
    EXPECT_EQ(q.replace("hello world", 0, 2).queued, 9u);
    EXPECT_EQ(q.take(), 'l');
    EXPECT_EQ(q.sent(), 3);
    // A start above the count, or a position past the end: nothing, and
    // the unsent text waits on, its end (which may release the transmitter) too.
    EXPECT_TRUE(q.replace("abc", 4, 3).refused);
    EXPECT_TRUE(q.replace("ab", -5, 3).refused); // position 8 of 2
    EXPECT_TRUE(q.replace("ab", INT_MIN, 3).refused);
    EXPECT_EQ(q.unsent(), 8u);

    std::string longText(2000, 'x');
    longText[0] = char(0xFD);
    longText[1022] = 'y';
    const auto r = q.replace(longText, 3, 4);
    EXPECT_EQ(r.queued, 1023u);
    EXPECT_EQ(r.dropped, 977u);
    EXPECT_EQ(q.take(), 0xFD); // high codes come out as 0-255
    for (int i = 1; i < 1022; ++i) q.take();
    EXPECT_EQ(q.take(), 'y');
    EXPECT_EQ(q.take(), -1);
    EXPECT_EQ(q.sent(), 3 + 1023);
}

// A transmission that ends before its end mark drops the rest of its text,
// through the mark; one whose mark went out drops nothing of what follows.
// A text queued after the ending was made is no part of what it ends: it
// waits whole for the next transmission.
TEST(TextQueue, ATransmissionCutShortDropsItsTextThroughItsEndMark) {
    struct Case {
        const char* text;
        int taken;          // characters sent before the end
        bool queuedAfter;   // the text queued after the ending was made
        bool cut;           // dropTransmission's answer
        const char* waits;  // what is left for a later transmission
        long long resentAt; // the count a host resending its text starts from
    };
    const Case cases[] = {
        {"AB~CD~", 1, false, true, "CD~", 1},  // cut in its first text
        {"AB~CD~", 3, false, false, "CD~", 3}, // its mark went out: the next waits whole
        {"ABCD", 2, false, true, "", 2},       // no mark: all of it
        {"AB~", 0, false, true, "", 0},        // nothing sent yet
        {"", 0, false, true, "", 0},
        {"AB~", 0, true, true, "AB~", 0},      // queued after the ending: whole
        {"AB~CD~", 1, true, true, "B~", 1},    // (had it been taken from, it would go on)
    };
    constexpr uint64_t ending = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + (c.queuedAfter ? ", queued after the ending" : ""));
        TextQueue q{"~\n", detachedMode()};
        q.replace(c.text, 0, c.queuedAfter ? ending + 1 : ending - 1);
        q.transmissionBegins();
        for (int i = 0; i < c.taken; ++i) q.take();
        EXPECT_EQ(q.dropTransmission(ending), c.cut);
        EXPECT_FALSE(q.dropTransmission(ending)) << "a second end drops nothing more";
        EXPECT_EQ(q.take(), -1) << "taken before the next transmission (in the tail)";
        q.transmissionBegins();
        std::string left;
        for (int ch; (ch = q.take()) >= 0;) left += char(ch);
        EXPECT_EQ(left, c.waits);
        // What was dropped never counts as sent: a host resending its whole
        // text from the count it saw sends it again.
        EXPECT_EQ(q.sent(), c.resentAt + (long long)left.size());
    }
}

TEST_F(PskMode, LongTextIsCutWithALogLine) {
    LogCapture log;
    request([](PskModDemod& m) { m.QueueText(std::string(1500, 'a'), 0); });
    EXPECT_EQ(log.count("error|PskModDemod.QueueText() 477 characters past the first 1023 unsent dropped"), 1u);
}

// The host replaces the text on the mode's task group while the transmitter
// takes characters on another thread: every character taken is reported
// once, and the count matches (TSan checks the hand-over).
TEST_F(PskMode, QueueTextRacesTheTransmitter) {
    mode->sentChars.bind(host::onText<"sent">, mode.get());
    request([](PskModDemod& m) { m.mode.hostSet(16); });
    mode->pttChanged(true);
    std::atomic<bool> done{false};
    std::thread transmitter([&] {
        buff<cplx> out(512), mic(512);
        for (int i = 0; i < 2000; ++i) mode->modulate(mic, out);
        // However late the host's first text came, on until a character of it went out.
        waitFor([&] { return mode->modulate(mic, out), mode->sentCount() > 0; });
        done = true;
    });
    int n = 0;
    while (!done) {
        const long long sent = mode->sentCount();
        request([sent, n](PskModDemod& m) { m.QueueText("abcdefghijklmnopqrstuvwxyz" + std::to_string(n), int(sent)); });
        ++n;
    }
    transmitter.join();
    poll();
    EXPECT_GT(mode->sentCount(), 0);
    EXPECT_EQ(long(host::Log::get().of("sent").size()), mode->sentCount());
}
