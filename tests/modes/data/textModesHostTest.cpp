// CW, RTTY, Hellschreiber and the FSK placeholder as a host uses them,
// through the exported functions on the clock-paced loop-back radio: one
// clean transmission per mode, read back by a second transceiver where the
// mode receives, and the FSK mode's settings and silence.
#include "modes/data/fsk/fskModDemod.h"

#include "core/coreObjectFixture.h"
#include "core/vtrx.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
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
    vtrx_setptt(tx, true);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return pttReleased(); }, std::chrono::seconds(10)));
    EXPECT_EQ(log.joined("sent"), "HI~");
    ASSERT_FALSE(log.of("step").empty());
    EXPECT_EQ(log.of("step").back().args[0], std::to_string(120.0));
    stop();
    hellschreiberModDemod_release(sender);
}

// A call the mode refuses changes nothing. Each text mode keyed with its
// text gets, 300 ms later, a QueueText past the count sent (the PSK mode
// also a transmit mode it does not have, told back): the text still goes
// out whole, and its end lets the transmitter go.
TEST_F(TextModesHost, RefusedCallsLeaveTheTextAndItsEnd) {
    using Fn = std::function<void(void*)>;
    struct Case {
        std::string name;
        std::string text; // with its end
        void* (*create)();
        void (*release)(void*);
        void (*bindSent)(void*, void (*)(const char*));
        void (*queue)(void*, const char*, int);
        Fn setUp;
        Fn refuse;
        std::string told; // the refusal's log line, when the host hears the kept value
        bool keysItself = false;
    };
    auto refuseText = [](void (*queue)(void*, const char*, int)) -> Fn {
        return [queue](void* m) { queue(m, "X", 1000); };
    };
    const Fn psk125 = [](void* m) {
        PskModDemod_bindmode(m, host::on<"mode", int>);
        PskModDemod_setmode(m, 16);
    };
    auto pskMode = [](int bad) -> Fn { return [bad](void* m) { PskModDemod_setmode(m, bad); }; };
    const std::vector<Case> cases = {
        {"rtty", "RYRY TEST~", RTTYModDemod_create, RTTYModDemod_release, RTTYModDemod_bindsentChars,
         RTTYModDemod_QueueText, [](void*) {}, refuseText(RTTYModDemod_QueueText), ""},
        {"hell", "HI TEST~", hellschreiberModDemod_create, hellschreiberModDemod_release,
         hellschreiberModDemod_bindsentChars, hellschreiberModDemod_QueueText,
         [](void* m) { hellschreiberModDemod_setfrequencyStep(m, 120); },
         refuseText(hellschreiberModDemod_QueueText), ""},
        {"psk text", "cq test~", PskModDemod_create, PskModDemod_release, PskModDemod_bindsentChars,
         PskModDemod_QueueText, psk125, refuseText(PskModDemod_QueueText), ""},
        {"psk mode 6", "cq test~", PskModDemod_create, PskModDemod_release, PskModDemod_bindsentChars,
         PskModDemod_QueueText, psk125, pskMode(6), "error|PskModDemod mode 6 refused, keeping 16"},
        {"psk mode 7", "cq test~", PskModDemod_create, PskModDemod_release, PskModDemod_bindsentChars,
         PskModDemod_QueueText, psk125, pskMode(7), "error|PskModDemod mode 7 refused, keeping 16"},
        {"cw", "cq test\n", cwModDemod_create, cwModDemod_release, cwModDemod_bindsentChars, cwModDemod_QueueText,
         [](void* m) { cwModDemod_setwpm(m, 40); }, refuseText(cwModDemod_QueueText), "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogWindow window;
        start(1);
        void* m = c.create();
        c.bindSent(m, host::onText<"sent">);
        c.setUp(m);
        vtrx_setModulation(tx, m);
        onWorker(object<vtrx>(tx), [] {}); // attached before the text comes
        const auto keyed = std::chrono::steady_clock::now();
        c.queue(m, c.text.c_str(), 0);
        if (!c.keysItself) vtrx_setptt(tx, true);
        host::pollFor(poll, std::chrono::milliseconds(300));
        c.refuse(m);
        const bool released = host::pollUntil(poll, [&] { return pttReleased(); }, std::chrono::seconds(10));
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - keyed).count();
        EXPECT_TRUE(released) << "still keyed " << seconds << " s after keying";
        RecordProperty(c.name + " released after s", std::to_string(seconds));
        EXPECT_EQ(log.joined("sent"), c.text);
        if (!c.told.empty()) {
            EXPECT_TRUE(window.contains(c.told));
            EXPECT_EQ(log.joined("mode"), "16");
        }
        stop();
        c.release(m);
        host::pollFor(poll, std::chrono::milliseconds(50));
        log.clear();
    }
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
