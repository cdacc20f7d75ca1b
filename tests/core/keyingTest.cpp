// Every keyer of a transmission against every way it ends, on the loop-back
// radio through the C interface (compiled into the test, so that the radio's
// device can also fall silent without the library being told). Each row
// checks four things: the transceiver's ptt is off within half a second of
// the change (a natural end, a tail and a silent radio take their own
// time), the host is told once, the radio is told, and nothing of the
// transmission goes out later: its keyer does not key again, and when the
// host keys the transceiver again, none of its text, message or samples
// follows. A second table applies every ending while keyed and in the tail
// and keys again at once, without waiting to hear the off: the key made
// last stands. Then the cases of two keyers on one transmission, the tail
// of a text, and a key still pending when the host lets go.
#include "vireocore.h"

#include "core/TestRadio.h"
#include "core/loopBackRig.h"
#include "core/vtrx.h"
#include "framework/objectHandle.h"
#include "support/hostHarness.h"
#include "support/waitFor.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace {

using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;
using seconds = std::chrono::duration<double>;

// ---- what the host hears, stamped as it hears it ----

struct Heard {
    std::string who;
    double value;
    steady::time_point at;
};
std::mutex heardLock;
std::vector<Heard> heard;

template <host::name N, class T>
void hear(T v) {
    std::lock_guard<std::mutex> l(heardLock);
    heard.push_back({N.s, double(v), steady::now()});
}
template <host::name N>
void hearText(const char*) {
    hear<N>(1);
}
std::vector<Heard> heardAfter(const std::string& who, steady::time_point t) {
    std::lock_guard<std::mutex> l(heardLock);
    std::vector<Heard> r;
    for (auto& h : heard)
        if (h.who == who && h.at >= t) r.push_back(h);
    return r;
}
size_t count(const std::string& who, double value, steady::time_point t) {
    auto all = heardAfter(who, t);
    return size_t(std::count_if(all.begin(), all.end(), [&](auto& h) { return h.value == value; }));
}
/// When the host first heard `value` of `who` after t.
std::optional<steady::time_point> firstHeard(const std::string& who, double value, steady::time_point t) {
    for (auto& h : heardAfter(who, t))
        if (h.value == value) return h.at;
    return std::nullopt;
}
double loudest(steady::time_point t) {
    double m = -1e300;
    for (auto& h : heardAfter("dB", t)) m = std::max(m, h.value);
    return m;
}

using looprig::poll;
using looprig::sync;

// ---- who keys, and what ends it ----

enum class keyer { host, cw, cwHand, rtty, psk, hell, jt, multipsk, vox };
constexpr const char* keyerName[] = {"Host", "Cw", "CwHand", "Rtty", "Psk", "Hell", "Jt", "MultiPsk", "Vox"};
enum class ending {
    natural, transceiverUnkeyed, radioUnkeyed, radioCannotTransmit, modeDetached, modeReplaced, radioStopped,
    radioSilent, transceiverReleased, transceiverReleasedGenerically, radioReleased, radioReleasedGenerically,
    transceiverRemoved, transmitterTaken, modeStops, peerLeaves,
};
constexpr const char* endingName[] = {
    "NaturalEnd", "TransceiverUnkeyed", "RadioUnkeyed", "RadioCannotTransmit", "ModeDetached", "ModeReplaced",
    "RadioStopped", "RadioSilent", "TransceiverReleased", "TransceiverReleasedGenerically", "RadioReleased",
    "RadioReleasedGenerically", "TransceiverRemoved", "TransmitterTaken", "ModeStops", "PeerLeaves"};

struct Row {
    keyer k;
    ending e;
};
std::string rowName(const ::testing::TestParamInfo<Row>& p) {
    return std::string(keyerName[size_t(p.param.k)]) + "_" + endingName[size_t(p.param.e)];
}
/// Whether the ending exists for the keyer: the host's end is its unkey;
/// a mode told to stop (JT's Enabled false, the peer's SwitchRX) and a peer
/// that leaves belong to the modes that have them.
bool applies(keyer k, ending e) {
    if (e == ending::natural) return k != keyer::host;
    if (e == ending::modeStops) return k == keyer::jt || k == keyer::multipsk;
    if (e == ending::peerLeaves) return k == keyer::multipsk;
    return true;
}
std::vector<Row> everyRow() {
    std::vector<Row> rows;
    for (int k = 0; k <= int(keyer::vox); ++k)
        for (int e = 0; e <= int(ending::peerLeaves); ++e)
            if (applies(keyer(k), ending(e))) rows.push_back({keyer(k), ending(e)});
    return rows;
}

/// A text mode as the host drives it.
struct textModeApi {
    const char* name;
    void* (*create)();
    void (*release)(void*);
    void (*bindSent)(void*, void (*)(const char*));
    void (*queue)(void*, const char*, int);
};
const textModeApi textModes[] = {
    {"CW", cwModDemod_create, cwModDemod_release, cwModDemod_bindsentChars, cwModDemod_QueueText},
    {"RTTY", RTTYModDemod_create, RTTYModDemod_release, RTTYModDemod_bindsentChars, RTTYModDemod_QueueText},
    {"PSK", PskModDemod_create, PskModDemod_release, PskModDemod_bindsentChars, PskModDemod_QueueText},
    {"Hellschreiber", hellschreiberModDemod_create, hellschreiberModDemod_release,
     hellschreiberModDemod_bindsentChars, hellschreiberModDemod_QueueText},
};

const std::string files = ::testing::TempDir() + "vireo_keying_" + std::to_string(getpid()) + "/";

// The loop-back radio with transceivers A (the keyer's), B (a signal
// generator at 0.10, -10 dB, keyed only to take the transmitter) and C (SSB,
// which measures what goes out, as "dB"), all at 14000000.
class KeyingRig : public ::testing::Test, public looprig::LoopBackRig {
public:
    void* modeOfA = nullptr;
    void (*releaseModeOfA)(void*) = nullptr;

    void SetUp() override {
        looprig::startLibrary(files);
        ASSERT_TRUE(build(3));
        Radio_bindptt(radio, hear<"radio", bool>);
        vtrx_bindptt(A, hear<"A", bool>);
        vtrx_bindptt(B, hear<"B", bool>);
        vtrx_bindsignalStrength(C, hear<"dB", double>);
        sigGenModDemod_setampl1(attach(B, sigGenModDemod_create(), sigGenModDemod_release), 0.10);
        attach(C, ssbModDemod_create(), ssbModDemod_release);
    }
    void TearDown() override {
        tearDown();
        host::Log::get().clear();
        std::lock_guard<std::mutex> l(heardLock);
        heard.clear();
    }

    void* attach(void* v, void* mode, void (*release)(void*)) {
        LoopBackRig::attach(v, mode, release);
        if (v == A) modeOfA = mode, releaseModeOfA = release;
        return mode;
    }
    template <class Create, class Release>
    void* attachA(Create create, Release release) {
        return attach(A, create(), release);
    }

    // ---- the keyers; `brief` gives each a natural end that comes soon ----

    /// A text mode on A whose text ends with its end mark; the host keys.
    template <void* (*create)(), void (*release)(void*), void (*bindSent)(void*, void (*)(const char*)),
              void (*queue)(void*, const char*, int)>
    void hostKeysText(const char* text) {
        void* m = attach(A, create(), release);
        bindSent(m, hearText<"sent">);
        queue(m, text, 0);
        vtrx_setptt(A, true);
    }

