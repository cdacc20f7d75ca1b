#pragma once
// RTLTCPRadio: a radio the host can create, configure, start and stop, but
// that receives nothing: it keeps its connection and driver settings without
// acting on them, and its driver thread ends as soon as it starts.
//
// Threads: startRadio, stopRadio and the setters run on the radio's task
// group; the driver thread touches nothing but the logger.
#include "core/Radio.h"

#include <atomic>
#include <string>
#include <thread>

class RTLTCPRadio : public Radio {
public:
    static constexpr long long startFrequency = 51000000;
    /// Its receiver's rate; SampleRate takes no other.
    static constexpr int sampleRate = 2400000;

    explicit RTLTCPRadio(std::shared_ptr<syncTask> group);
    /// Joins the driver thread if it is still there.
    ~RTLTCPRadio() override;

    asyncProperty<std::string> Host;
    asyncProperty<int> Port{0};
    asyncProperty<double> adcPeak{0.0};
    asyncProperty<std::string> DriverExe;
    asyncProperty<std::string> DriverKey;
    asyncProperty<bool> ShowGui{true};
    asyncProperty<bool> Pause{false};
    asyncProperty<std::string> DeviceSettings;

    void tune() override {}
    /// Adds a transceiver when there is none and runs the driver thread,
    /// unless already started. Task group.
    void startRadio() override;
    /// Clears the running flag and joins the driver thread. Task group.
    void stopRadio() override;
    /// Receive-only: every key is refused, whatever canTransmit says.
    bool hasTransmitter() const override { return false; }

    std::atomic<bool> running{false};

private:
    static void commsLoop();
    std::thread driver_;
};
