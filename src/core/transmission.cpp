#include "core/transmission.h"

#include "core/Radio.h"
#include "core/modDemod.h"
#include "core/vtrx.h"
#include "core/vtrxToRadio.h"
#include "framework/delayedTask.h"

#include <spdlog/spdlog.h>

#include <algorithm>

namespace {
constinit std::atomic<transmission::serial> moments{0};
} // namespace

transmission::serial transmission::now() { return moments.fetch_add(1) + 1; }

askedKey::askedKey(const std::shared_ptr<vtrx>& v, uint64_t at)
    : v_(v), marked_(v.get()), at_(at), void_(v->tx.letGoMade()) {
    v->tx.hostKeyed.made(at);
}

askedKey::~askedKey() {
    if (reached_.load()) return;
    auto v = v_.lock();
    if (!v) return;
    // Asked for and never there: the host moved, detached or replaced the
    // mode after the call, which ended the key had it come first.
    if (sent_.load() && !void_)
        v->tx.postKeyEnded(at_);
    else
        v->tx.hostKeyed.taken(at_);
}

bool askedKey::reached(const vtrx& v) {
    if (&v != marked_) return false;
    reached_.store(true);
    return true;
}

// ---- the way in ----

const char* transmission::refusal(serial at) const {
    if (letGo_) return "the host let go of its transceiver";
    if (v_.owner.expired()) return "its radio is gone";
    if (at < endedBefore_) return endedWhy_; // an ending made after the key came first
    return nullptr;
}

void transmission::hostKey(bool on, serial at) {
    auto& ptt = v_.ptt;
    // A transceiver no radio made has no hooks: the host's value is only
    // stored.
    if (!ptt.changeHook) {
        ptt.hostSet(on);
        if (on) hostKeyed.taken(at);
        return;
    }
    if (on) {
        hostKeyOn(at);
        // A key the radio was not told of under its moment never reaches it,
        // and takes the transmitter from nobody.
        if (toldOn_ != at) hostKeyed.taken(at);
        return;
    }
    // A mode's key for a call made before the unkey (a CW text) that comes
    // after it would have been ended by it.
    endedAt(at, "the host unkeyed it");
    if (!ptt.get()) return;
    if (phase_ != phase::off && serial_ > at) {
        // Keyed after the host made its unkey: that key stands, and the host,
        // which took its own value as stored, hears that ptt is on. What the
        // transmission sent from before the unkey ends all the same.
        if (phase_ == phase::keyed && began_ < at) laterKeyGoesOn(at, "the host unkeyed it");
        ptt.tellHost();
        return;
    }
    endingAt_ = at;
    ptt.hostSet(false);
    endingAt_ = 0;
}

void transmission::hostKeyOn(serial at) {
    auto& ptt = v_.ptt;
    if (ptt.get()) {
        hostTakesOver(at);
        return;
    }
    if (const char* why = refusal(at)) {
        spdlog::error("vtrx.ptt.set refused: {}", why);
        ptt.tellHost(); // the host hears that ptt stays off
        return;
    }
    pendingSerial_ = at;
    ptt.hostSet(true);
    pendingSerial_ = 0;
}

void transmission::hostTakesOver(serial at) { keyOver(nullptr, at); }

void transmission::keyOver(const void* keyer, serial at) {
    // An ending made after this key has run already: it ended the key
    // before the key came, and the transmission on is a later one's.
    if (at < endedBefore_) return;
    // A mode's key never takes a transmission from a later key, but for
    // the voice switch's, which no call of the host's asked for.
    if (keyer && at <= serial_ && keyer_ != &v_) return;
    keyer_ = keyer;
    if (at <= serial_) return; // keyed after the host's call: its moment stays
    // The key is the keyer's from its moment on: an ending made before it
    // leaves the key, and the radio holds the transmission under the key's
    // name. When it began stays as it was: such an ending still ends what
    // the transmission sent (laterKeyGoesOn).
    serial_ = at;
    tellRadio(true);
    watch();
}

