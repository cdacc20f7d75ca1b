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
    /// The host let go of the transceiver, which nothing keys again: what
    /// waits to key it (a queued message) is dropped.
    virtual void transceiverLetGo();

    /// Transmit level meter; modes call it on their transmit output. Every
    /// 0.2 s of samples it reports 1.0 when nothing exceeded full scale, else
    /// 1 plus the fraction of samples that did, through OpLevel.
    void CalcOpHist(buff<std::complex<float>> block);

    /// The transceiver the mode is attached to. On an attach, the work that
    /// waited for it (forTransceiver) is queued there, in the order it came.
    /// The transceiver's task group (any thread in tests).
    void setOwner(std::weak_ptr<vtrx> transceiver);
    /// The host asks for this mode to be attached: until the attach has
    /// run, work for the transceiver waits for it. Host thread, as the host
    /// makes the call; attachDropped() when its request could not be queued.
    void attachComing();
    void attachDropped();
    using transceiverWork = std::function<void(const std::shared_ptr<vtrx>&)>;
    /// Runs work(transceiver) on the task group of the transceiver the mode
    /// is attached to, queued under `name`. While an attach the host asked
    /// for has not run yet, it waits and runs on that transceiver's group
    /// once it has: the host's calls on a mode follow its attach. With
    /// neither, work(nullptr) runs at once, here. Any thread.
    void forTransceiver(const char* name, transceiverWork work);
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
    };
    void post(const std::shared_ptr<vtrx>& v, const char* name, transceiverWork work);

    mutable std::mutex ownerLock_; // set on the transceiver's group, read by any task
    std::weak_ptr<vtrx> owner_;
    // Under ownerLock_: attaches the host asked for that have not run, and
    // the work waiting for them.
    int attachesComing_ = 0;
    std::vector<waitingWork> waiting_;

    uint64_t opSamples = 0;
    float opPeak = 0.0f;
    uint64_t opClipped = 0;
};