    void key(keyer k, bool brief) {
        const char* text = brief ? "R~" : "RYRY TEST RYRY TEST RYRY TEST~";
        switch (k) {
        case keyer::host:
            sigGenModDemod_setampl1(attachA(sigGenModDemod_create, sigGenModDemod_release), 0.30);
            vtrx_setptt(A, true);
            break;
        case keyer::cw: {
            void* cw = attachA(cwModDemod_create, cwModDemod_release);
            cwModDemod_setwpm(cw, 40);
            cwModDemod_bindsentChars(cw, hearText<"sent">);
            cwModDemod_QueueText(cw, brief ? "e\n" : "cq cq cq de test test test test\n", 0);
            break;
        }
        case keyer::cwHand: // held down; the natural end lets go and the hang time runs out
            cwModDemod_KeyDown(attachA(cwModDemod_create, cwModDemod_release), 0);
            break;
        case keyer::rtty:
            hostKeysText<RTTYModDemod_create, RTTYModDemod_release, RTTYModDemod_bindsentChars,
                         RTTYModDemod_QueueText>(text);
            break;
        case keyer::psk:
            hostKeysText<PskModDemod_create, PskModDemod_release, PskModDemod_bindsentChars, PskModDemod_QueueText>(
                text);
            break;
        case keyer::hell:
            hostKeysText<hellschreiberModDemod_create, hellschreiberModDemod_release,
                         hellschreiberModDemod_bindsentChars, hellschreiberModDemod_QueueText>(text);
            break;
        case keyer::jt: { // from the start of a period at least 300 ms ahead
            void* jt = attachA(JTModDemod_create, JTModDemod_release);
            looprig::shortJtPeriods(jt, files);
            // A message is for one period. A loaded machine may attach the
            // mode, or give it its first turn, only after that period's
            // first half second, when the message waits for the same period
            // of the next hour: it is queued again for a later period, until
            // just before that one begins (a start made has been told by
            // then).
            const auto since = steady::now();
            for (int tries = 0; tries < 3; ++tries) {
                const long long start = looprig::queueJtMessage(jt, 300ms);
                using wall = std::chrono::system_clock;
                const auto until = wall::time_point(std::chrono::milliseconds(start + 1800));
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - wall::now());
                if (host::pollUntil(poll, [&] { return count("A", 1, since) > 0; }, left)) break;
            }
            break;
        }
        case keyer::multipsk: { // SwitchTX, then samples that run out: the peer stalls
            void* m = attachPeer(A);
            ASSERT_TRUE(m) << "the peer did not connect";
            modeOfA = m, releaseModeOfA = MultiPskModDemod_release;
            peer.sendBody("SwitchTX");
            for (int sent = 0; sent < (brief ? 2000 : 96000); sent += 2000)
                peer.sendBody(mpsktest::samplesBody(std::vector<std::pair<int16_t, int16_t>>(2000, {8000, 0})));
            break;
        }
        case keyer::vox: // a silent microphone peaks at 0: above this threshold, speech that never stops
            sigGenModDemod_setampl1(attachA(sigGenModDemod_create, sigGenModDemod_release), 0.30);
            speech(A, true);
            useVoiceSwitch(A, 0.2);
            break;
        }
    }

    /// Makes the radio's device stop streaming on its own: no request and no
    /// receive block comes any more, and the library is not told.
    void silenceTheDevice() {
        auto r = std::dynamic_pointer_cast<TestRadio>(*static_cast<objectHandle*>(radio));
        ASSERT_TRUE(r);
        seqTask t;
        t.fn = [r] { r->stopRadio(); };
        t.name = "test.deviceFallsSilent";
        r->asyncProcess(t);
    }

    /// Holds the radio's task group up for a while, as a loaded machine may,
    /// from where the host's next call on it comes: that call and what
    /// follows it wait, while its device goes on asking the transceivers for
    /// samples.
    void holdUpTheRadio(std::chrono::milliseconds t) { holdUp(radio, t); }
    /// The same for any object's task group (a mode's is the one all modes
    /// share).
    void holdUp(void* o, std::chrono::milliseconds t) {
        auto& x = *static_cast<objectHandle*>(o);
        ASSERT_TRUE(x);
        seqTask task;
        task.fn = [t] { std::this_thread::sleep_for(t); };
        task.name = "test.heldUp";
        x->queueSetItem(task);
    }

    /// Applies the ending; returns when the change was made.
    steady::time_point end(keyer k, ending e) {
        const auto t = steady::now();
        switch (e) {
        case ending::natural:
            if (k == keyer::vox) speech(A, false);
            if (k == keyer::cwHand) cwModDemod_KeyUp(modeOfA, 0);
            break;
        case ending::transceiverUnkeyed: vtrx_setptt(A, false); break;
        case ending::radioUnkeyed: Radio_setptt(radio, false); break;
        case ending::radioCannotTransmit: Radio_setcanTransmit(radio, false); break;
        case ending::modeDetached: vtrx_setModulation(A, nullptr); break;
        case ending::modeReplaced: {
            vtrx_setModulation(A, keep(amModDemod_create(), amModDemod_release));
            break;
        }
        case ending::radioStopped: Radio_stop(radio); break;
        case ending::radioSilent: silenceTheDevice(); break;
        case ending::transceiverReleased: vtrx_release(std::exchange(A, nullptr)); break;
        case ending::transceiverReleasedGenerically: asyncObject_release(std::exchange(A, nullptr)); break;
        case ending::radioReleased: TestRadio_release(std::exchange(radio, nullptr)); break;
        case ending::radioReleasedGenerically: asyncObject_release(std::exchange(radio, nullptr)); break;
        case ending::transceiverRemoved: vtrx_remove(A); break;
        case ending::transmitterTaken: vtrx_setptt(B, true); break;
        case ending::modeStops:
            if (k == keyer::jt) JTModDemod_setEnabled(modeOfA, false);
            if (k == keyer::multipsk) peer.sendBody("SwitchRX");
            break;
        case ending::peerLeaves: peer.close(); break;
        }
        return t;
    }

    /// A rig of its own for the next case of a table.
    void freshRig() {
        TearDown();
        SetUp();
    }

    /// What the host last heard of `who` after t, if anything.
    std::optional<double> lastHeard(const std::string& who, steady::time_point t) {
        auto all = heardAfter(who, t);
        return all.empty() ? std::nullopt : std::optional(all.back().value);
    }

    // ---- the host's last word against the library's value ----

    /// The host's own set of a ptt, which it counts as heard.
    void setA(bool on) {
        hear<"A.own", bool>(on);
        vtrx_setptt(A, on);
    }
    void setRadio(bool on) {
        hear<"radio.own", bool>(on);
        Radio_setptt(radio, on);
    }
    /// The last value the host heard of `who` or set itself.
    std::optional<double> lastWord(const std::string& who) {
        auto told = heardAfter(who, {}), own = heardAfter(who + ".own", {});
        const Heard* last = nullptr;
        for (auto* list : {&told, &own})
            if (!list->empty() && (!last || list->back().at >= last->at)) last = &list->back();
        return last ? std::optional(last->value) : std::nullopt;
    }
    /// The ptt the library holds for a handle's object.
    static bool holds(void* handle) {
        auto& object = *static_cast<objectHandle*>(handle);
        if (auto v = std::dynamic_pointer_cast<vtrx>(object)) return v->ptt.get();
        return std::dynamic_pointer_cast<Radio>(object)->ptt.get();
    }
    /// Polls until the host's last word on A and on the radio is what the
    /// library holds (both ways round a value told late), then for a while
    /// more, checking that it stays so.
    void expectTheHostsWordHolds() {
        auto agree = [&] {
            return lastWord("A").value_or(0) == double(holds(A)) &&
                   lastWord("radio").value_or(0) == double(holds(radio));
        };
        EXPECT_TRUE(host::pollUntil(poll, agree, 3s))
            << "A: the host's word " << lastWord("A").value_or(-1) << ", the library's " << holds(A)
            << "; the radio: " << lastWord("radio").value_or(-1) << " against " << holds(radio);
    }
    /// The level C measures now, as the host last heard it.
    double level() { return lastHeard("dB", {}).value_or(-1e300); }
};

class Keying : public KeyingRig, public ::testing::WithParamInterface<Row> {};

