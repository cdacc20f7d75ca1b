// Nothing leaves the transmitter keyed. Every way of keying a transceiver
// (the host, a mode's text or message, the voice switch, a MultiPSK peer)
// is taken through the ways its keyer ends or goes (its mode detached or
// replaced, the window sent to the background, VOX off, the peer stalled,
// the transceiver released, another one removed or keyed, a radio that
// cannot transmit), on the loop-back radio and through the C interface
// only. After each ending the radio must be unkeyed within a bound, the
// host must have been told that the keyer's ptt is off, and no transceiver
// but the one that asked may have transmitted meanwhile.
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

using steady = std::chrono::steady_clock;
using namespace std::chrono_literals;

void poll() {
    getUpdates();
    getRenderUpdates();
}

double since(steady::time_point t) { return std::chrono::duration<double>(steady::now() - t).count(); }

/// What the host hears: the radio's ptt, each transceiver's ptt, and the
/// level of the looped-back signal at a listening transceiver.
struct Heard {
    std::mutex m;
    std::vector<bool> radioPtt;
    std::array<std::vector<bool>, 4> ptt;
    std::vector<std::pair<steady::time_point, double>> level; // rms of the real parts, per block
};
Heard heard;

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
    heard.level.emplace_back(steady::now(), n ? std::sqrt(s / n) : 0.0);
}

/// Waits until every request queued on the object before now has run.
void sync(void* object) {
    static int marker = 0;
    const std::string n = std::to_string(++marker);
    asyncObject_bindEcho(object, host::on<"echo", int>);
    asyncObject_Ping(object, marker);
    host::pollUntil(poll, [&] {
        for (auto& c : host::Log::get().of("echo"))
            if (c.args[0] == n) return true;
        return false;
    });
}

/// A started loop-back radio with transceivers A, B and C at 14000000 and a
/// fourth, L, that only listens: it hands the host the looped-back IQ.
class Rig {
public:
    static constexpr int A = 0, B = 1, C = 2, L = 3;

