// CW, RTTY, Hellschreiber and the FSK placeholder as a host uses them,
// through the exported functions on the clock-paced loop-back radio: one
// clean transmission per mode, read back by a second transceiver where the
// mode receives, and the FSK mode's settings and silence.
#include "modes/data/fsk/fskModDemod.h"

#include "core/coreObjectFixture.h"
#include "core/vtrx.h"

#include <mutex>
#include <vector>

namespace {

void poll() {
    getUpdates();
    getRenderUpdates();
}

/// A started test radio with `n` transceivers at 14000000: tx, then rx.
class TextModesHost : public CoreObjects {
protected:
    void* radio = nullptr;
    void* tx = nullptr;
    void* rx = nullptr;

    void start(size_t n) {
        host::Transceivers::clear();
        radio = TestRadio_create();
        Radio_bindvtrxAdded(radio, host::Transceivers::onAdded);
        Radio_start(radio);
        for (size_t i = 1; i < n; ++i) Radio_addVtrx(radio, 14000000, 0, 0);
        const auto added = host::Transceivers::await(poll, n);
        ASSERT_EQ(added.size(), n);
        tx = added[0];
        if (n > 1) rx = added[1];
        vtrx_bindptt(tx, host::on<"ptt", bool>);
    }
    /// Detaches the modes and releases the radio and its transceivers.
    void stop() {
        Radio_stop(radio);
        host::pollFor(poll, std::chrono::milliseconds(50));
        for (void* v : host::Transceivers::all()) vtrx_setModulation(v, nullptr);
        host::pollFor(poll, std::chrono::milliseconds(50));
        for (void* v : host::Transceivers::all()) vtrx_release(v);
        Radio_release(radio);
        host::pollFor(poll, std::chrono::milliseconds(50));
    }
    /// Starts the listening transceiver and waits until it hears: a block
    /// that comes before its start is dropped, and the sender's lane does
    /// not wait for the listener's.
    void listen() {
        vtrx_start(rx);
        onWorker(object<vtrx>(rx), [] {});
    }
    bool pttReleased() {
        const auto p = log.of("ptt");
        return !p.empty() && p.back().args[0] == "false";
    }
};

} // namespace

// At 40 wpm the decoder's first dot estimate is close to the real one, so
// the first word reads too. QueueText keys the transmitter; the line feed
// releases it.
TEST_F(TextModesHost, CwSendsAndReads) {
    start(2);
    void* sender = cwModDemod_create();
    void* listener = cwModDemod_create();
    cwModDemod_bindsentChars(sender, host::onText<"sent">);
    cwModDemod_bindnewChars(listener, host::onText<"rx">);
    cwModDemod_bindrxwpm(listener, host::on<"rxwpm", double>);
    cwModDemod_setwpm(sender, 40);
    cwModDemod_setwpm(sender, 0); // refused: stays 40
    vtrx_setModulation(tx, sender);
    vtrx_setModulation(rx, listener);
    vtrx_setRxFilter(rx, -100, 100);
    listen();
    cwModDemod_QueueText(sender, "cq de vireo k\n", 0);
    cwModDemod_QueueText(sender, "X", 1000); // refused: changes nothing
    ASSERT_TRUE(host::pollUntil(poll, [&] { return pttReleased(); }, std::chrono::seconds(20)));
    ASSERT_TRUE(host::pollUntil(
        poll, [&] { return log.joined("rx").find("cq de vireo k") != std::string::npos; }, std::chrono::seconds(5)))
        << log.joined("rx");
    EXPECT_EQ(log.joined("sent"), "cq de vireo k\n");
    ASSERT_FALSE(log.of("rxwpm").empty());
    EXPECT_EQ(log.of("rxwpm").front().args[0], std::to_string(45.0));
    stop();
    cwModDemod_release(sender);
    cwModDemod_release(listener);
}