TEST_P(Keying, EndsAtOnceTellsOnceAndLeavesNothingForLater) {
    const auto [k, e] = GetParam();
    const bool natural = e == ending::natural;
    const auto beforeKey = steady::now();
    key(k, natural);
    if (HasFatalFailure()) return;
    ASSERT_TRUE(host::pollUntil(poll, [&] { return count("radio", 1, beforeKey) > 0; }, 6s)) << "not keyed";

    const auto change = end(k, e);
    // Whose word the host already has: a value the host set itself is not
    // echoed, and a transceiver that took the transmitter keeps the radio.
    const bool hostUnkeyedA = e == ending::transceiverUnkeyed;
    const bool radioStaysKeyed = e == ending::transmitterTaken;
    const bool hostUnkeyedRadio = e == ending::radioUnkeyed;
    const bool withTail = natural || e == ending::transceiverUnkeyed || e == ending::transceiverReleased ||
                          e == ending::transceiverReleasedGenerically || e == ending::modeStops ||
                          e == ending::peerLeaves;
    // A radio gone silent ends a keyed transmission after a second without
    // requests: a loaded machine may hold a radio up for a few hundred ms,
    // and the check that ends it, and the host's poll, as long again. Like
    // every bound here, and like that limit, stretched in a sanitizer build
    // (where the full suite beside other work took 1.2 s past the limit).
    const seconds boundA = natural ? 8s : e == ending::radioSilent ? 1500ms : 500ms;
    const seconds boundRadio = boundA + (withTail && k == keyer::psk ? 2.5s : 100ms);

    auto offA = [&] { return hostUnkeyedA ? std::optional(change) : firstHeard("A", 0, change); };
    auto offRadio = [&] {
        return hostUnkeyedRadio || radioStaysKeyed ? std::optional(change) : firstHeard("radio", 0, change);
    };
    ASSERT_TRUE(host::pollUntil(poll, [&] { return offA() && offRadio(); }, 12s))
        << "transceiver told " << bool(offA()) << ", radio told " << bool(offRadio());
    const auto ended = steady::now();
    std::printf("%s, %s: the transceiver's ptt off after %.3f s, the radio's after %.3f s\n", keyerName[size_t(k)],
                endingName[size_t(e)], seconds(*offA() - change).count(), seconds(*offRadio() - change).count());
    if (!natural) {
        EXPECT_LT(seconds(*offA() - change).count(), boundA.count() * buildSlowdown) << "the transceiver's ptt";
    }
    EXPECT_LT(seconds(*offRadio() - change).count(), boundRadio.count() * buildSlowdown) << "the radio's ptt";
    if (radioStaysKeyed) { // the transmitter carries B's signal (told when it changes), not A's
        auto level = [&] {
            auto all = heardAfter("dB", beforeKey);
            return all.empty() ? 0.0 : all.back().value;
        };
        // C measures what it receives: on a loaded machine under a sanitizer
        // its reports may not have begun a second after the change.
        EXPECT_TRUE(host::pollUntil(poll, [&] { return std::abs(level() + 10.0) < 1.0; }, 10s))
            << level() << " dB (0: nothing heard)";
    }

    // Later: nothing keys by itself, and the host told each ptt once.
    host::pollFor(poll, 600ms);
    // The host's own unkey comes back at most once: after a key it was told
    // of, which may reach it after its call.
    if (hostUnkeyedA)
        EXPECT_LE(count("A", 0, change), 1u) << "the transceiver's ptt false, told";
    else
        EXPECT_EQ(count("A", 0, change), 1u) << "the transceiver's ptt false, told";
    EXPECT_EQ(count("A", 1, ended), 0u) << "keyed again by itself";
    if (!radioStaysKeyed) {
        EXPECT_EQ(count("radio", 0, change), hostUnkeyedRadio ? 0u : 1u) << "the radio's ptt false, told";
        EXPECT_EQ(count("radio", 1, ended), 0u) << "the radio keyed again by itself";
    }

    // The host keys the transceiver again, where it still can: nothing of the
    // ended transmission follows (no character, no tone of the message, no
    // sample of the peer).
    const bool modeStays = e != ending::modeDetached && e != ending::modeReplaced;
    if (k == keyer::host || k == keyer::vox || k == keyer::cwHand || !A || !radio || !modeStays ||
        e == ending::transceiverRemoved)
        return;
    if (e == ending::radioCannotTransmit) Radio_setcanTransmit(radio, true);
    if (e == ending::radioStopped || e == ending::radioSilent) Radio_start(radio);
    if (e == ending::modeStops && k == keyer::jt) JTModDemod_setEnabled(modeOfA, true);
    if (radioStaysKeyed) {
        const auto t = steady::now();
        vtrx_setptt(B, false);
        ASSERT_TRUE(host::pollUntil(poll, [&] { return count("radio", 0, t) > 0; }));
    }
    host::pollFor(poll, 300ms);
    const size_t sent = count("sent", 1, beforeKey);
    const auto rekeyed = steady::now();
    vtrx_setptt(A, true);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return count("radio", 1, rekeyed) > 0; }));
    host::pollFor(poll, 800ms);
    EXPECT_EQ(count("sent", 1, beforeKey), sent) << "characters of the ended text went out";
    if (k == keyer::jt || k == keyer::multipsk) {
        EXPECT_LT(loudest(rekeyed + 100ms), -40.0) << "the ended message or samples went out";
    }
    vtrx_setptt(A, false);
}

INSTANTIATE_TEST_SUITE_P(EveryKeyerEveryEnding, Keying, ::testing::ValuesIn(everyRow()), rowName);

// Keys that cannot be carried out are refused and told back at once, and the
// radio never says it is keyed: on a radio that cannot transmit or is
// stopped, also when it can again right after the key (which reaches the
// radio only after that), and right after the host let go of the radio, the
// key racing the release.
TEST_F(KeyingRig, ARefusedKeyIsToldBack) {
    struct Case {
        const char* name;
        void (*refuse)(KeyingRig&); // then A is keyed by the host, or the radio
        bool radioKeyedByHost;
        int runs;
        void (*then)(KeyingRig&) = nullptr; // right after the key
    };
    const Case cases[] = {
        {"a radio that cannot transmit", [](KeyingRig& t) { Radio_setcanTransmit(t.radio, false); }, false, 1},
        {"the radio's own ptt on a radio that cannot transmit",
         [](KeyingRig& t) { Radio_setcanTransmit(t.radio, false); }, true, 1},
        {"a stopped radio",
         [](KeyingRig& t) {
             Radio_stop(t.radio);
             host::pollFor(poll, 300ms);
         },
         false, 1},
        {"a radio the host let go of", [](KeyingRig& t) { Radio_release(std::exchange(t.radio, nullptr)); }, false,
         40},
        {"a radio that cannot transmit, able again at once", [](KeyingRig& t) { Radio_setcanTransmit(t.radio, false); },
         false, 3, [](KeyingRig& t) { Radio_setcanTransmit(t.radio, true); }},
        {"a stopped radio, started at once",
         [](KeyingRig& t) {
             Radio_stop(t.radio);
             host::pollFor(poll, 300ms);
         },
         false, 3, [](KeyingRig& t) { Radio_start(t.radio); }},
    };
    bool fresh = true;
    for (const Case& c : cases) {
        for (int run = 0; run < c.runs; ++run) {
            SCOPED_TRACE(std::string(c.name) + ", run " + std::to_string(run));
            if (!std::exchange(fresh, false)) freshRig();
            c.refuse(*this);
            const auto t = steady::now();
            if (c.radioKeyedByHost)
                Radio_setptt(radio, true);
            else
                vtrx_setptt(A, true);
            if (c.then) c.then(*this);
            const std::string who = c.radioKeyedByHost ? "radio" : "A";
            ASSERT_TRUE(host::pollUntil(poll, [&] { return count(who, 0, t) > 0; }, 2s)) << "not told back";
            EXPECT_LT(seconds(*firstHeard(who, 0, t) - t).count(), 0.5 * buildSlowdown);
            host::pollFor(poll, 100ms);
            EXPECT_EQ(count("radio", 1, t), 0u) << "the radio keyed";
        }
    }
}