    explicit Rig(bool canTransmit) {
        host::Transceivers::clear();
        {
            std::lock_guard<std::mutex> l(heard.m);
            heard.radioPtt.clear();
            for (auto& p : heard.ptt) p.clear();
            heard.level.clear();
        }
        radio = TestRadio_create();
        Radio_bindvtrxAdded(radio, host::Transceivers::onAdded);
        if (!canTransmit) Radio_setcanTransmit(radio, false);
        Radio_bindptt(radio, onRadioPtt);
        Radio_start(radio);
        for (int k = 1; k < 4; ++k) Radio_addVtrx(radio, 14000000, 0, 0);
        const auto added = host::Transceivers::await(poll, 4);
        if (added.size() != 4) return;
        for (int k = 0; k < 4; ++k) v[size_t(k)] = added[size_t(k)];
        vtrx_bindptt(v[A], onPtt<A>);
        vtrx_bindptt(v[B], onPtt<B>);
        vtrx_bindptt(v[C], onPtt<C>);
        vtrx_bindptt(v[L], onPtt<L>);
        vtrx_bindnewIQ(v[L], onIQ);
        vtrx_setSendIQ(v[L], true);
        for (void* x : v) vtrx_start(x);
        ready = true;
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
    void attach(int k, void* mode, void (*release)(void*)) {
        modes.emplace_back(mode, release);
        vtrx_setModulation(v[size_t(k)], mode);
        sync(v[size_t(k)]);
    }
    /// A carrier of the given amplitude on transceiver k.
    void carrier(int k, double amplitude) {
        void* g = sigGenModDemod_create();
        sigGenModDemod_setampl1(g, amplitude);
        attach(k, g, sigGenModDemod_release);
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
        if (told.size() > toldBefore[size_t(k)]) return told.back();
        return hostSet[size_t(k)];
    }
    bool everTold(int k, bool on) {
        std::lock_guard<std::mutex> l(heard.m);
        for (bool p : heard.ptt[size_t(k)])
            if (p == on) return true;
        return false;
    }
    bool awaitKeyed(std::chrono::milliseconds timeout = 5s) {
        return host::pollUntil(poll, [&] { return radioKeyed(); }, timeout);
    }
    /// Mean level heard at L over the last `seconds`.
    double levelOver(double seconds) {
        host::pollFor(poll, std::chrono::milliseconds(int(seconds * 1000)));
        std::lock_guard<std::mutex> l(heard.m);
        const auto from = steady::now() - std::chrono::milliseconds(int(seconds * 1000));
        double sum = 0;
        int n = 0;
        for (auto& [t, rms] : heard.level)
            if (t >= from) {
                sum += rms;
                ++n;
            }
        return n ? sum / n : 0.0;
    }

    /// Connects a MultiPSK stand-in to a bridge attached to transceiver k.
    bool linkMultiPsk(int k) {
        void* m = MultiPskModDemod_create();
        const int port = mpsktest::freePort();
        MultiPskModDemod_setport(m, port);
        sync(m); // served from that port on
        attach(k, m, MultiPskModDemod_release);
        client = std::make_unique<mpsktest::Client>();
        return host::pollUntil(poll, [&] { return client->connect(port); }, 5s);
    }
    /// "SwitchTX", then `pairs` transmit samples in packets of 2048.
    void switchTx(int pairs) {
        client->sendBody("SwitchTX");
        for (int sent = 0; sent < pairs;) {
            const int n = std::min(2048, pairs - sent);
            std::vector<std::pair<int16_t, int16_t>> iq;
            for (int i = 0; i < n; ++i, ++sent) iq.emplace_back(int16_t(8000 * std::cos(sent * 0.2)), 0);
            client->sendBody(mpsktest::samplesBody(iq));
        }
    }

    void* radio = nullptr;
    std::array<void*, 4> v{};
    bool ready = false;
    std::array<bool, 4> hostSet{};
    std::array<size_t, 4> toldBefore{};
    std::vector<std::pair<void*, void (*)(void*)>> modes;
    std::unique_ptr<mpsktest::Client> client;
    double heardWhileKeyed = -1; // level heard while the transceiver that asked held the transmitter
};

/// One way of keying and one way of its ending.
struct Case {
    const char* keyer;
    const char* ending;
    int keyedBy;                      // the transceiver the keyer keyed
    std::function<bool(Rig&)> key;    // true once keyed as the case needs
    std::function<void(Rig&)> end;    // the keyer ends or goes
    double bound;                     // seconds the radio may stay keyed after the ending
    bool canTransmit = true;          // the radio
    std::function<std::string(Rig&)> then = {}; // further checks; a failure's text
    int alsoAsked = -1;               // another transceiver the host keyed
};

constexpr double carrierA = 0.30, carrierB = 0.10;
// Between the two carriers' levels as heard (0.212 and 0.071).
constexpr double levelBetween = 0.14;

bool cwText(Rig& r, int k) {
    void* cw = cwModDemod_create();
    cwModDemod_setwpm(cw, 40);
    r.attach(k, cw, cwModDemod_release);
    cwModDemod_QueueText(cw, "CQ CQ DE TEST\n", 0); // 3.6 s at 40 wpm
    if (!r.awaitKeyed()) return false;
    host::pollFor(poll, 600ms);
    return r.radioKeyed();
}

/// Where the JT mode writes its recordings.
std::filesystem::path recordings() {
    return std::filesystem::path(::testing::TempDir()) / ("vireo_keying_" + std::to_string(getpid()));
}

bool jtMessage(Rig& r) {
    void* jt = JTModDemod_create();
    std::filesystem::create_directories(recordings());
    JTModDemod_setsaveDirectory(jt, (recordings().string() + "/").c_str());
    // Periods of 2 s; a message of 20 symbols of 20 ms.
    JTModDemod_setperiod(jt, 2000);
    JTModDemod_setsamplesPerBlock(jt, 12000);
    JTModDemod_setsamplesPerSymbol(jt, 960);
    JTModDemod_settoneSpacing(jt, 50.0);
    modDemod_settxFreq(jt, 1000);
    r.attach(Rig::A, jt, JTModDemod_release);
    void* tones = floatArray_create(20);
    for (int i = 0; i < 20; ++i) floatArray_data(tones)[i] = float(i % 8);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count() %
                    3600000;
    JTModDemod_queueMsg(jt, tones, 8, int((ms + 300 + 1999) / 2000 * 2000 % 3600000));
    floatArray_delete(tones);
    if (!r.awaitKeyed(6s)) return false;
    host::pollFor(poll, 100ms);
    return r.radioKeyed();
}

bool voiceKeyed(Rig& r) {
    void* ssb = ssbModDemod_create();
    r.attach(Rig::A, ssb, ssbModDemod_release);
    // A silent microphone reads a peak of 0: above this threshold it is
    // speech that never stops.
    vtrx_setVoxThreshold(r.v[Rig::A], -1.0);
    vtrx_setforegroundDisplay(r.v[Rig::A], true);
    vtrx_setuseVox(r.v[Rig::A], true);
    return r.awaitKeyed();
}

/// Host keys `first`, then `second`; the later one must hold the
/// transmitter alone.
bool bothKeyed(Rig& r, int first, int second) {
    r.carrier(Rig::A, carrierA);
    r.carrier(Rig::B, carrierB);
    r.hostPtt(first, true);
    if (!r.awaitKeyed()) return false;
    r.hostPtt(second, true);
    r.heardWhileKeyed = r.levelOver(0.5);
    return r.radioKeyed();
}

std::string heardOnly(Rig& r, int k) {
    const bool ok = k == Rig::A ? r.heardWhileKeyed > levelBetween : r.heardWhileKeyed < levelBetween;
    if (ok && r.heardWhileKeyed > 0.03) return {};
    return "while " + std::string(k == Rig::A ? "A" : "B") + " held the transmitter the loop-back level was " +
           std::to_string(r.heardWhileKeyed);
}

const std::vector<Case>& cases() {
    static const std::vector<Case> all = {
        {"CW text", "no mode", Rig::A, [](Rig& r) { return cwText(r, Rig::A); },
         [](Rig& r) { vtrx_setModulation(r.v[Rig::A], nullptr); }, 1.0},
        {"CW text", "SSB attached", Rig::A, [](Rig& r) { return cwText(r, Rig::A); },
         [](Rig& r) {
             void* ssb = ssbModDemod_create();
             r.modes.emplace_back(ssb, ssbModDemod_release);
             vtrx_setModulation(r.v[Rig::A], ssb);
         },
         1.0},
        {"CW text", "RTTY attached", Rig::A, [](Rig& r) { return cwText(r, Rig::A); },
         [](Rig& r) {
             void* rtty = RTTYModDemod_create();
             r.modes.emplace_back(rtty, RTTYModDemod_release);
             vtrx_setModulation(r.v[Rig::A], rtty);
         },
         1.0},
        {"JT message", "no mode", Rig::A, jtMessage, [](Rig& r) { vtrx_setModulation(r.v[Rig::A], nullptr); }, 1.0},
        {"MultiPSK", "no mode, then SwitchRX and gone", Rig::A,
         [](Rig& r) {
             if (!r.linkMultiPsk(Rig::A)) return false;
             r.switchTx(60000); // 1.25 s: no underrun before the switch
             return r.awaitKeyed();
         },
         [](Rig& r) {
             vtrx_setModulation(r.v[Rig::A], nullptr);
             sync(r.v[Rig::A]);
             r.client->sendBody("SwitchRX");
             r.client->close();
         },
         0.6},
        {"MultiPSK", "peer stalled after 2000 pairs", Rig::A,
         [](Rig& r) {
             if (!r.linkMultiPsk(Rig::A)) return false;
             r.switchTx(2000);
             return r.awaitKeyed();
         },
         [](Rig&) {}, 1.0},
        {"MultiPSK", "peer stalled at once", Rig::A,
         [](Rig& r) {
             if (!r.linkMultiPsk(Rig::A)) return false;
             r.switchTx(0);
             return r.awaitKeyed();
         },
         [](Rig&) {}, 1.0},
        {"VOX", "window to the background", Rig::A, voiceKeyed,
         [](Rig& r) { vtrx_setforegroundDisplay(r.v[Rig::A], false); }, 1.5},
        {"VOX", "VOX off", Rig::A, voiceKeyed, [](Rig& r) { vtrx_setuseVox(r.v[Rig::A], false); }, 1.5},
        {"VOX", "no mode", Rig::A, voiceKeyed, [](Rig& r) { vtrx_setModulation(r.v[Rig::A], nullptr); }, 1.5},
        {"host", "idle transceiver removed, then released", Rig::B,
         [](Rig& r) {
             r.carrier(Rig::A, carrierA);
             r.carrier(Rig::B, carrierB);
             r.hostPtt(Rig::B, true);
             if (!r.awaitKeyed()) return false;
             vtrx_remove(r.v[Rig::C]);
             r.heardWhileKeyed = r.levelOver(0.5);
             return true;
         },
         [](Rig& r) { r.hostPtt(Rig::B, false); }, 1.0, true, [](Rig& r) { return heardOnly(r, Rig::B); }},
        {"host", "transceiver released", Rig::B,
         [](Rig& r) {
             r.carrier(Rig::B, carrierB);
             r.hostPtt(Rig::B, true);
             return r.awaitKeyed();
         },
         [](Rig& r) {
             vtrx_release(r.v[Rig::B]);
             r.v[Rig::B] = nullptr;
             r.hostSet[Rig::B] = false; // the host keeps nothing of it
         },
         1.0},
        {"host", "B keyed over it, then B released", Rig::A, [](Rig& r) { return bothKeyed(r, Rig::A, Rig::B); },
         [](Rig& r) { r.hostPtt(Rig::B, false); }, 1.0, true, [](Rig& r) { return heardOnly(r, Rig::B); }, Rig::B},
        {"host", "A keyed over it, then A released", Rig::B, [](Rig& r) { return bothKeyed(r, Rig::B, Rig::A); },
         [](Rig& r) { r.hostPtt(Rig::A, false); }, 1.0, true, [](Rig& r) { return heardOnly(r, Rig::A); }, Rig::A},
        {"host", "on and off back to back", Rig::A,
         [](Rig& r) {
             void* listener = cwModDemod_create();
             cwModDemod_bindnewChars(listener, host::onText<"heard">);
             r.attach(Rig::A, listener, cwModDemod_release);
             // The filter design keeps A busy, so both requests run in one
             // turn of its task group.
             vtrx_setRxFilter(r.v[Rig::A], -100, 100);
             vtrx_setptt(r.v[Rig::A], true);
             vtrx_setptt(r.v[Rig::A], false);
             return true;
         },
         [](Rig&) {}, 1.0, true,
         [](Rig& r) -> std::string {
             // A must listen again: B's text reaches its decoder.
             void* sender = cwModDemod_create();
             cwModDemod_setwpm(sender, 40);
             r.attach(Rig::B, sender, cwModDemod_release);
             cwModDemod_QueueText(sender, "cq cq\n", 0);
             if (host::pollUntil(
                     poll, [] { return host::Log::get().joined("heard").find("cq") != std::string::npos; }, 6s))
                 return {};
             return "A heard \"" + host::Log::get().joined("heard") + "\" of B's \"cq cq\"";
         },
         Rig::B},
        {"host", "radio that cannot transmit", Rig::A,
         [](Rig& r) {
             r.hostPtt(Rig::A, true);
             return true;
         },
         [](Rig&) {}, 1.0, false},
    };
    return all;
}

} // namespace

