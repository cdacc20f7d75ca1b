// A protocol 1 radio driven through the C interface against the board
// simulator on loopback port 1024: start, stop and restart as the board
// sees them, transmit pacing by the board's stream, tones reaching their
// transceivers, a keyed transceiver's samples, a release while the board
// streams, and a keyed radio that is stopped, whose board falls silent, or
// that the host lets go of. (What the registers carry around a press and a
// release is checked packet by packet in hpsdrEngineTest.)
#include "radios/hpsdr/HpsdrRadio.h"

#include "core/coreObjectFixture.h"
#include "modes/data/cw/cwModDemod.h"
#include "modes/data/multipsk/multiPskClient.h"
#include "modes/data/psk/PskModDemod.h"
#include "radios/hpsdr/frequencyFolding.h"
#include "sim/hpsdrP1Sim.h"
#include "support/logCapture.h"
#include "support/skipOrFail.h"
#include "support/waitFor.h"

#include <atomic>
#include <climits>
#include <cmath>
#include <complex>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

namespace {

using cplx = std::complex<double>;

// What the host's callbacks received.
std::mutex m;
std::vector<void*> added;
std::array<std::vector<cplx>, 8> chunks; // the newest receive chunk of each mode
std::array<int, 8> chunkCount{};
double txPhase = 0;

void onAdded(void* v, long long, int, int) {
    std::lock_guard<std::mutex> l(m);
    added.push_back(v);
}
template <int R>
void onRxChunk(void* block) {
    const float* p = complexArray_data(block);
    std::vector<cplx> x(size_t(complexArray_size(block)));
    for (size_t k = 0; k < x.size(); ++k) x[k] = {p[2 * k], p[2 * k + 1]};
    complexArray_delete(block);
    std::lock_guard<std::mutex> l(m);
    chunks[R] = std::move(x);
    ++chunkCount[R];
}
constexpr void (*rxChunkOf[8])(void*) = {onRxChunk<0>, onRxChunk<1>, onRxChunk<2>, onRxChunk<3>,
                                         onRxChunk<4>, onRxChunk<5>, onRxChunk<6>, onRxChunk<7>};
// A tone of magnitude 0.5 at +1000 Hz.
void onTxChunk(void* in, void* out) {
    float* iq = complexArray_data(out);
    for (int i = 0; i < complexArray_size(out); ++i) {
        iq[2 * i] = float(0.5 * std::cos(txPhase));
        iq[2 * i + 1] = float(0.5 * std::sin(txPhase));
        txPhase = std::fmod(txPhase + 2 * M_PI * 1000.0 / 48000.0, 2 * M_PI);
    }
    complexArray_delete(in);
    complexArray_delete(out);
}

// Every ptt change the host heard, with the time it heard it.
using steady = std::chrono::steady_clock;
struct heard {
    bool on;
    steady::time_point at;
};
std::vector<heard> radioPtt, vtrxPtt; // under m
template <std::vector<heard>* list>
void onPtt(bool on) {
    std::lock_guard<std::mutex> l(m);
    list->push_back({on, steady::now()});
}
// The characters a text mode was heard to send.
std::string sentText; // under m
void onSent(const char* c) {
    std::lock_guard<std::mutex> l(m);
    sentText += c;
}
std::string sentSoFar() {
    std::lock_guard<std::mutex> l(m);
    return sentText;
}
/// What the host heard after t.
std::vector<heard> heardAfter(const std::vector<heard>& h, steady::time_point t) {
    std::lock_guard<std::mutex> l(m);
    std::vector<heard> out;
    for (auto& x : h)
        if (x.at >= t) out.push_back(x);
    return out;
}
double secondsFrom(steady::time_point t, steady::time_point later) {
    return std::chrono::duration<double>(later - t).count();
}

/// The host's Ep2 packets that reached the board after t, with their times.
std::vector<std::pair<ep2Packet, steady::time_point>> ep2After(const hpsdrP1Sim& board, steady::time_point t) {
    std::vector<std::pair<ep2Packet, steady::time_point>> out;
    for (auto& d : board.hostDatagrams())
        if (auto p = decodeEp2(d.bytes); p && d.at >= t) out.emplace_back(*p, d.at);
    return out;
}
bool anyMox(const ep2Packet& p) { return p.frames[0].mox() || p.frames[1].mox(); }
size_t moxFramesAfter(const hpsdrP1Sim& board, steady::time_point t) {
    size_t n = 0;
    for (auto& [p, at] : ep2After(board, t)) n += size_t(p.frames[0].mox()) + size_t(p.frames[1].mox());
    return n;
}
/// How many packets after t had MOX clear in both frames.
size_t moxClearsAfter(const hpsdrP1Sim& board, steady::time_point t) {
    size_t n = 0;
    for (auto& [p, at] : ep2After(board, t)) n += !anyMox(p);
    return n;
}
/// When the board, after t, got the packet that cleared MOX for good (the
/// first after the last with MOX set); none while that is still to come.
std::optional<steady::time_point> moxClearedAt(const hpsdrP1Sim& board, steady::time_point t) {
    auto packets = ep2After(board, t);
    size_t k = packets.size();
    while (k > 0 && !anyMox(packets[k - 1].first)) --k;
    return k == packets.size() ? std::nullopt : std::optional(packets[k].second);
}

/// Frequency (Hz at rate) and mean magnitude of a complex signal.
std::pair<double, double> toneOf(const std::vector<cplx>& x, double rate) {
    cplx turn = 0;
    double magnitude = 0;
    for (size_t k = 1; k < x.size(); ++k) {
        turn += x[k] * std::conj(x[k - 1]);
        magnitude += std::abs(x[k]);
    }
    return {std::arg(turn) * rate / (2 * M_PI), magnitude / double(x.size() - 1)};
}

class HpsdrStreaming : public CoreObjects {
protected:
    void SetUp() override {
        std::string why;
        if (!sim.openBoard("127.0.0.1", &why)) VIREO_SKIP_OR_FAIL(why);
        h = HpsdrRadio_create();
        r = object<HpsdrRadio>(h);
        HpsdrRadio_setipAddress(h, "127.0.0.1");
        Radio_bindvtrxAdded(h, onAdded);
    }
    void TearDown() override {
        if (h) {
            Radio_stop(h);
            r.reset();
            HpsdrRadio_release(h);
        }
        host::pollFor(poll, std::chrono::milliseconds(20));
        if (mode) proxyModDemod_release(mode);
        if (textMode) modDemod_release(textMode);
        std::vector<void*> transceivers;
        {
            std::lock_guard<std::mutex> l(m);
            transceivers.swap(added);
        }
        // Not under m: the last poll delivers what is still on its way to
        // the host, ptt included, whose callbacks take m.
        for (void* v : transceivers) vtrx_release(v);
        CoreObjects::TearDown();
        std::lock_guard<std::mutex> l(m);
        sentText.clear();
        radioPtt.clear();
        vtrxPtt.clear();
        for (auto& c : chunks) c.clear();
        chunkCount = {};
    }
    static void poll() { getUpdates(); }
    /// The sequence number the radio expects next, read on its task group.
    uint32_t consumed() {
        uint32_t v = 0;
        onWorker(r, [&] { v = r->expectedEp6Sequence; });
        return v;
    }
    /// Sends count packets and waits until the radio has taken them all.
    size_t pump(ep6Stream& stream, size_t count) {
        const size_t sent = sim.pump(stream, sequence, count, [this] { return consumed(); });
        EXPECT_TRUE(waitFor([&] { return consumed() == sequence; }));
        return sent;
    }
    /// Waits for n more datagrams from the host than it had sent so far.
    bool started(size_t n) { return sim.waitForHost(n) && sim.streaming(); }
    void* vtrxAt(size_t i) {
        std::lock_guard<std::mutex> l(m);
        return i < added.size() ? added[i] : nullptr;
    }

