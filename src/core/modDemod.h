#pragma once
// modDemod: base of every mode, the object that turns a receive IQ block into
// audio and microphone audio into transmit IQ.
//
// A transceiver holds its mode through a shared pointer and calls the
// virtual operations on its own task group; host requests to the mode run on
// the task group the mode was made with. The base itself is a silent mode:
// no audio, no transmit signal.
//
// The mode knows its transceiver only weakly: the host may release the
// transceiver before the mode, and work the mode queued earlier must then
// find its owner gone rather than a dangling pointer.
//
// One transceiver runs a mode at a time, the one the host attached it to
// last: every attach claims it with the moment the host made the call, and
// a claim older than one made already is refused. A transceiver that still
// runs the mode when another claims it keeps it until it lets go on its
// own task group (the host's move of the mode detaches it there, in the
// order of the host's calls); only then does the claimant take it, on its
// own task group. So no two task groups ever run the mode, and a detach
// never takes the mode from a transceiver that took it later.
#include "dsp/buff.h"
#include "framework/asyncProperty.h"

#include <complex>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class vtrx;

class modDemod : public asyncObject {
public:
    explicit modDemod(std::shared_ptr<syncTask> taskGroup);
    ~modDemod() override = default;

    // ---- called by the owning transceiver, on its task group ----

    /// A receive block at rxInputSamplerate() in, audio at 48000 samples per
    /// second out (a block of 512 is mono; other lengths interleaved stereo).
    /// Empty audio means nothing to play.
    virtual buff<float> demodulate(buff<std::complex<float>> block);
    /// Fills out with transmit IQ for the microphone audio in (real and
    /// imaginary parts equal), as many samples as in holds.
    virtual void modulate(buff<std::complex<float>> in, buff<std::complex<float>> out);
    /// The rate the mode wants its receive IQ at.
    virtual int rxInputSamplerate();
    /// After the transceiver redesigned a filter; edges in Hz.
    virtual void setRxFilter(int low, int high);
    virtual void setTxFilter(int low, int high);
    /// After the tuned frequency (Hz) changed.
    virtual void vfoChanged(long long frequency);
    /// When attached, after setOwner.
    virtual void init();
    /// PTT on, or off (before pttReleased() turns true).
    virtual void pttChanged(bool on);
    /// The transmission ends, however it ends; called as ptt goes off,
    /// after pttChanged(false). What the mode still holds of it that came
    /// before `before`, the moment of the ending (the rest of its text up to
    /// its end mark, the rest of its message, its peer's samples), is
    /// dropped: nothing of it may go out later. What came after it (a text
    /// the host queued since) waits for the next transmission. Must not
    /// reset what a modulate under way is using: the mode's own end may come
    /// from inside its modulate.
    virtual void dropTransmission(uint64_t before);
    /// The host let go of the transceiver at moment `at`, which nothing keys
    /// again: what waits to key it that the host queued before `at` (a
    /// queued message) is dropped; what it queued after goes to the mode's
    /// next transceiver.
    virtual void transceiverLetGo(uint64_t at);
    /// The key the mode made for the host's call at `asked` was refused: an
    /// ending made after the call came first, or the mode was elsewhere
    /// then. What the call queued (its text) is dropped, as the ending would
    /// have dropped it had the key come first, unless the host has queued
    /// something since. The transceiver's task group, or the mode's when
    /// the key found the mode on no transceiver.
    virtual void keyRefused(uint64_t asked);

    /// Transmit level meter; modes call it on their transmit output. Every
    /// 0.2 s of samples it reports 1.0 when nothing exceeded full scale, else
    /// 1 plus the fraction of samples that did, through OpLevel.
    void CalcOpHist(buff<std::complex<float>> block);

    /// Makes the transceiver the mode's owner at once, outside the host's
    /// attaches: tests that drive a mode without a radio. The work that
    /// waited for an attach is queued there. Any thread.
    void setOwner(std::weak_ptr<vtrx> transceiver);

