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
// The receivers change shape only inside addHWReceiver. The base calls it
// with the back-end threads kept off the receivers without a lock they could
// wait on: receive calls that arrive meanwhile drop their samples (every
// partly filled block starts again after a new receiver anyway), and the
// base waits only for receive calls already under way, never for a lock a
// hook could hold. So a hook may wait for the back-end's streaming thread.
// A back-end that changes a receiver's fields itself (its sampleRate, its
// tuningError) does so under listMutex.
#include "core/hwReceiver.h"
#include "framework/asyncProperty.h"

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

    // ---- fill functions, back-end thread ----
    /// Direct path: full blocks go to the transceivers from this thread.
    void write(const fillFunction& fill, size_t n, int hwRx);
    /// Deferred path: full blocks go through "handleFullBuffer" on the
    /// radio's task group (IQ correction, tuning error).
    void unlockedWrite(const fillFunction& fill, size_t n, int hwRx);
    /// Direct path with the IQ corrector applied to each full block.
    void lockedWrite(const fillFunction& fill, size_t n, int hwRx);

    void HandleFullBuffer(buff<cplx> block, int hwRx);
    void start();
    void stop();
    static std::string formatSR(int rate);

    // ---- transceivers on receivers, radio's task group ----
    void addVtrx(long long frequency, int hwRx, int ownerId);
    /// Forgets the transceiver at this address; the address is only compared.
    void removeVtrx(const void* v);
    void setRxFrequency(long long frequency, vtrx* v, int mask);
    void FitAllReceivers(bool apply);
    /// Whether a pass band lies inside receiver r's usable band. Any thread.
    bool getVfoValid(int r, long long vfo, int low, int high);
    void setPtt(bool on, vtrx* v);
    static int compvfo(const void* a, const void* b);

    /// The transmitting transceiver, if it still exists. Any thread.
    std::shared_ptr<vtrx> txVtrx() const;

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
    /// Runs change (which may call addHWReceiver) with no receive call in
    /// progress and none starting: those that arrive meanwhile drop their
    /// samples. Holds no lock. Radio's task group only.
    template <class F>
    void reshapeReceivers(F change);

private:
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
    /// addHWReceiver(f) inside a reshape, with lock released meanwhile; a
    /// receiver appended gets slot (when not -1) and every receiver's block
    /// restarts. True when one was appended.
    bool addReceiver(long long f, std::unique_lock<std::mutex>& lock, int slot);
    void noteNonFinite(int hwRx);

    std::atomic<vtrxAddedCallback> vtrxAdded_{nullptr};
    std::atomic<int> readers_{0};
    std::atomic<bool> reshaping_{false};
    std::atomic<bool> nonFiniteReported_{false};
    // Held weakly: the host may release the transmitting transceiver first.
    std::weak_ptr<vtrx> txVtrx_;
};

template <class F>
void Radio::reshapeReceivers(F change) {
    // seq_cst on both sides: a reader either sees the flag and backs off, or
    // is counted before this load and waited for.
    reshaping_.store(true);
    while (readers_.load() != 0) std::this_thread::yield();
    try {
        change();
    } catch (...) {
        reshaping_.store(false);
        throw;
    }
    reshaping_.store(false);
}
