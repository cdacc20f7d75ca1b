// Nothing leaves the transmitter keyed. Every way of keying a transceiver
// (the host, a mode's text or message, the voice switch, a MultiPSK peer)
// is taken through the ways its keyer ends or goes (its mode detached or
// replaced, the window sent to the background, VOX off, the peer stalled,
// the transceiver released, another one removed or keyed, a radio that
// cannot transmit), on the loop-back radio and through the C interface
// only. After each ending the radio must be unkeyed within a bound, the
// host must have been told that the keyer's ptt is off, and no other
// transceiver may have been keyed meanwhile.
#include "vireocore.h"

#include "modes/data/multipsk/multiPskClient.h"
#include "support/hostHarness.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

void poll() {
    getUpdates();
    getRenderUpdates();
}

/// What the host hears: the radio's ptt, each transceiver's ptt, and the
/// level (rms of the real parts) of each looped-back block.
struct Heard {
    std::mutex m;
    std::vector<bool> radioPtt;
    std::array<std::vector<bool>, 4> ptt;
    std::vector<double> level;
} heard;

void onRadioPtt(bool on) {
    std::lock_guard<std::mutex> l(heard.m);
    heard.radioPtt.push_back(on);
}
template <int K>
void onPtt(bool on) {
    std::lock_guard<std::mutex> l(heard.m);
    heard.ptt[K].push_back(on);
}
void onIQ(void* iq, double, int) {
    const float* x = complexArray_data(iq);
    const int n = complexArray_size(iq);
    double s = 0;
    for (int i = 0; i < n; ++i) s += double(x[2 * i]) * x[2 * i];
    complexArray_delete(iq);
    std::lock_guard<std::mutex> l(heard.m);
    heard.level.push_back(n ? std::sqrt(s / n) : 0.0);
}

/// Waits until every request queued on the object before now has run.
void sync(void* object) {
    static int marker = 0;
    const std::string n = std::to_string(++marker);
    asyncObject_bindEcho(object, host::on<"echo", int>);
    asyncObject_Ping(object, marker);
    host::pollUntil(poll, [&] {
        auto echoes = host::Log::get().of("echo");
        return std::any_of(echoes.begin(), echoes.end(), [&](auto& c) { return c.args[0] == n; });
    });
}

/// A started loop-back radio with transceivers A, B and C at 14000000 and a
/// fourth, L, that hands the host the looped-back IQ.
struct Rig {
    static constexpr int A = 0, B = 1, C = 2, L = 3;

    Rig() {
        host::Transceivers::clear();
        {
            std::lock_guard<std::mutex> l(heard.m);
            heard.radioPtt.clear();
            for (auto& p : heard.ptt) p.clear();
            heard.level.clear();
        }
        radio = TestRadio_create();
        Radio_bindvtrxAdded(radio, host::Transceivers::onAdded);
        Radio_bindptt(radio, onRadioPtt);
        Radio_start(radio);
        for (int k = 1; k < 4; ++k) Radio_addVtrx(radio, 14000000, 0, 0);
        const auto added = host::Transceivers::await(poll, 4);
        if (added.size() != 4) return;
        std::copy(added.begin(), added.end(), v.begin());
        vtrx_bindptt(v[A], onPtt<A>);
        vtrx_bindptt(v[B], onPtt<B>);
        vtrx_bindptt(v[C], onPtt<C>);
        vtrx_bindptt(v[L], onPtt<L>);
        vtrx_bindnewIQ(v[L], onIQ);
        vtrx_setSendIQ(v[L], true);
        for (void* x : v) vtrx_start(x);
    }
    ~Rig() {
        if (client) client->close();
        Radio_stop(radio);
        host::pollFor(poll, 100ms);
        for (void* x : v)
            if (x) vtrx_setModulation(x, nullptr);
        host::pollFor(poll, 50ms);
        for (void* x : v)
            if (x) vtrx_release(x);
        for (auto& [h, release] : modes) release(h);
        Radio_release(radio);
        host::pollFor(poll, 50ms);
        host::Log::get().clear();
    }

