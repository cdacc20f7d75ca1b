#pragma once
// RTLRadio: a receive-only back-end for RTL-SDR USB receivers, driven
// through librtlsdr's function table (RTLSDRLib). It opens one device by its
// USB serial, offers the gain rows of its tuner, streams its 8-bit IQ into
// hardware receiver 0 and, for R82xx tuners, tells the receive blocks how
// far the tuner's synthesiser really lands from the requested frequency.
//
// Threads: setup, startRadio, stopRadio, tune and every change hook run on
// the radio's task group; Process runs on the reader thread (RTLStream).
// They share the gain scale (atomic), the rate in force (atomic) and the
// receivers (under the base's listMutex). The device handle belongs to the
// task group; the reader thread receives it when it starts and gives it
// back when stopped.
#include "core/Radio.h"
#include "framework/ValueLabelItem.h"
#include "framework/asyncCollection.h"
#include "radios/rtl/RTLGainTable.h"
#include "radios/rtl/RTLSDRLib.h"
#include "radios/rtl/RTLStream.h"

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <string>

class RTLRadio : public Radio {
public:
    static constexpr long long startFrequency = 99000000;
    static constexpr int tunerE4000 = 1;
    static constexpr int tunerR82xx = 5;
    /// More gain values than any tuner has: a count above it is a library fault.
    static constexpr int maxTunerGains = 256;
    /// The rates librtlsdr sets: 225001 to 300000 and 900001 to 3200000.
    /// SampleRate takes no other.
    static bool deliverableRate(int rate);

    explicit RTLRadio(std::shared_ptr<syncTask> group);
    /// Stops a running stream and closes the device (on whichever thread the
    /// last reference goes).
    ~RTLRadio() override;

    asyncProperty<std::string> Serial;
    asyncCollection<ValueLabelItem> SampleRates;
    asyncProperty<int> maxRxRFGain{6};
    asyncProperty<int> minRxRFGain{-48};
    asyncProperty<int> rxGain{0};
    asyncProperty<double> adcPeak{0.0};
    asyncCollection<ValueLabelItem> DirectSampleModes;
    asyncProperty<int> DirectSample{0};
    asyncProperty<bool> BiasT{false};
    asyncProperty<bool> BalanceIQ{true};

    /// Retunes the device to hardware receiver 0 (calibrated), predicting
    /// an R82xx tuner's error, unless it is tuned so already. Acts only
    /// while started. Task group.
    void tune() override;
    /// Adds a transceiver when there is none, opens the device, applies the
    /// settings and starts the reader. Task group.
    void startRadio() override;
    /// Ends the reader and closes the device. Task group.
    void stopRadio() override;
    /// Receive-only: every key is refused, whatever canTransmit says.
    bool hasTransmitter() const override { return false; }

    /// Opens the device named by Serial briefly to build the gain rows.
    void setup();
    void SetGain();
    void SetDirectSample();
    void SetBiasT();
    /// One buffer of raw bytes from the device. Reader thread.
    void Process(unsigned char* buffer, uint32_t length);

    // Read by tests; owned as described above.
    std::atomic<bool> running{false};
    std::atomic<float> gainScale{1.0f / 128.0f};
    RTLGainTable gains;
    /// What the device was last tuned for. The tuner's error depends on the
    /// rate (which sets its intermediate frequency) and on direct sampling as
    /// much as on the frequency: a change of any of them tunes again.
    struct tuning {
        uint32_t frequency = 0;
        int sampleRate = 0;
        int directSample = 0;
        bool operator==(const tuning&) const = default;
    };
    tuning lastTuned;
    RTLSDRLib* lib;
    rtlsdr_dev_t* device = nullptr;

private:
    /// Loads the library and checks the entries an operation calls; logs the
    /// refusal of `what` when one is missing.
    bool libraryProvides(std::initializer_list<RTLSDRLib::entry> needed, const char* what);
    void serialChanged();
    bool openDevice(rtlsdr_dev_t** handle);

    RTLStream stream_;
    float heldPeak_ = 1.0f; // reader thread
    float peakTime_ = 0.0f; // reader thread
    double appliedLevel_ = 1.0;
    double appliedFrequencyCalibration_ = 1.0;
};
