#pragma once
// transmission: the one owner of a transceiver's transmission.
//
// Who keys it:
//  - A transmission has one keyer: the host (through the transceiver's
//    ptt), a mode (its text, message or network peer) or the transceiver's
//    voice switch. One way in: ptt going on (its change hook calls
//    pttChanged). While one is on, a mode's or the switch's key changes
//    nothing, not even who keyed it: the first keyer keeps the transmission.
//    The host's key is the exception: the key the host made last stands, so
//    a host key made while a transmission is on makes the host its keyer and
//    its moment the transmission's serial from then on. So does a mode's
//    key for a host's call (a CW text) over what the voice switch keyed,
//    whose hold would otherwise end the text. What the transmission sends
//    goes on (a text, a peer's over); only who may end it changes. Across
//    the transceivers of one radio the transceiver keyed last takes the
//    radio's transmitter (Radio::setPtt).
//  - Its identity is its serial: the moment it was keyed, on one clock for
//    the whole process (now()). A host key takes its moment when the host
//    makes the call, so that keys and endings the host makes on different
//    objects compare in the order the host made them, whichever object gets
//    to its work first. So does a mode's key for a host's call (a CW text,
//    the hand key): it is as old as the call, keyed or not when it comes.
//    Only a key no host call asked for (the voice switch, a JT period
//    starting, a MultiPSK peer's over) takes the moment it is made.
//
// Who may end it, and nothing else:
//  - its keyer's own end: a text's end mark or a message's end, for what the
//    mode or the host keyed (the host keys the text modes); a mode's own
//    timeout (CW's hang time, the peer's silence), the peer's SwitchRX or
//    its departure, and the voice switch's hold, each only for what it keyed
//    itself;
//  - the host: its unkey, letting go of the transceiver, and, through the
//    radio, the radio's stop, unkey, canTransmit false and release;
//  - what makes it impossible: its mode or its transceiver goes, the radio
//    refuses it or gives the transmitter to a later key, the radio stops
//    asking for samples.
//  Every ending that is queued, deferred or comes from another object names
//  what it ends: one transmission by its serial (end), or every transmission
//  keyed before a moment (endBefore). One that finds its transmission over
//  does nothing: a key made after it stands. Every ending the host's call
//  makes (its unkey, the mode's detach, move or replacement, the removal,
//  the let-go, the radio's endings) also refuses a key made before its
//  moment that arrives after it: had the key come first, the ending would
//  have ended it. What such a key was for (its text) is dropped with it,
//  and the radio still hears of the key: it takes the transmitter at its
//  moment from every transmission keyed before it, as it would have had it
//  come first and then been ended (Radio::keyEnded).
//  A host key over a transmission does not move the moment it began: an
//  ending made between the two ends what the transmission sent (its text,
//  its mode's keying), and the host's key goes on as a transmission of its
//  own. So does a mode's key for what the host asked after such an ending
//  (a text queued after it), which would otherwise have been lost in the
//  transmission the ending ends.
//
// What an ending takes:
//  - Every ending has a moment: the host's call, or, for one the library
//    makes itself, when it makes it. An ending the radio carries out for a
//    host's call has that call's moment: another transceiver's key takes
//    the transmitter at the key's moment, from every transmission begun
//    before it; a removal ends at the host's removal. It drops what the
//    transmission still holds that came before that moment (the rest of its
//    text up to its end mark); a text the host queued after it belongs to
//    the next transmission and waits for it whole.
//  - An ending the host makes reaches the transceiver later than the host's
//    next calls on a mode may reach the mode. So the host's endings are
//    marked as the host makes them (hostEndings, on the transceiver and on
//    its radio), and so are its keys of the radio's other transceivers
//    (hostKeys), until the radio has taken them and marked the endings
//    they make; a transmission that such an ending will end takes nothing
//    more to send (endingComing): what the host queued after the ending
//    never goes out in it.
//
// Where it is (where()) is the one state: keyed, tail (released: the mode's
// tail runs out while the radio keeps asking) or off. Whatever else reads
// it (the transceiver's transmitting(), a mode's pttReleased()) derives
// from it.
//
// How it ends:
//  - One way out (finish), which every ending reaches and which does the same
//    things each time: ptt is false with the host told (a system change is
//    told once, as only a change is told; a value the host set itself is
//    never echoed, and one told before the host's latest set never reaches
//    it: framework/hostWord.h), the radio is told, and the transceiver
//    transmits nothing more of it. Reaching it twice does nothing more.
//  - As ptt goes off, however it goes, the mode is told and drops what it
//    still holds of the transmission (the rest of its text up to its end
//    mark, the rest of its message, its peer's samples), so that nothing of
//    it goes out later.
//  - release: ptt off, then the tail runs out while the radio asks, then the
//    way out. end: at once, without the tail, logged with why.
//  - A transmission whose radio has asked for nothing for a while, counted
//    from its last request (or from the key), ends: its tail, its text's end
//    mark, its message's end and the voice switch's hold come only through
//    the radio's requests and receive blocks, and a radio that went silent
//    sends nothing of it. A tail, which only drops what would have gone out
//    anyway, ends after tailStallLimit; a keyed transmission, which the host
//    would lose in mid-air, after keyedStallLimit, long enough that a
//    machine under load (a radio thread held up for a few hundred
//    milliseconds) never cuts it. A request counts when the radio asks, not
//    when the transceiver gets to it. Both limits are stretched in a
//    sanitizer build (framework/buildSlowdown.h), whose threads are held up
//    that much longer; a plain build's are as written.
//  - A transceiver the host let go of is keyed by nothing again: every later
//    key is refused, and what waits to key it (a mode's queued message) is
//    dropped.
//
// Threads: everything here runs on the transceiver's task group, except
// now(), asked() and the post functions.
#include "framework/buildSlowdown.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>

