#pragma once
// The loop-back radio as a host drives it through the C interface: a
// TestRadio with up to three transceivers A, B and C at 14000000, the modes
// the host attaches to them, a MultiPSK peer on 127.0.0.1 and the voice
// switch's speech. Shared by the keying tests; no test framework in it, so
// that a replay outside the tests builds the same rig.
#include "vireocore.h"

#include "modes/data/multipsk/multiPskClient.h"
#include "support/hostHarness.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace looprig {

using namespace std::chrono_literals;

/// One round of the host's update loop.
inline void poll() {
    getUpdates();
    getRenderUpdates();
}

/// init, once per process, with the log in `directory` (made if missing).
inline void startLibrary(const std::string& directory) {
    static const bool started = [&] {
        std::filesystem::create_directories(directory);
        init((directory + "keying.log").c_str(), 1);
        return true;
    }();
    (void)started;
}

/// Returns once every request the host queued on `object` before the call
/// has run (its echo comes back behind them); false after the time-out.
inline bool sync(void* object, std::chrono::milliseconds timeout = 10s) {
    static std::atomic<int> echoed{0};
    static int marker = 0;
    asyncObject_bindEcho(object, [](int n) { echoed.store(n); });
    const int m = ++marker;
    asyncObject_Ping(object, m);
    return host::pollUntil(poll, [m] { return echoed.load() >= m; }, timeout);
}

/// A JT mode whose messages are 8 symbols of 160 ms in 2 s periods, its
/// files in `directory`.
inline void shortJtPeriods(void* jt, const std::string& directory) {
    JTModDemod_setsaveDirectory(jt, directory.c_str());
    JTModDemod_setsamplesPerBlock(jt, 12000);
    JTModDemod_setperiod(jt, 2000);
}
/// Queues a message of 8 tones 0..48 Hz above the transmit frequency for the
/// first period at least `ahead` away; returns when, in ms since the epoch
/// (the wall clock, as JT's periods).
inline long long queueJtMessage(void* jt, std::chrono::milliseconds ahead) {
    void* tones = floatArray_create(8);
    for (int i = 0; i < 8; ++i) floatArray_data(tones)[i] = float(i % 4 * 16);
    const long long now = std::chrono::system_clock::now().time_since_epoch() / 1ms;
    const long long start = (now + ahead.count() + 1999) / 2000 * 2000;
    JTModDemod_queueMsg(jt, tones, 8, int(start % 3600000));
    floatArray_delete(tones);
    return start;
}

class LoopBackRig {
public:
    void* radio = nullptr;
    void* A = nullptr;
    void* B = nullptr;
    void* C = nullptr;
    mpsktest::Client peer;

    /// The radio started with `count` (1 to 3) transceivers, each started.
    /// False when the radio did not announce them in time.
    bool build(size_t count) {
        host::Transceivers::clear();
        radio = TestRadio_create();
        Radio_bindvtrxAdded(radio, host::Transceivers::onAdded);
        Radio_start(radio); // adds A
        for (size_t i = 1; i < count; ++i) Radio_addVtrx(radio, 14000000, 0, 0);
        const auto added = host::Transceivers::await(poll, count);
        if (added.size() != count) return false;
        void** named[] = {&A, &B, &C};
        for (size_t i = 0; i < count; ++i) {
            *named[i] = added[i];
            vtrx_start(added[i]);
        }
        return true;
    }

    /// Stops the radio, then lets go of every handle the rig still holds
    /// (a test may have let go of some already and nulled them), the modes
    /// last, once nothing attached uses them.
    void tearDown() {
        peer.close();
        if (radio) Radio_stop(radio);
        host::pollFor(poll, 100ms);
        for (void* v : {A, B, C})
            if (v) vtrx_release(v);
        if (radio) Radio_release(radio);
        A = B = C = radio = nullptr;
        host::pollFor(poll, 50ms);
        for (auto& [m, release] : modes_) release(m);
        modes_.clear();
    }

    /// A mode the rig lets go of at tearDown.
    void* keep(void* mode, void (*release)(void*)) {
        modes_.emplace_back(mode, release);
        return mode;
    }
    /// Keeps the mode and attaches it to v, returning once the attach ran.
    void* attach(void* v, void* mode, void (*release)(void*)) {
        keep(mode, release);
        vtrx_setModulation(v, mode);
        sync(v);
        return mode;
    }

    /// Attaches a new MultiPSK mode to v and connects the peer to the port
    /// it serves; null when the peer could not connect.
    void* attachPeer(void* v) {
        void* m = attach(v, MultiPskModDemod_create(), MultiPskModDemod_release);
        const int port = mpsktest::servedPort(m, poll);
        if (!host::pollUntil(poll, [&] { return peer.connect(port); }, 5s)) return nullptr;
        return m;
    }

    /// The voice switch of v, on while its window is in front, holding for
    /// `hold` seconds after the speech.
    static void useVoiceSwitch(void* v, double hold) {
        vtrx_setVoxHold(v, hold);
        vtrx_setforegroundDisplay(v, true);
        vtrx_setuseVox(v, true);
    }
    /// A silent microphone peaks at 0: above a threshold of -1 it is speech
    /// that never stops; at the default 0.4 it is a pause.
    static void speech(void* v, bool on) { vtrx_setVoxThreshold(v, on ? -1.0 : 0.4); }

private:
    std::vector<std::pair<void*, void (*)(void*)>> modes_;
};

} // namespace looprig
