#pragma once
// What the host may expect of the keying after its calls, in the order it
// made them, on a radio with transceivers A and B.
//
// The key made last wins: a host key stands until a later call of the host
// ends it (its unkey, the radio's unkey, stop or canTransmit false, a mode
// detached or replaced, the other transceiver's key), its text's end mark
// goes out, or the key was impossible (the radio stopped or unable to
// transmit). Nothing else ends it: not the voice switch's hold, not a
// peer's SwitchRX, departure or silence, not an ending made before it.
// A CW text is a key the host makes too: the mode keys its transceiver for
// it, as old as the call, so it takes the transmitter from a key made
// before it and loses it to one made after; its end mark ends it, and a
// later call that ends it drops the rest of the text. A text queued on a
// mode the host has on no transceiver keys none: it waits for a key.
//
// Where timing decides, the model does not guess, it allows both: a key
// that another keyer makes with a moment of its own (the voice switch, the
// MultiPSK peer, a JT message starting), which may take the transmitter
// from the other transceiver; a text that may end the host's key with its mark; a
// key made while the radio could not transmit, with the radio able again
// before the key reached it. Each such doubt is settled by what the burst
// left behind, once it has settled.
//
// What it checks of the settled state, in this order: one transmitter (A
// and B never both keyed); a keyed transceiver is on the air (the radio's
// ptt on); the host's last key stands (of A, of B and of the radio itself,
// a CW text's key until its end mark is heard); nothing is on the air while
// the host's last word is off (A or B keyed when neither the host nor
// another keyer may have keyed it, the radio on with neither keyed and no
// key of the host's own on it), which after the host unkeyed everything
// reads: nothing stays keyed.
#include <optional>
#include <string>
#include <vector>

namespace keyhist {

/// The host's key of a transceiver or the radio.
enum class hostKey { none, stands, maybe };

enum class modeKind { none, sigGen, cw, psk, rtty, multipsk, jt };

/// The library's ptt values once the burst has settled.
struct observed {
    bool a = false, b = false, radio = false;
};

class KeyingModel {
public:
    // ---- the host's calls, in its order; x: 0 for A, 1 for B ----
    void keyTransceiver(int x, bool on);
    void keyRadio(bool on);
    void stopRadio();
    void startRadio();
    void setCanTransmit(bool on);
    /// x's mode becomes `instance` of kind k (null detaches).
    void attach(int x, const void* instance, modeKind k);
    /// A text with one end mark queued on the mode `instance` of kind k. A
    /// CW text keys the transceiver the mode is on; PSK and RTTY wait for
    /// the host's key. `markHeard` false: the host does not listen for its
    /// end mark, so its key may end at any time.
    void queueText(const void* instance, modeKind k, bool markHeard = true);
    /// The host heard the end mark of the text queued last on `instance`.
    void textEnded(const void* instance);
    void speech(bool on);
    /// The peer sent SwitchTX, or a JT message was queued: x's mode keys by
    /// itself, at a moment of its own.
    void modeMayKey(int x);

    bool stopped() const { return stopped_; }
    bool canTransmit() const { return canTransmit_; }
    modeKind modeOf(int x) const { return kindOf_[x]; }
    const void* modeInstanceOf(int x) const { return modeOf_[x]; }
    bool textPending(const void* instance) const { return pending(instance); }
    bool speechOn() const { return speech_; }
    hostKey keyOf(int x) const { return key_[x]; }
    hostKey textKeyOf(int x) const { return textKey_[x]; }
    /// Whether x's CW text surely holds the transmitter until its end mark:
    /// nothing but a later call of the host's takes it.
    bool textStands(int x) const { return effectiveText(x) == hostKey::stands; }
    /// Nothing keys A or B, nor may this burst.
    bool quiet() const;

    // ---- checks ----
    struct verdict {
        std::string invariant;
        std::string detail;
    };
    /// The first invariant the settled state breaks. `unkeyedAll`: the
    /// burst was the host's unkey of everything.
    std::optional<verdict> check(observed o, bool unkeyedAll) const;
    /// The burst has settled in o: what timing left open is now known, and
    /// the next burst begins.
    void settled(observed o);
    std::string describe() const;

private:
    /// x's keys as the checks read them, doubts included.
    hostKey effective(int x) const;
    hostKey effectiveText(int x) const;
    /// Another keyer than the host's calls may key x.
    bool othersMayKey(int x) const {
        return othersKeyed_[x] || othersMayKey_[x] || (x == 0 && speechMayKeyA_);
    }
    /// ...and take the transmitter from the other transceiver, after its key.
    bool othersMayKeyAfter(int x) const { return othersMayKey_[x] || (x == 0 && speechInBurst_); }
    bool pending(const void* instance) const;
    void dropPending(const void* instance);
    /// x's transmission ends: its CW text's key, and the rest of that text.
    void endText(int x);
    /// A key of x takes the transmitter: the other transceiver's ends.
    void takeFromOther(int x);
    /// Everything keyed so far ends: the radio went off the air.
    void endAll();
    /// The radio can transmit again: keys refused meanwhile may have waited.
    void revive();

    bool stopped_ = false;
    bool canTransmit_ = true;
    bool speech_ = false;
    hostKey key_[2] = {hostKey::none, hostKey::none};
    bool refusedKey_[2] = {false, false}; // made while the radio could not transmit
    hostKey textKey_[2] = {hostKey::none, hostKey::none}; // a CW text's key
    bool refusedText_[2] = {false, false};
    bool markUnheard_[2] = {false, false}; // of the CW text keyed last
    hostKey radioKey_ = hostKey::none;
    bool othersKeyed_[2] = {false, false};  // settled on, keyed by another than the host
    bool othersMayKey_[2] = {false, false}; // this burst: the peer, a JT message
    // The voice switch may key A: since the host's last call on A, whose
    // request runs in order with the speech's; and at any time this burst,
    // for B, whose key it may follow.
    bool speechMayKeyA_ = false;
    bool speechInBurst_ = false;
    const void* modeOf_[2] = {nullptr, nullptr};
    modeKind kindOf_[2] = {modeKind::none, modeKind::none};
    std::vector<const void*> pending_; // modes with a text whose mark was not heard
};

} // namespace keyhist
