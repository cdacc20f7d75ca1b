#include "core/keyingHistory.h"

#include "core/hostView.h"
#include "core/keyingModel.h"
#include "core/loopBackRig.h"
#include "framework/objectHandle.h"
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
    const char* name = "";
    void (*queue)(void*, const char*, int) = nullptr;
    std::string sent;      // every character heard
    std::string sinceText; // heard since the text queued last
    std::string mark;      // the last characters of that text, end mark included
};

class History {
public:
    History(uint64_t seed, std::string logs) : dice_(seed), logs_(std::move(logs)) { current_ = this; }
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
    /// x's mode: 0 for A, 1 for B.
    void attach(int x, void* mode, modeKind k, const char* name);
    void* transceiver(int x) const { return x == 0 ? rig_.A : rig_.B; }
    /// A text with one end mark; a long one runs for seconds. Returns it.
    std::string queueText(TextMode& t, bool longText = false);
    void speech(bool on);
    void peerSamples(int blocks);
    void peerSends(const char* keyword);
    void setWpm(double v);
    void setFreq(double v);
    void enableJt(bool on);

    // ---- what an ending takes ----
    /// A long text going out on A, then at once an ending and a new text,
    /// or the host's key alone: the ending cuts the long text, and the new
    /// text goes out whole.
    bool endingInAText();
    /// A JT message on the air, the host's key over it or not, then Enabled
    /// false and true: nothing more of the message goes on the air.
    bool jtStoppedAndEnabled();
    /// A CW text on A, then at once B's key or B's own CW text (A busy or
    /// not): the key made last holds the transmitter.
    bool textThenAnotherKey();
    /// B keyed, then a CW text on A and at once an ending of A (its unkey,
    /// its mode detached, replaced or moved to C), A busy or not: the
    /// text's key took the transmitter from B before the ending ended it.
    bool textThenItsEnding();
    /// JT on a transceiver X of its own; X let go of and the mode moved to
    /// B, a message queued after both (or before the let-go): the message
    /// goes out whole on B (or never).
    bool jtAcrossAReleaseAndAMove();
    /// Polls for `t` and returns the loudest A's transmission was heard at
    /// on C meanwhile.
    double loudestFor(ms t);
    std::optional<KeyingModel::verdict> textVerdict() const;

    /// Every call of the host's but a poll or a value that ends no
    /// transmission: a text owed is owed no more, as the call may end it.
    void mayEnd() { owed_.reset(); }

    void burst();
    void unkeyAll();
    void gap();
    /// Settles, checks, and returns the broken invariant if any.
    std::optional<KeyingModel::verdict> settle(bool unkeyedAll);
    std::optional<KeyingModel::verdict> settledCheck(bool unkeyedAll);
    observed heardState() const;
    void noteTextEnds();

    static void onStrength(double dB) {
        if (current_) current_->loudest_ = std::max(current_->loudest_, dB);
    }

    template <int i>
    static void onSent(const char* c) {
        if (!current_) return;
        auto& t = current_->texts_[i];
        t.sent += c;
        t.sinceText += c;
    }

    Dice dice_;
    std::string logs_; // where JT keeps its files
    looprig::LoopBackRig rig_;
    HostView view_;
    KeyingModel model_;
    void* sigGenOfA_ = nullptr;
    void* sigGenOfB_ = nullptr;
    void* multiPsk_ = nullptr;
    void* ssbOfC_ = nullptr; // C's listener, which a move of A's CW replaces for a moment
    TextMode texts_[4]; // A's CW, PSK and RTTY; B's CW
    void* jt_ = nullptr;
    void* jtRelay_ = nullptr; // moved from a transceiver let go of to B
    int textsQueued_ = 0;
    double loudest_ = -1e300; // on C since it was last reset
    /// A text queued right after an ending, heard from `from` on: it goes
    /// out whole unless a later call of the host ended it.
    struct Owed {
        const TextMode* mode;
        std::string text;
        size_t from;
    };
    std::optional<Owed> owed_;
    /// A text an ending cut short, heard from `from` on: its last
    /// characters never go out. Checked once `deadline` has passed, by when
    /// they would have.
    struct Cut {
        const TextMode* mode;
        std::string text;
        size_t from;
        steady::time_point deadline;
    };
    std::vector<Cut> cut_;
    std::optional<KeyingModel::verdict> found_; // broken within an action
    std::vector<std::string> transcript_;
    steady::time_point burstStart_;
    steady::time_point lastPttHeard_;
    std::vector<std::pair<steady::time_point, bool>> pttOfB_; // as heard
    static History* current_;
};

