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
//
// Where timing decides, the model does not guess, it allows both: a key of
// A that may come from another keyer (the voice switch, a CW text, the
// MultiPSK peer) and may take the transmitter from B; a text that may end
// the host's key with its mark;
// a key made while the radio could not transmit, with the radio able again
// before the key reached it. Each such doubt is settled by what the burst
// left behind, once it has settled.
//
// What it checks of the settled state, in this order: one transmitter (A
// and B never both keyed); a keyed transceiver is on the air (the radio's
// ptt on); the host's last key stands (of A, of B and of the radio itself);
// nothing is on the air while the host's last word is off (A or B keyed
// when neither the host nor another keyer may have keyed it, the radio on
// with neither keyed and no key of the host's own on it), which after the
// host unkeyed everything reads: nothing stays keyed.
#include <optional>
#include <string>

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
    /// A's mode becomes `instance` of kind k (null detaches).
    void attach(const void* instance, modeKind k);
    /// A text with one end mark queued on the mode of kind k (CW keys A
    /// by itself; PSK and RTTY wait for the host's key).
    void queueText(modeKind k);
    /// The host heard the end mark of the text queued last on kind k.
    void textEnded(modeKind k);
    void speech(bool on);
    /// The peer sent SwitchTX, or a JT message was queued: A's mode keys
    /// by itself.
    void modeMayKey();

    bool stopped() const { return stopped_; }
    bool canTransmit() const { return canTransmit_; }
    modeKind modeOfA() const { return kindOfA_; }
    const void* modeInstanceOfA() const { return modeOfA_; }
    bool textPending(modeKind k) const { return pending(k); }
    bool speechOn() const { return speech_; }
    hostKey keyOf(int x) const { return key_[x]; }

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
    /// A's and B's keys as the checks read them, doubts included.
    hostKey effective(int x) const;
    bool othersMayKeyA() const { return othersKeyedA_ || othersMayKeyA_ || speechMayKeyA_; }
    bool pending(modeKind k) const;
    /// Everything keyed so far ends: the radio went off the air.
    void endAll();
    /// The radio can transmit again: keys refused meanwhile may have waited.
    void revive();

    bool stopped_ = false;
    bool canTransmit_ = true;
    bool speech_ = false;
    hostKey key_[2] = {hostKey::none, hostKey::none};
    bool refusedKey_[2] = {false, false}; // made while the radio could not transmit
    hostKey radioKey_ = hostKey::none;
    bool othersKeyedA_ = false;  // A settled on, keyed by another than the host
    bool othersMayKeyA_ = false; // this burst: a CW text or the peer may key A at any time
    // The voice switch may key A: since the host's last call on A, whose
    // request runs in order with the speech's; and at any time this burst,
    // for B, whose key it may follow.
    bool speechMayKeyA_ = false;
    bool speechInBurst_ = false;
    const void* modeOfA_ = nullptr;
    modeKind kindOfA_ = modeKind::none;
    bool cwText_ = false, pskText_ = false, rttyText_ = false; // a text whose mark was not heard
};

} // namespace keyhist
