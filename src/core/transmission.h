#pragma once
// transmission: the one owner of a transceiver's transmission.
//
// A transmission has one keyer: the host (through the transceiver's ptt), a
// mode (its text, message or network peer) or the transceiver's voice
// switch. It is keyed, then in its tail (released: the mode's tail runs out
// while the radio keeps asking), then off. The rules:
//  - One way in: ptt going on (its change hook calls pttChanged). The first
//    keyer keeps the transmission; keying while on changes nothing.
//  - One way out (finish), which every ending reaches and which does the same
//    things each time: ptt is false with the host told (a system change is
//    told once, as only a change is told; a value the host set itself is
//    never echoed), the radio is told, and the transceiver transmits
//    nothing more of it. Reaching it twice does nothing more.
//  - As ptt goes off, however it goes, the mode is told and drops what it
//    still holds of the transmission (the rest of its text up to its end
//    mark, the rest of its message, its peer's samples), so that nothing of
//    it goes out later.
//  - Two kinds of ending:
//      release: its keyer's own end (a text's end mark, a message's end, the
//        peer's SwitchRX, the voice switch's hold), the host's unkey, or the
//        host letting go of the transceiver. The tail runs out while the
//        radio asks, then the way out.
//      end: what would end it can no longer come (the mode goes, the radio
//        stops, is unkeyed, can no longer transmit, is let go of, another
//        transceiver takes the transmitter, this one is removed, the radio
//        stops asking). At once, without the tail.
//  - A transmission whose radio has asked for nothing for a while, counted
//    from its last request (or from the key), ends: its tail, its text's end
//    mark, its message's end and the voice switch's hold come only through
//    the radio's requests and receive blocks, and a radio that went silent
//    sends nothing of it. A tail, which only drops what would have gone out
//    anyway, ends after tailStallLimit; a keyed transmission, which the host
//    would lose in mid-air, after keyedStallLimit, long enough that a
//    machine under load (a radio thread held up for a few hundred
//    milliseconds) never cuts it. Counted from the last request, the end
//    comes within the limit. A request counts when the radio asks, not when
//    the transceiver gets to it: one waiting behind the transceiver's own
//    work is no silence of the radio.
//
// Threads: everything here runs on the transceiver's task group, except
// postEnd.
#include <atomic>
#include <chrono>
#include <cstdint>

class vtrx;
class modDemod;

class transmission {
public:
    enum class phase { off, keyed, tail };
    using clock = std::chrono::steady_clock;

    explicit transmission(vtrx& transceiver) : v_(transceiver) {}
    transmission(const transmission&) = delete;
    transmission& operator=(const transmission&) = delete;

    // ---- the way in ----
    /// Keys for the mode, if it is still attached here: ptt on as a system
    /// change (the host told). Own task group.
    void keyFor(const modDemod& mode);
    /// Keys for the transceiver's voice switch, unless a transmission it
    /// keyed was ended by anything but its own hold and the speech has not
    /// paused since: speech that goes on is of that transmission. Own task
    /// group.
    void keyForVoice();
    /// The voice switch heard a pause in the speech: it may key again. Own
    /// task group.
    void voicePaused() { voiceWaits_ = false; }

    // ---- endings ----
    /// Releases it, whoever keyed it: ptt off as a system change (the host
    /// told), then the tail. Nothing when not keyed. Own task group.
    void release();
    /// The mode's own end of what it sends, if it is attached here: release.
    /// Own task group.
    void releaseBy(const modDemod& mode);
    /// Releases it only when `keyer` keyed it (a mode's peer left). Own task
    /// group.
    void releaseIfKeyedBy(const modDemod& keyer);
    /// The voice switch's hold ran out: release, whoever keyed it. Own task
    /// group.
    void releaseByVoice();
    /// What would end it can no longer come: ends at once, without its tail,
    /// logged with why (a text that lives for ever). Nothing when off. Own
    /// task group.
    void end(const char* why);
    /// end(why) queued on the transceiver's task group. Any thread.
    void postEnd(const char* why);

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
    /// Whether the voice switch keyed the transmission on now.
    bool keyedByVoice() const;

    /// See the rules above; every radio that transmits asks many times
    /// within either.
    std::chrono::milliseconds tailStallLimit{250};
    std::chrono::milliseconds keyedStallLimit{1000};

private:
    void keyBy(const void* keyer);
    void begin();
    void released();
    /// The way out.
    void finish();
    void tellRadio();
    /// Whether a transmission is on for the radio's silence to end.
    bool watched() const;
    /// The radio's silence that ends the transmission where it is now.
    std::chrono::milliseconds stallLimit() const {
        return phase_ == phase::tail ? tailStallLimit : keyedStallLimit;
    }
    /// Queues the check for when the limit would run out; an earlier one
    /// queued goes stale.
    void watch();
    void check(uint64_t serial);

    vtrx& v_;
    phase phase_ = phase::off;
    const void* keyer_ = nullptr;   // null: the host
    const void* pending_ = nullptr; // keyBy's keyer while its change runs
    bool ending_ = false;           // end() under way: no tail
    uint64_t checkSerial_ = 0;      // of the check queued last
    bool voiceReleasing_ = false;   // releaseByVoice() under way
    bool voiceWaits_ = false;       // see keyForVoice
    /// When the radio last asked, in clock ticks: written by the radio's
    /// thread, read by the check. Alone it orders nothing else.
    std::atomic<clock::rep> lastAsked_{0};
    clock::time_point lastAsked() const {
        return clock::time_point(clock::duration(lastAsked_.load(std::memory_order_relaxed)));
    }
};
