// The protocol 2 radio as a host drives it through the C interface, against
// the board simulator on loopback (tests/sim/hpsdrP2Sim): the start and stop
// sequences byte for byte, the configuration that follows the board's
// microphone packets, tones on 1, 4 and 16 DDCs reaching their transceivers
// through the host-driven mode, telemetry, and every kind of datagram the
// radio must refuse. No test may see a keyed board, nor a DUC IQ packet it
// did not send itself through the radio's writer.
#include "radios/hpsdr/HpsdrNpRadio.h"

#include "core/coreObjectFixture.h"
#include "framework/library.h"
#include "framework/sothreadPool.h"
#include "radios/hpsdr/NpHostPackets.h"
#include "sim/hpsdrP2Sim.h"
#include "support/logCapture.h"
#include "support/skipOrFail.h"
#include "support/waitFor.h"

#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <complex>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace {

using clock_ = std::chrono::steady_clock;
using cplx = std::complex<double>;
constexpr int clock122 = 122880000;

// What every receiving transceiver's mode hands the host, per transceiver.
struct chunkStore {
    std::mutex m;
    std::array<std::vector<cplx>, 16> samples;
    void add(size_t k, void* block) {
        const float* d = complexArray_data(block);
        const int n = complexArray_size(block);
        std::lock_guard<std::mutex> l(m);
        for (int i = 0; i < n; ++i) samples[k].emplace_back(d[2 * i], d[2 * i + 1]);
        complexArray_delete(block);
    }
    size_t size(size_t k) {
        std::lock_guard<std::mutex> l(m);
        return samples[k].size();
    }
    std::vector<cplx> take(size_t k) {
        std::lock_guard<std::mutex> l(m);
        return std::exchange(samples[k], {});
    }
};
chunkStore& chunks() {
    static chunkStore s;
    return s;
}
template <size_t K>
void onChunk(void* block) {
    chunks().add(K, block);
}
template <size_t... K>
constexpr std::array<void (*)(void*), sizeof...(K)> chunkCallbacks(std::index_sequence<K...>) {
    return {onChunk<K>...};
}
constexpr auto chunkCallback = chunkCallbacks(std::make_index_sequence<16>());

void onAdded(void* v, long long frequency, int, int) {
    host::Log::get().add({"added", {std::to_string(frequency)}, v}, vtrx_release);
}

/// A tone's frequency (Hz at 48000 samples per second) and amplitude, from
/// the mean phase step and power of a stretch of samples.
std::pair<double, double> measure(const std::vector<cplx>& x, size_t from) {
    cplx step = 0;
    double power = 0;
    for (size_t i = from + 1; i < x.size(); ++i) {
        step += x[i] * std::conj(x[i - 1]);
        power += std::norm(x[i]);
    }
    return {std::arg(step) * 48000.0 / (2 * M_PI), std::sqrt(power / double(x.size() - from - 1))};
}

// The two constant packets, as a board expects them.
const std::vector<uint8_t> generalTable = {
    0, 0, 0, 0, 0x00, 0x04, 0x01, 0x04, 0x02, 0x04, 0x03, 0x04, 0x01, 0x04, 0x04, 0x04, 0x05, 0x04, 0x0B, 0x04,
    0x02, 0x04, 0x03, 1, 0x02, 0x00, 16, 20, 32, 0, 0, 0, 0, 0, 0, 0, 0, 0x08, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x03};
const std::vector<uint8_t> transmitterTable = {
    0, 0, 0, 0, 0x01, 0xB8, 0x00, 0x02, 0x58, 0x19, 0x32, 0x01, 0x36, 0x14, 0x00, 0xC0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x04, 0x17, 0, 0, 0, 0, 0, 0x1F, 0x1F, 0x1F};

class NpRadioHost : public CoreObjects {
protected:
    void SetUp() override {
        std::string why;
        if (!sim.open("127.0.0.1", &why)) VIREO_SKIP_OR_FAIL("cannot be the board on loopback: " + why);
        capture_ = std::make_unique<LogCapture>();
    }
    void TearDown() override {
        if (radio) {
            // Nothing the radio did fed or keyed the board.
            EXPECT_EQ(sim.at(NpHostPackets::ducPort).count(), 0u) << "a DUC IQ packet left";
            for (auto& d : sim.at(NpHostPackets::highPriorityPort).received()) EXPECT_LE(d.bytes.at(4), 1);
            r.reset();
            asyncObject_bindDeleted(radio, host::on<"gone", int>);
            HpsdrNpRadio_release(radio);
            EXPECT_TRUE(host::pollUntil(getUpdates, [&] { return !log.of("gone").empty(); }));
        }
        CoreObjects::TearDown(); // frees the transceivers' handles
        waitFor([] { return globalPool->busy() == 0; });
        getUpdates();
        capture_.reset();
    }

