#include "core/keyingHistory.h"

#include "core/hostView.h"
#include "core/keyingModel.h"
#include "core/loopBackRig.h"
#include "support/waitFor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

namespace keyhist {

namespace {

using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;
using ms = std::chrono::milliseconds;

/// splitmix64: the same numbers from a seed on every platform and library.
class Dice {
public:
    explicit Dice(uint64_t seed) : s_(seed) {}
    uint64_t next() {
        uint64_t z = (s_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    int below(int n) { return int(next() % uint64_t(n)); }
    bool chance(int percent) { return below(100) < percent; }

private:
    uint64_t s_;
};

ms scaled(ms t) { return ms(int64_t(double(t.count()) * buildSlowdown)); }

/// A text mode and the characters the host heard it send.
struct TextMode {
    void* handle = nullptr;
    modeKind kind = modeKind::none;
    void (*queue)(void*, const char*, int) = nullptr;
    std::string sent;      // every character heard
    std::string sinceText; // heard since the text queued last
    std::string mark;      // the last characters of that text, end mark included
};

class History {
public:
    explicit History(uint64_t seed) : dice_(seed) { current_ = this; }
    ~History() {
        rig_.tearDown();
        current_ = nullptr;
    }

    bool setUp(std::string& why);
    /// Bursts until one breaks an invariant; the outcome says which.
    void run(int bursts, Outcome& out);

private:
    struct Action {
        const char* name;
        int weight;
        bool (*run)(History&); // false: not possible now, draw again
    };
    static const std::vector<Action> actions;

    // ---- the host's calls, told to the model and the history ----
    void log(const std::string& line);
    void keyTransceiver(int x, bool on);
    /// The host's double click: unkey and key at once.
    void reKey(int x) {
        keyTransceiver(x, false);
        keyTransceiver(x, true);
    }
    void keyRadio(bool on);
    void stop();
    void start();
    void canTransmit(bool on);
    void attach(void* mode, modeKind k, const char* name);
    void queueText(TextMode& t);
    void speech(bool on);
    void peerSamples(int blocks);
    void peerSends(const char* keyword);
    void setWpm(double v);
    void setFreq(double v);

    void burst();
    void unkeyAll();
    void gap();
    /// Settles, checks, and returns the broken invariant if any.
    std::optional<KeyingModel::verdict> settle(bool unkeyedAll);
    std::optional<KeyingModel::verdict> settledCheck(bool unkeyedAll);
    observed heardState() const;
    void noteTextEnds();

    template <int i>
    static void onSent(const char* c) {
        if (!current_) return;
        auto& t = current_->texts_[i];
        t.sent += c;
        t.sinceText += c;
    }

    Dice dice_;
    looprig::LoopBackRig rig_;
    HostView view_;
    KeyingModel model_;
    void* sigGenOfA_ = nullptr;
    void* multiPsk_ = nullptr;
    TextMode texts_[3]; // CW, PSK, RTTY
    int textsQueued_ = 0;
    std::vector<std::string> transcript_;
    steady::time_point burstStart_;
    steady::time_point lastPttHeard_;
    static History* current_;
};

History* History::current_ = nullptr;

// ---- set-up ----

bool History::setUp(std::string& why) {
    if (!rig_.build(2)) {
        why = "the radio did not announce its transceivers";
        return false;
    }
    void* A = rig_.A;
    multiPsk_ = rig_.attachPeer(A);
    if (!multiPsk_) {
        why = "the MultiPSK peer did not connect";
        return false;
    }
    sigGenOfA_ = rig_.attach(A, sigGenModDemod_create(), sigGenModDemod_release);
    sigGenModDemod_setampl1(sigGenOfA_, 0.30);
    sigGenModDemod_setampl1(rig_.attach(rig_.B, sigGenModDemod_create(), sigGenModDemod_release), 0.10);
    model_.attach(sigGenOfA_, modeKind::sigGen);

    auto textMode = [&](void* handle, void (*release)(void*), modeKind k, void (*queue)(void*, const char*, int)) {
        TextMode t;
        t.handle = rig_.keep(handle, release);
        t.kind = k;
        t.queue = queue;
        return t;
    };
    texts_[0] = textMode(cwModDemod_create(), cwModDemod_release, modeKind::cw, cwModDemod_QueueText);
    texts_[1] = textMode(PskModDemod_create(), PskModDemod_release, modeKind::psk, PskModDemod_QueueText);
    texts_[2] = textMode(RTTYModDemod_create(), RTTYModDemod_release, modeKind::rtty, RTTYModDemod_QueueText);
    cwModDemod_bindsentChars(texts_[0].handle, onSent<0>);
    PskModDemod_bindsentChars(texts_[1].handle, onSent<1>);
    RTTYModDemod_bindsentChars(texts_[2].handle, onSent<2>);
    void* cw = texts_[0].handle;
    cwModDemod_setwpm(cw, 40);

    looprig::LoopBackRig::useVoiceSwitch(A, 0.2);
    view_.onTold([this](watched w, double v) {
        char line[96];
        std::snprintf(line, sizeof line, "    heard %s = %g", nameOf(w), v);
        log(line);
        if (w == watched::pttA || w == watched::pttB || w == watched::pttRadio) lastPttHeard_ = steady::now();
    });
    view_.watch<watched::pttA>(A, 0, vtrx_bindptt);
    view_.watch<watched::pttB>(rig_.B, 0, vtrx_bindptt);
    view_.watch<watched::pttRadio>(rig_.radio, 0, Radio_bindptt);
    view_.watch<watched::cwWpm>(cw, 40, cwModDemod_bindwpm);
    view_.watch<watched::cwFreq>(cw, 650, cwModDemod_bindfreq);
    for (void* o : {rig_.radio, A, rig_.B, cw}) looprig::sync(o);
    return true;
}

// ---- the host's calls ----

void History::log(const std::string& line) {
    char at[24];
    std::snprintf(at, sizeof at, "  +%5lld ms ",
                  (long long)std::chrono::duration_cast<ms>(steady::now() - burstStart_).count());
    transcript_.push_back(at + line);
}

void History::keyTransceiver(int x, bool on) {
    vtrx_setptt(x == 0 ? rig_.A : rig_.B, on);
    view_.set(x == 0 ? watched::pttA : watched::pttB, on);
    model_.keyTransceiver(x, on);
    log(std::string("vtrx_setptt(") + (x == 0 ? "A" : "B") + (on ? ", true)" : ", false)"));
}

void History::keyRadio(bool on) {
    Radio_setptt(rig_.radio, on);
    view_.set(watched::pttRadio, on);
    model_.keyRadio(on);
    log(on ? "Radio_setptt(true)" : "Radio_setptt(false)");
}

void History::stop() {
    Radio_stop(rig_.radio);
    model_.stopRadio();
    log("Radio_stop");
}

void History::start() {
    Radio_start(rig_.radio);
    model_.startRadio();
    log("Radio_start");
}

void History::canTransmit(bool on) {
    Radio_setcanTransmit(rig_.radio, on);
    model_.setCanTransmit(on);
    log(on ? "Radio_setcanTransmit(true)" : "Radio_setcanTransmit(false)");
}

void History::attach(void* mode, modeKind k, const char* name) {
    vtrx_setModulation(rig_.A, mode);
    model_.attach(mode, k);
    log(std::string("vtrx_setModulation(A, ") + name + ")");
}

void History::queueText(TextMode& t) {
    // Unique within the history, so that the host knows which text's end
    // mark it heard; RTTY sends capitals only.
    const int n = textsQueued_++;
    const std::string tag{char('A' + n / 26 % 26), char('A' + n % 26)};
    const std::string text = t.kind == modeKind::cw ? "e" + tag + "\n" : "RY" + tag + "~";
    t.mark = text.substr(text.size() - 3);
    t.sinceText.clear();
    // The host resends from the count of characters it heard go out.
    t.queue(t.handle, text.c_str(), int(t.sent.size()));
    model_.queueText(t.kind);
    const char* names[] = {"", "", "cwModDemod", "PskModDemod", "RTTYModDemod"};
    log(std::string(names[int(t.kind)]) + "_QueueText(\"" + (t.kind == modeKind::cw ? text.substr(0, 3) + "\\n" : text) +
        "\", " + std::to_string(t.sent.size()) + ")");
}

void History::speech(bool on) {
    looprig::LoopBackRig::speech(rig_.A, on);
    model_.speech(on);
    log(on ? "speech on (vtrx_setVoxThreshold(A, -1))" : "speech off (vtrx_setVoxThreshold(A, 0.4))");
}

void History::peerSends(const char* keyword) {
    rig_.peer.sendBody(keyword);
    if (std::string(keyword) == "SwitchTX") model_.peerKeys();
    log(std::string("peer: ") + keyword);
}

void History::peerSamples(int blocks) {
    const auto body = mpsktest::samplesBody(std::vector<std::pair<int16_t, int16_t>>(2000, {8000, 0}));
    for (int i = 0; i < blocks; ++i) rig_.peer.sendBody(body);
    log("peer: " + std::to_string(blocks * 2000) + " samples");
}

void History::setWpm(double v) {
    cwModDemod_setwpm(texts_[0].handle, v);
    view_.set(watched::cwWpm, v);
    log("cwModDemod_setwpm(" + std::to_string(int(v)) + ")");
}

void History::setFreq(double v) {
    cwModDemod_setfreq(texts_[0].handle, v);
    view_.set(watched::cwFreq, v);
    char line[64];
    std::snprintf(line, sizeof line, "cwModDemod_setfreq(%g)", v);
    log(line);
}

// ---- what a panel does in a hurry; compound actions make their calls
// back to back ----

const std::vector<History::Action> History::actions = {
    {"key A", 10, [](History& h) { return h.keyTransceiver(0, true), true; }},
    {"unkey A", 7, [](History& h) { return h.keyTransceiver(0, false), true; }},
    {"unkey and key A", 6,
     [](History& h) { return h.reKey(0), true; }},
    {"key B", 5, [](History& h) { return h.keyTransceiver(1, true), true; }},
    {"unkey B", 4, [](History& h) { return h.keyTransceiver(1, false), true; }},
    {"unkey and key B", 2,
     [](History& h) { return h.reKey(1), true; }},
    {"key the radio", 4, [](History& h) { return h.keyRadio(true), true; }},
    {"unkey the radio", 3, [](History& h) { return h.keyRadio(false), true; }},
    {"stop", 2, [](History& h) { return !h.model_.stopped() && (h.stop(), true); }},
    {"start", 5, [](History& h) { return h.model_.stopped() && (h.start(), true); }},
    {"stop and start", 3,
     [](History& h) {
         h.stop();
         h.start();
         return true;
     }},
    {"canTransmit false", 2, [](History& h) { return h.model_.canTransmit() && (h.canTransmit(false), true); }},
    {"canTransmit true", 5, [](History& h) { return !h.model_.canTransmit() && (h.canTransmit(true), true); }},
    {"canTransmit false and true", 2,
     [](History& h) {
         h.canTransmit(false);
         h.canTransmit(true);
         return true;
     }},
    {"attach a mode to A", 6,
     [](History& h) {
         struct {
             void* mode;
             modeKind kind;
             const char* name;
         } const choices[] = {{h.sigGenOfA_, modeKind::sigGen, "sigGen"},
                              {h.texts_[0].handle, modeKind::cw, "CW"},
                              {h.texts_[1].handle, modeKind::psk, "PSK"},
                              {h.texts_[2].handle, modeKind::rtty, "RTTY"},
                              {h.multiPsk_, modeKind::multipsk, "MultiPSK"}};
         const auto& c = choices[h.dice_.below(5)];
         h.attach(c.mode, c.kind, c.name);
         return true;
     }},
    {"detach A's mode", 2,
     [](History& h) { return h.model_.modeOfA() != modeKind::none && (h.attach(nullptr, modeKind::none, "null"), true); }},
    {"text", 6,
     [](History& h) {
         const modeKind k = h.model_.modeOfA();
         int i = h.dice_.below(3);
         for (int j = 0; j < 3; ++j)
             if (h.texts_[j].kind == k && h.dice_.chance(80)) i = j;
         h.queueText(h.texts_[i]);
         return true;
     }},
    {"a macro: a new CW mode, attached, and its text", 2,
     [](History& h) {
         void* cw = h.rig_.keep(cwModDemod_create(), cwModDemod_release);
         cwModDemod_setwpm(cw, 40);
         h.attach(cw, modeKind::cw, "a new CW");
         const std::string text = "cq\n";
         cwModDemod_QueueText(cw, text.c_str(), 0);
         h.model_.queueText(modeKind::cw);
         h.log("cwModDemod_QueueText(\"cq\\n\", 0) on the new CW");
         return true;
     }},
    {"a macro: a text mode attached, its text, and A keyed", 2,
     [](History& h) {
         TextMode& t = h.texts_[1 + h.dice_.below(2)];
         h.attach(t.handle, t.kind, t.kind == modeKind::psk ? "PSK" : "RTTY");
         h.queueText(t);
         h.keyTransceiver(0, true);
         return true;
     }},
    {"speech on", 3, [](History& h) { return h.speech(true), true; }},
    {"speech off", 3, [](History& h) { return h.speech(false), true; }},
    {"the peer's over", 3,
     [](History& h) {
         h.peerSends("SwitchTX");
         h.peerSamples(1 + h.dice_.below(6));
         return true;
     }},
    {"the peer's SwitchRX", 2, [](History& h) { return h.peerSends("SwitchRX"), true; }},
    {"the peer's samples", 1, [](History& h) { return h.peerSamples(1 + h.dice_.below(3)), true; }},
    {"a refused value, then a valid one", 3,
     [](History& h) {
         if (h.dice_.chance(50)) {
             h.setWpm(0);
             h.setWpm(double(25 + 5 * h.dice_.below(4)));
         } else {
             h.setFreq(1e9);
             h.setFreq(double(600 + 50 * h.dice_.below(4)));
         }
         return true;
     }},
    {"a refused value", 1,
     [](History& h) {
         if (h.dice_.chance(50))
             h.setWpm(0);
         else
             h.setFreq(-1e9);
         return true;
     }},
};

// ---- bursts ----

void History::gap() {
    const int wait = dice_.below(21);
    if (wait > 0) std::this_thread::sleep_for(ms(wait));
}

void History::burst() {
    int total = 0;
    for (auto& a : actions) total += a.weight;
    const int count = 2 + dice_.below(7);
    for (int i = 0; i < count; ++i) {
        if (dice_.chance(30)) {
            looprig::poll();
            log("poll");
        }
        for (;;) {
            int pick = dice_.below(total);
            const Action* a = &actions.front();
            while (pick >= a->weight) pick -= (a++)->weight;
            if (a->run(*this)) break;
        }
        gap();
    }
}

void History::unkeyAll() {
    speech(false);
    gap();
    keyTransceiver(0, false);
    gap();
    keyTransceiver(1, false);
    gap();
    keyRadio(false);
}

// ---- settling and checking ----

observed History::heardState() const {
    return {view_.heard(watched::pttA) != 0, view_.heard(watched::pttB) != 0, view_.heard(watched::pttRadio) != 0};
}

void History::noteTextEnds() {
    for (auto& t : texts_)
        if (!t.mark.empty() && t.sinceText.find(t.mark) != std::string::npos) {
            model_.textEnded(t.kind);
            t.mark.clear();
        }
}

std::optional<KeyingModel::verdict> History::settledCheck(bool unkeyedAll) {
    // Tails run out (PSK's takes two seconds), the voice switch's hold, a
    // peer's samples and a short text end: bounded, never assumed. What the
    // host heard says when to read the library; a reading taken as a tail
    // begins or ends is taken again.
    const auto until = steady::now() + scaled(4000ms);
    for (;;) {
        host::pollUntil(
            looprig::poll,
            [&] {
                noteTextEnds();
                return !model_.check(heardState(), unkeyedAll);
            },
            std::max(ms(0), std::chrono::duration_cast<ms>(until - steady::now())));
        const auto library = view_.probe();
        if (auto wrong = view_.disagreements(library); !wrong.empty()) {
            std::string detail;
            for (auto& w : wrong) detail += (detail.empty() ? "" : "; ") + w;
            return KeyingModel::verdict{"the host's last word is the library's", detail};
        }
        auto on = [&](watched w) { return library.now(w) != 0; };
        auto v = model_.check({on(watched::pttA), on(watched::pttB), on(watched::pttRadio)}, unkeyedAll);
        if (!v || steady::now() > until) return v;
    }
}

std::optional<KeyingModel::verdict> History::settle(bool unkeyedAll) {
    log("settling");
    for (void* o : {rig_.radio, rig_.A, rig_.B, texts_[0].handle}) looprig::sync(o);
    lastPttHeard_ = steady::now();
    // Quiet: nothing told of any ptt for a while.
    host::pollUntil(looprig::poll, [&] { return steady::now() - lastPttHeard_ > 150ms; }, scaled(2000ms));
    if (auto v = settledCheck(unkeyedAll)) return v;
    // What stands must go on standing: a stale ending (a hold, a peer's
    // SwitchRX or silence) comes within this.
    log("holding");
    host::pollFor(looprig::poll, scaled(400ms));
    if (auto v = settledCheck(unkeyedAll)) return v;
    model_.settled(heardState());
    return std::nullopt;
}

void History::run(int bursts, Outcome& out) {
    // The host unkeys everything every fourth burst and after the last one:
    // a shorter history is the start of a longer one.
    const int total = bursts % 4 == 0 ? bursts : bursts + 1;
    for (int b = 0; b < total; ++b) {
        transcript_.clear();
        burstStart_ = steady::now();
        lastPttHeard_ = burstStart_;
        const std::string before = model_.describe();
        const bool unkeyingAll = b % 4 == 3 || b == total - 1;
        if (unkeyingAll)
            unkeyAll();
        else
            burst();
        out.bursts = b + 1;
        if (auto v = settle(unkeyingAll)) {
            out.failed = true;
            out.invariant = v->invariant;
            out.report = "burst " + std::to_string(b) + " breaks \"" + v->invariant + "\": " + v->detail +
                         "\nbefore it: " + before + "\nthe burst:\n";
            for (auto& line : transcript_) out.report += line + "\n";
            return;
        }
    }
}

} // namespace

int burstsPerHistory() { return std::max(3, int(11 / buildSlowdown)); }

Outcome runHistory(uint64_t seed, int bursts, const std::string& logDirectory) {
    looprig::startLibrary(logDirectory);
    Outcome out;
    out.seed = seed;
    History h(seed);
    std::string why;
    if (!h.setUp(why)) {
        out.failed = true;
        out.invariant = "the rig";
        out.report = why;
        return out;
    }
    h.run(bursts, out);
    return out;
}

} // namespace keyhist