    /// The radio started with the board streaming at its own pace, and its
    /// transceiver keyed with a mode sending a tone, until the board gets
    /// frames with MOX set that carry the tone. The transceiver, or null.
    void* keyedOnTheAir() {
        Radio_bindptt(h, onPtt<&radioPtt>);
        Radio_start(h);
        if (!started(11) || !host::pollUntil(poll, [&] { return vtrxAt(0) != nullptr; })) return nullptr;
        sim.runClock(ep6Stream(1, {{simTone{}}}));
        void* tx = vtrxAt(0);
        mode = proxyModDemod_create();
        proxyModDemod_bindgetTxChunk(mode, onTxChunk);
        vtrx_setModulation(tx, mode);
        vtrx_bindptt(tx, onPtt<&vtrxPtt>);
        vtrx_start(tx);
        vtrx_setptt(tx, true);
        const bool onAir = host::pollUntil(poll, [&] {
            auto p = sim.ep2();
            return !p.empty() && anyMox(p.back()) && std::abs(p.back().frames[1].iq[62][1]) > 1000 &&
                   !heardAfter(radioPtt, {}).empty();
        });
        if (!onAir) notOnTheAir();
        return onAir ? tx : nullptr;
    }
    /// The same with a text going out instead of the tone: a CW text that
    /// keys itself, or a PSK text the host keys, each of two lines, until
    /// the host has heard the first characters of the first line.
    void* textOnTheAir(bool cw, const std::string& text) {
        Radio_bindptt(h, onPtt<&radioPtt>);
        Radio_start(h);
        if (!started(11) || !host::pollUntil(poll, [&] { return vtrxAt(0) != nullptr; })) return nullptr;
        sim.runClock(ep6Stream(1, {{simTone{}}}));
        void* tx = vtrxAt(0);
        textMode = cw ? cwModDemod_create() : PskModDemod_create();
        vtrx_setModulation(tx, textMode);
        vtrx_bindptt(tx, onPtt<&vtrxPtt>);
        vtrx_start(tx);
        if (cw) {
            cwModDemod_bindsentChars(textMode, onSent);
            cwModDemod_setwpm(textMode, 40);
            cwModDemod_QueueText(textMode, text.c_str(), 0);
        } else {
            PskModDemod_bindsentChars(textMode, onSent);
            PskModDemod_QueueText(textMode, text.c_str(), 0);
            vtrx_setptt(tx, true);
        }
        const bool onAir = host::pollUntil(
            poll, [&] { return sentSoFar().size() >= 3 && !sim.ep2().empty() && anyMox(sim.ep2().back()); },
            std::chrono::seconds(10));
        if (!onAir) notOnTheAir();
        return onAir ? tx : nullptr;
    }
    /// What the board and the host had when a transmission never got on
    /// the air.
    void notOnTheAir() {
        const auto packets = sim.ep2();
        size_t mox = 0;
        for (auto& p : packets) mox += anyMox(p);
        const auto told = heardAfter(radioPtt, {}), toldTx = heardAfter(vtrxPtt, {});
        std::printf("never on the air: %zu Ep2 packets, %zu with MOX, the last %s; sent \"%s\"; the radio told %zu "
                    "ptt (last %d), the transceiver %zu (last %d)\n",
                    packets.size(), mox, packets.empty() ? "none" : anyMox(packets.back()) ? "MOX" : "clear",
                    sentSoFar().c_str(), told.size(), told.empty() ? -1 : int(told.back().on), toldTx.size(),
                    toldTx.empty() ? -1 : int(toldTx.back().on));
        for (const std::string& line : logged_.lines())
            if (line.find("vtrx") != std::string::npos || line.find("ptt") != std::string::npos)
                std::printf("  %s\n", line.c_str());
    }