    void makeRadio() {
        radio = HpsdrNpRadio_create();
        r = object<HpsdrNpRadio>(radio);
        ASSERT_TRUE(r);
        HpsdrNpRadio_setipAddress(radio, "127.0.0.1");
        Radio_bindvtrxAdded(radio, onAdded);
    }
    /// Starts and waits until the four packets of the start sequence arrived.
    void start() {
        size_t before[4];
        for (uint16_t p = 1024; p < 1028; ++p) before[p - 1024] = sim.at(p).count();
        Radio_start(radio);
        for (uint16_t p = 1024; p < 1028; ++p) ASSERT_TRUE(sim.at(p).waitForCount(before[p - 1024] + 1)) << p;
    }
    /// Datagram i that arrived on a board port.
    std::vector<uint8_t> packet(uint16_t port, size_t i) {
        if (!sim.at(port).waitForCount(i + 1)) return {};
        return sim.at(port).received()[i].bytes;
    }
    std::vector<uint8_t> last(uint16_t port) {
        auto all = sim.at(port).received();
        return all.empty() ? std::vector<uint8_t>{} : all.back().bytes;
    }
    /// Returns once the radio has handled every datagram the board sent
    /// before: one more DDC IQ packet on DDC 0, in sequence, went through.
    void barrier() {
        const uint64_t before = r->received.ddcPackets.load();
        ASSERT_TRUE(sim.send(hpsdrP2Sim::ddcPort(0), ddc0.next(ddc0Sequence++)));
        ASSERT_TRUE(waitFor([&] { return r->received.ddcPackets.load() > before; }));
    }
    /// 32 microphone packets: the board gets a DDC specific and a High
    /// priority packet with what is in force; waits for both.
    void refresh() {
        const size_t ddc = sim.at(1025).count(), hp = sim.at(1027).count();
        micPackets(32);
        ASSERT_TRUE(sim.at(1027).waitForCount(hp + 1));
        ASSERT_TRUE(sim.at(1025).waitForCount(ddc + 1));
    }
    void micPackets(int n) {
        for (int i = 0; i < n; ++i) ASSERT_TRUE(sim.send(hpsdrP2Sim::micPort, hpsdrP2Sim::micPacket(uint32_t(i))));
    }
    /// Gives the newest announced transceiver a host-driven mode whose
    /// blocks land in chunks() slot k, and starts it.
    void attach(size_t k) {
        void* v = log.of("added")[k].handle;
        void* mode = proxyModDemod_create();
        proxyModDemod_bindrxChunk(mode, chunkCallback[k]);
        vtrx_setModulation(v, mode);
        proxyModDemod_release(mode); // the transceiver keeps it
        vtrx_start(v);
    }
    size_t logged(const std::string& prefix) {
        size_t n = 0;
        for (auto& line : capture_->lines()) n += line.rfind(prefix, 0) == 0;
        return n;
    }
    /// Every distinct error line so far, with how often it came.
    std::string errorLines() {
        std::map<std::string, int> errors;
        for (auto& line : capture_->lines())
            if (line.rfind("error|", 0) == 0) ++errors[line];
        std::string seen;
        for (auto& [line, n] : errors) seen += std::to_string(n) + " x \"" + line + "\"; ";
        return seen;
    }
    /// A peer's flood may log once a second: one line, or one more for
    /// every second the flood lasted.
    void expectOneLinePerSecond(const std::string& prefix, clock_::time_point since) {
        const double seconds = std::chrono::duration<double>(clock_::now() - since).count();
        EXPECT_GE(logged(prefix), 1u) << prefix;
        EXPECT_LE(double(logged(prefix)), 1.0 + std::floor(seconds)) << prefix;
    }
    static void poll() { getUpdates(); }

    hpsdrP2Sim sim;
    void* radio = nullptr;
    std::shared_ptr<HpsdrNpRadio> r;
    ddcIqStream ddc0{{}, false};
    uint32_t ddc0Sequence = 0;

private:
    std::unique_ptr<LogCapture> capture_;
};

} // namespace