    /// Attaches the mode to transceiver k and waits until it is attached.
    void* attach(int k, void* mode, void (*release)(void*)) {
        modes.emplace_back(mode, release);
        vtrx_setModulation(v[size_t(k)], mode);
        sync(v[size_t(k)]);
        return mode;
    }
    void carrier(int k, double amplitude) {
        sigGenModDemod_setampl1(attach(k, sigGenModDemod_create(), sigGenModDemod_release), amplitude);
    }
    void hostPtt(int k, bool on) {
        vtrx_setptt(v[size_t(k)], on);
        std::lock_guard<std::mutex> l(heard.m);
        hostSet[size_t(k)] = on;
        toldBefore[size_t(k)] = heard.ptt[size_t(k)].size();
    }

    bool radioKeyed() {
        std::lock_guard<std::mutex> l(heard.m);
        return !heard.radioPtt.empty() && heard.radioPtt.back();
    }
    /// The ptt of transceiver k as the host knows it: its own last set, or
    /// what it was told after it.
    bool pttOf(int k) {
        std::lock_guard<std::mutex> l(heard.m);
        auto& told = heard.ptt[size_t(k)];
        return told.size() > toldBefore[size_t(k)] ? bool(told.back()) : hostSet[size_t(k)];
    }
    bool everToldOn(int k) {
        std::lock_guard<std::mutex> l(heard.m);
        auto& told = heard.ptt[size_t(k)];
        return std::find(told.begin(), told.end(), true) != told.end();
    }
    bool awaitKeyed(std::chrono::milliseconds timeout = 5s) {
        return host::pollUntil(poll, [&] { return radioKeyed(); }, timeout);
    }
    /// Mean level heard at L over the next half second.
    double level() {
        {
            std::lock_guard<std::mutex> l(heard.m);
            heard.level.clear();
        }
        host::pollFor(poll, 500ms);
        std::lock_guard<std::mutex> l(heard.m);
        double sum = 0;
        for (double x : heard.level) sum += x;
        return heard.level.empty() ? 0.0 : sum / double(heard.level.size());
    }

    /// A MultiPSK stand-in linked to a bridge on A: "SwitchTX", then `pairs`
    /// transmit samples in packets of 2048.
    bool multiPsk(int pairs) {
        void* m = MultiPskModDemod_create();
        const int port = mpsktest::freePort();
        MultiPskModDemod_setport(m, port);
        sync(m); // served from that port on
        attach(A, m, MultiPskModDemod_release);
        client = std::make_unique<mpsktest::Client>();
        if (!host::pollUntil(poll, [&] { return client->connect(port); }, 5s)) return false;
        client->sendBody("SwitchTX");
        for (int sent = 0; sent < pairs;) {
            std::vector<std::pair<int16_t, int16_t>> iq;
            for (; sent < pairs && iq.size() < 2048; ++sent) iq.emplace_back(int16_t(8000 * std::cos(sent * 0.2)), 0);
            client->sendBody(mpsktest::samplesBody(iq));
        }
        return awaitKeyed();
    }

    void* radio = nullptr;
    std::array<void*, 4> v{};
    std::array<bool, 4> hostSet{};
    std::array<size_t, 4> toldBefore{};
    std::vector<std::pair<void*, void (*)(void*)>> modes;
    std::unique_ptr<mpsktest::Client> client;
    double heardWhileKeyed = -1; // level while the transceiver that asked last held the transmitter
};

std::filesystem::path recordings() {
    return std::filesystem::path(::testing::TempDir()) / ("vireo_keying_" + std::to_string(getpid()));
}

bool cwText(Rig& r) {
    void* cw = r.attach(Rig::A, cwModDemod_create(), cwModDemod_release);
    cwModDemod_setwpm(cw, 40);
    cwModDemod_QueueText(cw, "CQ CQ DE TEST\n", 0); // 3.6 s at 40 wpm
    if (!r.awaitKeyed()) return false;
    host::pollFor(poll, 600ms);
    return r.radioKeyed();
}

bool jtMessage(Rig& r) {
    void* jt = JTModDemod_create();
    std::filesystem::create_directories(recordings());
    JTModDemod_setsaveDirectory(jt, (recordings().string() + "/").c_str());
    // Periods of 2 s; a message of 20 symbols of 20 ms.
    JTModDemod_setsamplesPerBlock(jt, 12000);
    JTModDemod_setperiod(jt, 2000);
    JTModDemod_setsamplesPerSymbol(jt, 960);
    JTModDemod_settoneSpacing(jt, 50.0);
    modDemod_settxFreq(jt, 1000);
    r.attach(Rig::A, jt, JTModDemod_release);
    void* tones = floatArray_create(20);
    for (int i = 0; i < 20; ++i) floatArray_data(tones)[i] = float(i % 8);
    using namespace std::chrono;
    const long long ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count() % 3600000;
    JTModDemod_queueMsg(jt, tones, 8, int((ms + 300 + 1999) / 2000 * 2000 % 3600000));
    floatArray_delete(tones);
    if (!r.awaitKeyed(6s)) return false;
    host::pollFor(poll, 100ms);
    return r.radioKeyed();
}