// A keyer that ends, goes or stalls leaves the radio unkeyed within the
// case's bound, the host told; nobody else transmitted meanwhile.
TEST(Keying, WhateverKeyedTheTransmitterReleasesIt) {
    static bool started = false;
    if (!started) init((::testing::TempDir() + "vireo_keying_" + std::to_string(getpid()) + ".log").c_str(), 1);
    started = true;
    for (const Case& c : cases()) {
        SCOPED_TRACE(std::string(c.keyer) + ", " + c.ending);
        Rig r(c.canTransmit);
        ASSERT_TRUE(r.ready);
        ASSERT_TRUE(c.key(r)) << "not keyed";
        const auto ended = steady::now();
        c.end(r);
        const double bound = c.bound;
        const bool released = host::pollUntil(
            poll, [&] { return !r.radioKeyed() && !r.pttOf(c.keyedBy); },
            std::chrono::milliseconds(int(bound * 1000)));
        const double after = since(ended);
        if (released)
            std::printf("%-10s %-42s released after %.2f s\n", c.keyer, c.ending, after);
        else
            std::printf("%-10s %-42s still keyed after %.2f s (radio %d, transceiver %d)\n", c.keyer, c.ending,
                        after, int(r.radioKeyed()), int(r.pttOf(c.keyedBy)));
        EXPECT_TRUE(released) << "radio keyed " << r.radioKeyed() << ", keyer's ptt " << r.pttOf(c.keyedBy);
        for (int k = 0; k < 4; ++k) {
            if (k != c.keyedBy && k != c.alsoAsked) {
                EXPECT_FALSE(r.everTold(k, true)) << "transceiver " << k;
            }
        }
        if (!c.canTransmit) {
            std::lock_guard<std::mutex> l(heard.m);
            EXPECT_TRUE(heard.radioPtt.empty() || !heard.radioPtt.back());
        }
        if (c.then) {
            const std::string failure = c.then(r);
            EXPECT_TRUE(failure.empty()) << failure;
        }
    }
    std::filesystem::remove_all(recordings());
}
