#pragma once
// SDRPlayRadio: the back-end for SDRplay RSP receivers, driven through an
// image of the vendor library of its own (SDRPlayLib). The host names the
// device by SerialNo and the model by Model (from a discovered id); the
// model decides the gain range, antennas and which fields of the vendor's
// parameter tree each control writes. Tuner A streams into hardware
// receiver 0; a master RSPduo at 2 MS/s runs both tuners, B into receiver 1.
//
// Threads and what they share:
//  - the radio's task group: change hooks, start and stop, the overload
//    flags;
//  - the update object's task group: dotune, so that retuning never waits
//    behind host requests;
//  - the library's stream threads (one per tuner) and its event thread:
//    Callback and EventCallback. They reach the radio through a link that
//    holds it weakly, and hold it strongly for the length of one callback.
//    Gain scales, meter counter and peaks, the frequency-ready flag and the
//    device pointers are atomics.
//  - deviceMutex_ orders every write into the parameter tree, the Update
//    calls that follow them, and the tree's release: start, stop, the hooks
//    and dotune take it. The overload acknowledgement, sent from the event
//    thread, writes nothing and does not take it, so stopping (which waits
//    for that thread) never waits for it.
//
// A released radio that still streams is stopped by its destructor, which
// never runs the library's stop on one of the library's own threads.
#include "core/Radio.h"
#include "framework/ValueLabelItem.h"
#include "framework/asyncCollection.h"
#include "framework/exitGate.h"
#include "radios/sdrplay/SDRPlayLib.h"
#include "radios/sdrplay/sdrplayModel.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class SDRPlayRadio : public Radio {
public:
    static constexpr long long startFrequency = 99000000;
    static constexpr int receiverRate = 2000000;
    static constexpr unsigned int capacity = 16; ///< device records read at start
    static constexpr double peakFullScale = 16184.0;
    static constexpr int meterIntervalMs = 201;
    static constexpr auto frequencyTimeout = std::chrono::milliseconds(601);

    explicit SDRPlayRadio(std::shared_ptr<syncTask> group);
    ~SDRPlayRadio() override;

    asyncCollection<ValueLabelItem> SampleRates;
    asyncCollection<ValueLabelItem> Antennas;
    asyncProperty<std::string> SerialNo;
    asyncProperty<std::string> Model;
    asyncProperty<int> Antenna{0};
    asyncProperty<int> maxRxRFGain{0};
    asyncProperty<int> minRxRFGain{0};
    asyncProperty<int> rxGain{3};
    asyncProperty<int> maxRxRFGain2{0};
    asyncProperty<int> minRxRFGain2{0};
    asyncProperty<int> rxGain2{3};
    asyncProperty<bool> BiasT{false};
    asyncProperty<bool> RFNotch{false};
    asyncProperty<bool> DABNotch{false};
    asyncProperty<bool> ClockOut{false};
    asyncProperty<bool> HasClockOut{false};
    asyncProperty<int> maxRxIFGain{0};
    asyncProperty<int> minRxIFGain{0};
    asyncProperty<int> rxIFGain{0}; ///< stored only: the device runs its own gain control
    asyncProperty<bool> adcOverload{false};
    asyncProperty<double> adcPeak{0.0};
    asyncProperty<bool> adcOverload2{false};
    asyncProperty<double> adcPeak2{0.0};

    /// Posts "dotune" on the update object. Any thread.
    void tune() override;
    /// Appends a receiver at 2 MS/s. Called by the base on the task group.
    void addHWReceiver(long long frequency) override;
    /// Claims the device named by SerialNo, writes the settings into its
    /// tree and starts streaming. Ignored while a device is selected.
    /// Task group.
    void startRadio() override;
    /// Stops streaming and releases the device. Task group.
    void stopRadio() override;
    /// Receive-only: every key is refused, whatever canTransmit says.
    bool hasTransmitter() const override { return false; }

    // ---- controls: with update, also sent to the device. The caller holds
    // deviceMutex_ and the radio is live (device selected, tree present).
    void SetGain(bool update);
    void SetGain2(bool update);
    void SetBiasT(bool update);
    void SetRFNotch(bool update);
    void SetDABNotch(bool update);
    void SetAntenna(bool update);
    void SetClockout(bool update);

    // ---- the library's threads ----
    static void StreamACallback(short* i, short* q, sdrplay_api_StreamCbParamsT* params, unsigned int count,
                                unsigned int reset, void* context);
    static void StreamBCallback(short* i, short* q, sdrplay_api_StreamCbParamsT* params, unsigned int count,
                                unsigned int reset, void* context);
    static void RawEventCallback(sdrplay_api_EventT event, sdrplay_api_TunerSelectT tuner,
                                 sdrplay_api_EventParamsT* params, void* context);
    /// One block of tuner `receiver` (0 A, 1 B) into that hardware receiver,
    /// then the level meter.
    void Callback(const short* i, const short* q, unsigned int n, int receiver);
    void EventCallback(sdrplay_api_EventT event, sdrplay_api_TunerSelectT tuner,
                       const sdrplay_api_EventParamsT* params);

    /// Sends the receivers' frequencies that changed, one at a time. Update
    /// object's task group.
    void dotune();

    /// The tree of the selected device, null when stopped. For tests.
    sdrplay_api_DeviceParamsT* deviceParams() const { return params_.load(); }
    /// The lane dotune runs on. For tests, to wait for retunes in flight.
    const std::shared_ptr<asyncObject>& frequencyUpdater() const { return updater_; }

    std::atomic<double> gainScaleA{1.0 / 32768};
    std::atomic<double> gainScaleB{1.0 / 32768};