class vtrx;
class modDemod;

/// The latest of moments noted from any thread.
class latestMoment {
public:
    /// Any thread.
    void note(uint64_t at) {
        uint64_t seen = latest_.load();
        while (seen < at && !latest_.compare_exchange_weak(seen, at)) {
        }
    }
    /// 0 when none was noted. Any thread.
    uint64_t get() const { return latest_.load(); }

private:
    std::atomic<uint64_t> latest_{0};
};

/// The endings made of what one object transmits (a transceiver's, or every
/// one of a radio's transceivers') that may not have reached it yet: the
/// host's, marked on the host thread as the host makes the call, before its
/// request is queued, and those the radio carries out for a host's call,
/// marked before the radio queues them.
class hostEndings {
public:
    /// Any thread.
    void made(uint64_t at) {
        latest_.note(at);
        std::lock_guard<std::mutex> l(recentLock_);
        recent_[next_++ % recent_.size()] = at;
    }
    /// The moment of the latest ending made, 0 when none. Any thread.
    uint64_t latest() const { return latest_.get(); }
    /// Whether one of the last endings made came after `since` and before
    /// `until`, a later one made since or not. Any thread.
    bool madeBetween(uint64_t since, uint64_t until) const {
        std::lock_guard<std::mutex> l(recentLock_);
        for (uint64_t at : recent_)
            if (at > since && at < until) return true;
        return false;
    }

private:
    latestMoment latest_;
    // Enough for the endings a host makes of one transmission back to back:
    // an older one has reached the transceiver long since.
    mutable std::mutex recentLock_;
    std::array<uint64_t, 16> recent_{};
    size_t next_ = 0;
};

/// The host's keys of one transceiver on their way to its radio: marked on
/// the host thread as the host makes the call, and taken once the radio has
/// taken the key (or the key went no further than the transceiver). A key
/// the radio has yet to take will take the transmitter from every other
/// transceiver's transmission begun before it.
class hostKeys {
public:
    /// Any thread.
    void made(uint64_t at) { made_.note(at); }
    void taken(uint64_t at) { taken_.note(at); }
    /// Whether a key made after `since` and before `until` has not been
    /// taken yet, as far as the latest one tells. Any thread.
    bool comingBetween(uint64_t since, uint64_t until) const {
        const uint64_t made = made_.get();
        return made > since && made < until && made > taken_.get();
    }

private:
    latestMoment made_, taken_;
};