TEST_F(NpRadioHost, StartStopAndStartAgain) {
    makeRadio();
    // Where the radio hands each packet to the endpoint, which sends them in
    // that order: the radio's own pacing, free of the I/O thread's and the
    // simulator's scheduling.
    std::mutex m;
    std::vector<std::pair<uint16_t, clock_::time_point>> handed;
    r->packetSink = [radio = r.get(), &m, &handed](buff<char> packet, uint16_t port) {
        {
            std::lock_guard<std::mutex> l(m);
            handed.emplace_back(port, clock_::now());
        }
        radio->endpoint.sendTo(packet, asyncUdpServer::udp::endpoint(radio->boardAddress, port));
    };
    start();
    const auto host = sim.host();
    ASSERT_TRUE(host);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return !log.of("added").empty(); }));

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round ? "second start" : "first start");
        const size_t i = size_t(round);
        auto general = sim.at(1024).received(), ddc = sim.at(1025).received(), tx = sim.at(1026).received(),
             hp = sim.at(1027).received();
        ASSERT_EQ(general.size(), i + 1);
        ASSERT_EQ(ddc.size(), i + 1);
        ASSERT_EQ(tx.size(), i + 1);
        ASSERT_EQ(hp.size(), 2 * i + 1) << "start, stop, start";
        // In this order, with the board's pauses between them.
        {
            std::lock_guard<std::mutex> l(m);
            ASSERT_GE(handed.size(), 5 * i + 4);
            const auto* start = &handed[5 * i];
            for (uint16_t k = 0; k < 4; ++k) EXPECT_EQ(start[k].first, 1024 + k);
            auto ms = [&](int k) { return std::chrono::duration<double, std::milli>(start[k + 1].second - start[k].second).count(); };
            EXPECT_GE(ms(0), 4.0);
            EXPECT_GE(ms(1), 2.0);
            EXPECT_GE(ms(2), 2.0);
        }
        EXPECT_EQ(general[i].bytes, generalTable);
        EXPECT_EQ(tx[i].bytes, transmitterTable);
        EXPECT_EQ(general[i].from, *host) << "the endpoint is opened once";

        // One receiver at 48 kHz, tuned where the first transceiver is.
        std::vector<uint8_t> want(1444, 0);
        want[4] = 2, want[7] = 0x01;
        want[19] = 0x30, want[22] = 24;
        EXPECT_EQ(ddc[i].bytes, want);
        const auto& h = hp[2 * i].bytes;
        ASSERT_EQ(h.size(), 1444u);
        EXPECT_EQ(h[4], 1);
        const uint32_t word = uint32_t(std::llround(14095600.0 * 4294967296.0 / clock122));
        EXPECT_EQ(hpsdrP2Sim::be32(h, 9), word);
        EXPECT_EQ(hpsdrP2Sim::be32(h, 329), word);
        EXPECT_EQ(hpsdrP2Sim::be32(h, 1432), 0x21001000u);
        EXPECT_EQ(h[1443], 0);

        Radio_stop(radio);
        auto stopped = packet(1027, 2 * i + 1);
        ASSERT_EQ(stopped.size(), 1444u);
        EXPECT_EQ(stopped[4], 0);
        EXPECT_EQ(std::vector<uint8_t>(stopped.begin() + 5, stopped.end()), std::vector<uint8_t>(h.begin() + 5, h.end()));
        if (round == 0) start();
    }
    host::pollFor(poll, std::chrono::milliseconds(50));
    EXPECT_EQ(sim.at(1024).count() + sim.at(1025).count() + sim.at(1026).count() + sim.at(1027).count(), 2u + 2 + 2 + 4)
        << "after the stop nothing more is sent";
    auto added = log.of("added");
    ASSERT_EQ(added.size(), 1u) << "one transceiver, added by the first start only";
    EXPECT_EQ(added[0].args[0], "14095600");
    EXPECT_EQ(logged("error|"), 0u);
}

TEST_F(NpRadioHost, DucPacketsAreSilenceWithARunningSequenceNumber) {
    makeRadio();
    start();
    refresh();
    Radio_stop(radio);
    ASSERT_TRUE(sim.at(1027).waitForCount(3));
    EXPECT_EQ(sim.at(NpHostPackets::ducPort).count(), 0u) << "nothing the radio does sends one";

    onWorker(r, [&] {
        r->sendDUCPacket();
        r->sendDUCPacket();
        r->ducSequence = 0xFFFFFFFF;
        r->sendDUCPacket();
        r->sendDUCPacket();
    });
    ASSERT_TRUE(sim.at(NpHostPackets::ducPort).waitForCount(4));
    const auto got = sim.at(NpHostPackets::ducPort).received();
    ASSERT_EQ(got.size(), 4u);
    const std::array<std::array<uint8_t, 4>, 4> numbers = {{{0, 0, 0, 0}, {0, 0, 0, 1}, {0xFF, 0xFF, 0xFF, 0xFF}, {0, 0, 0, 0}}};
    for (size_t i = 0; i < got.size(); ++i) {
        std::vector<uint8_t> want(1444, 0);
        std::copy(numbers[i].begin(), numbers[i].end(), want.begin());
        EXPECT_EQ(got[i].bytes, want) << i;
        EXPECT_EQ(got[i].from, *sim.host()) << "from the radio's one socket";
    }
    // Sent on purpose here: the check after every test is for the others.
    sim.at(NpHostPackets::ducPort).clear();
}