    LogCapture logged_;
    hpsdrP1Sim sim;
    void* h = nullptr;
    std::shared_ptr<HpsdrRadio> r;
    void* mode = nullptr;
    void* textMode = nullptr;
    uint32_t sequence = 0;
};

/// The ten configuration packets from the host's datagram first on.
void expectConfiguration(const std::vector<udpPeer::datagram>& d, size_t first, int receivers) {
    ASSERT_GE(d.size(), first + 10);
    for (size_t k = 0; k < 10; ++k) {
        auto p = decodeEp2(d[first + k].bytes);
        ASSERT_TRUE(p) << k;
        EXPECT_EQ(p->sequence, k);
        for (int f = 0; f < 2; ++f) {
            EXPECT_FALSE(p->frames[size_t(f)].mox());
            EXPECT_EQ(p->frames[size_t(f)].index(), int(2 * (k % 5)) + f) << k;
        }
        if (k % 5 == 0) { EXPECT_EQ(p->frames[0].c4, (receivers - 1) * 8 + 4); }
    }
}

TEST_F(HpsdrStreaming, StartStopRestartAndAReceiverAddedWhileRunning) {
    HpsdrRadio_bindJ16Set(h, host::onCollection<"bands", J16_release>);
    HpsdrRadio_bindFwdPwrCalibration(h, host::onCollection<"power", calibLine_release>);
    HpsdrRadio_bindep6SeqErrors(h, host::on<"seqErrors", int>);
    {
        // Not an address: the start ends with a line in the log, unconnected.
        LogCapture capture;
        HpsdrRadio_setipAddress(h, "192.168.1.300");
        Radio_start(h);
        onWorker(r, [] {});
        EXPECT_TRUE(capture.contains("error|processPropertySetQueue ipAddress \"192.168.1.300\" is not a numeric "
                                     "IPv4 or IPv6 address Radio.start()"));
        EXPECT_FALSE(r->connected);
    }
    HpsdrRadio_setipAddress(h, "127.0.0.1");
    Radio_start(h);
    ASSERT_TRUE(started(11));
    auto d = sim.hostDatagrams();
    expectConfiguration(d, 0, 1);
    EXPECT_EQ(d[10].bytes, startStopPacket(0x03));
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("bands").size() == 10 && log.of("power").size() == 15; }));

    ep6Stream stream(1, {{simTone{}}});
    EXPECT_EQ(pump(stream, 8), 8u);
    Radio_stop(h);
    ASSERT_TRUE(waitFor([&] { return !sim.streaming(); }));
    EXPECT_EQ(sim.hostDatagrams().back().bytes, startStopPacket(0x00));
    EXPECT_EQ(pump(stream, 1), 0u) << "a stopped board sends nothing";

    // A restart repeats the configuration from sequence 0 and expects the
    // board's stream from 0 again.
    HpsdrRadio_setDisableWatchdog(h, true);
    const size_t before = sim.hostCount();
    Radio_start(h);
    ASSERT_TRUE(started(before + 11));
    d = sim.hostDatagrams();
    expectConfiguration(d, before, 1);
    EXPECT_EQ(d[before + 10].bytes, startStopPacket(0x83));
    sequence = 0;
    EXPECT_EQ(pump(stream, 4), 4u);

    // A second receiver while running: stop, the configuration with two
    // receivers, start.
    Radio_setmaxHwReceivers(h, 2);
    const size_t running = sim.hostCount();
    Radio_addVtrx(h, 21000000, 0, 0);
    ASSERT_TRUE(waitFor([&] {
        auto ss = sim.startStop();
        return ss.size() == 5 && ss.back()[3] == 0x83;
    }));
    d = sim.hostDatagrams();
    size_t stop = running;
    while (stop < d.size() && d[stop].bytes.size() != 64) ++stop;
    ASSERT_LT(stop, d.size());
    EXPECT_EQ(d[stop].bytes, startStopPacket(0x00));
    expectConfiguration(d, stop + 1, 2);
    sequence = 0;
    ep6Stream two(2, {{simTone{}}, {simTone{}}});
    EXPECT_EQ(pump(two, 4), 4u);
    host::pollFor(poll, std::chrono::milliseconds(20));
    EXPECT_TRUE(log.of("seqErrors").empty());
}

struct pacing {
    int rate, receivers, ep6, ep2;
};
void PrintTo(const pacing& p, std::ostream* os) {
    *os << p.rate << " with " << p.receivers << ": " << p.ep6 << " Ep6 give " << p.ep2 << " Ep2";
}

class HpsdrPacing : public HpsdrStreaming, public ::testing::WithParamInterface<pacing> {};

