// Whatever keyed the transmitter releases it when it ends, goes, stalls or is
// refused: each way of keying a transceiver of the loop-back radio, through
// the C interface, taken through a way its keyer goes.
#include "vireocore.h"

#include "modes/data/multipsk/multiPskClient.h"
#include "support/hostHarness.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace {

using namespace std::chrono_literals;
using host::Log;

// Transceivers A, B and C of a started loop-back radio, all at 14000000; A and
// B carry signal generators of 0.30 and 0.10, sent while the host keys them.
constexpr int A = 0, B = 1, C = 2;
void* radio;
void* v[3];
mpsktest::Client peer;
const std::string files = ::testing::TempDir() + "vireo_keying_" + std::to_string(getpid()) + "/";

void poll() { getUpdates(); getRenderUpdates(); }

/// The last value the host heard of "radio", or of a transceiver's ptt by its number.
std::string last(const std::string& what) {
    const auto calls = Log::get().of(what);
    return calls.empty() ? "" : calls.back().args[0];
}

/// Returns once every request queued on the object before has run.
void sync(void* object) {
    static int marker = 0;
    asyncObject_bindEcho(object, host::on<"echo", int>);
    asyncObject_Ping(object, ++marker);
    host::pollUntil(poll, [] { return last("echo") == std::to_string(marker); });
}
/// Attaches the mode to transceiver k, which runs the requests after it with it.
void* attach(int k, void* mode, void (*release)(void*)) {
    Log::get().add({"mode", {}, mode}, release);
    vtrx_setModulation(v[k], mode);
    sync(v[k]);
    return mode;
}
/// What the host sets is the last it knows of a ptt, until it is told.
void ptt(int k, bool on) {
    vtrx_setptt(v[k], on);
    Log::get().add({std::to_string(k), {host::text(on)}});
}
/// The carrier A hears half a second on: A's 0.30 at -0.46 dB, B's 0.10 at -10.
void expectCarrierOf(int k) {
    host::pollFor(poll, 500ms);
    EXPECT_NEAR(std::stod(last("dB")), k == A ? -0.46 : -10.0, 1.0) << "not the carrier of " << k;
}

void cwText() { cwModDemod_QueueText(attach(A, cwModDemod_create(), cwModDemod_release), "CQ DE TEST\n", 0); }

void jtMessage() { // 8 symbols of 160 ms from the start of a 2 s period at least 300 ms ahead
    void* jt = attach(A, JTModDemod_create(), JTModDemod_release);
    JTModDemod_setsaveDirectory(jt, files.c_str());
    JTModDemod_setsamplesPerBlock(jt, 12000);
    JTModDemod_setperiod(jt, 2000);
    void* tones = floatArray_create(8);
    std::fill_n(floatArray_data(tones), 8, 0.0f); // a new array is not initialised
    const long long ms = std::chrono::system_clock::now().time_since_epoch() / 1ms;
    JTModDemod_queueMsg(jt, tones, 8, int((ms + 300 + 1999) / 2000 * 2000 % 3600000));
    floatArray_delete(tones);
}

void vox() { // a silent microphone peaks at 0: above this threshold, speech that never stops
    vtrx_setVoxThreshold(v[A], -1.0);
    vtrx_setforegroundDisplay(v[A], true);
    vtrx_setuseVox(v[A], true);
}

/// A MultiPSK peer of a bridge on A: "SwitchTX", then `pairs` samples.
template <int pairs>
void multiPsk() {
    void* m = MultiPskModDemod_create();
    const int port = mpsktest::freePort();
    MultiPskModDemod_setport(m, port);
    sync(m); // served from that port on
    attach(A, m, MultiPskModDemod_release);
    host::pollUntil(poll, [&] { return peer.connect(port); }, 5s);
    peer.sendBody("SwitchTX");
    for (int sent = 0; sent < pairs; sent += 2000)
        peer.sendBody(mpsktest::samplesBody(std::vector<std::pair<int16_t, int16_t>>(2000, {8000, 0})));
}

/// Keyed over the keyer, k takes the transmitter, and the keyer is told that
/// its ptt is off; then k is released.
template <int k>
void keyedOver() {
    ptt(k, true);
    expectCarrierOf(k);
    ptt(k, false);
}

void noMode() { vtrx_setModulation(v[A], nullptr); }

/// A macro: the host queues a text whose end mark unkeys, and keys.
template <void* (*create)(), void (*release)(void*), void (*queue)(void*, const char*, int)>
void hostKeyedText() {
    queue(attach(A, create(), release), "RYRY TEST~", 0);
    ptt(A, true);
}
constexpr auto rttyText = hostKeyedText<RTTYModDemod_create, RTTYModDemod_release, RTTYModDemod_QueueText>;
constexpr auto pskText = hostKeyedText<PskModDemod_create, PskModDemod_release, PskModDemod_QueueText>;
constexpr auto hellText =
    hostKeyedText<hellschreiberModDemod_create, hellschreiberModDemod_release, hellschreiberModDemod_QueueText>;

void stopRadio() { Radio_stop(radio); }

struct Case {
    const char* name;
    int keyer;                            // the transceiver keyed
    void (*key)();                        // then the radio is awaited keyed, unless `refused`
    void (*end)();                        // the keyer ends or goes
    std::chrono::milliseconds bound = 1s; // the radio may stay keyed after it
    bool refused = false;
    bool restart = false; // then the radio starts again, and nothing keys by itself
};

