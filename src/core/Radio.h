#pragma once
// Radio: base of every radio back-end. It cuts the back-end's sample stream
// into receive blocks per hardware receiver and shares each full block with
// the virtual transceivers listening to that receiver; it places those
// transceivers on the receivers and keeps the push-to-talk state.
//
// Threads: the fill functions run on the back-end's thread; everything else
// on the radio's own task group. listMutex guards the transceiver list, and
// the receivers' frequencies and slots, against the back-end's thread and
// against transceivers reading them from their own task groups; it is held
// only while they are read or changed, never while a back-end hook (tune,
// addHWReceiver, startRadio, stopRadio, transmit) or a fill function runs.
//
// The receivers change shape only through appendReceiver, the one way they
// grow (records are never removed): from a back-end's constructor, from its
// addHWReceiver, which the base calls, or from a hook of its own on the
// radio's task group. It keeps the back-end threads off the receivers
// without a lock they could wait on: receive calls that arrive meanwhile
// drop their samples (every partly filled block starts again after a new
// receiver anyway), and it waits only for receive calls already under way,
// never for a lock a hook could hold, so a hook may wait for the back-end's
// streaming thread. The append itself happens under listMutex, so a thread
// that reads the receivers under that lock alone never meets the vector
// while it moves. A back-end that changes a receiver's fields itself (its
// sampleRate, its tuningError) does so under listMutex.
//
// Sample rates: every back-end installs its SampleRate hook through
// acceptSampleRates with the rates it delivers; any other rate, a negative
// one included, is refused there and the rate in force told back. A receive
// block is sized from its receiver's rate; when that rate changes, the block
// being filled starts again at the new size, so a block sized from a rate
// never outlives it.
#include "core/hwReceiver.h"
#include "core/transmission.h"
#include "framework/asyncProperty.h"

#include <algorithm>
#include <atomic>
#include <complex>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class vtrx;
struct iq_balancer_t;

class Radio : public asyncObject {
public:
    using cplx = std::complex<float>;
    /// Writes exactly `count` samples to `destination`, in stream order.
    using fillFunction = std::function<void(cplx* destination, size_t count)>;
    using vtrxAddedCallback = void (*)(void* handle, long long frequency, int sampleRate, int ownerId);

    explicit Radio(std::shared_ptr<syncTask> group);
    ~Radio() override;

    asyncProperty<bool> ptt{false};
    asyncProperty<int> maxHwReceivers{1};
    asyncProperty<int> maxADCs{1};
    asyncProperty<bool> canTransmit{false};
    asyncProperty<double> rxLevelCalibration{1.0};
    asyncProperty<int> sentPackets{0};
    asyncProperty<int> receivedPackets{0};
    asyncProperty<int> SampleRate{48000};
    asyncProperty<bool> disableVirtualReceivers{false};
    asyncProperty<long long> TransceiverOffset{0};
    asyncProperty<int> drive{0};
    asyncProperty<int> TuneDrive{0};
    asyncProperty<bool> RadioPtt{false};
    asyncProperty<int> cwHangTime{120};
    asyncProperty<bool> cwInternal{false};
    asyncProperty<double> ValidBandwidthRatio{0.95};
    asyncProperty<double> frequencyCalibration{1.0};

    /// Host thread: stores the callback of the vtrxAdded event.
    void bindvtrxAdded(vtrxAddedCallback cb) { vtrxAdded_.store(cb); }

    // ---- what back-ends implement ----
    virtual void tune() {}
    virtual void addHWReceiver(long long frequency) {}
    virtual void transmit(buff<cplx> samples) {}
    virtual void startRadio();
    virtual void stopRadio() {}
    /// Whether the device can transmit at all; a receive-only back-end says
    /// no, and every key is refused whatever canTransmit says.
    virtual bool hasTransmitter() const { return true; }

    // ---- fill functions, back-end thread ----
    /// Direct path: full blocks go to the transceivers from this thread.
    void write(const fillFunction& fill, size_t n, int hwRx);
    /// Deferred path: full blocks go through "handleFullBuffer" on the
    /// radio's task group (IQ correction, tuning error).
    void unlockedWrite(const fillFunction& fill, size_t n, int hwRx);
    /// Direct path with the IQ corrector applied to each full block.
    void lockedWrite(const fillFunction& fill, size_t n, int hwRx);

    /// A full block of the deferred path, filled at `rate`. Radio's task
    /// group.
    void HandleFullBuffer(buff<cplx> block, int hwRx, int rate);
    /// Starts the device, as the host asked at `at`: a key made while it
    /// was stopped stays refused when it comes later. Radio's task group.
    void start(transmission::serial at);
    void start() { start(transmission::now()); }
    /// Stops the device and goes off the air (offAir) for what was keyed
    /// before `at`, the moment the host asked. Radio's task group.
    void stop(transmission::serial at);
    void stop() { stop(transmission::now()); }
    static std::string formatSR(int rate);