// The text is queued before ptt; the listener reads it from its first
// character at rxFreq 2000, on newChars.
TEST_F(TextModesHost, RttySendsAndReads) {
    start(2);
    void* sender = RTTYModDemod_create();
    void* listener = RTTYModDemod_create();
    RTTYModDemod_bindsentChars(sender, host::onText<"sent">);
    RTTYModDemod_bindnewChars(listener, host::onText<"rx">);
    RTTYModDemod_setdbg1(sender, 1.5f);
    vtrx_setModulation(tx, sender);
    vtrx_setModulation(rx, listener);
    modDemod_setrxFreq(listener, 2000);
    listen();
    RTTYModDemod_QueueText(sender, "RY 1 2~", 0);
    RTTYModDemod_QueueText(sender, "X", 1000); // refused: changes nothing
    vtrx_setptt(tx, true);
    // Two lead frames, six characters and two shift frames of 165 ms each.
    ASSERT_TRUE(host::pollUntil(poll, [&] { return pttReleased(); }, std::chrono::seconds(10)));
    ASSERT_TRUE(host::pollUntil(
        poll, [&] { return log.joined("rx").find("RY 1 2") != std::string::npos; }, std::chrono::seconds(5)))
        << log.joined("rx");
    EXPECT_EQ(log.joined("sent"), "RY 1 2~");
    stop();
    RTTYModDemod_release(sender);
    RTTYModDemod_release(listener);
}

// A row spacing of 120 Hz makes a pixel of 401 samples: "HI" in 0.7 s.
TEST_F(TextModesHost, HellschreiberSends) {
    start(1);
    void* sender = hellschreiberModDemod_create();
    hellschreiberModDemod_bindsentChars(sender, host::onText<"sent">);
    hellschreiberModDemod_bindfrequencyStep(sender, host::on<"step", double>);
    hellschreiberModDemod_setfrequencyStep(sender, 120);
    hellschreiberModDemod_setfrequencyStep(sender, -1); // refused: the host hears 120
    vtrx_setModulation(tx, sender);
    hellschreiberModDemod_QueueText(sender, "HI~", 0);
    hellschreiberModDemod_QueueText(sender, "X", 1000); // refused: changes nothing
    vtrx_setptt(tx, true);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return pttReleased(); }, std::chrono::seconds(10)));
    EXPECT_EQ(log.joined("sent"), "HI~");
    ASSERT_FALSE(log.of("step").empty());
    EXPECT_EQ(log.of("step").back().args[0], std::to_string(120.0));
    stop();
    hellschreiberModDemod_release(sender);
}

// The placeholder stores its settings and nothing else; its audio and its
// transmit signal are silence even in storage that held other samples.
TEST_F(TextModesHost, FskStoresSettingsAndIsSilent) {
    void* h = fskModDemod_create();
    fskModDemod_bindf0(h, host::on<"f0", int>);
    fskModDemod_setf0(h, 1200);
    fskModDemod_setf1(h, 2200);
    fskModDemod_setbaud(h, 1200);
    auto mode = object<fskModDemod>(h);
    ASSERT_TRUE(mode);
    onWorker(mode, [&] {
        EXPECT_EQ(mode->f0.get(), 1200);
        EXPECT_EQ(mode->f1.get(), 2200);
        EXPECT_EQ(mode->baud.get(), 1200);
    });
    poll();
    EXPECT_TRUE(log.of("f0").empty()); // a host's own value is not echoed

    for (size_t n : {512u, 4096u}) {
        { // pooled storage that held loud samples, returned for reuse
            buff<float> dirty(n, 7.0f);
            buff<std::complex<float>> dirtyIq(n, {7.0f, 7.0f});
        }
        buff<float> audio = mode->demodulate(buff<std::complex<float>>(n, {1.0f, 1.0f}));
        ASSERT_EQ(audio.count, n);
        for (float x : audio) ASSERT_EQ(x, 0.0f);
        buff<std::complex<float>> out(n, {7.0f, 7.0f});
        mode->modulate(buff<std::complex<float>>(n, {1.0f, 1.0f}), out);
        for (auto x : out) ASSERT_EQ(x, std::complex<float>{});
    }

    // On a transceiver it keeps the receive chain running.
    start(1);
    vtrx_setModulation(tx, h);
    vtrx_start(tx);
    host::pollFor(poll, std::chrono::milliseconds(100));
    stop();
    fskModDemod_release(h);
}