// Every ending, applied to a transmission the host keyed or to one in its
// tail (PSK's text ran to its end mark: two seconds of tail), and followed at
// once by the host's unkey and key of A, as a host does that does not wait
// to hear the off; after the radio's endings (its unkey, canTransmit false
// and true again, its stop and start) also the key alone, as a host does
// that holds its key down. The key made last stands: A keyed and on the air, the
// radio keyed, the host's last word on either never "off" while A
// transmits; nothing of the text goes out again. Where the ending takes
// the transmitter away for good (A removed, the radio let go of), the new
// key is refused and told back, and the radio is never keyed again.
struct RekeyRow {
    ending e;
    bool inTail;
    bool unkeyFirst = true;
};
class Rekeying : public KeyingRig, public ::testing::WithParamInterface<RekeyRow> {};

std::vector<RekeyRow> rekeyRows() {
    std::vector<RekeyRow> rows;
    for (bool inTail : {false, true})
        for (ending e : {ending::natural, ending::transceiverUnkeyed, ending::radioUnkeyed,
                         ending::radioCannotTransmit, ending::modeDetached, ending::modeReplaced, ending::radioStopped,
                         ending::transmitterTaken, ending::transceiverRemoved, ending::radioReleased,
                         ending::radioReleasedGenerically})
            if (inTail || e != ending::natural) rows.push_back({e, inTail});
    for (bool inTail : {false, true})
        for (ending e : {ending::radioUnkeyed, ending::radioCannotTransmit, ending::radioStopped})
            rows.push_back({e, inTail, false});
    return rows;
}

TEST_P(Rekeying, TheKeyMadeLastStands) {
    const auto [e, inTail, unkeyFirst] = GetParam();
    const bool refused =
        e == ending::transceiverRemoved || e == ending::radioReleased || e == ending::radioReleasedGenerically;
    const bool silent = e == ending::modeDetached || e == ending::modeReplaced; // nothing A sends can be heard
    // The races the serials settle are narrow: each row runs a few times.
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        if (run > 0) freshRig();
        const auto beforeKey = steady::now();
        if (inTail) {
            hostKeysText<PskModDemod_create, PskModDemod_release, PskModDemod_bindsentChars,
                         PskModDemod_QueueText>("R~");
            ASSERT_TRUE(host::pollUntil(poll, [&] { return count("A", 0, beforeKey) > 0; }, 8s)) << "no tail";
        } else {
            key(keyer::host, false);
        }
        ASSERT_TRUE(host::pollUntil(poll, [&] { return count("radio", 1, beforeKey) > 0; }, 6s)) << "not keyed";
        const size_t sent = count("sent", 1, beforeKey);
        if (e != ending::natural) end(keyer::host, e);
        if (e == ending::radioCannotTransmit) Radio_setcanTransmit(radio, true);
        if (e == ending::radioStopped) Radio_start(radio);
        if (unkeyFirst) setA(false);
        const auto rekeyed = steady::now();
        setA(true);
        host::pollFor(poll, 1500ms);

        const auto lastA = lastHeard("A", rekeyed), lastRadio = lastHeard("radio", beforeKey);
        if (refused) {
            EXPECT_EQ(lastA, std::optional(0.0)) << "a refused key not told back";
            EXPECT_EQ(count("radio", 1, rekeyed), 0u) << "the radio keyed again";
            continue;
        }
        EXPECT_NE(lastA, std::optional(0.0)) << "the host told A is off while it transmits";
        EXPECT_EQ(lastRadio, std::optional(1.0)) << "the radio not keyed at the end";
        if (e == ending::transmitterTaken) {
            EXPECT_EQ(lastHeard("B", beforeKey), std::optional(0.0)) << "B kept it";
        }
        if (!silent) {
            // C's reports may not have begun yet on a loaded machine under a
            // sanitizer: the wait ends as soon as what it measures is A's.
            EXPECT_TRUE(host::pollUntil(poll, [&] { return level() > -6.0; }, 10s))
                << "A's signal not on the air (B's is -10 dB): " << level() << " dB (-1e300: nothing heard)";
        }
        EXPECT_EQ(count("sent", 1, beforeKey), sent) << "the ended text went out again";
        // Still keyed a while on: nothing stale ends it later.
        const auto settled = steady::now();
        host::pollFor(poll, 300ms);
        EXPECT_EQ(count("A", 0, settled) + count("radio", 0, settled), 0u) << "ended later";
        expectTheHostsWordHolds();
        std::printf("%s%s, run %d: A keyed again, the radio keyed, %.1f dB\n", endingName[size_t(e)],
                    inTail ? " in the tail" : "", run, level());
        vtrx_setptt(A, false);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryEndingThenAKeyAtOnce, Rekeying, ::testing::ValuesIn(rekeyRows()),
                         [](const ::testing::TestParamInfo<RekeyRow>& p) {
                             return std::string(endingName[size_t(p.param.e)]) + (p.param.inTail ? "_InTail" : "") +
                                    (p.param.unkeyFirst ? "" : "_KeyAlone");
                         });

// Two keyers on one transmission: the host keys with the voice switch on
// (the microphone silent, so the switch's hold runs out at once), or a CW
// text keys while the switch is on, or over what the switch keyed on
// speech that then stops. The switch's hold ends only what the switch
// keyed: the host's key stands a second on, and the text goes out whole.
TEST_F(KeyingRig, TheVoiceSwitchEndsOnlyWhatItKeyed) {
    enum { host, cwText, cwTextOverTheSwitch };
    for (int k : {host, cwText, cwTextOverTheSwitch}) {
        const bool cwText = k != host;
        SCOPED_TRACE(k == host ? "the host" : k == cwText ? "a CW text" : "a CW text over the switch's key");
        if (k != host) freshRig();
        sigGenModDemod_setampl1(attachA(sigGenModDemod_create, sigGenModDemod_release), 0.30);
        vtrx_setVoxThreshold(A, 0.5);
        vtrx_setVoxHold(A, 0.2);
        vtrx_setforegroundDisplay(A, true);
        vtrx_setuseVox(A, true);
        sync(A);
        const auto t = steady::now();
        const std::string text = "cq cq de test test k"; // 20 and the end mark
        if (cwText) {
            void* cw = attachA(cwModDemod_create, cwModDemod_release);
            cwModDemod_setwpm(cw, 40);
            cwModDemod_bindsentChars(cw, hearText<"sent">);
            if (k == cwTextOverTheSwitch) {
                // Speech keys first; it stops as the text is queued, and
                // the switch's hold runs out while the text goes out.
                speech(A, true);
                ASSERT_TRUE(host::pollUntil(poll, [&] { return count("A", 1, t) > 0; })) << "speech never keyed";
                cwModDemod_QueueText(cw, (text + "\n").c_str(), 0);
                speech(A, false);
            } else {
                cwModDemod_QueueText(cw, (text + "\n").c_str(), 0);
            }
        } else {
            vtrx_setptt(A, true);
        }
        ASSERT_TRUE(host::pollUntil(poll, [&] { return count("radio", 1, t) > 0; }));
        if (cwText) {
            ASSERT_TRUE(host::pollUntil(poll, [&] { return count("A", 0, t) > 0; }, 15s));
            EXPECT_EQ(count("sent", 1, t), text.size() + 1) << "the switch cut the text";
        } else {
            host::pollFor(poll, 1s);
            EXPECT_EQ(count("A", 0, t), 0u) << "the switch ended the host's key";
            EXPECT_EQ(count("radio", 0, t), 0u);
        }
    }
}

