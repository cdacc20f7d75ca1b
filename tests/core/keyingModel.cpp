#include "core/keyingModel.h"

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

} // namespace

void KeyingModel::keyTransceiver(int x, bool on) {
    refusedKey_[x] = false;
    if (x == 0) {
        othersKeyedA_ = false; // the host's call ends it, or keys over it
        speechMayKeyA_ = speech_;
    }
    if (!on) {
        key_[x] = hostKey::none;
        return;
    }
    if (stopped_ || !canTransmit_) {
        key_[x] = hostKey::none;
        refusedKey_[x] = true;
        return;
    }
    key_[x] = hostKey::stands;
    // The transmitter goes to the key made last.
    const int other = 1 - x;
    key_[other] = hostKey::none;
    refusedKey_[other] = false;
    if (other == 0) othersKeyedA_ = false;
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
    }
    othersKeyedA_ = false;
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
    for (int x : {0, 1})
        if (std::exchange(refusedKey_[x], false)) key_[x] = hostKey::maybe;
}

void KeyingModel::attach(const void* instance, modeKind k) {
    if (modeOfA_ && instance != modeOfA_) {
        // The outgoing mode takes A's transmission with it.
        key_[0] = hostKey::none;
        refusedKey_[0] = false;
        othersKeyedA_ = false;
    }
    modeOfA_ = instance;
    kindOfA_ = instance ? k : modeKind::none;
}

void KeyingModel::queueText(modeKind k) {
    if (k == modeKind::cw) {
        othersMayKeyA_ = true; // CW keys for its text
        cwText_ = true;
    }
    if (k == modeKind::psk) pskText_ = true;
    if (k == modeKind::rtty) rttyText_ = true;
}

void KeyingModel::textEnded(modeKind k) {
    if (!pending(k)) return;
    if (k == modeKind::cw) cwText_ = false;
    if (k == modeKind::psk) pskText_ = false;
    if (k == modeKind::rtty) rttyText_ = false;
    // The mark ended the transmission it went out in: the host's key, unless
    // the host keyed again after it went out and before it heard it.
    if (kindOfA_ == k && key_[0] == hostKey::stands) key_[0] = hostKey::maybe;
}

bool KeyingModel::pending(modeKind k) const {
    return (k == modeKind::cw && cwText_) || (k == modeKind::psk && pskText_) || (k == modeKind::rtty && rttyText_);
}

void KeyingModel::speech(bool on) {
    // The switch keys on speech whenever it may: from now on, and in every
    // burst while the speech goes on. A voice key takes a moment when the
    // switch makes it, which may come after a key of B made later.
    speech_ = on;
    if (on) speechMayKeyA_ = speechInBurst_ = true;
}

void KeyingModel::modeMayKey() { othersMayKeyA_ = true; }

hostKey KeyingModel::effective(int x) const {
    const hostKey k = key_[x];
    if (k != hostKey::stands) return k;
    // A's text may end the host's key with its mark (CW's hang time never
    // does).
    if (x == 0 && pending(kindOfA_)) return hostKey::maybe;
    // Another keyer of A may have keyed after B's key.
    if (x == 1 && (othersMayKeyA_ || speechInBurst_)) return hostKey::maybe;
    return k;
}

std::optional<KeyingModel::verdict> KeyingModel::check(observed o, bool unkeyedAll) const {
    if (o.a && o.b) return verdict{"one transmitter", "A and B are both keyed"};
    if ((o.a || o.b) && !o.radio)
        return verdict{"a keyed transceiver is on the air",
                       std::string(o.a ? "A" : "B") + " is keyed and the radio's ptt is off"};
    const hostKey a = effective(0), b = effective(1);
    if (a == hostKey::stands && !o.a) return verdict{"the host's last key stands", "A's key was lost"};
    if (b == hostKey::stands && !o.b) return verdict{"the host's last key stands", "B's key was lost"};
    if (radioKey_ == hostKey::stands && !o.radio)
        return verdict{"the host's last key stands", "the host's own key of the radio was lost"};
    const std::string offWord = unkeyedAll ? "nothing stays keyed after the host unkeyed all"
                                           : "nothing is on the air while the host's last word is off";
    if (a == hostKey::none && !othersMayKeyA() && o.a)
        return verdict{offWord, "A is keyed; the host's last word on it is off and nothing else may key it"};
    if (b == hostKey::none && o.b) return verdict{offWord, "B is keyed; the host's last word on it is off"};
    if (o.radio && !o.a && !o.b && radioKey_ == hostKey::none)
        return verdict{offWord, "the radio is on the air with A and B off and no key of the host's own on it"};
    return std::nullopt;
}

void KeyingModel::settled(observed o) {
    const bool on[2] = {o.a, o.b};
    for (int x : {0, 1}) {
        if (effective(x) == hostKey::stands || key_[x] == hostKey::none) continue;
        if (!on[x])
            key_[x] = hostKey::none;
        else if (key_[x] == hostKey::maybe && !(x == 0 && othersMayKeyA()))
            key_[x] = hostKey::stands;
    }
    // A on without a key of the host's that surely stands: another keyer's,
    // which ends by itself.
    othersKeyedA_ = o.a && key_[0] != hostKey::stands;
    // Speech that goes on may key A whenever the switch may key again; a
    // loaded machine may hold its receive blocks up past any settling.
    othersMayKeyA_ = false;
    speechMayKeyA_ = speechInBurst_ = speech_;
}

std::string KeyingModel::describe() const {
    std::string s = "A's key ";
    s += nameOf(key_[0]);
    s += ", B's key ";
    s += nameOf(key_[1]);
    s += ", the radio's key ";
    s += nameOf(radioKey_);
    if (othersKeyedA_) s += ", A keyed by another keyer";
    s += stopped_ ? ", radio stopped" : "";
    s += canTransmit_ ? "" : ", canTransmit false";
    s += speech_ ? ", speech on" : "";
    s += ", A's mode ";
    s += nameOf(kindOfA_);
    if (pending(kindOfA_)) s += " (a text pending)";
    return s;
}

} // namespace keyhist