bool voiceKeyed(Rig& r) {
    r.attach(Rig::A, ssbModDemod_create(), ssbModDemod_release);
    // A silent microphone peaks at 0: above this threshold, speech that
    // never stops.
    vtrx_setVoxThreshold(r.v[Rig::A], -1.0);
    vtrx_setforegroundDisplay(r.v[Rig::A], true);
    vtrx_setuseVox(r.v[Rig::A], true);
    return r.awaitKeyed();
}

/// Carriers on A and B; the host keys `first`, then `second` (if any).
bool hostKeyed(Rig& r, int first, int second = -1) {
    r.carrier(Rig::A, 0.30);
    r.carrier(Rig::B, 0.10);
    r.hostPtt(first, true);
    if (!r.awaitKeyed()) return false;
    if (second >= 0) r.hostPtt(second, true);
    return true;
}

/// Whether the carrier heard while keyed was k's: 0.30 on A sounds at
/// 0.212, 0.10 on B at 0.071.
std::string heardOnly(Rig& r, int k) {
    const double x = r.heardWhileKeyed;
    if (x > 0.03 && (k == Rig::A) == (x > 0.14)) return {};
    return std::string("the loop-back level was ") + std::to_string(x) + ", not " + (k == Rig::A ? "A's" : "B's");
}

void detach(Rig& r) { vtrx_setModulation(r.v[Rig::A], nullptr); }
template <void* (*Create)(), void (*Release)(void*)>
void replace(Rig& r) {
    void* m = Create();
    r.modes.emplace_back(m, Release);
    vtrx_setModulation(r.v[Rig::A], m);
}

/// One way of keying and one way of its ending.
struct Case {
    const char* keyer;
    const char* ending;
    int keyedBy;                       // the transceiver the keyer keyed
    std::function<bool(Rig&)> key;     // true once keyed as the case needs
    std::function<void(Rig&)> end;     // the keyer ends or goes
    double bound;                      // seconds the radio may stay keyed after it
    std::function<std::string(Rig&)> then = {}; // further checks; a failure's text
};

/// The host keys `first`, then `second` over it, and releases `second`.
/// The transceiver keyed last takes the transmitter; `first` is told that
/// its ptt is off.
Case keyedOver(int first, int second, const char* ending) {
    return {"host", ending, first,
            [=](Rig& r) {
                if (!hostKeyed(r, first, second)) return false;
                r.heardWhileKeyed = r.level();
                return true;
            },
            [=](Rig& r) { r.hostPtt(second, false); }, 1.0, [=](Rig& r) { return heardOnly(r, second); }};
}

