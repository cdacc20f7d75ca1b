#pragma once
// UsbStreamRadio: what the Airspy and the Airspy HF+ radios share. A
// receive-only radio on a USB driver that opens one device by serial number,
// lists its sample rates, and streams interleaved float I/Q from the
// driver's own thread into hardware receiver 0, scaled by the gain scale and
// watched by the adcPeak meter. The derived radio adds its gain rule, its
// tuning and its start sequence.
//
// The device is open only between startRadio and stopRadio, and for the
// moment `setup` lists the rates of a newly chosen serial.
//
// Threads: every hook, setup, startRadio, stopRadio and tune run on the
// radio's task group. Process runs on the driver's thread. The driver holds
// the radio only weakly, through a link of its own: a transfer arriving
// while the radio is going finds nothing, and when the last reference goes
// inside a transfer (the reference taken for it, or one a posted block held)
// the destructor, then on the driver's own thread, hands stopping and
// closing to a thread of their own, since the driver cannot join itself.
#include "core/Radio.h"
#include "framework/ValueLabelItem.h"
#include "framework/asyncCollection.h"
#include "framework/exitGate.h"
#include "radios/airspy/SampleFeed.h"
#include "radios/airspy/usbDriver.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class UsbStreamRadio : public Radio {
public:
    /// The most sample rates taken from a driver.
    static constexpr uint32_t maxRates = 64;

    /// Receiver 0 at 99000000 Hz and 768000 samples per second; the hooks
    /// of Serial, rxGain, SampleRate, rxLevelCalibration and
    /// frequencyCalibration.
    UsbStreamRadio(std::shared_ptr<syncTask> group, const usbDriver& driver);
    /// Stops and closes a device still open.
    ~UsbStreamRadio() override;

    asyncProperty<unsigned long long> Serial{0};
    asyncCollection<ValueLabelItem> SampleRates;
    asyncProperty<int> maxRxRFGain{0};
    asyncProperty<int> minRxRFGain{0};
    asyncProperty<int> rxGain{0};
    asyncProperty<double> adcPeak{0.0};

    /// Stops streaming and closes the device if it is open; clears the
    /// running flag. Radio's task group.
    void stopRadio() override;
    /// Receive-only: every key is refused, whatever canTransmit says.
    bool hasTransmitter() const override { return false; }

    /// One transfer of `count` interleaved I/Q pairs: scaled into receiver 0
    /// through the deferred fill, then the peak meter. Driver's thread.
    void Process(const float* iq, int count);

    /// What the driver's transfer callback calls with the context it was
    /// started with. Any exception stays here (logged). Driver's thread.
    static void deliver(void* context, const float* iq, int count);

    float gainScale() const { return feed.gainScale.load(std::memory_order_relaxed); }
    bool isOpen() const { return device_ != nullptr; }
    bool isRunning() const { return running_.load(); }

protected:
    /// Opens the device of Serial into the handle: 0, or the driver's code
    /// with the handle left clear.
    int openDevice();
    void closeDevice();
    /// Starts the driver's stream into this radio: 0 or the driver's code.
    int startStreaming();
    void* device() const { return device_; }
    void setRunning() { running_ = true; }
    /// Adds a transceiver at 99000000 Hz on receiver 0 when there is none.
    void addVtrxIfNone();

    /// Receiver 0's frequency through a 32-bit float, widened and times
    /// frequencyCalibration: what the device is told, before clamping. May
    /// be NaN or out of the driver's range.
    double calibratedFrequency() const;
    /// calibratedFrequency clamped to the driver's unsigned 32-bit range;
    /// nothing (logged) when it is not finite.
    std::optional<double> deviceFrequency() const;
    /// A frequency in range, truncated toward zero; out-of-range values are
    /// clamped first.
    static uint32_t toHz(double hz);
    /// Sets receiver 0's tuning error. Radio's task group.
    void setTuningError(int hz);

    /// Whether a gain scale the rule computed can be used: finite as a
    /// float. A refusal is logged with rxGain and rxLevelCalibration and
    /// leaves the scale and the device as they were.
    bool acceptGainScale(double scale) const;

    /// The back-end's gain rule: rxGain, rxLevelCalibration and startRadio.
    virtual void applyGainRule() = 0;
    /// setup could not open the device.
    virtual void setupOpenFailed(int code) {}

    SampleFeed feed;
    const usbDriver& driver;

private:
    struct link;

    /// Opens the device of Serial briefly, lists its rates into SampleRates
    /// and makes the first one the SampleRate; from then on SampleRate takes
    /// only a rate of that list. Serial hook.
    void setup();
    std::vector<uint32_t> readRates(void* device) const;
    void serialChanged();
    /// A rate of the device's list was accepted: receiver 0 takes it, a
    /// running stream restarts at it.
    void sampleRateChanged();
    /// The destructor's way out when it runs inside the driver's callback.
    void closeFromAnotherThread() noexcept;

    /// Stops the driver's stream; the exit no longer has to. Radio's task
    /// group (or the destructor).
    void stopStreaming();

    void* device_ = nullptr;              // radio's task group only
    std::vector<uint32_t> deviceRates_;   // the last device's list; radio's task group
    std::atomic<bool> running_{false};
    std::unique_ptr<link> link_;          // made at the first start
    exitGate::driverStop exitStop_;       // set while the driver streams
};