TEST_F(NpRadioHost, MicrophonePacketsPaceTheConfigurationInForce) {
    makeRadio();
    start();
    // Changes while running reach the next packets, not the board at once.
    Radio_setSampleRate(radio, 1536000);
    HpsdrNpRadio_setrxGain(radio, -20);
    Radio_setmaxHwReceivers(radio, 3);
    onWorker(r, [] {});
    for (auto& rx : r->receivers) EXPECT_EQ(rx.sampleRate, 1536000) << "every receiver record at once";
    EXPECT_EQ(sim.at(1025).count(), 1u);

    micPackets(15);
    barrier();
    EXPECT_EQ(sim.at(1025).count(), 1u) << "nothing before the 16th";
    micPackets(1);
    auto ddc = packet(1025, 1);
    ASSERT_EQ(ddc.size(), 1444u);
    EXPECT_EQ(ddc[7], 0x01);
    for (size_t d = 0; d < 3; ++d) {
        EXPECT_EQ(ddc[18 + 6 * d], 0x06) << d;
        EXPECT_EQ(ddc[19 + 6 * d], 0x00) << d;
        EXPECT_EQ(ddc[22 + 6 * d], 24) << d;
    }
    EXPECT_EQ(ddc[18 + 6 * 3], 0) << "blocks for maxHwReceivers DDCs only";
    EXPECT_EQ(sim.at(1027).count(), 1u);
    micPackets(16);
    auto hp = packet(1027, 1);
    ASSERT_EQ(hp.size(), 1444u);
    EXPECT_EQ(hp[4], 1);
    EXPECT_EQ(hp[1443], 20) << "maxRxRFGain 0 - rxGain -20";

    micPackets(32);
    // Each port has its own reader: one's count says nothing of another's.
    ASSERT_TRUE(sim.at(1027).waitForCount(3));
    ASSERT_TRUE(sim.at(1025).waitForCount(3));
    barrier();
    EXPECT_EQ(sim.at(1025).count(), 3u) << "64 microphone packets: two DDC specific packets";
    EXPECT_EQ(sim.at(1027).count(), 3u) << "and two High priority packets";
    EXPECT_EQ(sim.at(1024).count() + sim.at(1026).count(), 2u) << "General and Transmitter only at the start";
}