bool transmission::endingMadeBetween(serial from, serial to) const {
    auto radio = v_.owner.lock();
    // The keys first: the radio marks the endings a key makes before it
    // counts the key taken, so a key seen taken here has its endings seen
    // below.
    if (radio && radio->keyComingBesides(&v_, from, to)) return true;
    serial latest = hostEnded.latest();
    if (radio) latest = std::max(latest, radio->hostEnded.latest());
    return latest > from && latest < to;
}

void transmission::laterKeyGoesOn(serial moment, const char* why) {
    spdlog::info("vtrx transmission ends: {}; a key made after it goes on", why);
    if (auto& mode = v_.mode) {
        mode->pttChanged(false);
        mode->dropTransmission(moment);
    }
    // A transmission of the later key's own, from a fresh start, as any key
    // makes one: the mode begins anew (what waits for a later transmission
    // goes out in it), and the radio hears the key again, having gone off
    // the air at the ending if it got there first.
    pendingKeyer_ = keyer_;
    pendingSerial_ = serial_;
    begin();
    pendingKeyer_ = nullptr;
    pendingSerial_ = 0;
}

void transmission::setPtt(bool on) { v_.ptt.set(on, true); }

void transmission::endedAt(serial at, const char* why) {
    if (at > endedBefore_) {
        endedBefore_ = at;
        endedWhy_ = why;
    }
}

transmission::refused transmission::refusalFor(const modDemod& mode, serial asked) const {
    // A let-go made before the call made the key impossible at its moment.
    if (letGo_) return {"the host let go of its transceiver", letGoAt_ > asked};
    // The call was made for this transceiver, which the mode was on then:
    // it left since (moved, detached, replaced), or left and came back.
    if (v_.mode.get() != &mode) return {"its mode left its transceiver after the host's call", true};
    if (asked < v_.modeSince()) return {"its mode came to this transceiver after the host's call", true};
    if (const char* why = refusal(asked)) return {why, asked < endedBefore_};
    // An ending made after the call that has yet to come here would end the
    // key as it came: keyed meanwhile, the transceiver would go on the air
    // and off again for nothing.
    serial ending = hostEnded.latest();
    if (auto radio = v_.owner.lock()) ending = std::max(ending, radio->hostEnded.latest());
    if (ending > asked) return {"an ending made after the host's call is on its way", true};
    return {};
}

bool transmission::keyFor(modDemod& mode) {
    // A mode detached since it asked keys nothing: nothing would end it.
    if (v_.mode.get() != &mode) return false;
    return keyBy(&mode, false, 0);
}

bool transmission::keyFor(modDemod& mode, askedKey& order) {
    const serial asked = order.at();
    // Only the transceiver the host had the mode on at the call is the
    // key's; one the mode reached since takes nothing of it, and the key's
    // own transceiver hears of it as the key lets go (askedKey).
    const bool ours = order.reached(v_);
    refused r = ours ? refusalFor(mode, asked) : refused{"its mode came to this transceiver after the host's call"};
    if (r.why) {
        // Had the key come in the host's order, the ending that refuses it
        // would have ended it, and dropped what it was for; and it would
        // have taken the transmitter at its moment before that.
        spdlog::info("vtrx key refused: {}", r.why);
        mode.keyRefused(asked);
        if (!ours) return false;
        if (r.late && !order.afterLetGo())
            postKeyEnded(asked);
        else
            hostKeyed.taken(asked);
        return false;
    }
    const bool keyed = keyBy(&mode, false, asked);
    // A key the radio was not told of under its moment never reaches it,
    // and takes the transmitter from nobody.
    if (toldOn_ != asked) hostKeyed.taken(asked);
    return keyed;
}

void transmission::postKeyEnded(serial at) {
    if (v_.owner.expired()) {
        hostKeyed.taken(at);
        return;
    }
    v_.toRadio("radio.keyEnded", [at](Radio& r, vtrx& v) { r.keyEnded(&v, at); });
}

void transmission::modeJoins() {
    if (phase_ == phase::keyed && v_.mode) v_.mode->pttChanged(true);
}