History* History::current_ = nullptr;

// ---- set-up ----

bool History::setUp(std::string& why) {
    if (!rig_.build(3)) {
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
    sigGenOfB_ = rig_.attach(rig_.B, sigGenModDemod_create(), sigGenModDemod_release);
    sigGenModDemod_setampl1(sigGenOfB_, 0.10);
    model_.attach(0, sigGenOfA_, modeKind::sigGen);
    model_.attach(1, sigGenOfB_, modeKind::sigGen);
    // C hears what goes out, A's transmission at full level.
    ssbOfC_ = rig_.attach(rig_.C, ssbModDemod_create(), ssbModDemod_release);
    vtrx_bindsignalStrength(rig_.C, onStrength);
    jt_ = rig_.keep(JTModDemod_create(), JTModDemod_release);
    looprig::shortJtPeriods(jt_, logs_);
    jtRelay_ = rig_.keep(JTModDemod_create(), JTModDemod_release);
    looprig::shortJtPeriods(jtRelay_, logs_);

    auto textMode = [&](void* handle, void (*release)(void*), modeKind k, const char* name,
                        void (*queue)(void*, const char*, int)) {
        TextMode t;
        t.handle = rig_.keep(handle, release);
        t.kind = k;
        t.name = name;
        t.queue = queue;
        return t;
    };
    texts_[0] = textMode(cwModDemod_create(), cwModDemod_release, modeKind::cw, "cwModDemod", cwModDemod_QueueText);
    texts_[1] =
        textMode(PskModDemod_create(), PskModDemod_release, modeKind::psk, "PskModDemod", PskModDemod_QueueText);
    texts_[2] =
        textMode(RTTYModDemod_create(), RTTYModDemod_release, modeKind::rtty, "RTTYModDemod", RTTYModDemod_QueueText);
    texts_[3] = textMode(cwModDemod_create(), cwModDemod_release, modeKind::cw, "cwModDemod(B's)", cwModDemod_QueueText);
    cwModDemod_bindsentChars(texts_[0].handle, onSent<0>);
    PskModDemod_bindsentChars(texts_[1].handle, onSent<1>);
    RTTYModDemod_bindsentChars(texts_[2].handle, onSent<2>);
    cwModDemod_bindsentChars(texts_[3].handle, onSent<3>);
    void* cw = texts_[0].handle;
    cwModDemod_setwpm(cw, 40);
    cwModDemod_setwpm(texts_[3].handle, 40);

    looprig::LoopBackRig::useVoiceSwitch(A, 0.2);
    view_.onTold([this](watched w, double v) {
        char line[96];
        std::snprintf(line, sizeof line, "    heard %s = %g", nameOf(w), v);
        log(line);
        if (w == watched::pttA || w == watched::pttB || w == watched::pttRadio) lastPttHeard_ = steady::now();
        if (w == watched::pttB) pttOfB_.emplace_back(steady::now(), v != 0);
    });
    view_.watch<watched::pttA>(A, 0, vtrx_bindptt);
    view_.watch<watched::pttB>(rig_.B, 0, vtrx_bindptt);
    view_.watch<watched::pttRadio>(rig_.radio, 0, Radio_bindptt);
    view_.watch<watched::cwWpm>(cw, 40, cwModDemod_bindwpm);
    view_.watch<watched::cwFreq>(cw, 650, cwModDemod_bindfreq);
    for (void* o : {rig_.radio, A, rig_.B, cw, texts_[3].handle}) looprig::sync(o);
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
    mayEnd();
    vtrx_setptt(x == 0 ? rig_.A : rig_.B, on);
    view_.set(x == 0 ? watched::pttA : watched::pttB, on);
    model_.keyTransceiver(x, on);
    log(std::string("vtrx_setptt(") + (x == 0 ? "A" : "B") + (on ? ", true)" : ", false)"));
}

void History::keyRadio(bool on) {
    mayEnd();
    Radio_setptt(rig_.radio, on);
    view_.set(watched::pttRadio, on);
    model_.keyRadio(on);
    log(on ? "Radio_setptt(true)" : "Radio_setptt(false)");
}

void History::stop() {
    mayEnd();
    Radio_stop(rig_.radio);
    model_.stopRadio();
    log("Radio_stop");
}

void History::start() {
    mayEnd();
    Radio_start(rig_.radio);
    model_.startRadio();
    log("Radio_start");
}

void History::canTransmit(bool on) {
    mayEnd();
    Radio_setcanTransmit(rig_.radio, on);
    model_.setCanTransmit(on);
    log(on ? "Radio_setcanTransmit(true)" : "Radio_setcanTransmit(false)");
}

void History::attach(int x, void* mode, modeKind k, const char* name) {
    mayEnd();
    vtrx_setModulation(transceiver(x), mode);
    model_.attach(x, mode, k);
    log(std::string("vtrx_setModulation(") + (x == 0 ? "A" : "B") + ", " + name + ")");
}

std::string History::queueText(TextMode& t, bool longText) {
    mayEnd();
    // Unique within the history, so that the host knows which text's end
    // mark it heard; RTTY sends capitals only.
    const int n = textsQueued_++;
    const std::string tag{char('A' + n / 26 % 26), char('A' + n % 26)};
    const bool cw = t.kind == modeKind::cw;
    const std::string text = cw ? "e" + tag + (longText ? " eeee eeee eeee\n" : "\n")
                                : "RY" + tag + (longText ? " RYRYRYRYRYRY~" : "~");
    t.mark = text.substr(text.size() - 3);
    t.sinceText.clear();
    // The host resends from the count of characters it heard go out.
    const size_t heard = t.sent.size();
    t.queue(t.handle, text.c_str(), int(heard));
    model_.queueText(t.handle, t.kind);
    log(std::string(t.name) + "_QueueText(\"" + (cw ? text.substr(0, text.size() - 1) + "\\n" : text) + "\", " +
        std::to_string(heard) + ")");
    // A CW text keys its transceiver as the host's key made last: unless a
    // later call ends it, it goes out whole.
    for (int x : {0, 1})
        if (cw && model_.modeInstanceOf(x) == t.handle && model_.textStands(x)) owed_ = Owed{&t, text, heard};
    return text;
}

void History::speech(bool on) {
    mayEnd();
    looprig::LoopBackRig::speech(rig_.A, on);
    model_.speech(on);
    log(on ? "speech on (vtrx_setVoxThreshold(A, -1))" : "speech off (vtrx_setVoxThreshold(A, 0.4))");
}

void History::peerSends(const char* keyword) {
    mayEnd();
    rig_.peer.sendBody(keyword);
    if (std::string(keyword) == "SwitchTX") model_.modeMayKey(0);
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

void History::enableJt(bool on) {
    mayEnd();
    JTModDemod_setEnabled(jt_, on);
    log(on ? "JTModDemod_setEnabled(true)" : "JTModDemod_setEnabled(false)");
}

void History::setFreq(double v) {
    cwModDemod_setfreq(texts_[0].handle, v);
    view_.set(watched::cwFreq, v);
    char line[64];
    std::snprintf(line, sizeof line, "cwModDemod_setfreq(%g)", v);
    log(line);
}

// ---- what an ending takes ----

double History::loudestFor(ms t) {
    loudest_ = -1e300;
    host::pollFor(looprig::poll, t);
    return loudest_;
}

bool History::endingInAText() {
    // A running radio free for A: the long text goes out at once.
    if (model_.stopped() || !model_.canTransmit() || model_.speechOn() || model_.keyOf(1) != hostKey::none ||
        model_.textKeyOf(1) != hostKey::none)
        return false;
    TextMode& t = texts_[dice_.chance(50) ? 0 : 2]; // CW keys itself, RTTY waits for the host's key
    const bool cw = t.kind == modeKind::cw;
    if (model_.modeInstanceOf(0) != t.handle) attach(0, t.handle, t.kind, cw ? "CW" : "RTTY");
    const size_t from = t.sent.size();
    const std::string longText = queueText(t, true);
    if (!cw) keyTransceiver(0, true);
    if (!host::pollUntil(looprig::poll, [&] { return t.sent.size() > from; }, scaled(3000ms))) {
        log("the long text did not begin");
        return true;
    }
    log("poll: the long text began");
    // The host's unkey of A, or every other time B's key, which takes the
    // transmitter from A and gives it up round the new text (drawn so, the
    // older seeds replay the same calls up to there).
    const int drawn = dice_.below(5);
    const int ending = drawn == 4 && textsQueued_ % 2 == 0 ? 5 : drawn;
    switch (ending) {
    case 0:
        attach(0, nullptr, modeKind::none, "null");
        attach(0, t.handle, t.kind, cw ? "CW" : "RTTY");
        break;
    case 1:
        stop();
        start();
        break;
    case 2:
        canTransmit(false);
        canTransmit(true);
        break;
    case 3: keyRadio(false); break;
    case 5: keyTransceiver(1, true); break;
    default: keyTransceiver(0, false); break;
    }
    // The long text's last characters come seconds later had it gone on.
    cut_.push_back({&t, longText, from, steady::now() + scaled(4000ms)});
    if (dice_.chance(50)) {
        if (ending == 5) keyTransceiver(1, false);
        keyTransceiver(0, true);
        return true;
    }
    const size_t heard = t.sent.size();
    const std::string text = queueText(t);
    if (ending == 5) keyTransceiver(1, false);
    if (!cw) keyTransceiver(0, true);
    owed_ = Owed{&t, text, heard};
    return true;
}

bool History::jtStoppedAndEnabled() {
    if (model_.stopped() || !model_.canTransmit() || model_.speechOn() || model_.keyOf(1) != hostKey::none ||
        model_.textKeyOf(1) != hostKey::none)
        return false;
    // A message waits for a transceiver the host has not keyed.
    if (model_.modeInstanceOf(0) == jt_ && model_.keyOf(0) != hostKey::none) return false;
    if (model_.modeInstanceOf(0) != jt_) attach(0, jt_, modeKind::jt, "JT");
    const long long start = looprig::queueJtMessage(jt_, 300ms);
    model_.modeMayKey(0);
    log("JTModDemod_queueMsg(8 tones, the next period)");
    // Only the message is loud once its period has begun: what went out
    // before the mode came may still be told until then.
    using wall = std::chrono::system_clock;
    host::pollUntil(looprig::poll, [&] { return wall::now().time_since_epoch() / 1ms > start + 150; }, 3000ms);
    loudest_ = -1e300;
    if (!host::pollUntil(looprig::poll, [&] { return loudest_ > -30.0; }, scaled(1000ms))) {
        log("the message did not go on the air");
        return true;
    }
    log("poll: the message is on the air");
    if (dice_.chance(50)) keyTransceiver(0, true);
    host::pollFor(looprig::poll, ms(100 * (1 + dice_.below(3))));
    enableJt(false);
    host::pollFor(looprig::poll, 300ms);
    enableJt(true);
    // What was on its way as the mode stopped has gone out by now.
    host::pollFor(looprig::poll, scaled(100ms));
    if (const double dB = loudestFor(scaled(600ms)); dB > -40.0 && !found_) {
        char detail[96];
        std::snprintf(detail, sizeof detail, "the message went on at %.1f dB once enabled again", dB);
        found_ = KeyingModel::verdict{"nothing of a JT message that Enabled false cut goes on the air", detail};
    }
    return true;
}

bool History::textThenAnotherKey() {
    TextMode& a = texts_[0];
    TextMode& b = texts_[3];
    const bool textOnB = dice_.chance(50);
    if (model_.modeInstanceOf(0) != a.handle) attach(0, a.handle, modeKind::cw, "CW");
    if (textOnB && model_.modeInstanceOf(1) != b.handle) attach(1, b.handle, modeKind::cw, "B's CW");
    // A panel busy with A first: its text's key reaches A after B's call
    // has reached B.
    if (dice_.chance(50)) {
        vtrx_setRxFilter(rig_.A, -2800, 2800);
        vtrx_setRxFilter(rig_.A, -3000, 3000);
        log("vtrx_setRxFilter(A) twice");
    }
    queueText(a);
    if (textOnB)
        queueText(b);
    else
        keyTransceiver(1, true);
    return true;
}

bool History::textThenItsEnding() {
    if (model_.stopped() || !model_.canTransmit() || model_.speechOn()) return false;
    TextMode& a = texts_[0];
    if (model_.modeInstanceOf(0) != a.handle) attach(0, a.handle, modeKind::cw, "CW");
    if (model_.keyOf(1) != hostKey::stands) keyTransceiver(1, true);
    gap();
    if (dice_.chance(50)) {
        vtrx_setRxFilter(rig_.A, -2800, 2800);
        vtrx_setRxFilter(rig_.A, -3000, 3000);
        log("vtrx_setRxFilter(A) twice");
    }
    queueText(a);
    switch (dice_.below(4)) {
    case 0: keyTransceiver(0, false); break;
    case 1: attach(0, nullptr, modeKind::none, "null"); break;
    case 2: attach(0, texts_[2].handle, modeKind::rtty, "RTTY"); break;
    default:
        // To C, which has it for a moment: the mode leaves A as a detach
        // there would.
        mayEnd();
        vtrx_setModulation(rig_.C, a.handle);
        model_.attach(0, nullptr, modeKind::none);
        log("vtrx_setModulation(C, CW)");
        vtrx_setModulation(rig_.C, ssbOfC_);
        log("vtrx_setModulation(C, its SSB)");
        break;
    }
    return true;
}

bool History::jtAcrossAReleaseAndAMove() {
    // B free for the message, and nothing else to key either transceiver
    // meanwhile.
    if (model_.stopped() || !model_.canTransmit() || !model_.quiet()) return false;
    mayEnd();
    const size_t n = host::Transceivers::all().size() + 1;
    Radio_addVtrx(rig_.radio, 14000000, 0, 0);
    const auto all = host::Transceivers::await(looprig::poll, n);
    if (all.size() != n) {
        found_ = KeyingModel::verdict{"the rig", "a new transceiver was not announced"};
        return true;
    }
    void* x = all.back();
    void* address = static_cast<objectHandle*>(x)->get(); // the host names it to its radio so
    vtrx_start(x);
    vtrx_setModulation(x, jtRelay_);
    looprig::sync(x);
    log("Radio_addVtrx: X, started, with JT");
    const bool before = dice_.chance(25), generic = dice_.chance(30);
    long long start = 0;
    if (before) {
        start = looprig::queueJtMessage(jtRelay_, 1500ms);
        log("JTModDemod_queueMsg(8 tones, a period 1.5 s ahead) on X's JT");
    }
    if (dice_.chance(50)) {
        vtrx_setRxFilter(x, -2800, 2800);
        vtrx_setRxFilter(x, -3000, 3000);
        log("vtrx_setRxFilter(X) twice");
    }
    if (generic)
        asyncObject_release(x);
    else
        vtrx_release(x);
    log(generic ? "asyncObject_release(X)" : "vtrx_release(X)");
    const void* previous = model_.modeInstanceOf(1);
    const modeKind previousKind = model_.modeOf(1);
    attach(1, jtRelay_, modeKind::jt, "X's JT");
    if (!before) {
        start = looprig::queueJtMessage(jtRelay_, 1500ms);
        model_.modeMayKey(1);
        log("JTModDemod_queueMsg(8 tones, a period 1.5 s ahead)");
    }
    // Eight symbols of 160 ms from the period's start, and the tail.
    const auto from = steady::now();
    using wall = std::chrono::system_clock;
    const long long ends = start + 8 * 160;
    host::pollUntil(looprig::poll, [&] { return wall::now().time_since_epoch() / 1ms > ends + 300; }, 6000ms);
    auto heardSince = [&](bool on) -> std::optional<steady::time_point> {
        for (auto& [at, v] : pttOfB_)
            if (at >= from && v == on) return at;
        return std::nullopt;
    };
    if (!before) {
        host::pollUntil(looprig::poll, [&] { return heardSince(true) && heardSince(false); }, scaled(2000ms));
        const auto on = heardSince(true), off = heardSince(false);
        std::string detail;
        if (!on)
            detail = "B was never keyed for the message";
        else if (!off || *off - *on < 1000ms)
            detail = "B's key for the message lasted " +
                     (off ? std::to_string(std::chrono::duration_cast<ms>(*off - *on).count()) + " ms" : "on");
        if (!detail.empty() && !found_)
            found_ = KeyingModel::verdict{"a JT message queued after a let-go goes out whole on the mode's next "
                                          "transceiver",
                                          detail};
        log("poll: the message went out on B");
    } else if (heardSince(true) && !found_) {
        found_ = KeyingModel::verdict{"a let-go drops the JT message queued before it",
                                      "the message queued before X was let go of keyed B"};
    }
    attach(1, const_cast<void*>(previous), previousKind, "its mode before");
    Radio_removeVtrx(rig_.radio, address);
    log("Radio_removeVtrx(X)");
    return true;
}

std::optional<KeyingModel::verdict> History::textVerdict() const {
    for (const auto& c : cut_) {
        const std::string heard = c.mode->sent.substr(c.from);
        size_t same = 0;
        while (same < heard.size() && same < c.text.size() && heard[same] == c.text[same]) ++same;
        if (same + 6 > c.text.size())
            return KeyingModel::verdict{"nothing of a text goes out after an ending made after it began",
                                        "heard \"" + heard + "\" of \"" + c.text + "\""};
    }
    if (owed_) {
        // A character taken but not yet heard as the host queued goes out
        // first, and the host's resend from the count it heard skips as
        // many of the text's.
        const std::string heard = owed_->mode->sent.substr(owed_->from);
        const std::string& text = owed_->text;
        bool whole = false;
        for (size_t k = 0; k <= 2 && !whole; ++k)
            whole = heard.size() >= text.size() && heard.compare(k, text.size() - k, text, k) == 0;
        if (!whole)
            return KeyingModel::verdict{"a text queued after an ending goes out whole",
                                        "heard \"" + heard + "\" of \"" + text + "\""};
    }
    return std::nullopt;
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
         h.attach(0, c.mode, c.kind, c.name);
         return true;
     }},
    {"detach A's mode", 2,
     [](History& h) {
         return h.model_.modeOf(0) != modeKind::none && (h.attach(0, nullptr, modeKind::none, "null"), true);
     }},
    {"attach a mode to B", 3,
     [](History& h) {
         if (h.dice_.chance(50))
             h.attach(1, h.texts_[3].handle, modeKind::cw, "B's CW");
         else
             h.attach(1, h.sigGenOfB_, modeKind::sigGen, "B's sigGen");
         return true;
     }},
    {"a CW text on B", 3, [](History& h) { return h.queueText(h.texts_[3]), true; }},
    {"a CW text on A, then at once B's key or B's CW text", 4, [](History& h) { return h.textThenAnotherKey(); }},
    {"a JT message across a release and a move", 1, [](History& h) { return h.jtAcrossAReleaseAndAMove(); }},
    {"B keyed, a CW text on A, then at once A's ending", 3, [](History& h) { return h.textThenItsEnding(); }},
    {"text", 6,
     [](History& h) {
         const modeKind k = h.model_.modeOf(0);
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
         h.attach(0, cw, modeKind::cw, "a new CW");
         const std::string text = "cq\n";
         cwModDemod_QueueText(cw, text.c_str(), 0);
         h.model_.queueText(cw, modeKind::cw, false);
         h.log("cwModDemod_QueueText(\"cq\\n\", 0) on the new CW");
         return true;
     }},
    {"a macro: a text mode attached, its text, and A keyed", 2,
     [](History& h) {
         TextMode& t = h.texts_[1 + h.dice_.below(2)];
         h.attach(0, t.handle, t.kind, t.kind == modeKind::psk ? "PSK" : "RTTY");
         h.queueText(t);
         h.keyTransceiver(0, true);
         return true;
     }},
    {"an ending in a long text, then at once a new text or the host's key", 3,
     [](History& h) { return h.endingInAText(); }},
    {"a JT message on the air, Enabled false and true", 2, [](History& h) { return h.jtStoppedAndEnabled(); }},
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
            model_.textEnded(t.handle);
            t.mark.clear();
        }
}