TEST_F(NpRadioHost, TonesOnEveryDdcReachTheirTransceivers) {
    // Transceivers in both kinds of Nyquist zone of the 122.88 MHz clock:
    // 65, 70, 100 and 110 MHz in the odd zone 1 (I, Q), the rest in zone 0
    // (Q, I).
    const long long vfo[16] = {14095600, 70000000, 7000000,  3600000,  1850000,  5350000,   10120000,  18100000,
                               21050000, 24900000, 28500000, 50100000, 65000000, 100000000, 110000000, 60000000};
    makeRadio();
    Radio_setmaxHwReceivers(radio, 16);
    HpsdrNpRadio_bindep6SeqErrors(radio, host::on<"seqErrors", int>);
    start();
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("added").size() == 1; }));
    attach(0);

    std::vector<ddcIqStream> streams;
    std::vector<uint32_t> sequence;
    size_t n = 1; // receivers in use
    auto grow = [&](size_t want) {
        for (size_t k = n; k < want; ++k) Radio_addVtrx(radio, vfo[k], 0, 0);
        ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("added").size() == want; }));
        for (size_t k = n; k < want; ++k) attach(k);
        n = want;
        refresh();
    };
    // Every transceiver k hears its tone at vfo + 500 + 100k Hz, sent with
    // amplitude a and expected back times gain: the board's DDC d carries it
    // at its offset from the centre the board was told, in the field order
    // of that centre's Nyquist zone.
    auto tonesGetThrough = [&](double a, double gain, size_t packets) {
        const auto hp = last(1027);
        streams.clear();
        for (size_t d = 0; d < n; ++d) {
            const long long centre = hpsdrP2Sim::ddcFrequency(hp, int(d), clock122);
            EXPECT_NEAR(double(centre), double(vfo[d]), 1.0) << "DDC " << d << " tuned to its transceiver";
            const double offset = double(vfo[d] + 500 + 100 * long(d) - centre);
            streams.emplace_back(std::vector<simTone>{{a, offset / 48000.0, 0.3 * double(d)}},
                                 (centre / (clock122 / 2)) % 2 == 1);
            chunks().take(d);
        }
        sequence.resize(n, 0);
        for (size_t p = 0; p < packets; ++p) {
            // A round at a time, so that loopback drops nothing.
            const uint64_t before = r->received.ddcPackets.load();
            for (size_t d = 0; d < n; ++d)
                ASSERT_TRUE(sim.send(hpsdrP2Sim::ddcPort(int(d)), streams[d].next(sequence[d]++)));
            ASSERT_TRUE(waitFor([&] { return r->received.ddcPackets.load() >= before + n; }));
        }
        const size_t enough = packets * 238 - 2048; // all but the filter's start and latency
        for (size_t d = 0; d < n; ++d) {
            ASSERT_TRUE(waitFor([&] { return chunks().size(d) >= enough; })) << "transceiver " << d;
            auto [f, amplitude] = measure(chunks().take(d), 2048);
            EXPECT_NEAR(f, 500.0 + 100.0 * double(d), 2.0) << "transceiver " << d << " at " << vfo[d];
            EXPECT_NEAR(amplitude, a * gain, 0.03 * a * gain) << "transceiver " << d;
        }
    };

    grow(1);
    EXPECT_EQ(last(1025)[7], 0x01);
    tonesGetThrough(0.04, 1.0, 40);
    // 20 dB less attenuation at the board: 20 dB more in the samples.
    HpsdrNpRadio_setrxGain(radio, -20);
    refresh();
    EXPECT_EQ(last(1027)[1443], 20);
    tonesGetThrough(0.04, 10.0, 40);
    HpsdrNpRadio_setrxGain(radio, 0);

    grow(4);
    EXPECT_EQ(last(1025)[7], 0x0F);
    tonesGetThrough(0.2, 1.0, 24);
    grow(10);
    EXPECT_EQ(last(1025)[7], 0xFF);
    EXPECT_EQ(last(1025)[8], 0x03);
    grow(16);
    EXPECT_EQ(last(1025)[7], 0xFF);
    EXPECT_EQ(last(1025)[8], 0xFF);
    tonesGetThrough(0.5, 1.0, 24);

    host::pollFor(poll, std::chrono::milliseconds(20));
    EXPECT_TRUE(log.of("seqErrors").empty()) << "every DDC counted from 0 without a gap";
    EXPECT_EQ(r->received.foreign + r->received.tooShort + r->received.noReceiver, 0u);
}