// A text that ends with its mark, followed by a second one: the host unkeys
// in the first. Its tail takes nothing of the second text, which waits for
// the next key and then goes out whole.
TEST_F(KeyingRig, ATailTakesNothingOfTheNextText) {
    bool fresh = true;
    for (const textModeApi& m : {textModes[1], textModes[2], textModes[3]}) {
        SCOPED_TRACE(m.name);
        if (!std::exchange(fresh, false)) freshRig();
        void* mode = attach(A, m.create(), m.release);
        {
            std::lock_guard<std::mutex> l(heardLock);
            heard.clear();
        }
        std::string sentText;
        static std::string* into;
        into = &sentText;
        m.bindSent(mode, [](const char* c) {
            *into += c;
            hear<"sent">(1);
        });
        m.queue(mode, "RYRYRYRYRYRYRYRYRYRYRYRYRYRYRYRYRY~ABCDEFGH~", 0);
        const auto t = steady::now();
        vtrx_setptt(A, true);
        ASSERT_TRUE(host::pollUntil(poll, [&] { return count("sent", 1, t) >= 2; }, 10s));
        vtrx_setptt(A, false);
        ASSERT_TRUE(host::pollUntil(poll, [&] { return count("radio", 0, t) > 0; }, 5s)) << "the tail never ended";
        host::pollFor(poll, 300ms);
        EXPECT_EQ(sentText.find('A'), std::string::npos) << "the tail took the next text: " << sentText;
        const size_t before = sentText.size();
        const auto rekeyed = steady::now();
        vtrx_setptt(A, true);
        ASSERT_TRUE(host::pollUntil(poll, [&] { return count("A", 0, rekeyed) > 0; }, 20s)) << sentText;
        EXPECT_EQ(sentText.substr(before), "ABCDEFGH~");
        into = nullptr;
    }
}

// A JT message waiting for its period when the host lets go of its
// transceiver (its own release, or the generic one): the message is dropped
// with the key, and the period comes and goes with the radio unkeyed. The
// let-go drops only what the host queued before it: with the mode moved to
// B right after the release (A busy with two filter sets, as a panel
// closing it), a message queued after both goes out on B, and one queued
// before the release still goes with A. Each moved row sits beside its
// controls: the calls seen through (an echo and 300 ms) one by one, and the
// move made before the release.
TEST_F(KeyingRig, APendingKeyGoesWithTheTransceiver) {
    enum class then { nothing, movedToB, movedFirst };
    struct Case {
        const char* name;
        bool generic;
        then after;
        bool queuedLast; // the message queued after the release and the move
        bool control;
    };
    const Case cases[] = {
        {"vtrx_release", false, then::nothing, false, false},
        {"asyncObject_release", true, then::nothing, false, false},
        {"vtrx_release, moved to B, then the message", false, then::movedToB, true, false},
        {"vtrx_release, moved to B, then the message, control", false, then::movedToB, true, true},
        {"moved to B, then vtrx_release and the message", false, then::movedFirst, true, false},
        {"asyncObject_release, moved to B, then the message", true, then::movedToB, true, false},
        {"the message, vtrx_release, moved to B", false, then::movedToB, false, false},
    };
    bool first = true;
    for (const Case& c : cases) {
        for (int run = 0; run < (c.after == then::nothing || c.control ? 1 : 2); ++run) {
            SCOPED_TRACE(std::string(c.name) + ", run " + std::to_string(run));
            if (!std::exchange(first, false)) freshRig();
            void* jt = attachA(JTModDemod_create, JTModDemod_release);
            looprig::shortJtPeriods(jt, files);
            sync(jt);
            auto settle = [&](void* o) {
                if (!c.control) return;
                sync(o);
                host::pollFor(poll, 300ms);
            };
            const long long ms = std::chrono::system_clock::now().time_since_epoch() / 1ms;
            long long start = 0;
            if (!c.queuedLast) {
                start = looprig::queueJtMessage(jt, 1500ms);
                sync(jt);
            }
            const auto t = steady::now();
            void* a = std::exchange(A, nullptr);
            if (c.after != then::nothing) {
                vtrx_setRxFilter(a, -2800, 2800);
                vtrx_setRxFilter(a, -3000, 3000);
            }
            if (c.after == then::movedFirst) vtrx_setModulation(B, jt);
            settle(a);
            c.generic ? asyncObject_release(a) : vtrx_release(a);
            settle(B);
            if (c.after == then::movedToB) vtrx_setModulation(B, jt);
            settle(B);
            if (c.queuedLast) start = looprig::queueJtMessage(jt, 1500ms);
            host::pollFor(poll, std::chrono::milliseconds(start - ms) + 1500ms);
            if (c.queuedLast) {
                EXPECT_GT(count("B", 1, t), 0u) << "the message queued after the let-go never keyed B";
                EXPECT_GT(count("radio", 1, t), 0u) << "the message never went on the air";
            } else {
                EXPECT_EQ(count("radio", 1, t), 0u) << "the message keyed a transceiver the host let go of";
            }
            if (c.after != then::nothing) {
                vtrx_setModulation(B, nullptr);
                sync(B);
            }
        }
    }
}

// The host keys over a transmission another keyer made (the voice switch, a
// CW text, a MultiPSK peer's over, a JT message): before that keyer's own
// end, at once after it, or once it has run out; either its key alone, or
// its unkey and key back to back as a double click does. The key the host
// made last stands: that keyer's own end (the switch's hold, CW's hang time,
// the peer's SwitchRX or silence, JT's Enabled false) never ends it. Only
// the end mark of a text the host keyed does: a host key over a CW text ends
// with it. Either way the host's last word on A and on the radio is what the
// library holds. A JT message that Enabled false stopped stays silent once
// the mode is enabled again, under the host's key too.
enum class when { beforeItsEnd, atItsEnd, afterItsEnd };
constexpr const char* whenName[] = {"BeforeItsEnd", "AtItsEnd", "AfterItsEnd"};
struct OverRow {
    keyer k;
    bool unkeyFirst;
    when w;
};
class HostKeysOver : public KeyingRig, public ::testing::WithParamInterface<OverRow> {
public:
    /// The keyer's own end, as keyer::natural or the mode's stop makes it.
    void itsEnd(keyer k) {
        switch (k) {
        case keyer::vox: vtrx_setVoxThreshold(A, 0.4); break; // the speech stops
        case keyer::multipsk: peer.sendBody("SwitchRX"); break;
        case keyer::jt: JTModDemod_setEnabled(modeOfA, false); break;
        default: break; // a text's end comes by itself
        }
    }
};

std::vector<OverRow> overRows() {
    std::vector<OverRow> rows;
    for (keyer k : {keyer::vox, keyer::cw, keyer::multipsk, keyer::jt})
        for (when w : {when::beforeItsEnd, when::atItsEnd, when::afterItsEnd})
            for (bool unkeyFirst : {false, true}) {
                if (w == when::atItsEnd && k == keyer::cw) continue; // no end to make at will
                if (w == when::afterItsEnd && unkeyFirst) continue;   // nothing left to unkey
                rows.push_back({k, unkeyFirst, w});
            }
    return rows;
}