/// A key a host's call asks of a mode (a CW text, its hand key), on its way
/// through the mode's task group to the transceiver the host had the mode
/// on: marked there as the host makes the call, as the host's own keys are
/// (hostKeys), and taken once it has gone as far as it goes: by the radio,
/// or by the transceiver when it goes no further (transmission::keyFor).
/// A key that never reaches that transceiver once the mode has asked for
/// it (sent) was taken away by a later call of the host's (the mode moved,
/// detached or replaced): as the last holder lets go of it, its radio hears
/// of it as a key that came and was ended (transmission::postKeyEnded). One
/// dropped before the mode asked (its request not queued, nothing queued
/// for it) is only counted as taken. Any thread.
class askedKey {
public:
    /// Host thread, as the host makes the call at `at`.
    askedKey(const std::shared_ptr<vtrx>& v, uint64_t at);
    ~askedKey();
    askedKey(const askedKey&) = delete;
    askedKey& operator=(const askedKey&) = delete;
    /// The moment of the host's call.
    uint64_t at() const { return at_; }
    /// Whether the host had let go of the transceiver before the call: the
    /// key takes nothing there.
    bool afterLetGo() const { return void_; }
    /// The mode asks for the key: what the call queued waits for it. The
    /// mode's task group.
    void sent() { sent_.store(true); }
    /// Whether the key is v's, the transceiver the host had the mode on;
    /// if so, v has run the mode's key for it (keyFor) and counts it taken
    /// from there. v's task group.
    bool reached(const vtrx& v);

private:
    std::weak_ptr<vtrx> v_;
    const vtrx* marked_;
    uint64_t at_;
    bool void_;                 // the host had let go of v before the call
    std::atomic<bool> sent_{false};
    std::atomic<bool> reached_{false};
};

class transmission {
public:
    enum class phase { off, keyed, tail };
    using clock = std::chrono::steady_clock;
    /// A transmission's identity, and the moment of a key or an ending.
    using serial = uint64_t;
    /// Later than every moment: "whatever is on".
    static constexpr serial anyTime = std::numeric_limits<serial>::max();

    /// The next moment of the process's one clock: later than every moment
    /// taken before it, on any thread. Never 0.
    static serial now();

    explicit transmission(vtrx& transceiver) : v_(transceiver) {}
    transmission(const transmission&) = delete;
    transmission& operator=(const transmission&) = delete;

    // ---- the way in ----
    /// The host's set of ptt, made at moment `at`. On: keys for the host, or
    /// is refused and the host told that ptt stays off; while a transmission
    /// is on, makes the host its keyer at `at` (see hostTakesOver). Off:
    /// releases a transmission keyed before `at`; a key made after it
    /// stands (as a transmission of its own, when it keyed over one that
    /// began before), and the host is told that ptt is on. Own task group.
    void hostKey(bool on, serial at);
    /// The mode's own key (a JT period starting, a MultiPSK peer's over),
    /// at the moment it comes, if the mode is still attached here. True when
    /// the transceiver transmits afterwards (keyed by the mode now, or by
    /// whoever keyed it first); false when the key was refused. Own task
    /// group.
    bool keyFor(modDemod& mode);
    /// The mode's key for the host's call `order` (a text it queued, the
    /// hand key), as old as the call. Refused, and the mode told to drop
    /// what the call queued (keyRefused), when the mode was not here at that
    /// moment or an ending made after it has come first or is on its way;
    /// refused for something the host did after the call, it still takes
    /// the transmitter at the call's moment from every transmission keyed
    /// before it (postKeyEnded), as had it come and then been ended. When
    /// the host ended the key on after it was made and before that call,
    /// the key goes on past that ending as a transmission of its own. Own
    /// task group.
    bool keyFor(modDemod& mode, askedKey& order);
    /// A key of this transceiver's made at `at` for a host's call that a
    /// later call of the host's ended on its way: the radio takes the
    /// transmitter at `at` from every other transmission keyed before it,
    /// and then counts the key taken. Any thread.
    void postKeyEnded(serial at);
    /// Keys for the transceiver's voice switch, unless a transmission was
    /// ended by anything but the switch's hold and the speech has not
    /// paused since: speech that goes on belongs to that transmission. Own
    /// task group.
    void keyForVoice();
    /// A mode has come to the transceiver (attached, or arrived from the
    /// transceiver that ran it until then): a keyed transmission, which no
    /// mode sent until now (a replaced one ends with its mode), begins for
    /// it too, as it would have had the mode been there when it was keyed:
    /// what the host queues on it goes out in it. Own task group.
    void modeJoins();
    /// The voice switch heard a pause in the speech: it may key again. Own
    /// task group.
    void voicePaused() { voiceWaits_ = false; }