TEST_F(NpRadioHost, SequenceOverloadAndWideBandTelemetry) {
    makeRadio();
    HpsdrNpRadio_bindep6SeqErrors(radio, host::on<"seq", int>);
    HpsdrNpRadio_bindadcOvl(radio, host::on<"ovl", bool>);
    HpsdrNpRadio_bindadcPeak(radio, host::on<"peak", double>);
    HpsdrNpRadio_bindadcPeakDBFS(radio, host::on<"dbfs", double>);
    start();
    auto args = [&](const std::string& what) {
        std::vector<std::string> out;
        for (auto& c : log.of(what)) out.push_back(c.args[0]);
        return out;
    };

    // A new receiver expects packet 0. One gap counts once however long;
    // carries into the next byte are no gap.
    for (uint32_t q : {0u, 1u, 2u, 5u, 6u, 127u, 128u, 129u, 255u, 256u, 257u})
        ASSERT_TRUE(sim.send(hpsdrP2Sim::ddcPort(0), ddc0.next(q)));
    ASSERT_TRUE(waitFor([&] { return r->received.ddcPackets.load() == 11; }));
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("seq").size() == 3; }));
    EXPECT_EQ(args("seq"), (std::vector<std::string>{"1", "2", "3"}));
    // The host's value is where counting goes on; 0xFFFFFFFF wraps to 0.
    HpsdrNpRadio_setep6SeqErrors(radio, 100);
    ddc0Sequence = 0xFFFFFFFE;
    barrier(); // a gap: 101
    barrier();
    barrier();
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("seq").size() == 4; }));
    host::pollFor(poll, std::chrono::milliseconds(20));
    EXPECT_EQ(args("seq").back(), "101");
    EXPECT_EQ(log.of("seq").size(), 4u);

    // Overload: told once per change; the PTT, dot and dash bits of byte 4
    // mean nothing to a receive-only radio.
    for (uint8_t b : {0x01, 0x01, 0x03, 0x00}) {
        auto status = hpsdrP2Sim::statusPacket(b);
        status[4] = 0xFF;
        ASSERT_TRUE(sim.send(hpsdrP2Sim::statusPort, status));
    }
    barrier();
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("ovl").size() == 2; }));
    EXPECT_EQ(args("ovl"), (std::vector<std::string>{"true", "false"}));

    // Wide band: packets 4k..4k+3 fill a frame in order; a lost packet
    // leaves its quarter silent in a new frame.
    auto wideFrame = [&] {
        std::lock_guard<std::mutex> l(r->listMutex);
        return r->wideBand;
    };
    auto level = [](uint32_t q) { return std::vector<int16_t>(512, int16_t(1000 * (q + 1))); };
    uint32_t sent = 0;
    for (uint32_t q : {0u, 1u, 2u, 3u}) ASSERT_TRUE(sim.send(hpsdrP2Sim::wideBandPort, hpsdrP2Sim::wideBandPacket(q, level(q))));
    sent += 4;
    barrier();
    buff<float> frame = wideFrame();
    ASSERT_EQ(frame.count, 2048u);
    for (size_t i = 0; i < 2048; ++i) ASSERT_FLOAT_EQ(frame[i], 1000.0f * float(i / 512 + 1) / 8388607.0f) << i;
    for (uint32_t q : {4u, 5u, 7u}) ASSERT_TRUE(sim.send(hpsdrP2Sim::wideBandPort, hpsdrP2Sim::wideBandPacket(q, level(q))));
    sent += 3;
    barrier();
    frame = wideFrame();
    for (size_t i = 0; i < 2048; ++i)
        ASSERT_FLOAT_EQ(frame[i], i / 512 == 2 ? 0.0f : 1000.0f * float(i / 512 + 5) / 8388607.0f) << i;

    // Every 202nd packet reports the window's peak. Sent in rounds: a
    // burst of 200 would overflow the socket's buffer while a busy machine
    // keeps the I/O thread waiting, and a lost packet moves the report.
    auto sendWide = [&](uint32_t q, const std::vector<int16_t>& samples) {
        ASSERT_TRUE(sim.send(hpsdrP2Sim::wideBandPort, hpsdrP2Sim::wideBandPacket(q, samples)));
        if (q % 32 == 31) barrier();
    };
    for (; sent < 202; ++sent) {
        auto samples = level(1);
        samples[sent % 512] = sent == 150 ? int16_t(16384) : int16_t(-16000);
        sendWide(sent, samples);
    }
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("dbfs").size() == 1; }));
    EXPECT_EQ(std::stod(args("peak")[0]), 0.5);
    EXPECT_NEAR(std::stod(args("dbfs")[0]), -6.0206, 1e-4);
    for (; sent < 404; ++sent) sendWide(sent, std::vector<int16_t>(512, 0));
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("dbfs").size() == 2; }));
    EXPECT_EQ(std::stod(args("peak")[1]), 0.0);
    EXPECT_EQ(std::stod(args("dbfs")[1]), -100.0);
    EXPECT_EQ(logged("error|"), 0u);
}

TEST_F(NpRadioHost, ForeignShortAndStrayDatagramsAreDroppedAndCounted) {
    makeRadio();
    HpsdrNpRadio_bindep6SeqErrors(radio, host::on<"seq", int>);
    HpsdrNpRadio_bindadcOvl(radio, host::on<"ovl", bool>);
    start();
    // Another host on this machine, sending from the board's own ports.
    udpPeer ddc, status, mic;
    std::string why;
    if (!ddc.open("127.0.0.2", 1035, &why) || !status.open("127.0.0.2", 1025, &why) ||
        !mic.open("127.0.0.2", 1026, &why))
        VIREO_SKIP_OR_FAIL("no second loopback address to play a foreign host: " + why);
    const auto to = *sim.host();
    const auto t0 = clock_::now();
    const auto& got = r->received;
    ddcIqStream tone({{0.5, 0.01, 0.0}}, false);
    for (uint32_t i = 0; i < 32; ++i) {
        // One round at a time: a burst of all would overflow the socket's
        // buffer while a busy machine keeps the I/O thread waiting.
        ASSERT_TRUE(waitFor([&] { return got.foreign == 3 * i && got.noReceiver == 2 * i && got.tooShort == 3 * i; }));
        ASSERT_TRUE(ddc.sendTo(tone.next(i), to));
        ASSERT_TRUE(status.sendTo(hpsdrP2Sim::statusPacket(0x01), to));
        ASSERT_TRUE(mic.sendTo(hpsdrP2Sim::micPacket(i), to)); // would pace packets
        // DDC 5 and 6 have no receiver.
        ASSERT_TRUE(sim.send(hpsdrP2Sim::ddcPort(5), tone.next(i)));
        ASSERT_TRUE(sim.send(hpsdrP2Sim::ddcPort(6), tone.next(i)));
        // One byte short of each packet.
        auto shortDdc = tone.next(i);
        shortDdc.resize(1443);
        ASSERT_TRUE(sim.send(hpsdrP2Sim::ddcPort(0), shortDdc));
        ASSERT_TRUE(sim.send(hpsdrP2Sim::wideBandPort, std::vector<uint8_t>(1027, 0x7F)));
        ASSERT_TRUE(sim.send(hpsdrP2Sim::statusPort, hpsdrP2Sim::statusPacket(0x01, 5)));
    }
    ASSERT_TRUE(waitFor([&] { return got.foreign == 96 && got.noReceiver == 64 && got.tooShort == 96; }));
    barrier(); // packet 0 on DDC 0: nothing before moved its sequence on
    host::pollFor(poll, std::chrono::milliseconds(20));
    EXPECT_TRUE(log.of("seq").empty());
    EXPECT_TRUE(log.of("ovl").empty());
    EXPECT_EQ(got.ddcPackets.load(), 1u);
    EXPECT_EQ(sim.at(1025).count() + sim.at(1027).count(), 2u) << "foreign microphone packets pace nothing";
    {
        std::lock_guard<std::mutex> l(r->listMutex);
        EXPECT_EQ(r->receivers.size(), 1u);
    }
    expectOneLinePerSecond("error|datagram from 127.0.0.2 dropped: the board is 127.0.0.1", t0);
    expectOneLinePerSecond("error|DDC IQ from port 1040 dropped: no receiver 5", t0);
    expectOneLinePerSecond("error|DDC IQ from port 1041 dropped: no receiver 6", t0);
    expectOneLinePerSecond("error|short DDC IQ packet of 1443 bytes dropped", t0);
    expectOneLinePerSecond("error|short wide-band packet of 1027 bytes dropped", t0);
    expectOneLinePerSecond("error|short status packet of 5 bytes dropped", t0);
    EXPECT_EQ(logged("error|samples for receiver"), 0u) << "never handed to the base";
}