std::optional<KeyingModel::verdict> History::settledCheck(bool unkeyedAll) {
    // Tails run out (PSK's takes two seconds), the voice switch's hold, a
    // peer's samples and a short text end: bounded, never assumed. What the
    // host heard says when to read the library; a reading taken as a tail
    // begins or ends is taken again.
    // A text owed goes out whole first, the slower modes' preambles included.
    const auto until = steady::now() + scaled(owed_ ? 8000ms : 4000ms);
    for (;;) {
        host::pollUntil(
            looprig::poll,
            [&] {
                noteTextEnds();
                return !model_.check(heardState(), unkeyedAll) && !textVerdict();
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
        if (!v) v = textVerdict();
        if (!v || steady::now() > until) return v;
    }
}

std::optional<KeyingModel::verdict> History::settle(bool unkeyedAll) {
    log("settling");
    if (found_) return found_;
    // A cut text's last characters would have gone out by its deadline.
    for (const auto& c : cut_)
        if (const auto left = c.deadline - steady::now(); left > 0ms)
            host::pollFor(looprig::poll, std::chrono::duration_cast<ms>(left));
    for (void* o : {rig_.radio, rig_.A, rig_.B, texts_[0].handle, texts_[3].handle}) looprig::sync(o);
    lastPttHeard_ = steady::now();
    // Quiet: nothing told of any ptt for a while.
    host::pollUntil(looprig::poll, [&] { return steady::now() - lastPttHeard_ > 150ms; }, scaled(2000ms));
    if (auto v = settledCheck(unkeyedAll)) return v;
    // What stands must go on standing: a stale ending (a hold, a peer's
    // SwitchRX or silence) comes within this.
    log("holding");
    host::pollFor(looprig::poll, scaled(400ms));
    if (auto v = settledCheck(unkeyedAll)) return v;
    owed_.reset();
    cut_.clear();
    model_.settled(heardState());
    return std::nullopt;
}

void History::run(int bursts, Outcome& out) {
    // The host unkeys everything every fourth burst and after the last one:
    // a shorter history is the start of a longer one.
    const int total = bursts % 4 == 0 ? bursts : bursts + 1;
    std::vector<std::string> previous; // what a burst that breaks one may inherit
    for (int b = 0; b < total; ++b) {
        previous = std::exchange(transcript_, {});
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
                         "\nbefore it: " + before + "\nthe burst before, as it settled:\n";
            for (auto& line : previous) out.report += line + "\n";
            out.report += "the burst:\n";
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
    History h(seed, logDirectory);
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