    // ---- transceivers on receivers, radio's task group ----
    void addVtrx(long long frequency, int hwRx, int ownerId);
    /// Forgets the transceiver at this address, as the host asked at `at`:
    /// what it keyed before then ends. The address is only compared.
    void removeVtrx(const void* v, transmission::serial at);
    void removeVtrx(const void* v) { removeVtrx(v, transmission::now()); }
    /// The transceiver at this address if it is in the list; the address is
    /// only compared. Any thread.
    std::shared_ptr<vtrx> listed(const void* v) const;
    void setRxFrequency(long long frequency, vtrx* v, int mask);
    void FitAllReceivers(bool apply);
    /// Whether a pass band lies inside receiver r's usable band. Any thread.
    bool getVfoValid(int r, long long vfo, int low, int high);
    /// One transmitter, many transceivers: the transmission keyed last
    /// (by serial, see transmission.h) holds it, and every other
    /// transceiver's transmission begun before that key ends at the key's
    /// moment, whichever key came here first; a key older than the holder's
    /// is refused. Only the transmission that holds it releases it: a
    /// release naming another one changes nothing, and a release while the
    /// host's own key of the radio stands leaves the radio on the air. A key
    /// is refused, and its transmission ended, the host told, while the
    /// radio cannot transmit now (canTransmit false, no transmitter,
    /// stopped, let go of by the host), when it was made before the radio
    /// last went off the air, or while the radio could not transmit (before
    /// it last became able to again). Every key that arrives counts as taken
    /// (hostKeys). Radio's task group.
    void setPtt(bool on, vtrx* v, transmission::serial s);
    /// A key of v's made at s for a host's call that a later call of the
    /// host's ended before it got here (the host unkeyed v, took its mode
    /// away or let go of it, or another ending came first): it takes the
    /// transmitter from every other transceiver's transmission begun before
    /// s, as had it come and then been ended, and holds it no more. It takes
    /// nothing when the radio could not transmit at s, or has gone off the
    /// air since (which ended all that). Then the key counts as taken.
    /// Radio's task group.
    void keyEnded(vtrx* v, transmission::serial s);
    /// Whether a key the host made of a transceiver other than v after
    /// `since` and before `until` has yet to reach the radio: it will take
    /// the transmitter from v's transmission begun before it. Any thread.
    bool keyComingBesides(const vtrx* v, transmission::serial since, transmission::serial until) const;
    /// The host's own set of ptt, made at moment `at`. On: refused as a
    /// transceiver's key is, and the host told that it stays off; otherwise
    /// the radio is on the air until the host's unkey or an offAir, whatever
    /// its transceivers' transmissions do (it sends silence when none keys
    /// it). Off: the radio goes off the air (offAir). Radio's task group.
    void hostSetPtt(bool on, transmission::serial at);
    /// The host's set of canTransmit, made at moment `at`: false takes the
    /// radio off the air for what was keyed before it. Radio's task group.
    void hostSetCanTransmit(bool on, transmission::serial at);
    /// The radio's one way off the air, for its stop, the host's unkey, a
    /// radio that can no longer transmit and every release of its handle:
    /// ptt false (the host told once, unless it set that itself; a back-end's
    /// ptt hook passes it to its device at once), the host's own key ended,
    /// every transmission of its transceivers keyed before `moment` ended
    /// without its tail, logged with why, and every such key still on its
    /// way refused. Safe to call when off. Radio's task group.
    void offAir(transmission::serial moment, const char* why);
    /// The host let go of a handle: nothing is left to stop or unkey the
    /// radio, which goes once the tasks holding it have run. It goes off the
    /// air ("Radio.release()") and takes no key from then on. It is not
    /// stopped: it may go on streaming. Host thread.
    void hostLetGo() override;
    static int compvfo(const void* a, const void* b);

    /// SampleRate as last accepted (see acceptSampleRates): what threads
    /// other than the radio's task group read, as the property may hold a
    /// refused rate for a moment. Any thread.
    int rateInForce() const { return rateInForce_.load(); }

    /// The transmitting transceiver, if it still exists. Any thread.
    std::shared_ptr<vtrx> txVtrx() const;
    /// The transceiver whose transmission keys the radio now, if any: none
    /// when the radio is off, or keyed by the host alone. Any thread.
    std::shared_ptr<vtrx> keyingVtrx() const;

    /// The host's endings of every transmission through this radio (its
    /// unkey, stop, canTransmit false, release), marked as it makes them
    /// (see transmission.h). Any thread.
    hostEndings hostEnded;

