#pragma once
// SoapyRadio: the radio back-end for any SoapySDR receiver (receive only).
//
// The host sets driver and label from a discovered device id; the radio then
// opens the device once (setup) to read what it can do: sample rates,
// antennas, gain range, automatic gain, device settings. It publishes them,
// closes the device and waits for Radio_start, which runs the stream loop
// (SoapyStream) on a thread of its own until Radio_stop.
//
// Threads: properties, hooks, setup, tune and ChangeSetting run on the
// radio's task group. A host change that the device must follow only bumps a
// request counter (requests); the stream thread compares each with the count
// it applied last and talks to the device itself. The counters are atomics
// (a bump releases the property written before it), the setting list sits
// behind a lock, and what the capability read fixes is written before any
// stream thread starts.
#include "core/Radio.h"
#include "framework/exitGate.h"
#include "framework/ValueLabelItem.h"
#include "framework/asyncCollection.h"
#include "framework/asyncEvent.h"

#include <SoapySDR/Types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class SoapyLib;
struct SoapySDRDevice;

/// One device setting as the radio holds it: key and current value.
struct SettingKeyValue {
    std::string key, value;
};

/// One kind of host change that the stream loop applies to the device.
class soapyRequest {
public:
    /// Task group: a change was made (after the value it concerns).
    void bump() { requested_.fetch_add(1, std::memory_order_release); }
    /// Stream thread: whether changes came since the last take; takes them.
    bool take() {
        const uint64_t r = requested_.load(std::memory_order_acquire);
        if (r == applied_) return false;
        applied_ = r;
        return true;
    }

private:
    std::atomic<uint64_t> requested_{0};
    uint64_t applied_ = 0; // one stream thread at a time; kept across starts
};

class SoapyRadio : public Radio {
public:
    static constexpr long long startFrequency = 99000000;
    /// SampleRate before the device is read; while it still holds it then,
    /// the device's first offered rate replaces it.
    static constexpr int defaultSampleRate = 48000;

    explicit SoapyRadio(std::shared_ptr<syncTask> group);
    /// Stops the stream thread; from the thread itself (its turn held the
    /// last reference) it only lets it go.
    ~SoapyRadio() override;

    asyncCollection<ValueLabelItem> SampleRates;
    asyncEvent<std::string> antennaAdded;
    asyncEvent<int> samplerateAdded; // never raised
    asyncEvent<std::string> settingAdded;
    asyncProperty<std::string> label;
    asyncProperty<std::string> driver;
    asyncProperty<std::string> antenna;
    asyncProperty<int> maxRxRFGain{0};
    asyncProperty<int> minRxRFGain{0};
    asyncProperty<int> rxGain{0};
    asyncProperty<int> maxRxIFGain{0};
    asyncProperty<int> minRxIFGain{0};
    asyncProperty<int> rxIFGain{0};
    asyncProperty<bool> agc{true};
    asyncProperty<bool> swapIQ{false};
    asyncProperty<double> adcPeak{0.0};
    asyncProperty<std::string> SoapyArgs;

    // ---- radio's task group ----
    void tune() override { requests.tune.bump(); }
    void transmit(buff<cplx>) override {}
    /// Adds a transceiver when there is none and starts the stream thread,
    /// unless running or the device was never read.
    void startRadio() override;
    /// Clears the running flag and joins the stream thread.
    void stopRadio() override;
    /// Receive-only: every key is refused, whatever canTransmit says.
    bool hasTransmitter() const override { return false; }
    /// Replaces a setting's value; the stream loop writes the last one
    /// changed. An index outside the list is ignored.
    void ChangeSetting(int index, std::string value);
    void Distroy() {}
    /// Opens the device named by driver and label, once, to read what it
    /// can do. Again on the next driver or label change if it was not found.
    void setup();
    /// The capability read on an open device. False when the library lacks
    /// an entry it needs (logged): the device is then refused.
    bool initialConnect(SoapySDRDevice* device);

    // ---- any thread ----
    /// The open device named by driver and label, or null (logged).
    SoapySDRDevice* FindRadio();

    // ---- read by the stream thread ----
    struct {
        soapyRequest tune, rxGain, antenna, sampleRate, frequencyCalibration, settings, levelCalibration;
    } requests;
    std::atomic<bool> running{false};
    // Fixed by the capability read, before any stream thread exists.
    bool hasGainMode = false;
    double gainOffset = 0.0;
    double gainElementMinimum = 0.0, gainElementMaximum = 0.0;
    std::vector<std::string> settingTexts;

    /// The setting changed last, as it is now; an empty key when none.
    SettingKeyValue changedSetting() const;
    /// Frequency of hardware receiver 0.
    long long receiverFrequency() const;
    /// Asks the task group to move rxGain one step (the loop's gain
    /// control); the step is dropped there when it would leave the bounds.
    void stepGain(int step);

private:
    /// Offers the device's rates in SampleRates and keeps the ranges and
    /// the listed rates it delivers.
    void readSampleRates(SoapySDRDevice* device);
    /// Settles SampleRate on what the device delivers and installs its
    /// hook. False when the device offers no rate.
    bool chooseSampleRate();
    /// Whether the device delivers this rate, on a step of one of its ranges
    /// or in its list: SampleRate takes no other.
    bool delivers(int rate) const;
    void readGains(SoapySDRDevice* device);
    void readSettings(SoapySDRDevice* device);
    void setReceiverRates();

    SoapyLib& lib_;
    bool connected_ = false;
    bool found_ = false;
    mutable std::mutex settingsMutex_;
    std::vector<SettingKeyValue> settingList_;
    int lastChangedSetting_ = -1;
    std::thread streamThread_;
    std::shared_ptr<exitGate::threadEnd> threadEnd_;
    std::vector<SoapySDRRange> deliverable_; // the list's rates as ranges of one; radio's task group
    exitGate::driverStop exitStop_; // set while the stream thread runs; last: cleared before the rest goes
};