const Case cases[] = {
    {"CW text, no mode", A, cwText, noMode},
    {"CW text, SSB attached", A, cwText, [] { attach(A, ssbModDemod_create(), ssbModDemod_release); }},
    {"CW text, RTTY attached", A, cwText, [] { attach(A, RTTYModDemod_create(), RTTYModDemod_release); }},
    {"JT message, no mode", A, jtMessage, noMode},
    {"MultiPSK, no mode", A, multiPsk<60000>, noMode, 600ms}, // before 1.25 s of samples run out
    {"MultiPSK, peer stalled after 2000 pairs", A, multiPsk<2000>, [] {}},
    {"MultiPSK, peer stalled at once", A, multiPsk<0>, [] {}},
    {"VOX, window to the background", A, vox, [] { vtrx_setforegroundDisplay(v[A], false); }, 1500ms},
    {"VOX, VOX off", A, vox, [] { vtrx_setuseVox(v[A], false); }, 1500ms},
    {"VOX, no mode", A, vox, noMode, 1500ms},
    {"host, idle transceiver removed, then the keyed one released", B, [] { ptt(B, true); },
     [] {
         vtrx_remove(v[C]);
         expectCarrierOf(B);
         vtrx_release(v[B]);
         v[B] = nullptr;
         Log::get().add({"1", {"false"}}); // the host keeps nothing of it
     }},
    {"host, B keyed over A", A, [] { ptt(A, true); }, keyedOver<B>},
    {"host, A keyed over B", B, [] { ptt(B, true); }, keyedOver<A>},
    // A's filter design keeps it busy: both requests run in one turn. The
    // radio is keyed, and released once A's transmission has run out.
    {"host, on and off back to back", A,
     [] { vtrx_setRxFilter(v[A], -100, 100); vtrx_setptt(v[A], true); vtrx_setptt(v[A], false); }, [] {}},
    {"host, radio that cannot transmit", A, [] { Radio_setcanTransmit(radio, false); ptt(A, true); }, [] {}, 1s, true},
    {"host, the radio's own ptt on a radio that cannot transmit", A,
     [] {
         Radio_setcanTransmit(radio, false);
         Radio_setptt(radio, true);
         Log::get().add({"radio", {"true"}}); // until it is told
     },
     [] {}, 1s, true},
    // The text's end mark would have unkeyed; its mode gone, nothing will.
    {"RTTY text the host keyed, no mode", A, rttyText, noMode, 500ms},
    {"RTTY text the host keyed, AM attached", A, rttyText,
     [] { attach(A, amModDemod_create(), amModDemod_release); }, 500ms},
    {"PSK text the host keyed, no mode", A, pskText, noMode, 500ms},
    {"Hellschreiber text the host keyed, SSB attached", A, hellText,
     [] { attach(A, ssbModDemod_create(), ssbModDemod_release); }, 500ms},
    // A stopped radio ends every transmission; its start keys none again.
    {"host, radio stopped", A, [] { ptt(A, true); }, stopRadio, 500ms, false, true},
    {"CW text, radio stopped", A, cwText, stopRadio, 500ms, false, true},
    {"JT message, radio stopped", A, jtMessage, stopRadio, 500ms, false, true},
    {"MultiPSK, radio stopped", A, multiPsk<60000>, stopRadio, 500ms, false, true},
    {"VOX, radio stopped", A, vox, stopRadio, 500ms}, // speech on after the start keys it anew
};

} // namespace

TEST(Keying, WhateverKeyedTheTransmitterReleasesIt) {
    std::filesystem::create_directories(files);
    init((::testing::TempDir() + "vireo_keying_" + std::to_string(getpid()) + ".log").c_str(), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host::Transceivers::clear();
        radio = TestRadio_create();
        Radio_bindvtrxAdded(radio, host::Transceivers::onAdded);
        Radio_bindptt(radio, host::on<"radio", bool>);
        Radio_start(radio); // adds A
        for (int k = B; k <= C; ++k) Radio_addVtrx(radio, 14000000, 0, 0);
        const auto added = host::Transceivers::await(poll, 3);
        ASSERT_EQ(added.size(), 3u);
        std::copy(added.begin(), added.end(), v);
        vtrx_bindptt(v[A], host::on<"0", bool>);
        vtrx_bindptt(v[B], host::on<"1", bool>);
        vtrx_bindsignalStrength(v[A], host::on<"dB", double>);
        for (void* x : v) vtrx_start(x);
        sigGenModDemod_setampl1(attach(A, sigGenModDemod_create(), sigGenModDemod_release), 0.30);
        sigGenModDemod_setampl1(attach(B, sigGenModDemod_create(), sigGenModDemod_release), 0.10);

        c.key();
        auto keyed = [] { return Log::get().joined("radio").find("true") != std::string::npos; };
        if (!c.refused && !host::pollUntil(poll, keyed, 6s)) ADD_FAILURE() << "not keyed";
        c.end();
        const std::string keyer = std::to_string(c.keyer);
        EXPECT_TRUE(host::pollUntil(poll, [&] { return last("radio") != "true" && last(keyer) != "true"; }, c.bound))
            << "radio keyed " << last("radio") << ", its keyer's ptt " << last(keyer);
        if (c.restart) {
            Radio_start(radio);
            host::pollFor(poll, 1s);
            EXPECT_TRUE(last("radio") != "true" && last(keyer) != "true") << "keyed again by the start";
        }

        Radio_stop(radio);
        host::pollFor(poll, 100ms);
        for (void* x : v)
            if (x) vtrx_release(x);
        Radio_release(radio);
        host::pollFor(poll, 50ms);
        Log::get().clear(); // the modes too
    }
    std::filesystem::remove_all(files);
}