TEST_F(NpRadioHost, HostValuesThePacketsCannotHold) {
    makeRadio();
    // Not an address: the start ends early, sends nothing, adds nothing,
    // and the next start tries again.
    HpsdrNpRadio_setipAddress(radio, "board.local");
    Radio_start(radio);
    onWorker(r, [] {});
    EXPECT_EQ(logged("error|processPropertySetQueue ipAddress \"board.local\" is not an IPv4 address"), 1u);
    EXPECT_EQ(sim.at(1024).count(), 0u);
    {
        std::lock_guard<std::mutex> l(r->listMutex);
        EXPECT_TRUE(r->vtrxList.empty());
    }

    HpsdrNpRadio_setipAddress(radio, "127.0.0.1");
    Radio_setmaxHwReceivers(radio, 400);
    start();
    for (int round = 0; round < 2; ++round) {
        auto ddc = last(1025), hp = last(1027);
        ASSERT_EQ(ddc.size(), 1444u);
        ASSERT_EQ(hp.size(), 1444u);
        EXPECT_EQ(ddc[17 + 6 * 79 + 5], 24) << "80 DDC blocks";
        EXPECT_EQ(std::vector<uint8_t>(ddc.begin() + 17 + 6 * 80, ddc.end()), std::vector<uint8_t>(1444 - 17 - 6 * 80, 0));
        EXPECT_EQ(hpsdrP2Sim::be32(hp, 9 + 4 * 79), hpsdrP2Sim::be32(hp, 9));
        EXPECT_EQ(hpsdrP2Sim::be32(hp, 329), hpsdrP2Sim::be32(hp, 9)) << "the DUC word where it belongs";
        EXPECT_EQ(hpsdrP2Sim::be32(hp, 1432), 0x21001000u) << "control word intact";
        EXPECT_EQ(std::vector<uint8_t>(hp.begin() + 333, hp.begin() + 1432), std::vector<uint8_t>(1099, 0));
        refresh();
    }
    EXPECT_EQ(logged("error|maxHwReceivers 400 with 1 receivers"), 1u);

    // A clock without Nyquist zones: phase words 0, zone 0, said once.
    bool reversed = true;
    for (int clock : {0, 1}) {
        HpsdrNpRadio_setclockFrequency(radio, clock);
        refresh();
        barrier(); // decodes in zone 0
        auto hp = last(1027);
        for (int d = 0; d < 81; ++d) ASSERT_EQ(hpsdrP2Sim::be32(hp, 9 + 4 * size_t(d)), 0u) << d;
        onWorker(r, [&] { reversed = r->IsFrequencyReversed(70000000); });
        EXPECT_FALSE(reversed);
    }
    EXPECT_EQ(logged("error|clockFrequency 0 below 2 Hz"), 1u);
    EXPECT_EQ(logged("error|clockFrequency"), 1u);
    HpsdrNpRadio_setclockFrequency(radio, clock122);
    onWorker(r, [&] { reversed = r->IsFrequencyReversed(70000000); });
    EXPECT_TRUE(reversed);

    // The board is never keyed, whatever the host asks: a radio without a
    // transmitter refuses the host's key and a transceiver's, canTransmit
    // set or not, and tells both back; it never says it is keyed.
    Radio_setcanTransmit(radio, true);
    Radio_bindptt(radio, host::on<"radio ptt", bool>);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return !log.of("added").empty(); }));
    void* v = log.of("added")[0].handle;
    vtrx_bindptt(v, host::on<"vtrx ptt", bool>);
    Radio_setptt(radio, true);
    vtrx_setptt(v, true);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return !log.of("radio ptt").empty() && !log.of("vtrx ptt").empty(); }));
    host::pollFor(poll, std::chrono::milliseconds(200));
    for (auto* who : {"radio ptt", "vtrx ptt"})
        for (auto& c : log.of(who)) EXPECT_EQ(c.args.at(0), "false") << who;
    EXPECT_EQ(logged("error|radio.setPtt refused: this radio has no transmitter"), 2u);
    refresh();
    EXPECT_EQ(last(1027)[4], 1);

    // Only the DDC rates: the rate field would carry others, but the board
    // runs at none of them.
    for (int rate : {2000000, 44100, INT_MAX}) Radio_setSampleRate(radio, rate);
    refresh();
    for (int rate : {2000000, 44100, INT_MAX})
        EXPECT_EQ(logged("error|HpsdrNpRadio SampleRate " + std::to_string(rate) + " refused, keeping 48000"), 1u);
    auto ddc = last(1025);
    ASSERT_EQ(ddc.size(), 1444u);
    EXPECT_EQ(ddc[18], 0x00);
    EXPECT_EQ(ddc[19], 0x30) << "48 kHz, as before";
    onWorker(r, [&] { EXPECT_EQ(r->receivers[0].sampleRate, 48000); });
}