void transmission::keyForVoice() {
    if (!voiceWaits_) keyBy(&v_, true, 0);
}

bool transmission::keyedByVoice() const { return phase_ == phase::keyed && keyer_ == &v_; }

bool transmission::keyBy(const void* keyer, bool quiet, serial asked) {
    if (v_.ptt.get()) {
        // The first keyer keeps it, unless the host ended its key after it
        // was made and before the host asked for this one, and the ending is
        // still on its way: what the host asked for after it goes on past it.
        // The voice switch keeps nothing against a key for the host's call:
        // its hold would end the text the host queued.
        if (asked && phase_ == phase::keyed && (keyer_ == &v_ || endingMadeBetween(serial_, asked)))
            keyOver(keyer, asked);
        return phase_ == phase::keyed;
    }
    // As old as the host's call it is for; the mode's own key, as it comes.
    const serial at = asked ? asked : now();
    if (const char* why = refusal(at)) {
        if (!quiet) spdlog::info("vtrx key refused: {}", why);
        return false;
    }
    pendingKeyer_ = keyer;
    pendingSerial_ = at;
    setPtt(true);
    pendingKeyer_ = nullptr;
    pendingSerial_ = 0;
    return phase_ == phase::keyed;
}

void transmission::pttChanged() {
    if (v_.ptt.get())
        begin();
    else
        released();
}

void transmission::begin() {
    // A key during the tail is a new transmission: the old one is over for
    // the radio as well, which hears the new serial.
    serial_ = pendingSerial_ ? pendingSerial_ : now();
    began_ = serial_;
    keyer_ = pendingKeyer_;
    phase_ = phase::keyed;
    asked(); // the radio has had no chance to ask yet
    v_.rampUpPending = true;
    v_.rampUpLeft = v_.txLeadSilence + v_.rampUpLength;
    // Transmission starts from silence, with a fresh filter block.
    v_.txFir.clearState();
    v_.txFirPos = v_.txFir.blockLength();
    if (auto& mode = v_.mode) {
        if (!mode->txBlockMode) v_.rampUpLeft = v_.rampUpLength;
        mode->pttChanged(true);
    }
    if (const char* why = refusal(serial_)) {
        // A set of ptt that came another way than hostKey or keyBy meets the
        // same refusals. Told back once this change has been told: a set of
        // ptt inside its own hook would reach the host before it.
        postEnd(serial_, why);
        return;
    }
    tellRadio(true);
    watch();
}

// ---- endings ----

void transmission::release() {
    if (v_.ptt.get()) setPtt(false);
}

void transmission::releaseBy(const modDemod& mode) {
    if (v_.mode.get() == &mode && v_.ptt.get() && (keyer_ == nullptr || keyer_ == &mode)) release();
}

void transmission::releaseIfKeyedBy(const modDemod& keyer, serial before) {
    if (phase_ == phase::keyed && keyer_ == &keyer && serial_ < before) release();
}

void transmission::releaseKey(const modDemod& keyer, serial which) {
    if (phase_ == phase::keyed && keyer_ == &keyer && serial_ == which) release();
}

void transmission::releaseByVoice() {
    if (!keyedByVoice()) return;
    voiceReleasing_ = true;
    release();
    voiceReleasing_ = false;
}

void transmission::hostLetGo(serial at) {
    letGo_ = true;
    letGoAt_ = at;
    if (v_.mode) v_.mode->transceiverLetGo(at);
    endingAt_ = at;
    release();
    endingAt_ = 0;
}

void transmission::end(serial which, const char* why, serial at) {
    if (phase_ != phase::off && serial_ == which) endNow(why, at);
}

void transmission::endBefore(serial moment, const char* why) {
    endedAt(moment, why);
    if (phase_ == phase::off || began_ > moment) return;
    if (phase_ == phase::keyed && serial_ > moment)
        laterKeyGoesOn(moment, why); // keyed over after the ending
    else
        endNow(why, moment);
}