const std::vector<Case>& cases() {
    static const std::vector<Case> all = {
        {"CW text", "no mode", Rig::A, cwText, detach, 1.0},
        {"CW text", "SSB attached", Rig::A, cwText, replace<ssbModDemod_create, ssbModDemod_release>, 1.0},
        {"CW text", "RTTY attached", Rig::A, cwText, replace<RTTYModDemod_create, RTTYModDemod_release>, 1.0},
        {"JT message", "no mode", Rig::A, jtMessage, detach, 1.0},
        // 60000 samples last 1.25 s: no underrun before the switch.
        {"MultiPSK", "no mode, then SwitchRX and gone", Rig::A, [](Rig& r) { return r.multiPsk(60000); },
         [](Rig& r) {
             detach(r);
             sync(r.v[Rig::A]);
             r.client->sendBody("SwitchRX");
             r.client->close();
         },
         0.6},
        {"MultiPSK", "peer stalled after 2000 pairs", Rig::A, [](Rig& r) { return r.multiPsk(2000); },
         [](Rig&) {}, 1.0},
        {"MultiPSK", "peer stalled at once", Rig::A, [](Rig& r) { return r.multiPsk(0); }, [](Rig&) {}, 1.0},
        {"VOX", "window to the background", Rig::A, voiceKeyed,
         [](Rig& r) { vtrx_setforegroundDisplay(r.v[Rig::A], false); }, 1.5},
        {"VOX", "VOX off", Rig::A, voiceKeyed, [](Rig& r) { vtrx_setuseVox(r.v[Rig::A], false); }, 1.5},
        {"VOX", "no mode", Rig::A, voiceKeyed, detach, 1.5},
        {"host", "idle transceiver removed, then released", Rig::B,
         [](Rig& r) {
             if (!hostKeyed(r, Rig::B)) return false;
             vtrx_remove(r.v[Rig::C]);
             r.heardWhileKeyed = r.level();
             return true;
         },
         [](Rig& r) { r.hostPtt(Rig::B, false); }, 1.0, [](Rig& r) { return heardOnly(r, Rig::B); }},
        {"host", "transceiver released", Rig::B, [](Rig& r) { return hostKeyed(r, Rig::B); },
         [](Rig& r) {
             vtrx_release(r.v[Rig::B]);
             r.v[Rig::B] = nullptr;
             r.hostSet[Rig::B] = false; // the host keeps nothing of it
         },
         1.0},
        keyedOver(Rig::A, Rig::B, "B keyed over it, then B released"),
        keyedOver(Rig::B, Rig::A, "A keyed over it, then A released"),
        {"host", "on and off back to back", Rig::A,
         [](Rig& r) {
             void* listener = r.attach(Rig::A, cwModDemod_create(), cwModDemod_release);
             cwModDemod_bindnewChars(listener, host::onText<"heard">);
             // The filter design keeps A busy: both requests run in one turn.
             vtrx_setRxFilter(r.v[Rig::A], -100, 100);
             vtrx_setptt(r.v[Rig::A], true);
             vtrx_setptt(r.v[Rig::A], false);
             return true;
         },
         [](Rig&) {}, 1.0,
         [](Rig& r) -> std::string {
             // A listens again: B's text reaches its decoder.
             void* sender = r.attach(Rig::B, cwModDemod_create(), cwModDemod_release);
             cwModDemod_setwpm(sender, 40);
             cwModDemod_QueueText(sender, "cq cq\n", 0);
             auto heardCq = [] { return host::Log::get().joined("heard").find("cq") != std::string::npos; };
             if (host::pollUntil(poll, heardCq, 6s)) return {};
             return "A heard \"" + host::Log::get().joined("heard") + "\" of B's \"cq cq\"";
         }},
        {"host", "radio that cannot transmit", Rig::A,
         [](Rig& r) {
             Radio_setcanTransmit(r.radio, false);
             r.hostPtt(Rig::A, true);
             return true;
         },
         [](Rig&) {}, 1.0},
    };
    return all;
}

} // namespace

TEST(Keying, WhateverKeyedTheTransmitterReleasesIt) {
    init((::testing::TempDir() + "vireo_keying_" + std::to_string(getpid()) + ".log").c_str(), 1);
    for (const Case& c : cases()) {
        SCOPED_TRACE(std::string(c.keyer) + ", " + c.ending);
        Rig r;
        ASSERT_TRUE(r.v[Rig::L]);
        ASSERT_TRUE(c.key(r)) << "not keyed";
        const auto ended = std::chrono::steady_clock::now();
        c.end(r);
        const bool released = host::pollUntil(
            poll, [&] { return !r.radioKeyed() && !r.pttOf(c.keyedBy); },
            std::chrono::milliseconds(int(c.bound * 1000)));
        const double after = std::chrono::duration<double>(std::chrono::steady_clock::now() - ended).count();
        std::printf("%-10s %-40s %s after %.2f s\n", c.keyer, c.ending, released ? "released" : "still keyed", after);
        EXPECT_TRUE(released) << "radio keyed " << r.radioKeyed() << ", keyer's ptt " << r.pttOf(c.keyedBy);
        for (int k = 0; k < 4; ++k) {
            if (k != c.keyedBy) {
                EXPECT_FALSE(r.everToldOn(k)) << "transceiver " << k;
            }
        }
        if (c.then) {
            const std::string failure = c.then(r);
            EXPECT_TRUE(failure.empty()) << failure;
        }
    }
    std::filesystem::remove_all(recordings());
}