TEST_F(NpRadioHost, ReceiversAddedHundredsOfTimesWhileTheBoardStreams) {
    constexpr int receivers = 200;
    makeRadio();
    Radio_setmaxHwReceivers(radio, receivers);
    Radio_setdisableVirtualReceivers(radio, true); // a receiver of its own for every transceiver
    start();
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("added").size() == 1; }));
    attach(0);
    std::atomic<bool> streaming{true};
    const size_t heardBefore = chunks().size(0);
    std::thread board([&] {
        // Bursts of eight packets a millisecond, some forty times the rate
        // (a sanitizer build's board twice the rate): the radio adds its
        // receivers while they stream. How fast a machine runs the radio is
        // not what is tested, so the board stays less than a window of
        // packets ahead of what receiver 0's transceiver has heard, far from
        // the queues' 1024 tasks: a slow radio, or a board thread that has a
        // core of its own, makes the board wait; only a lane that loses or
        // piles up what it queued overflows.
        ddcIqStream tone({{0.5, 0.01, 0.0}}, false);
        constexpr size_t window = 256;
        for (uint32_t q = 0; streaming.load(); ++q) {
            sim.send(hpsdrP2Sim::ddcPort(0), tone.next(q));
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
            std::this_thread::sleep_for(std::chrono::microseconds(2500));
#else
            if (q % 8 == 7) std::this_thread::sleep_for(std::chrono::milliseconds(1));
#endif
            waitFor([&] {
                const size_t heard = (chunks().size(0) - heardBefore) / ddcIqStream::samplesPerPacket;
                return !streaming.load() || q + 1 < heard + window;
            });
        }
    });
    bool allAdded = true;
    for (int k = 1; k < receivers && allAdded; ++k) {
        Radio_addVtrx(radio, 7000000 + 100000LL * k, 0, 0);
        // In tens, so that the packets never wait behind all of them.
        if (k % 10 == 0 || k == receivers - 1)
            allAdded = host::pollUntil(poll, [&] { return log.of("added").size() == size_t(k + 1); });
    }
    const size_t heard = chunks().size(0);
    const bool flowing = host::pollUntil(poll, [&] { return chunks().size(0) > heard + 4800; });
    streaming = false;
    board.join();
    ASSERT_TRUE(allAdded);
    EXPECT_TRUE(flowing) << "receiver 0's transceiver hears on";
    onWorker(r, [&] {
        ASSERT_EQ(r->receivers.size(), size_t(receivers));
        for (int k = 1; k < receivers; ++k) EXPECT_EQ(r->receivers[size_t(k)].frequency, 7000000 + 100000LL * k);
    });
    EXPECT_EQ(logged("error|"), logged("error|maxHwReceivers 200 with ")) << "nothing else went wrong: " << errorLines();
}