void transmission::endWhateverIsOn(const char* why, serial at) {
    endedAt(at, why);
    endNow(why, at);
}

void transmission::endNow(const char* why, serial at) {
    if (phase_ == phase::off) return;
    spdlog::info("vtrx transmission ends: {}", why);
    ending_ = true;
    endingAt_ = at;
    if (v_.ptt.get())
        setPtt(false); // released() takes the way out, without the tail
    else
        finish(); // in its tail
    endingAt_ = 0;
    ending_ = false;
}

void transmission::postEnd(serial which, const char* why, serial at) {
    postEnding([which, why, at](transmission& tx) { tx.end(which, why, at); });
}

void transmission::postEndBefore(serial moment, const char* why) {
    postEnding([moment, why](transmission& tx) { tx.endBefore(moment, why); });
}

template <class F>
void transmission::postEnding(F ending) {
    auto self = std::static_pointer_cast<vtrx>(v_.weak_from_this().lock());
    if (!self) return;
    seqTask t;
    t.fn = [self, ending] { ending(self->tx); };
    t.name = "vtrx.endTransmission";
    self->asyncProcess(t);
}

void transmission::released() {
    if (phase_ == phase::off) return;
    // Speech that goes on after an end the switch did not make belongs to
    // the transmission that ended: the switch waits for a pause.
    if (!voiceReleasing_) voiceWaits_ = true;
    auto& mode = v_.mode;
    if (mode) {
        mode->pttChanged(false);
        mode->dropTransmission(endingAt_ ? endingAt_ : now());
    }
    v_.rampUpPending = false;
    if (ending_ || !mode) {
        finish();
        return;
    }
    // The radio is told once the transmit chain has run out the tail, which
    // only the radio's requests run out.
    phase_ = phase::tail;
    v_.tailLeft = mode->txTailLength;
    watch();
}

bool transmission::endingComing() const {
    // Carried out, it would have ended this transmission, or made a later
    // key over it one of its own that began later.
    return phase_ != phase::off && endingMadeBetween(began_, anyTime);
}

bool transmission::endedBefore(serial at) const {
    if (phase_ == phase::off) return false;
    if (hostEnded.madeBetween(began_, at)) return true;
    auto radio = v_.owner.lock();
    return radio && radio->hostEnded.madeBetween(began_, at);
}

void transmission::finish() {
    if (phase_ == phase::off) return;
    phase_ = phase::off;
    keyer_ = nullptr;
    v_.rampUpPending = false;
    tellRadio(false);
}

void transmission::tellRadio(bool on) {
    // The radio takes the transceiver's requests in order, each naming its
    // transmission: a late one for a transmission it no longer holds changes
    // nothing there.
    if (on) toldOn_ = serial_;
    v_.toRadio("radio.setPtt", [on, s = serial_](Radio& r, vtrx& v) { r.setPtt(on, &v, s); });
}

// ---- the radio's silence ----

void transmission::watch() {
    if (phase_ == phase::off) return;
    const uint64_t check = ++checkSerial_;
    using namespace std::chrono;
    // One millisecond past the limit, so that the check never comes early.
    const auto due = duration_cast<milliseconds>(lastAsked() + stallLimit() - clock::now()) + milliseconds(1);
    seqTask t;
    t.fn = [weak = v_.weak_from_this(), check, which = serial_] {
        if (auto v = std::static_pointer_cast<vtrx>(weak.lock())) v->tx.check(check, which);
    };
    t.name = "vtrx.checkTransmission";
    postDelayed(v_.weak_from_this(), std::max(due, milliseconds(0)), t);
}

void transmission::check(uint64_t check, serial which) {
    if (check != checkSerial_ || phase_ == phase::off || serial_ != which) return;
    if (clock::now() - lastAsked() < stallLimit()) {
        watch(); // the radio still asks
        return;
    }
    spdlog::warn("vtrx: the radio asked for no transmit samples for {} ms; the transmission ends without its tail",
                 stallLimit().count());
    end(which, "its radio stopped asking for samples");
}