    // ---- attaching: see the top of the file ----
    enum class claimed { taken, waits, refused };
    /// k claims the mode, as the host attached it there at `at`: taken (k
    /// runs it now), waits (another transceiver still runs it: k is given
    /// it once that one lets go), or refused (a later attach claimed it).
    /// k's task group.
    claimed claim(const std::shared_ptr<vtrx>& k, uint64_t at);
    /// k runs the mode no more (detached, replaced, gone). The transceiver
    /// waiting for it, if any, is given it: its take is queued on its task
    /// group ("vtrx.takeMode"). Only k's own letting go counts: a detach
    /// never takes the mode from a transceiver that took it later. k's task
    /// group, or k's destructor.
    void letGo(const vtrx* k);
    /// k, given the mode it claimed at `at`, takes it: true when k runs it
    /// from now on. False when a later claim came meanwhile, or when k no
    /// longer wants it (`wanted` false: the host has changed k's mode since).
    /// k's task group.
    bool take(const std::shared_ptr<vtrx>& k, uint64_t at, bool wanted);
    /// The host asks for this mode to be attached: until that attach has
    /// run and been settled, work for the transceiver waits for it. Host
    /// thread, as the host makes the call; attachDropped() when its request
    /// could not be queued.
    void attachComing();
    void attachDropped();
    /// The transceiver the host attached the mode to last, which it
    /// replaces with `v`. Host thread.
    std::shared_ptr<vtrx> hostAttachesTo(const std::shared_ptr<vtrx>& v);
    /// The transceiver the host's calls so far leave the mode on, or null:
    /// a key for a call made while it is on none goes nowhere. Host thread.
    std::shared_ptr<vtrx> hostsTransceiver();
    using transceiverWork = std::function<void(const std::shared_ptr<vtrx>&)>;
    /// Runs work(transceiver) on the task group of the transceiver the mode
    /// is attached to, queued under `name`. While an attach the host asked
    /// for has not run yet, it waits and runs on that transceiver's group
    /// once it has: the host's calls on a mode follow its attach. With
    /// neither, work(nullptr) runs at once, here. Waiting work is dropped
    /// when the mode settles on no transceiver, unless `settlesOnNone` is
    /// `runs`: then work(nullptr) runs there, as it would had it been asked
    /// then (a key whose text must go with it). Any thread.
    enum class onNone { dropped, runs };
    void forTransceiver(const char* name, transceiverWork work, onNone settlesOnNone = onNone::dropped);
    /// The owner if it still exists, else null: a late task then does
    /// nothing. Any thread.
    std::shared_ptr<vtrx> lockOwner() const;
    /// The mode has sent all it had for the transmission (its text's end
    /// mark, its message's last symbol, its peer's SwitchRX): the
    /// transmission, if the mode or the host keyed it, is released and its
    /// tail runs out. Nothing once the mode is detached. The transceiver's
    /// task group only.
    void transmissionDone();
    /// Whether the transmission was released and its tail runs: the mode
    /// finishes what it sends. The transceiver's task group only.
    bool pttReleased() const;
    /// Whether the host has made an ending of the transmission on that has
    /// not reached it yet: the mode takes nothing more to send for it. The
    /// transceiver's task group only.
    bool endingComing() const;
    /// Whether an ending of its transceiver's transmission on was made
    /// before `at` (transmission::endedBefore). The transceiver's task group.
    bool endedBefore(uint64_t at) const;

    asyncProperty<int> rxFreq{0};               // receive audio offset, Hz
    asyncProperty<int> txFreq{0};               // transmit audio offset, Hz
    asyncProperty<bool> rnnoise{false};         // noise reduction on this mode's audio
    asyncProperty<double> rnnoiseSquelch{80.0}; // noise reduction strength, percent
    asyncProperty<int> db1{0};                  // free parameter for a mode's own use
    asyncProperty<float> OpLevel{0.0f};         // transmit level meter

    // Read and written by the owning transceiver on its task group.
    int txTailLength = 512;  // transmit samples still taken after PTT is released
    bool txFiltered = true;  // transmit output goes through the transceiver's filter
    bool txBlockMode = true; // transmit output made one filter block at a time
    bool rxMinPhase = false; // receive filter designed minimum-phase

    static constexpr uint64_t opReportSamples = 75 * 128; // 0.2 s at 48000

private:
    struct waitingWork {
        const char* name;
        transceiverWork work;
        onNone settlesOnNone;
    };
    void post(const std::shared_ptr<vtrx>& v, const char* name, transceiverWork work);
    /// An attach of the host's is settled (taken, refused, or given up):
    /// once none is left, the work that waited goes to the owner, or is
    /// dropped when there is none. Under ownerLock_; what to queue is
    /// moved into `out`.
    void attachSettled(std::vector<waitingWork>& out);
    void postAll(const std::shared_ptr<vtrx>& v, std::vector<waitingWork>& work);

    mutable std::mutex ownerLock_; // set on the transceiver's group, read by any task
    std::weak_ptr<vtrx> owner_;
    // Under ownerLock_: the latest claim's moment; the transceiver waiting
    // for the owner to let go, with its claim's moment; attaches the host
    // asked for that are not settled yet, and the work waiting for them.
    uint64_t claimedAt_ = 0;
    std::weak_ptr<vtrx> claimant_;
    uint64_t claimantAt_ = 0;
    int attachesComing_ = 0;
    std::vector<waitingWork> waiting_;
    // Host thread.
    std::mutex hostLock_;
    std::weak_ptr<vtrx> hostsTransceiver_;

    uint64_t opSamples = 0;
    float opPeak = 0.0f;
    uint64_t opClipped = 0;
};