    // ---- endings ----
    /// The mode's own end of what it sends (its text's end mark, its
    /// message's end, its peer's SwitchRX): releases what the mode or the
    /// host keyed, if the mode is still attached here. Own task group.
    void releaseBy(const modDemod& mode);
    /// Releases what `keyer` keyed before `before` (a mode told to stop, a
    /// mode's own timeout). Own task group.
    void releaseIfKeyedBy(const modDemod& keyer, serial before = anyTime);
    /// Releases the transmission `which` if `keyer` still keys it (a peer's
    /// SwitchRX, silence or departure, which end the over it keyed). Own
    /// task group.
    void releaseKey(const modDemod& keyer, serial which);
    /// The voice switch's hold ran out: releases what the switch keyed. Own
    /// task group.
    void releaseByVoice();
    /// The host let go of the transceiver at moment `at`: what is on is
    /// released, nothing keys it again, and the mode drops what waited to
    /// key it that the host queued before `at`. Own task group.
    void hostLetGo(serial at);
    /// Ends the transmission `which` at once, without its tail, if it is
    /// still on; logged with why (a text that lives for ever). `at`: the
    /// moment the ending was made. Own task group.
    void end(serial which, const char* why, serial at = now());
    /// Ends at once what began before `moment`, and refuses a key made
    /// before it that comes later. A host key made after `moment` over a
    /// transmission that began before it stands, as a transmission of its
    /// own. Own task group.
    void endBefore(serial moment, const char* why);
    /// Ends at once whatever is on: what would end it goes (the mode, the
    /// transceiver), from a request of this transceiver's own made at `at`;
    /// a key made before `at` that comes later is refused. Own task group.
    void endWhateverIsOn(const char* why, serial at = now());
    /// An ending made at `at` came: a key made before it that comes later
    /// is refused, as `why`. Own task group.
    void endedAt(serial at, const char* why);
    /// end (made at `at`, by default now) and endBefore, queued on the
    /// transceiver's task group. Any thread.
    void postEnd(serial which, const char* why, serial at = now());
    void postEndBefore(serial moment, const char* why);

    // ---- from the transceiver ----
    /// The ptt hook: the way in when ptt went on, the release when it went
    /// off. Own task group.
    void pttChanged();
    /// The radio asks for transmit samples (as it queues the request, or as
    /// the request runs). Any thread.
    void asked() { lastAsked_.store(clock::now().time_since_epoch().count(), std::memory_order_relaxed); }
    /// The tail and the silence after it have gone out: the way out. Own
    /// task group.
    void tailRanOut() { finish(); }

    phase where() const { return phase_; }
    /// The serial of the transmission on (keyed or in its tail), 0 when
    /// off. Own task group.
    serial current() const { return phase_ == phase::off ? 0 : serial_; }
    /// The moment the transmission on began, 0 when off: unlike current(),
    /// the host's key over it leaves it as it was. What the transmission
    /// sends belongs to it. Own task group.
    serial began() const { return phase_ == phase::off ? 0 : began_; }
    /// Whether `keyer` keys the transmission on now. Own task group.
    bool keyedBy(const modDemod& keyer) const { return phase_ == phase::keyed && keyer_ == &keyer; }
    /// Whether the voice switch keyed the transmission on now.
    bool keyedByVoice() const;
    /// Whether the host let go of the transceiver.
    bool letGo() const { return letGo_; }
    /// The host lets go of the transceiver: from here on its calls key
    /// nothing there. Host thread, as it makes the call; read on any.
    void hostLetsGo() { letGoMade_.store(true); }
    bool letGoMade() const { return letGoMade_.load(); }
    /// Whether the host has made an ending, not yet carried out here, of the
    /// transmission on: it takes nothing more to send. Own task group.
    bool endingComing() const;
    /// Whether an ending of the transmission on was made before `at`, here
    /// or on its radio, carried out yet or not: what the host queued at `at`
    /// is for a later transmission. Own task group.
    bool endedBefore(serial at) const;