    std::vector<std::shared_ptr<vtrx>> vtrxList;
    std::vector<hwReceiver> receivers;
    buff<float> wideBand, wideBandFill;
    double wideBandValue = 0.0;
    bool firstStart = true;
    int guard = 1000;
    int margin = 1000;
    bool offsetTuning = false;
    bool allowSlotMove = true;
    std::atomic<bool> iqCorrection{false};
    iq_balancer_t* iqCorrector = nullptr;
    /// The corrector's own lock: a correction never holds up the list.
    std::mutex correctorMutex;
    mutable std::mutex listMutex;

protected:
    /// The process ends: ptt false, told to nobody (the host is gone), the
    /// device told through its ptt hook. The exiting thread.
    void offAirAtExit();
    /// Appends r to the receivers, with the back-end threads kept off them
    /// and under listMutex; every partly filled block starts again. Radio's
    /// task group (also from addHWReceiver) or a constructor.
    void appendReceiver(const hwReceiver& r);
    /// Makes `apply` the SampleRate hook of a back-end whose device delivers
    /// only some rates. A rate for which `delivers` is false is refused with
    /// a log line ("<who> SampleRate <rate> refused, keeping <in force>"),
    /// and SampleRate is set back to the rate in force, which the host then
    /// hears on its bound callback; an accepted rate becomes the rate in
    /// force, then `apply` runs (it gives the receivers the new rate), then
    /// every transceiver is placed again, and the device tuned when a
    /// receiver moved. The rate SampleRate holds now is the rate in force.
    /// Constructor or radio's task group.
    void acceptSampleRates(const char* who, std::function<bool(int)> delivers, std::function<void()> apply);

private:
    /// Runs change (which may call addHWReceiver) with no receive call in
    /// progress and none starting: those that arrive meanwhile drop their
    /// samples. Holds no lock; nests. Radio's task group only.
    template <class F>
    void reshapeReceivers(F change);
    /// Counts a thread reading the receivers outside the radio's task group;
    /// empty while a reshape is pending (wait true: until it is over).
    class receiverReader;
    enum class path { direct, deferred, corrected };
    void receive(const fillFunction& fill, size_t n, int hwRx, path how);
    void handOut(const buff<cplx>& block, const hwReceiver& rx, int hwRx, long long frequency);
    void correct(buff<cplx>& block);
    int indexOf(const vtrx* v) const;
    bool place(long long frequency, vtrx* v, int mask, bool& oneEach, std::unique_lock<std::mutex>& lock);
    void placeOneReceiverEach(long long f, vtrx* v, int index, std::unique_lock<std::mutex>& lock);
    /// Places every transceiver again at its vfo, in list order, without
    /// tuning; true when a receiver moved or was added. Radio's task group.
    bool placeAll();
    /// addHWReceiver(f) inside a reshape, with lock released meanwhile; a
    /// receiver appended gets slot (when not -1) and every receiver's block
    /// restarts. True when one was appended.
    bool addReceiver(long long f, std::unique_lock<std::mutex>& lock, int slot);
    void noteNonFinite(int hwRx);
    /// Why a key cannot be carried out now, or null.
    const char* refusal() const;
    /// setPtt's key: refused, or holding the transmitter.
    void keyArrives(vtrx* v, transmission::serial s);
    /// The key v made at s, which its own ending has ended already, has
    /// taken the transmitter on its way (keyEnded).
    void takenOnItsWay(vtrx* v, transmission::serial s);
    /// The key `by` made at `at` takes the transmitter: every other
    /// transceiver's transmission begun before it ends (a key of theirs made
    /// after it goes on), and a key of theirs made before it that comes
    /// later is refused.
    void transmitterTaken(const vtrx* by, transmission::serial at);
    enum class told { host, system, nobody };
    /// The one writer of ptt. host: the host's own value, not echoed;
    /// system: a change the host is told of; nobody: the host is gone.
    void setAir(bool on, told who);

    std::atomic<vtrxAddedCallback> vtrxAdded_{nullptr};
    std::atomic<int> readers_{0};
    std::atomic<bool> reshaping_{false};
    int reshapeDepth_ = 0; // radio's task group
    std::atomic<int> rateInForce_{0};
    bool restoringRate_ = false; // radio's task group
    std::atomic<bool> nonFiniteReported_{false};
    bool letGo_ = false;   // radio's task group: the host let go of it
    bool stopped_ = false; // radio's task group: from a stop to the next start
    bool hostKeyed_ = false; // radio's task group: the host's own key stands
    // The moment of the host's set under way (canTransmit), for its hook.
    transmission::serial hostMoment_ = 0;
    // Radio's task group: keys made before this moment were ended.
    transmission::serial offAirAt_ = 0;
    // Radio's task group: the moment it last became able to transmit again
    // (started after a stop, canTransmit true after false); a key made
    // after it went off the air and before this was made while it could
    // not transmit.
    transmission::serial ableSince_ = 0;
    /// The radio can transmit again from moment `at` on.
    void ableAgain(transmission::serial at) { ableSince_ = std::max(ableSince_, at); }
    // Under listMutex: the transmitting transceiver, held weakly (the host
    // may release it first), and the serial of its transmission that keys
    // the radio, 0 when none does.
    std::weak_ptr<vtrx> txVtrx_;
    transmission::serial onAir_ = 0;
};

template <class F>
void Radio::reshapeReceivers(F change) {
    // An inner reshape (appendReceiver inside addHWReceiver) runs inside the
    // outer one's exclusion and leaves the flag to it.
    if (reshapeDepth_++ == 0) {
        // seq_cst on both sides: a reader either sees the flag and backs
        // off, or is counted before this load and waited for.
        reshaping_.store(true);
        while (readers_.load() != 0) std::this_thread::yield();
    }
    try {
        change();
    } catch (...) {
        if (--reshapeDepth_ == 0) reshaping_.store(false);
        throw;
    }
    if (--reshapeDepth_ == 0) reshaping_.store(false);
}