TEST_P(HpsdrPacing, OneEp2Per126SamplesOfTheBoardsStream) {
    const auto [rate, n, ep6, ep2] = GetParam();
    HpsdrRadio_bindep6SeqErrors(h, host::on<"seqErrors", int>);
    Radio_setSampleRate(h, rate);
    Radio_setmaxHwReceivers(h, n);
    for (int k = 0; k < n; ++k) Radio_addVtrx(h, 7000000 + 7000000LL * k, 0, 0);
    Radio_start(h);
    ASSERT_TRUE(started(11));
    std::vector<std::vector<simTone>> tones(size_t(n), {simTone{}});
    ep6Stream stream(n, tones);
    ASSERT_EQ(pump(stream, size_t(ep6)), size_t(ep6));
    ASSERT_TRUE(sim.waitForHost(11 + size_t(ep2)));
    auto packets = sim.ep2();
    EXPECT_EQ(packets.size(), 10u + size_t(ep2));
    EXPECT_EQ(packets.back().sequence, 9u + uint32_t(ep2));

    // One receiver at 48000: every packet answered; a gap is one error.
    if (rate != 48000 || n != 1) return;
    sequence = 5;
    ASSERT_EQ(pump(stream, 2), 2u); // 5, then 6 as expected
    ASSERT_TRUE(host::pollUntil(poll, [&] { return !log.of("seqErrors").empty(); }));
    host::pollFor(poll, std::chrono::milliseconds(20));
    ASSERT_EQ(log.of("seqErrors").size(), 1u);
    EXPECT_EQ(log.of("seqErrors")[0].args[0], "1");
    EXPECT_EQ(consumed(), 7u);
    ASSERT_TRUE(sim.waitForHost(11 + size_t(ep2) + 2));
}

INSTANTIATE_TEST_SUITE_P(Rates, HpsdrPacing,
                         ::testing::Values(pacing{48000, 1, 28, 28}, pacing{192000, 1, 28, 7},
                                           pacing{48000, 2, 28, 16}),
                         [](const auto& p) {
                             return std::to_string(p.param.rate) + "x" + std::to_string(p.param.receivers);
                         });

class HpsdrTones : public HpsdrStreaming, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(HpsdrTones, EachReceiversToneReachesItsTransceiver) {
    const auto [n, rate] = GetParam();
    // Even receivers at 7 MHz (an even Nyquist zone of 73.728 MHz), odd ones
    // at 40 MHz (odd zone), each with its own tone above its centre.
    auto centre = [](int k) { return (k % 2 ? 40000000LL : 7000000LL) + 100000LL * k; };
    auto offset = [](int k) { return 300.0 + 300.0 * k; };
    Radio_setSampleRate(h, rate);
    Radio_setmaxHwReceivers(h, n);
    Radio_setdisableVirtualReceivers(h, true);
    std::vector<void*> modes;
    for (int k = 0; k < n; ++k) {
        Radio_addVtrx(h, centre(k), 0, 0);
        ASSERT_TRUE(host::pollUntil(poll, [&] { return vtrxAt(size_t(k)) != nullptr; }));
        modes.push_back(proxyModDemod_create());
        proxyModDemod_bindrxChunk(modes.back(), rxChunkOf[k]);
        vtrx_setModulation(vtrxAt(size_t(k)), modes.back());
        vtrx_start(vtrxAt(size_t(k)));
    }
    Radio_start(h);
    ASSERT_TRUE(started(11));
    std::vector<std::vector<simTone>> tones;
    for (int k = 0; k < n; ++k)
        tones.push_back({simTone::above(offset(k), rate, IsFrequencyReversed(centre(k), 73728000) != 0)});
    ep6Stream stream(n, tones);
    // Six receive blocks per receiver.
    const size_t block = hwReceiver::blockSizeFor(rate);
    const size_t packets = 6 * block / (2 * stream.samplesPerFrame()) + 1;
    ASSERT_EQ(pump(stream, packets), packets);
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> l(m);
        return std::all_of(chunkCount.begin(), chunkCount.begin() + n, [](int c) { return c >= 5; });
    }));
    std::lock_guard<std::mutex> l(m);
    for (int k = 0; k < n; ++k) {
        auto [frequency, magnitude] = toneOf(chunks[size_t(k)], 48000);
        EXPECT_NEAR(frequency, offset(k), 2.0) << "receiver " << k << " at " << centre(k);
        EXPECT_NEAR(magnitude, 0.5, 0.05) << "receiver " << k;
    }
    for (void* mode : modes) proxyModDemod_release(mode);
}

INSTANTIATE_TEST_SUITE_P(Receivers, HpsdrTones,
                         ::testing::Values(std::pair{1, 48000}, std::pair{3, 192000}, std::pair{8, 384000}));

namespace {

std::vector<std::pair<size_t, int>> iqBlocks; // size and rate of each block sent as IQ, under m
void onIQ(void* array, double, int rate) {
    std::lock_guard<std::mutex> l(m);
    iqBlocks.emplace_back(size_t(complexArray_size(array)), rate);
    complexArray_delete(array);
}

} // namespace