private:
    /// Serialises tree writes, Updates and the tree's release (see above).
    std::mutex deviceMutex_;
    /// What the library's threads are handed as context: it outlives the
    /// radio for as long as the library may still call.
    struct callbackLink {
        std::weak_ptr<SDRPlayRadio> radio;
        sdrplay_api_CallbackFnsT callbacks{};
    };
    /// A stream callback of either tuner, through the link.
    static void deliver(short* i, short* q, sdrplay_api_StreamCbParamsT* params, unsigned int count, void* context,
                        int receiver);
    /// Whether this thread is inside one of the library's callbacks.
    static bool onLibraryThread();
    /// The library's stop and release of a device whose radio is going. A
    /// library that does not stop keeps its image and the link for good.
    static void shutDown(const std::shared_ptr<SDRPlayLib>& lib, const std::shared_ptr<callbackLink>& link,
                         sdrplay_api_DeviceT* d);

    void setUpModel();
    /// Receiver 1, for tuner B, unless it exists. Task group.
    void addTunerBReceiver();
    /// A rate of the table was accepted. Task group.
    void sampleRateChanged();
    /// Select, read the tree, write the settings, Init. API lock held.
    void claimAndStream();
    /// Releases the selected device after a failed start. deviceMutex_ held.
    void abandon(sdrplay_api_DeviceT* d);
    void forget();
    bool live() const { return device_.load() && channelA_.load(); }
    sdrplay_api_TunerSelectT deviceTuner() const;
    /// Update on the selected device; a failure is logged with `what`.
    void send(sdrplay_api_TunerSelectT tuner, uint32_t reason, uint32_t extended, const char* what);
    /// Runs `control` with the tree locked when live: a hook's body.
    template <class F>
    void whenLive(F control);
    /// The LNA state for a gain on the model's range, clamped (logged).
    int lnaStateFor(int maxGain, int gain, int minGain, const char* name) const;
    void retune(sdrplay_api_RxChannelParamsT& channel, double hz, double& last, sdrplay_api_TunerSelectT tuner,
                std::chrono::system_clock::time_point now);
    void meter(unsigned int n, int receiver, int blockPeak);

    std::shared_ptr<SDRPlayLib> lib_;
    std::shared_ptr<callbackLink> link_;
    std::shared_ptr<asyncObject> updater_;
    bool linked_ = false; // task group

    sdrplay_api_DeviceT devices_[capacity] = {};
    std::atomic<sdrplay_api_DeviceT*> device_{nullptr};
    std::atomic<sdrplay_api_DeviceParamsT*> params_{nullptr};
    std::atomic<sdrplay_api_RxChannelParamsT*> channelA_{nullptr};
    std::atomic<sdrplayModel> model_{sdrplayModel::other};
    std::atomic<bool> removed_{false};
    std::atomic<bool> dropLogged_{false};

    // level meter, stream threads
    std::atomic<uint64_t> counter_{0};
    std::atomic<double> peakA_{0.0};
    std::atomic<double> peakB_{0.0};

    // tuning, under deviceMutex_
    double lastA_ = 0.0;
    double lastB_ = 0.0;
    std::chrono::system_clock::time_point lastUpdate_{};
    std::atomic<bool> frequencyReady_{true};

    double keptLevel_ = 1.0;
    double keptFrequencyCalibration_ = 1.0;
    exitGate::driverStop exitStop_; // set while the device streams
};