TEST_P(HostKeysOver, TheHostsKeyStandsAndItsWordIsTheLibrarys) {
    const auto [k, unkeyFirst, w] = GetParam();
    // A host key over a text ends with its end mark.
    const bool endsWithIt = !unkeyFirst && w == when::beforeItsEnd && k == keyer::cw;
    const auto beforeKey = steady::now();
    key(k, false);
    if (HasFatalFailure()) return;
    ASSERT_TRUE(host::pollUntil(poll, [&] { return count("A", 1, beforeKey) > 0 && count("radio", 1, beforeKey) > 0; },
                                6s))
        << "not keyed";
    if (w == when::atItsEnd) itsEnd(k);
    if (w == when::afterItsEnd) {
        itsEnd(k);
        ASSERT_TRUE(host::pollUntil(poll, [&] { return count("A", 0, beforeKey) > 0; }, 15s)) << "no end of its own";
    }
    if (unkeyFirst) setA(false);
    const auto keyed = steady::now();
    setA(true);
    if (w == when::beforeItsEnd) itsEnd(k);
    // A JT message stopped by Enabled false never resumes, not even under
    // the host's key once the mode is enabled again: it belongs to its
    // period.
    std::optional<steady::time_point> enabledAgain;
    if (k == keyer::jt && w != when::afterItsEnd) {
        host::pollFor(poll, 300ms);
        JTModDemod_setEnabled(modeOfA, true);
        enabledAgain = steady::now();
    }

    if (endsWithIt) {
        ASSERT_TRUE(host::pollUntil(poll, [&] { return count("A", 0, keyed) > 0; }, 15s)) << "its end never came";
        expectTheHostsWordHolds();
        EXPECT_FALSE(holds(A));
        return;
    }
    // Well past a switch's hold (0.2 s), CW's hang time and a peer's silence.
    host::pollFor(poll, 1500ms);
    EXPECT_TRUE(holds(A)) << "the host's key was ended";
    EXPECT_TRUE(holds(radio)) << "the radio went off the air";
    EXPECT_EQ(count("A", 0, keyed), 0u) << "the host was told A is off";
    expectTheHostsWordHolds();
    if (unkeyFirst && k != keyer::vox) { // the unkey ended the text, the over or the message
        EXPECT_LT(loudest(keyed + 300ms), -40.0) << "what the unkey ended went out in the host's key";
    }
    if (enabledAgain) {
        EXPECT_LT(loudest(*enabledAgain + 100ms), -40.0) << "the stopped message went on the air";
    }

    // The host unkeys all: nothing stays keyed.
    setA(false);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return !holds(A) && !holds(radio); }, 5s)) << "still keyed";
    expectTheHostsWordHolds();
}

INSTANTIATE_TEST_SUITE_P(EveryOtherKeyer, HostKeysOver, ::testing::ValuesIn(overRows()),
                         [](const ::testing::TestParamInfo<OverRow>& p) {
                             return std::string(keyerName[size_t(p.param.k)]) + "_" + whenName[size_t(p.param.w)] +
                                    (p.param.unkeyFirst ? "_UnkeyAndKey" : "_Key");
                         });

// The host's own key of the radio holds it on the air while a transceiver's
// transmission comes and goes (the radio keyed before A or after it; A
// unkeyed, removed, or B keying and unkeying after it), sending silence once
// none keys it; the host's unkey then takes it off the air. And the host's
// unkey of the radio, made 10 ms after its key of A with no poll between:
// its last word, "off", is what the radio holds.
TEST_F(KeyingRig, TheHostsKeyOfTheRadioHoldsIt) {
    enum class goes { unkeyed, removed, takenAndGiven };
    const char* goesName[] = {"A unkeyed", "A removed", "B takes the transmitter and gives it up"};
    bool fresh = true;
    for (bool radioFirst : {true, false})
        for (goes g : {goes::unkeyed, goes::removed, goes::takenAndGiven}) {
            SCOPED_TRACE(std::string(radioFirst ? "the radio keyed first, " : "A keyed first, ") +
                         goesName[size_t(g)]);
            if (!std::exchange(fresh, false)) freshRig();
            sigGenModDemod_setampl1(attachA(sigGenModDemod_create, sigGenModDemod_release), 0.30);
            const auto t = steady::now();
            if (radioFirst) setRadio(true);
            setA(true);
            if (!radioFirst) setRadio(true);
            ASSERT_TRUE(host::pollUntil(poll, [&] { return level() > -6.0; }, 10s)) << "A not on the air";
            const auto gone = steady::now();
            switch (g) {
            case goes::unkeyed: setA(false); break;
            case goes::removed: vtrx_remove(A); break;
            case goes::takenAndGiven:
                vtrx_setptt(B, true);
                ASSERT_TRUE(host::pollUntil(poll, [&] { return count("A", 0, gone) > 0; }));
                vtrx_setptt(B, false);
                break;
            }
            ASSERT_TRUE(host::pollUntil(poll, [&] { return level() < -40.0; }, 5s)) << "still sending " << level();
            EXPECT_TRUE(holds(radio)) << "off the air while the host's key stands";
            EXPECT_EQ(count("radio", 0, t), 0u) << "the host told the radio is off";
            if (g != goes::removed) expectTheHostsWordHolds();
            setRadio(false);
            ASSERT_TRUE(host::pollUntil(poll, [&] { return !holds(radio); }));
            if (g != goes::removed) expectTheHostsWordHolds();
        }

    freshRig();
    for (int run = 0; run < 5; ++run) {
        SCOPED_TRACE("the radio unkeyed 10 ms after A's key, run " + std::to_string(run));
        const auto t = steady::now();
        setA(true);
        std::this_thread::sleep_for(10ms);
        setRadio(false);
        host::pollFor(poll, 300ms);
        EXPECT_FALSE(holds(radio));
        expectTheHostsWordHolds();
        setA(false);
        ASSERT_TRUE(host::pollUntil(poll, [&] { return !holds(A) && count("radio", 1, t) <= 1; }));
        host::pollFor(poll, 300ms);
    }
}

// A macro button: a text given right after an ending of what went before,
// back to back with no poll between. The mode made and attached, detached
// while idle and attached again, or moving from another mode; after a text
// of its own went out whole, detached, A keyed by the host with no mode,
// and the mode attached again (it joins the host's transmission); moved from A
// to B (A's panel sets its filter twice, detaches, and B attaches), or
// attached to B while still on A, A then given another mode; or, while the
// last text still goes out, the mode detached and attached again, the
// radio stopped and started, unable to transmit and able again, B keyed
// and unkeyed round the text (taking the transmitter), or A removed and a
// new transceiver added, which the mode then moves to (CW keys for its
// text; the other modes wait for the host's key, made last). The ending
// takes the old text and nothing of the new one, which goes out whole,
// every time, on the transceiver that has the mode last, and its end mark
// ends that transceiver's key. Each row sits beside its control: the
// ending seen through (an echo from the transceivers and the radio, and
// 300 ms) before the last call.
enum class macroAfter {
    newMode, idleReattach, otherMode, keyedBare, movedToB, takenOverByB,
    reattach, stopAndStart, cannotAndCan, transmitterTaken, removedAndAdded,
};
constexpr const char* macroAfterName[] = {
    "NewMode", "DetachedIdle", "AfterAnotherMode", "AttachedToTheHostsKey", "MovedToB", "TakenOverByB",
    "DetachedAndAttachedInAText", "StoppedAndStartedInAText", "CannotAndCanTransmitInAText",
    "TransmitterTakenInAText", "RemovedAndAddedInAText"};
struct MacroRow {
    textModeApi mode;
    macroAfter after;
    bool control;
    bool radioHeldUp = false; // its task group, as the ending comes: past the last element and the hang time
    bool senderHeldUp = false; // A's task group, as its removal comes: the mode's move gets there first
};
void PrintTo(const MacroRow& r, std::ostream* os) {
    *os << r.mode.name << ", " << macroAfterName[size_t(r.after)] << (r.control ? ", control" : "")
        << (r.radioHeldUp ? ", the radio held up" : "") << (r.senderHeldUp ? ", A held up" : "");
}
class TextAfterAnEnding : public KeyingRig, public ::testing::WithParamInterface<MacroRow> {};

/// Whether what the host heard after queuing goes out as the text whole: a
/// character taken but not yet heard as the host queued it goes out first,
/// and the host's resend (from the count it heard) then starts one in.
bool sentWhole(const std::string& heard, const std::string& text) {
    return heard.size() == text.size() && (heard == text || heard.substr(1) == text.substr(1));
}

/// The address of the object a handle holds, as a host names a transceiver
/// to its radio.
void* objectAddress(void* handle) { return static_cast<objectHandle*>(handle)->get(); }