TEST_F(HpsdrStreaming, IqFlowsOnAfterARefusedRateAndWithinOneBlockAfterAnAcceptedOne) {
    LogCapture logged;
    {
        std::lock_guard<std::mutex> l(m);
        iqBlocks.clear();
    }
    Radio_setSampleRate(h, 384000);
    Radio_addVtrx(h, 7000000, 0, 0);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return vtrxAt(0) != nullptr; }));
    vtrx_bindnewIQ(vtrxAt(0), onIQ);
    vtrx_setSendIQ(vtrxAt(0), true);
    vtrx_start(vtrxAt(0));
    Radio_start(h);
    ASSERT_TRUE(started(11));
    ep6Stream stream(1, {{simTone{}}});
    auto blocks = [&](size_t n) {
        return host::pollUntil(getRenderUpdates, [&] {
            std::lock_guard<std::mutex> l(m);
            return iqBlocks.size() >= n;
        });
    };
    auto newest = [&] {
        std::lock_guard<std::mutex> l(m);
        return iqBlocks.back();
    };
    // 126 samples a packet: a block of 512, one of 4096, and 432 samples on.
    ASSERT_EQ(pump(stream, 40), 40u);
    ASSERT_TRUE(blocks(2));

    Radio_setSampleRate(h, INT_MAX);
    ASSERT_EQ(pump(stream, 33), 33u); // 4158 more: the block fills as before
    ASSERT_TRUE(blocks(3));
    EXPECT_EQ(newest(), (std::pair<size_t, int>{4096, 384000}));
    EXPECT_TRUE(logged.contains("error|HpsdrRadio SampleRate 2147483647 refused, keeping 384000"));

    // 48000: five packets hold a block of its size, whatever the block of
    // the old rate held.
    Radio_setSampleRate(h, 48000);
    ASSERT_EQ(pump(stream, 5), 5u);
    ASSERT_TRUE(blocks(4));
    EXPECT_EQ(newest(), (std::pair<size_t, int>{512, 48000}));
}

TEST_F(HpsdrStreaming, KeyedTransceiverSendsItsSamplesWithMox) {
    Radio_start(h);
    ASSERT_TRUE(started(11));
    ASSERT_TRUE(host::pollUntil(poll, [&] { return vtrxAt(0) != nullptr; }));
    void* tx = vtrxAt(0);
    void* mode = proxyModDemod_create();
    proxyModDemod_bindgetTxChunk(mode, onTxChunk);
    vtrx_setModulation(tx, mode);
    vtrx_start(tx);
    ep6Stream stream(1, {{simTone{}}});
    ASSERT_EQ(pump(stream, 4), 4u);

    vtrx_setptt(tx, true);
    ASSERT_TRUE(waitFor([&] { return r->ptt.get(); }));
    ASSERT_EQ(pump(stream, 60), 60u);
    ASSERT_TRUE(waitFor([&] { return sim.ep2().size() >= 10 + 64; }));
    auto packets = sim.ep2();
    size_t press = 0;
    while (press < packets.size() && !packets[press].frames[0].mox()) ++press;
    ASSERT_LT(press, packets.size());
    EXPECT_EQ(press, 14u) << "four packets before the press";
    EXPECT_EQ(packets[press].frames[0].index(), 0);
    EXPECT_EQ(packets[press].frames[1].index(), 10);
    EXPECT_TRUE(packets[press].frames[1].mox());
    // Past the fade-in the words carry the tone: magnitude 0.5 of 32766, a
    // turn of +1000 Hz (even zone: sample = −first + j second).
    std::vector<cplx> words;
    for (auto& f : packets.back().frames)
        for (auto& w : f.iq) words.emplace_back(-double(w[0]), double(w[1]));
    auto [frequency, magnitude] = toneOf(words, 48000);
    EXPECT_NEAR(frequency, 1000.0, 5.0);
    EXPECT_NEAR(magnitude, 0.5 * 32766, 0.05 * 32766);

    proxyModDemod_release(mode);
}

