#include "core/keyingModel.h"

#include <algorithm>
#include <utility>

namespace keyhist {

namespace {

const char* nameOf(hostKey k) {
    constexpr const char* names[] = {"none", "stands", "maybe"};
    return names[int(k)];
}
const char* nameOf(modeKind k) {
    constexpr const char* names[] = {"none", "sigGen", "CW", "PSK", "RTTY", "MultiPSK", "JT"};
    return names[int(k)];
}
bool contains(const std::vector<const void*>& list, const void* p) {
    return std::find(list.begin(), list.end(), p) != list.end();
}

} // namespace

void KeyingModel::keyTransceiver(int x, bool on) {
    refusedKey_[x] = false;
    othersKeyed_[x] = false; // the host's call ends it, or keys over it
    if (x == 0) speechMayKeyA_ = speech_;
    if (!on) {
        key_[x] = hostKey::none;
        endText(x);
        return;
    }
    if (stopped_ || !canTransmit_) {
        key_[x] = hostKey::none;
        refusedKey_[x] = true;
        return;
    }
    key_[x] = hostKey::stands;
    takeFromOther(x);
}

void KeyingModel::takeFromOther(int x) {
    const int other = 1 - x;
    key_[other] = hostKey::none;
    refusedKey_[other] = false;
    othersKeyed_[other] = false;
    endText(other);
}

void KeyingModel::endText(int x) {
    // A key that surely came is ended, and its text dropped, whichever of
    // the two reaches the transceiver first; one that may never have come
    // leaves its text waiting.
    if (textKey_[x] == hostKey::stands && kindOf_[x] == modeKind::cw) dropPending(modeOf_[x]);
    textKey_[x] = hostKey::none;
    refusedText_[x] = false;
}

void KeyingModel::keyRadio(bool on) {
    if (!on) {
        radioKey_ = hostKey::none;
        endAll();
        return;
    }
    radioKey_ = stopped_ || !canTransmit_ ? hostKey::none : hostKey::stands;
}

void KeyingModel::endAll() {
    for (int x : {0, 1}) {
        key_[x] = hostKey::none;
        refusedKey_[x] = false;
        othersKeyed_[x] = false;
        endText(x);
    }
}

void KeyingModel::stopRadio() {
    stopped_ = true;
    radioKey_ = hostKey::none;
    endAll();
}

void KeyingModel::startRadio() {
    stopped_ = false;
    revive();
}

void KeyingModel::setCanTransmit(bool on) {
    canTransmit_ = on;
    if (!on) {
        radioKey_ = hostKey::none;
        endAll();
        return;
    }
    revive();
}

void KeyingModel::revive() {
    if (stopped_ || !canTransmit_) return;
    // Whether the radio met the key before or after it could transmit again
    // is timing: both outcomes are the host's.
    for (int x : {0, 1}) {
        if (std::exchange(refusedKey_[x], false)) key_[x] = hostKey::maybe;
        if (std::exchange(refusedText_[x], false)) textKey_[x] = hostKey::maybe;
    }
}

void KeyingModel::attach(int x, const void* instance, modeKind k) {
    if (modeOf_[x] && instance != modeOf_[x]) {
        // The outgoing mode takes x's transmission with it.
        key_[x] = hostKey::none;
        refusedKey_[x] = false;
        othersKeyed_[x] = false;
        endText(x);
    }
    modeOf_[x] = instance;
    kindOf_[x] = instance ? k : modeKind::none;
}

void KeyingModel::queueText(const void* instance, modeKind k, bool markHeard) {
    if (!pending(instance)) pending_.push_back(instance);
    if (k != modeKind::cw) return;
    int x = -1;
    for (int i : {0, 1})
        if (modeOf_[i] == instance) x = i;
    if (x < 0) return; // on no transceiver: it waits for a key
    markUnheard_[x] = !markHeard;
    if (stopped_ || !canTransmit_) {
        // Refused: the text waits for x's next transmission.
        refusedText_[x] = true;
        return;
    }
    // Ended by its mark, which nobody hears, it may be off at any time.
    textKey_[x] = markHeard ? hostKey::stands : hostKey::maybe;
    refusedText_[x] = false;
    takeFromOther(x);
}

void KeyingModel::textEnded(const void* instance) {
    if (!pending(instance)) return;
    dropPending(instance);
    for (int x : {0, 1}) {
        if (modeOf_[x] != instance) continue;
        textKey_[x] = hostKey::none;
        // The mark ended the transmission it went out in: the host's key,
        // unless the host keyed again after it went out and before it heard
        // it.
        if (key_[x] == hostKey::stands) key_[x] = hostKey::maybe;
    }
}

bool KeyingModel::pending(const void* instance) const { return instance && contains(pending_, instance); }

void KeyingModel::dropPending(const void* instance) {
    pending_.erase(std::remove(pending_.begin(), pending_.end(), instance), pending_.end());
}

void KeyingModel::speech(bool on) {
    // The switch keys on speech whenever it may: from now on, and in every
    // burst while the speech goes on. A voice key takes a moment when the
    // switch makes it, which may come after a key of B made later.
    speech_ = on;
    if (on) speechMayKeyA_ = speechInBurst_ = true;
}

void KeyingModel::modeMayKey(int x) { othersMayKey_[x] = true; }

bool KeyingModel::quiet() const {
    for (int x : {0, 1})
        if (key_[x] != hostKey::none || textKey_[x] != hostKey::none || othersMayKey(x)) return false;
    return !speech_;
}

hostKey KeyingModel::effective(int x) const {
    const hostKey k = key_[x];
    if (k != hostKey::stands) return k;
    // x's text may end the host's key with its mark (CW's hang time never
    // does).
    if (pending(modeOf_[x])) return hostKey::maybe;
    // Another keyer of the other transceiver may have keyed after this key.
    if (othersMayKeyAfter(1 - x)) return hostKey::maybe;
    return k;
}

hostKey KeyingModel::effectiveText(int x) const {
    const hostKey k = textKey_[x];
    if (k == hostKey::stands && othersMayKeyAfter(1 - x)) return hostKey::maybe;
    return k;
}

std::optional<KeyingModel::verdict> KeyingModel::check(observed o, bool unkeyedAll) const {
    if (o.a && o.b) return verdict{"one transmitter", "A and B are both keyed"};
    if ((o.a || o.b) && !o.radio)
        return verdict{"a keyed transceiver is on the air",
                       std::string(o.a ? "A" : "B") + " is keyed and the radio's ptt is off"};
    const bool on[2] = {o.a, o.b};
    const char* name[2] = {"A", "B"};
    for (int x : {0, 1}) {
        if (effective(x) == hostKey::stands && !on[x])
            return verdict{"the host's last key stands", std::string(name[x]) + "'s key was lost"};
        if (effectiveText(x) == hostKey::stands && !on[x])
            return verdict{"the host's last key stands",
                           std::string(name[x]) + "'s CW text lost its key before its end mark"};
    }
    if (radioKey_ == hostKey::stands && !o.radio)
        return verdict{"the host's last key stands", "the host's own key of the radio was lost"};
    const std::string offWord = unkeyedAll ? "nothing stays keyed after the host unkeyed all"
                                           : "nothing is on the air while the host's last word is off";
    for (int x : {0, 1})
        if (effective(x) == hostKey::none && textKey_[x] == hostKey::none && !othersMayKey(x) && on[x])
            return verdict{offWord, std::string(name[x]) +
                                        " is keyed; the host's last word on it is off and nothing else may key it"};
    if (o.radio && !o.a && !o.b && radioKey_ == hostKey::none)
        return verdict{offWord, "the radio is on the air with A and B off and no key of the host's own on it"};
    return std::nullopt;
}

void KeyingModel::settled(observed o) {
    const bool on[2] = {o.a, o.b};
    for (int x : {0, 1}) {
        if (effective(x) != hostKey::stands && key_[x] != hostKey::none) {
            if (!on[x])
                key_[x] = hostKey::none;
            else if (key_[x] == hostKey::maybe && !othersMayKey(x))
                key_[x] = hostKey::stands;
        }
        if (textKey_[x] == hostKey::maybe) textKey_[x] = on[x] && !markUnheard_[x] ? hostKey::stands : hostKey::none;
        // x on without a key of the host's that surely stands: another
        // keyer's, which ends by itself.
        othersKeyed_[x] = on[x] && key_[x] != hostKey::stands && textKey_[x] != hostKey::stands;
        othersMayKey_[x] = false;
    }
    // Speech that goes on may key A whenever the switch may key again; a
    // loaded machine may hold its receive blocks up past any settling.
    speechMayKeyA_ = speechInBurst_ = speech_;
}

std::string KeyingModel::describe() const {
    std::string s;
    const char* name[2] = {"A", "B"};
    for (int x : {0, 1}) {
        s += std::string(x ? ", " : "") + name[x] + "'s key " + nameOf(key_[x]);
        if (textKey_[x] != hostKey::none) s += std::string(", its CW text's key ") + nameOf(textKey_[x]);
        if (othersKeyed_[x]) s += std::string(", ") + name[x] + " keyed by another keyer";
        s += std::string(", ") + name[x] + "'s mode " + nameOf(kindOf_[x]);
        if (pending(modeOf_[x])) s += " (a text pending)";
    }
    s += ", the radio's key ";
    s += nameOf(radioKey_);
    s += stopped_ ? ", radio stopped" : "";
    s += canTransmit_ ? "" : ", canTransmit false";
    s += speech_ ? ", speech on" : "";
    return s;
}

} // namespace keyhist