TEST_P(TextAfterAnEnding, GoesOutWholeEveryTime) {
    const auto& [api, after, control, radioHeldUp, senderHeldUp] = GetParam();
    const bool cw = std::string(api.name) == "CW";
    const bool inAText = after >= macroAfter::reattach;
    // RTTY's text as a panel sends it; the slower modes' shorter.
    const std::string name = api.name;
    const std::string oldText = cw ? "test k\n" : name == "RTTY" ? "RYRYRYRY~" : name == "PSK" ? "RYRY~" : "RY~";
    const std::string newText = cw ? "abcdef\n" : name == "RTTY" ? "ABCD~" : "AB~";
    const size_t cutAt = oldText.size() - 1; // as its last character before the mark is heard
    const int runs = after < macroAfter::movedToB ? 4 : control ? 1 : 2;
    for (int run = 0; run < runs; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        if (run > 0) freshRig();
        static std::string sentText;
        sentText.clear();
        void* mode = keep(api.create(), api.release);
        api.bindSent(mode, [](const char* c) { sentText += c; });
        if (cw) cwModDemod_setwpm(mode, inAText ? 40 : 60);
        auto settle = [&] {
            if (!control) return;
            for (void* o : {A, B, radio}) sync(o);
            host::pollFor(poll, 300ms);
        };
        void* sender = A; // the transceiver the mode has last
        void* added = nullptr;
        steady::time_point taken;
        switch (after) {
        case macroAfter::newMode: break;
        case macroAfter::idleReattach:
            vtrx_setModulation(A, mode);
            sync(A);
            vtrx_setModulation(A, nullptr);
            break;
        case macroAfter::otherMode: attachA(sigGenModDemod_create, sigGenModDemod_release); break;
        case macroAfter::keyedBare:
            vtrx_setModulation(A, mode);
            api.queue(mode, oldText.c_str(), 0);
            if (!cw) vtrx_setptt(A, true);
            ASSERT_TRUE(host::pollUntil(poll, [&] { return sentText == oldText && !holds(A); }, 15s)) << sentText;
            vtrx_setModulation(A, nullptr);
            vtrx_setptt(A, true);
            break;
        case macroAfter::movedToB:
            vtrx_setModulation(A, mode);
            sync(A);
            break;
        case macroAfter::takenOverByB:
            vtrx_setModulation(A, mode);
            sync(A);
            if (control) vtrx_setModulation(A, nullptr);
            vtrx_setModulation(B, mode);
            sync(A);
            sync(B);
            break;
        default:
            vtrx_setModulation(A, mode);
            api.queue(mode, oldText.c_str(), 0);
            if (!cw) vtrx_setptt(A, true);
            ASSERT_TRUE(host::pollUntil(poll, [&] { return sentText.size() >= cutAt; }, 10s)) << sentText;
            break;
        }
        const size_t heard = sentText.size();
        if (radioHeldUp) holdUpTheRadio(900ms);
        switch (after) {
        case macroAfter::stopAndStart:
            Radio_stop(radio);
            Radio_start(radio);
            break;
        case macroAfter::cannotAndCan:
            Radio_setcanTransmit(radio, false);
            Radio_setcanTransmit(radio, true);
            break;
        case macroAfter::transmitterTaken:
            taken = steady::now();
            vtrx_setptt(B, true);
            break;
        case macroAfter::removedAndAdded:
            if (senderHeldUp) {
                seqTask hold;
                hold.fn = [] { std::this_thread::sleep_for(900ms); };
                hold.name = "test.transceiverHeldUp";
                (*static_cast<objectHandle*>(A))->asyncProcess(hold);
            }
            Radio_removeVtrx(radio, objectAddress(A));
            Radio_addVtrx(radio, 14000000, 0, 0);
            break;
        case macroAfter::movedToB:
            vtrx_setRxFilter(A, -2800, 2800);
            vtrx_setRxFilter(A, -3000, 3000);
            vtrx_setModulation(A, nullptr);
            settle();
            vtrx_setModulation(B, mode);
            sender = B;
            break;
        case macroAfter::takenOverByB:
            vtrx_setModulation(A, keep(amModDemod_create(), amModDemod_release));
            sender = B;
            break;
        case macroAfter::reattach: vtrx_setModulation(A, nullptr); [[fallthrough]];
        default: vtrx_setModulation(A, mode); break;
        }
        // The last call is the text for CW, the key for the others; the
        // radio's carrying out of another's key or a removal comes before
        // the text as well.
        if (cw || after >= macroAfter::transmitterTaken) settle();
        api.queue(mode, newText.c_str(), int(heard));
        if (after == macroAfter::transmitterTaken) {
            // The host that waits to hear A told off before it hands the
            // transmitter back: the radio has carried out B's key by then.
            if (!cw) {
                ASSERT_TRUE(host::pollUntil(poll, [&] { return firstHeard("A", 0, taken).has_value(); }, 5s))
                    << "A not told off";
            }
            vtrx_setptt(B, false);
        }
        if (after == macroAfter::removedAndAdded) {
            settle();
            const auto all = host::Transceivers::await(poll, 4);
            ASSERT_EQ(all.size(), 4u) << "the new transceiver was not announced";
            added = sender = all[3];
            vtrx_start(added);
            vtrx_setModulation(added, mode);
        }
        if (!cw) {
            settle();
            vtrx_setptt(sender, true);
        }
        EXPECT_TRUE(host::pollUntil(poll, [&] { return sentWhole(sentText.substr(heard), newText); }, 12s))
            << "sent " << sentText << " (" << heard << " heard before the ending)";
        ASSERT_TRUE(host::pollUntil(poll, [&] { return !holds(sender); }, 5s)) << "its end mark never ended it";
        vtrx_setModulation(sender, nullptr);
        sync(sender);
        if (added) vtrx_release(added);
    }
}

std::vector<MacroRow> macroRows() {
    const textModeApi cw = textModes[0], rtty = textModes[1], psk = textModes[2], hell = textModes[3];
    std::vector<MacroRow> rows = {{cw, macroAfter::newMode, false},
                                  {cw, macroAfter::idleReattach, false},
                                  {cw, macroAfter::otherMode, false},
                                  {cw, macroAfter::keyedBare, false},
                                  {rtty, macroAfter::keyedBare, false}};
    for (bool control : {false, true}) {
        for (macroAfter a : {macroAfter::reattach, macroAfter::stopAndStart, macroAfter::cannotAndCan})
            rows.push_back({cw, a, control});
        for (const textModeApi& m : {rtty, psk, hell}) rows.push_back({m, macroAfter::reattach, control});
        for (const textModeApi& m : {cw, psk}) {
            rows.push_back({m, macroAfter::transmitterTaken, control});
            rows.push_back({m, macroAfter::movedToB, control});
            rows.push_back({m, macroAfter::takenOverByB, control});
        }
        // CW's own key for its text on a removed transceiver is refused: the
        // text goes with it. The host's key waits for the move.
        for (const textModeApi& m : {rtty, psk}) rows.push_back({m, macroAfter::removedAndAdded, control});
    }
    // CW's keyer waits for the ending with the new text held back: no
    // silence for its hang time to end the key made after the ending.
    for (macroAfter a : {macroAfter::stopAndStart, macroAfter::cannotAndCan}) rows.push_back({cw, a, false, true});
    // The removal's ending reaches A after the move's, made after the text:
    // the text queued between the two goes out on the new transceiver.
    for (const textModeApi& m : {rtty, psk}) rows.push_back({m, macroAfter::removedAndAdded, false, false, true});
    return rows;
}

INSTANTIATE_TEST_SUITE_P(AMacro, TextAfterAnEnding, ::testing::ValuesIn(macroRows()),
                         [](const ::testing::TestParamInfo<MacroRow>& p) {
                             return std::string(p.param.mode.name) + "_" + macroAfterName[size_t(p.param.after)] +
                                    (p.param.control ? "_Control" : "") + (p.param.radioHeldUp ? "_RadioHeldUp" : "") +
                                    (p.param.senderHeldUp ? "_SenderHeldUp" : "");
                         });