    /// The endings of this transceiver's transmissions made elsewhere: the
    /// host's (its unkey, the mode's detach or move, the transceiver's
    /// release or removal), marked as it makes them, and the radio's for
    /// another transceiver's key. Any thread.
    hostEndings hostEnded;
    /// The host's keys of this transceiver on their way to the radio. Any
    /// thread.
    hostKeys hostKeyed;

    /// See the rules above; every radio that transmits asks many times
    /// within either.
    std::chrono::milliseconds tailStallLimit{250 * vireo::buildSlowdown};
    std::chrono::milliseconds keyedStallLimit{1000 * vireo::buildSlowdown};

private:
    /// Why a key made at `at` cannot be carried out here, or null.
    const char* refusal(serial at) const;
    struct refused {
        const char* why = nullptr; // null: not refused
        bool late = false;         // for something the host did after the call
    };
    /// Why the mode's key for the host's call at `asked` cannot be carried
    /// out here.
    refused refusalFor(const modDemod& mode, serial asked) const;
    /// quiet: a refusal is not logged (the voice switch asks every block).
    /// asked: see keyFor.
    bool keyBy(const void* keyer, bool quiet, serial asked);
    void release();
    /// A change of ptt that the host is told of.
    void setPtt(bool on);
    /// hostKey's key.
    void hostKeyOn(serial at);
    /// The host keys while a transmission is on.
    void hostTakesOver(serial at);
    /// `keyer` (null: the host) keys, at moment `at`, over the transmission
    /// on: it becomes its keyer, and the key's moment its serial.
    void keyOver(const void* keyer, serial at);
    /// Whether an ending of this transceiver's transmissions was made after
    /// `from` and before `to`, as far as the latest one tells: the host's,
    /// or another transceiver's key the radio has yet to take.
    bool endingMadeBetween(serial from, serial to) const;
    /// An ending at `moment` of a transmission keyed over after it: what
    /// the transmission sent ends; the later key goes on.
    void laterKeyGoesOn(serial moment, const char* why);
    void begin();
    void released();
    void endNow(const char* why, serial at);
    /// Queues ending(*this) on the transceiver's task group. Any thread.
    template <class F>
    void postEnding(F ending);
    /// The way out.
    void finish();
    void tellRadio(bool on);
    /// The radio's silence that ends the transmission where it is now.
    std::chrono::milliseconds stallLimit() const {
        return phase_ == phase::tail ? tailStallLimit : keyedStallLimit;
    }
    /// Queues the check for when the limit would run out; an earlier one
    /// queued goes stale.
    void watch();
    void check(uint64_t check, serial which);

    vtrx& v_;
    phase phase_ = phase::off;
    serial serial_ = 0;             // of the transmission on, or of the last one
    serial began_ = 0;              // the serial it began with
    const void* keyer_ = nullptr;   // null: the host
    const void* pendingKeyer_ = nullptr; // keyBy's keyer while its change runs
    serial pendingSerial_ = 0;      // the moment of the key whose change runs
    serial endedBefore_ = 0;        // keys made before this were ended
    const char* endedWhy_ = "";     // by what
    serial endingAt_ = 0;           // the moment of the ending under way, 0: now
    serial toldOn_ = 0;             // the serial the radio was last told is keyed
    bool ending_ = false;           // endNow() under way: no tail
    uint64_t checkSerial_ = 0;      // of the check queued last
    bool voiceReleasing_ = false;   // releaseByVoice() under way
    bool voiceWaits_ = false;       // see keyForVoice
    bool letGo_ = false;            // see hostLetGo
    serial letGoAt_ = 0;            // the let-go's moment
    /// When the radio last asked, in clock ticks: written by the radio's
    /// thread, read by the check. Alone it orders nothing else.
    std::atomic<clock::rep> lastAsked_{0};
    std::atomic<bool> letGoMade_{false};
    clock::time_point lastAsked() const {
        return clock::time_point(clock::duration(lastAsked_.load(std::memory_order_relaxed)));
    }
};