TEST_F(HpsdrStreaming, ReleasedWhileTheBoardStreams) {
    Radio_setSampleRate(h, 384000);
    Radio_start(h);
    ASSERT_TRUE(started(11));
    ASSERT_TRUE(host::pollUntil(poll, [&] { return vtrxAt(0) != nullptr; }));
    vtrx_start(vtrxAt(0));
    std::weak_ptr<HpsdrRadio> weak = r;
    r.reset();
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread board([&] {
        ep6Stream stream(1, {{simTone{}}});
        for (uint32_t s = 0; !stop; ++s) {
            sim.sendToHost(stream.next(s));
            if (s % 4 == 3) sim.sendToHost(ep4Packet(s, std::vector<int16_t>(512, 100)));
            if (++sent % 64 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    ASSERT_TRUE(waitFor([&] { return sent > 500; }));
    asyncObject_bindDeleted(h, host::on<"gone", int>);
    HpsdrRadio_release(h);
    h = nullptr;
    EXPECT_TRUE(host::pollUntil(poll, [&] { return !log.of("gone").empty(); }));
    const int atRelease = sent;
    ASSERT_TRUE(waitFor([&] { return sent > atRelease + 500; }));
    stop = true;
    board.join();
    EXPECT_TRUE(weak.expired());
}

// A keyed radio whose end can no longer come from the board's stream: it
// is stopped, its board falls silent, or the host lets go of it (through the
// radio's own release or the release of any handle). Within half a second
// (stretched in a sanitizer build, as the library's limit for a silent
// radio is) the host hears ptt false and the board gets MOX clear; no MOX
// frame follows, whether the board streams again (a start; a new board and
// a restart) or goes on streaming to a released radio that sends no more.
enum class ending { stop, silence, release, genericRelease };
constexpr const char* endingName[] = {"Stopped", "SilentBoard", "Released", "GenericRelease"};
void PrintTo(ending e, std::ostream* os) { *os << endingName[size_t(e)]; }
class HpsdrOffTheAir : public HpsdrStreaming, public ::testing::WithParamInterface<ending> {};

TEST_P(HpsdrOffTheAir, TheHostHearsPttFalseAndTheBoardMoxClearAtOnce) {
    const ending how = GetParam();
    void* tx = keyedOnTheAir();
    ASSERT_TRUE(tx);
    std::weak_ptr<HpsdrRadio> weak = r;
    if (how == ending::silence) sim.stopClock(); // nothing asks for the tail
    const auto change = steady::now();
    if (how == ending::stop) Radio_stop(h);
    if (how == ending::silence) vtrx_setptt(tx, false);
    const bool released = how == ending::release || how == ending::genericRelease;
    if (released) {
        r.reset();
        if (how == ending::release)
            HpsdrRadio_release(std::exchange(h, nullptr));
        else
            asyncObject_release(std::exchange(h, nullptr));
    }
    // The host's own set is not echoed: after silence only the radio tells.
    const bool vtrxTells = how != ending::silence;
    ASSERT_TRUE(host::pollUntil(poll, [&] {
        return !heardAfter(radioPtt, change).empty() && heardAfter(vtrxPtt, change).size() == vtrxTells &&
               moxClearedAt(sim, change);
    }));
    EXPECT_LT(secondsFrom(change, *moxClearedAt(sim, change)), 0.5 * buildSlowdown);
    std::printf("%s: ptt off heard after %.1f ms, MOX clear after %.1f ms, %zu MOX frames after the change\n",
                endingName[size_t(how)], 1e3 * secondsFrom(change, heardAfter(radioPtt, change).front().at),
                1e3 * secondsFrom(change, *moxClearedAt(sim, change)), moxFramesAfter(sim, change));

    const auto cleared = steady::now();
    hpsdrP1Sim reborn;
    hpsdrP1Sim* board = &sim;
    if (how == ending::stop) {
        vtrx_setptt(tx, false); // the host's release while stopped
        Radio_start(h);
    }
    if (how == ending::silence) { // the board died; a new one, a restart
        sim.peer.close();
        std::string why;
        ASSERT_TRUE(reborn.openBoard("127.0.0.1", &why)) << why;
        board = &reborn;
        Radio_stop(h);
        Radio_start(h);
        ASSERT_TRUE(waitFor([&] { return reborn.streaming(); }));
        reborn.runClock(ep6Stream(1, {{simTone{}}}));
    }
    if (released) { ASSERT_TRUE(waitFor([&] { return weak.expired(); })); }
    size_t packets = board->clockPackets();
    ASSERT_TRUE(waitFor([&] { return board->clockPackets() > packets + 40; }));
    const size_t sent = board->hostCount();
    packets = board->clockPackets();
    ASSERT_TRUE(waitFor([&] { return board->clockPackets() > packets + 200; }));
    host::pollFor(poll, std::chrono::milliseconds(50));
    EXPECT_EQ(moxFramesAfter(*board, cleared), 0u) << "no MOX, no tail";
    if (released) { EXPECT_EQ(board->hostCount(), sent) << "sent to a released radio's board"; }
    for (auto* told : {&radioPtt, &vtrxPtt}) {
        for (auto& heard : heardAfter(*told, change)) {
            EXPECT_FALSE(heard.on) << "keyed again";
            EXPECT_LT(secondsFrom(change, heard.at), 0.5 * buildSlowdown);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Endings, HpsdrOffTheAir,
                         ::testing::Values(ending::stop, ending::silence, ending::release, ending::genericRelease),
                         [](const auto& p) { return endingName[size_t(p.param)]; });

// Each ending the host makes of a keyed transmission, followed at once by
// the host's unkey and key of the transceiver, as a host does that does not
// wait to hear the off, or by the key alone, as a host does that holds its
// key down: the key made last stands. The board gets MOX and the tone again
// and keeps them, and the last the host heard of the radio and of the
// transceiver is "on". Where a text goes out (CW keying for it, or PSK keyed
// by the host), the key alone after the radio's ending is a transmission of
// its own: the ending cuts the text's first line where it was, and the
// key sends the second line, whole; beside each, its control, the key made
// 50 ms after the ending.
enum class rekeyAfter { transceiverUnkeyed, radioUnkeyed, stopAndStart, cannotTransmitAndCan };
constexpr const char* rekeyName[] = {"TransceiverUnkeyed", "RadioUnkeyed", "StopAndStart", "CannotTransmitAndCan"};
enum class onTheAir { tone, cwText, pskText };
constexpr const char* onTheAirName[] = {"", "_CwText", "_PskText"};
struct rekeyRow {
    rekeyAfter after;
    bool unkeyFirst;
    onTheAir what = onTheAir::tone;
    bool control = false;
};
void PrintTo(const rekeyRow& r, std::ostream* os) {
    *os << rekeyName[size_t(r.after)] << (r.unkeyFirst ? "" : ", the key alone") << onTheAirName[size_t(r.what)]
        << (r.control ? ", control" : "");
}
class HpsdrRekey : public HpsdrStreaming, public ::testing::WithParamInterface<rekeyRow> {};

TEST_P(HpsdrRekey, TheKeyMadeLastStandsOnTheBoard) {
    const auto [after, unkeyFirst, what, control] = GetParam();
    const bool cw = what == onTheAir::cwText;
    const std::string line = "CQ CQ CQ DE TEST TEST TEST", mark = cw ? "\n" : "~", next = "K" + mark;
    void* tx = what == onTheAir::tone ? keyedOnTheAir() : textOnTheAir(cw, line + mark + next);
    ASSERT_TRUE(tx);
    // What the mode had taken as the host made the change: the host hears
    // each character late, under a sanitizer's load by more than one.
    const size_t heardBefore = what == onTheAir::tone ? 0
                               : cw                   ? size_t(object<cwModDemod>(textMode)->sentCount())
                                                      : size_t(object<PskModDemod>(textMode)->sentCount());
    const auto change = steady::now();
    switch (after) {
    case rekeyAfter::transceiverUnkeyed: break;
    case rekeyAfter::radioUnkeyed: Radio_setptt(h, false); break;
    case rekeyAfter::stopAndStart:
        Radio_stop(h);
        Radio_start(h);
        break;
    case rekeyAfter::cannotTransmitAndCan:
        Radio_setcanTransmit(h, false);
        Radio_setcanTransmit(h, true);
        break;
    }
    if (unkeyFirst) vtrx_setptt(tx, false);
    if (control) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    vtrx_setptt(tx, true);
    if (what != onTheAir::tone) {
        // The first line, cut, then the second whole; of the first, at most
        // the character taken as the host ended it, heard late.
        ASSERT_TRUE(host::pollUntil(
            poll, [&] { return sentSoFar().size() > next.size() && sentSoFar().ends_with(next); },
            std::chrono::seconds(15)))
            << "the key's own text never went out: sent \"" << sentSoFar() << "\"";
        const std::string sent = sentSoFar(), first = sent.substr(0, sent.size() - next.size());
        EXPECT_EQ(first, line.substr(0, first.size())) << sent;
        EXPECT_LE(first.size(), heardBefore + 1) << "the ended line went on after the key: " << sent;
        std::printf("%s%s%s: %zu characters taken at the ending, the line cut after %zu\n", rekeyName[size_t(after)],
                    onTheAirName[size_t(what)], control ? ", the key 50 ms later" : "", heardBefore, first.size());
        return;
    }
    auto onAir = [&](steady::time_point t) {
        auto packets = ep2After(sim, t);
        return !packets.empty() && anyMox(packets.back().first) &&
               std::abs(packets.back().first.frames[1].iq[62][1]) > 1000;
    };
    // Packets the board got before the radio took the ending may still show
    // the old transmission: "again" counts from once the radio has taken
    // the host's calls.
    onWorker(r, [] {});
    const auto settled = steady::now();
    ASSERT_TRUE(host::pollUntil(poll, [&] { return onAir(settled); })) << "not on the air again";
    const auto back = steady::now();
    host::pollFor(poll, std::chrono::milliseconds(500));
    EXPECT_EQ(moxClearsAfter(sim, back), 0u) << "MOX cleared after the key stood";
    EXPECT_TRUE(onAir(back));
    auto last = [](const std::vector<heard>& h) { return h.empty() ? std::optional<bool>() : h.back().on; };
    EXPECT_NE(last(heardAfter(vtrxPtt, change)), std::optional(false)) << "told off while it transmits";
    EXPECT_NE(last(heardAfter(radioPtt, change)), std::optional(false)) << "the radio told off while it transmits";
    std::printf("%s%s: on the air again after %.1f ms\n", rekeyName[size_t(after)],
                unkeyFirst ? "" : ", the key alone", 1e3 * secondsFrom(change, back));
}

std::vector<rekeyRow> rekeyRows() {
    std::vector<rekeyRow> rows;
    for (rekeyAfter a : {rekeyAfter::transceiverUnkeyed, rekeyAfter::radioUnkeyed, rekeyAfter::stopAndStart,
                         rekeyAfter::cannotTransmitAndCan})
        rows.push_back({a, true});
    for (onTheAir what : {onTheAir::tone, onTheAir::cwText, onTheAir::pskText})
        for (bool control : {false, true}) {
            if (what == onTheAir::tone && control) continue;
            for (rekeyAfter a : {rekeyAfter::radioUnkeyed, rekeyAfter::stopAndStart, rekeyAfter::cannotTransmitAndCan})
                rows.push_back({a, false, what, control});
        }
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Endings, HpsdrRekey, ::testing::ValuesIn(rekeyRows()), [](const auto& p) {
    return std::string(rekeyName[size_t(p.param.after)]) + (p.param.unkeyFirst ? "" : "_KeyAlone") +
           onTheAirName[size_t(p.param.what)] + (p.param.control ? "_Control" : "");
});

// The host's own key of the radio, made while the transceiver transmits,
// holds the board on the air once the transceiver unkeys: MOX stays, and the
// board gets silence; the host's unkey of the radio then clears MOX.
TEST_F(HpsdrStreaming, TheHostsKeyOfTheRadioHoldsMoxWithSilence) {
    void* tx = keyedOnTheAir();
    ASSERT_TRUE(tx);
    Radio_setptt(h, true);
    vtrx_setptt(tx, false);
    const auto unkeyed = steady::now();
    auto silentWithMox = [&](steady::time_point t) {
        auto p = ep2After(sim, t);
        return p.size() > 20 && anyMox(p.back().first) && p.back().first.frames[1].iq[62][1] == 0 &&
               p.back().first.frames[0].iq[0][1] == 0;
    };
    // What a failure needs to be told apart: each packet the board got from
    // the unkey on (ms after it, MOX or clear, peak), what the host heard,
    // and the lines the radio and the transceiver logged.
    auto story = [&] {
        std::string seen = "\nthe board's packets from the unkey on: ms, MOX (M) or clear (c), peak; silent ones "
                           "in runs, first-last ms and how many:";
        struct {
            int first = 0, last = 0;
            size_t count = 0;
            bool mox = false;
        } silence;
        auto endRun = [&] {
            if (silence.count > 0)
                seen += " " + std::to_string(silence.first) + "-" + std::to_string(silence.last) +
                        (silence.mox ? "M0 x" : "c0 x") + std::to_string(silence.count);
            silence.count = 0;
        };
        for (auto& [p, at] : ep2After(sim, unkeyed)) {
            int peak = 0;
            for (auto& f : p.frames)
                for (auto& w : f.iq) peak = std::max({peak, std::abs(int(w[0])), std::abs(int(w[1]))});
            const int ms = int(1e3 * secondsFrom(unkeyed, at));
            if (peak == 0 && silence.count > 0 && silence.mox == anyMox(p)) {
                silence.last = ms;
                ++silence.count;
                continue;
            }
            endRun();
            if (peak == 0)
                silence = {ms, ms, 1, anyMox(p)};
            else
                seen += " " + std::to_string(ms) + (anyMox(p) ? "M" : "c") + std::to_string(peak);
        }
        endRun();
        for (auto* who : {&radioPtt, &vtrxPtt}) {
            seen += who == &radioPtt ? "\nthe radio's ptt heard:" : "\nthe transceiver's ptt heard:";
            for (auto& x : heardAfter(*who, {}))
                seen += " " + std::to_string(int(1e3 * secondsFrom(unkeyed, x.at))) + "ms " + (x.on ? "on" : "off");
        }
        seen += "\nthe log:";
        for (const std::string& line : logged_.lines())
            if (line.find("info|") != 0 || line.find("vtrx") != std::string::npos ||
                line.find("ptt") != std::string::npos)
                seen += "\n  " + line;
        return seen;
    };
    ASSERT_TRUE(host::pollUntil(poll, [&] { return silentWithMox(unkeyed); }))
        << "MOX cleared, or the tone went on" << story();
    const auto silent = steady::now();
    host::pollFor(poll, std::chrono::milliseconds(500));
    // A loaded machine may hold the board's clock or the radio up for most
    // of that: the packets the check reads must have come.
    EXPECT_TRUE(host::pollUntil(poll, [&] { return ep2After(sim, silent).size() > 20; }))
        << "the board got no packets" << story();
    EXPECT_EQ(moxClearsAfter(sim, silent), 0u) << "MOX cleared while the host's key of the radio stands" << story();
    EXPECT_TRUE(silentWithMox(silent)) << story();
    EXPECT_TRUE(heardAfter(radioPtt, unkeyed).empty()) << "the radio told off" << story();
    const auto released = steady::now();
    Radio_setptt(h, false);
    ASSERT_TRUE(host::pollUntil(poll, [&] {
        auto p = ep2After(sim, released);
        return !p.empty() && !anyMox(p.back().first);
    })) << "MOX never cleared"
        << story();
}

// A MultiPSK peer's over cut short by the host's unkey of the radio, the
// peer sending on at its pace, or having sent the whole over at once: what
// it sends waits for its next SwitchTX. When the host then keys the radio
// alone, or the transceiver, the board gets MOX and silence.
TEST_F(HpsdrStreaming, ACutOverNeverGoesOut) {
    Radio_bindptt(h, onPtt<&radioPtt>);
    Radio_start(h);
    ASSERT_TRUE(started(11) && host::pollUntil(poll, [&] { return vtrxAt(0) != nullptr; }));
    sim.runClock(ep6Stream(1, {{simTone{}}}));
    void* tx = vtrxAt(0);
    vtrx_start(tx);
    auto iqPeak = [&](steady::time_point t) {
        int peak = 0;
        for (auto& [p, at] : ep2After(sim, t))
            for (auto& f : p.frames)
                for (auto& slot : f.iq) peak = std::max({peak, std::abs(int(slot[0])), std::abs(int(slot[1]))});
        return peak;
    };
    for (bool burst : {false, true}) {
        for (bool keysTransceiver : {false, true}) {
            SCOPED_TRACE(std::string(burst ? "the whole over at once" : "an over at its pace") + ", then the host keys " +
                         (keysTransceiver ? "the transceiver" : "the radio"));
            void* m = MultiPskModDemod_create();
            vtrx_setModulation(tx, m);
            const int port = mpsktest::servedPort(m, poll);
            mpsktest::Client peer;
            ASSERT_TRUE(host::pollUntil(poll, [&] { return peer.connect(port); }, std::chrono::seconds(5)));
            peer.sendBody("SwitchTX");
            // A steady carrier at 0.5 of full scale: three seconds at once, or
            // 40 ms at a time until the test ends.
            std::atomic<bool> stop{false};
            std::thread over([&] {
                const auto body = mpsktest::samplesBody(std::vector<std::pair<int16_t, int16_t>>(1920, {16500, 0}));
                for (int k = 0; !stop && (!burst || k < 75) && peer.sendBody(body); ++k)
                    if (!burst) std::this_thread::sleep_for(std::chrono::milliseconds(40));
            });
            const auto keyed = steady::now();
            ASSERT_TRUE(host::pollUntil(poll, [&] { return iqPeak(keyed) > 1000; })) << "the over never went out";

            Radio_setptt(h, false);
            host::pollFor(poll, std::chrono::milliseconds(1000)); // the peer sends on
            const auto hostKeyed = steady::now();
            if (keysTransceiver)
                vtrx_setptt(tx, true);
            else
                Radio_setptt(h, true);
            ASSERT_TRUE(host::pollUntil(poll, [&] {
                auto p = ep2After(sim, hostKeyed);
                return p.size() > 100 && anyMox(p.back().first);
            }));
            EXPECT_EQ(iqPeak(hostKeyed), 0) << "the cut over went out";
            stop = true;
            over.join();
            vtrx_setptt(tx, false);
            Radio_setptt(h, false);
            peer.close();
            host::pollFor(poll, std::chrono::milliseconds(50));
            vtrx_setModulation(tx, nullptr);
            MultiPskModDemod_release(m);
        }
    }
}

} // namespace