// The key the host made last holds the transmitter, whoever carries it
// out first: a CW text's key is as old as the text. A has CW at 40 wpm; its
// text, then at once B's key (B's signal generator), or B's own CW text (A
// busy with two filter sets, so that B's text reaches its transceiver
// first). B holds the transmitter; A's text ends and never goes out whole,
// not even once B lets the transmitter go; B's text goes out whole and its
// end mark ends B's key. Or B keyed first and on the air, then A's text and
// at once A's ending (the host's unkey of A, its mode detached, replaced or
// moved to C): the text's key took the transmitter from B before the
// ending ended it, whichever reached its transceiver first, so B is told
// off and nothing is left on the air. Or the mode moved to C, which takes a
// mode of its own back at once, with the modes, C and A held up in turn, so
// that the text's key waits for a move that leaves the mode on none: the
// key ends B's transmission all the same and its text goes with it, so the
// host's key of A, made next with the mode given back, stands. Each row
// beside its control: the text seen through (an echo and 300 ms) before the
// next call.
enum class after { bsKey, bsText, aUnkeyed, aDetached, aReplaced, aMoved, aMovedAndLeft };
constexpr const char* afterName[] = {"BsKey",     "BsText", "AUnkeyed",     "ADetached",
                                     "AReplaced", "AMoved", "AMovedAndLeft"};
struct LastKeyRow {
    after then;
    bool busyA;
    bool control;
};
void PrintTo(const LastKeyRow& r, std::ostream* os) {
    *os << afterName[size_t(r.then)] << (r.busyA ? ", A busy" : "") << (r.control ? ", control" : "");
}
class TheKeyMadeLast : public KeyingRig, public ::testing::WithParamInterface<LastKeyRow> {};

TEST_P(TheKeyMadeLast, HoldsTheTransmitter) {
    const auto [then, busyA, control] = GetParam();
    const bool textOnB = then == after::bsText;
    const bool endsA = then != after::bsKey && !textOnB;
    static std::string sentA, sentB;
    for (int run = 0; run < (control ? 1 : 3); ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        if (run > 0) freshRig();
        sentA.clear();
        sentB.clear();
        void* cwA = attachA(cwModDemod_create, cwModDemod_release);
        cwModDemod_setwpm(cwA, 40);
        cwModDemod_bindsentChars(cwA, [](const char* c) { sentA += c; });
        void* cwB = nullptr;
        if (textOnB) {
            cwB = attach(B, cwModDemod_create(), cwModDemod_release);
            cwModDemod_setwpm(cwB, 40);
            cwModDemod_bindsentChars(cwB, [](const char* c) { sentB += c; });
            sync(cwB);
        }
        sync(cwA);
        if (endsA) {
            vtrx_setptt(B, true);
            ASSERT_TRUE(host::pollUntil(poll, [&] { return holds(B) && holds(radio); }, 5s))
                << "B never went on the air";
        }
        if (busyA) {
            vtrx_setRxFilter(A, -2800, 2800);
            vtrx_setRxFilter(A, -3000, 3000);
        }
        if (then == after::aMovedAndLeft) {
            // The key waits for the move; C takes its own mode back before
            // A lets the mode go: the mode settles on none.
            holdUp(cwA, 300ms);
            holdUp(C, 600ms);
            holdUp(A, 900ms);
        }
        const auto beforeText = steady::now();
        cwModDemod_QueueText(cwA, "aaaa\n", 0);
        if (control) {
            for (void* o : {cwA, A, B, radio}) sync(o);
            host::pollFor(poll, 300ms);
        }
        const auto t = steady::now();
        switch (then) {
        case after::bsKey: vtrx_setptt(B, true); break;
        case after::bsText: cwModDemod_QueueText(cwB, "bbbb\n", 0); break;
        case after::aUnkeyed: vtrx_setptt(A, false); break;
        case after::aDetached: vtrx_setModulation(A, nullptr); break;
        case after::aReplaced: vtrx_setModulation(A, keep(RTTYModDemod_create(), RTTYModDemod_release)); break;
        case after::aMoved: vtrx_setModulation(C, cwA); break;
        case after::aMovedAndLeft:
            vtrx_setModulation(C, cwA);
            vtrx_setModulation(C, keep(ssbModDemod_create(), ssbModDemod_release));
            break;
        }
        if (textOnB) {
            EXPECT_TRUE(host::pollUntil(poll, [&] { return sentB == "bbbb\n"; }, 10s)) << "B sent " << sentB;
            EXPECT_TRUE(host::pollUntil(poll, [&] { return !holds(B); }, 5s)) << "its end mark never ended B's key";
        } else if (endsA) {
            // The text's key ended B's transmission, and its own ending it.
            auto silent = [&] { return !holds(A) && !holds(B) && !holds(radio); };
            EXPECT_TRUE(host::pollUntil(poll, [&] { return silent() && count("B", 0, beforeText) > 0; }, 5s))
                << "B " << (holds(B) ? "stays keyed" : "is off") << ", told off " << count("B", 0, beforeText)
                << " times; A " << holds(A) << ", the radio " << holds(radio);
            EXPECT_TRUE(host::pollHolds(poll, silent, 1000ms)) << "something went on the air again: A " << holds(A) << ", B " << holds(B)
                               << ", the radio " << holds(radio);
            if (then == after::aMovedAndLeft) {
                vtrx_setptt(A, true);
                vtrx_setModulation(A, cwA);
                auto keyed = [&] { return holds(A) && holds(radio); };
                ASSERT_TRUE(host::pollUntil(poll, keyed, 5s)) << "A never went on the air";
                EXPECT_TRUE(host::pollHolds(poll, keyed, 1500ms)) << "the host's key of A ended (A sent " << sentA << ")";
                vtrx_setptt(A, false);
            }
        } else {
            // B's key stands while A's text would have gone out whole.
            auto alone = [&] { return holds(B) && holds(radio) && !holds(A); };
            ASSERT_TRUE(host::pollUntil(poll, alone, 5s)) << "B never held the transmitter";
            EXPECT_TRUE(host::pollHolds(poll, alone, 1500ms)) << "B, keyed last, lost the transmitter to A's text (A sent " << sentA << ")";
            EXPECT_EQ(count("B", 0, t), 0u) << "B was told off";
            vtrx_setptt(B, false);
        }
        // What is left of A's text never goes out, whoever transmits next.
        host::pollFor(poll, 1500ms);
        EXPECT_NE(sentA, "aaaa\n") << "A's text went out whole after the later call";
        EXPECT_FALSE(holds(A)) << "A keyed at the end";
        if (cwB) {
            vtrx_setModulation(B, nullptr);
            sync(B);
        }
    }
}

std::string lastKeyRowName(const ::testing::TestParamInfo<LastKeyRow>& p) {
    return std::string(afterName[size_t(p.param.then)]) + (p.param.busyA ? "_ABusy" : "") +
           (p.param.control ? "_Control" : "");
}

INSTANTIATE_TEST_SUITE_P(ATextThenAnotherKey, TheKeyMadeLast,
                         ::testing::Values(LastKeyRow{after::bsKey, false, false},
                                           LastKeyRow{after::bsKey, false, true},
                                           LastKeyRow{after::bsKey, true, false}, LastKeyRow{after::bsKey, true, true},
                                           LastKeyRow{after::bsText, true, false},
                                           LastKeyRow{after::bsText, true, true}),
                         lastKeyRowName);

std::vector<LastKeyRow> endingRows() {
    std::vector<LastKeyRow> rows;
    for (after e : {after::aUnkeyed, after::aDetached, after::aReplaced, after::aMoved})
        for (auto [busy, control] : {std::pair{false, false}, std::pair{false, true}, std::pair{true, false}})
            rows.push_back({e, busy, control});
    for (bool control : {false, true}) rows.push_back({after::aMovedAndLeft, false, control});
    return rows;
}
INSTANTIATE_TEST_SUITE_P(ATextThenItsEnding, TheKeyMadeLast, ::testing::ValuesIn(endingRows()), lastKeyRowName);

} // namespace
