#pragma once
// SoapyController: finds the SoapySDR devices on the machine. Discover()
// loads the library, hooks SoapySDR's logging into ours, loads the device
// modules it wants, enumerates, and announces each usable device on newRadio
// as "driver~label~serial". A SoapyRadio takes the first two fields.
//
// Threads: everything runs on the controller's own task group; the library
// calls block its turn until they return.
#include "core/Controller.h"
#include "framework/asyncEvent.h"
#include "framework/asyncProperty.h"

#include <SoapySDR/Types.h>

#include <string>

class SoapyLib;

/// What discovery reads from one device's key/value list: "label" wins over
/// "device", "serial" over "uri"; the serial is "??" when neither is there.
struct soapyDeviceFields {
    std::string label, driver, serial = "??";
    /// logFound: log every pair as "soapy found {} {}" while reading.
    static soapyDeviceFields of(const SoapySDRKwargs& device, bool logFound);
};

class SoapyController : public Controller {
public:
    explicit SoapyController(std::shared_ptr<syncTask> group);
    ~SoapyController() override = default;

    asyncProperty<bool> Enable{false};
    asyncEvent<std::string> newRadio;
    asyncProperty<std::string> SoapyArgs;
    asyncProperty<bool> UseAirspyHF{false};
    asyncProperty<bool> UseAirspy{false};
    asyncProperty<bool> UseRTL{false};

    /// Controller's task group. Announces every usable device; a library
    /// that cannot be loaded ends it quietly (the loader logged why).
    void Discover();

    /// Whether a module file is loaded, by plain substring tests on its file
    /// name (the folders above it say nothing of what it drives).
    bool moduleWanted(const std::string& path) const;
    /// Whether devices of a driver are announced.
    bool driverWanted(const std::string& driver) const;

private:
    void discover();

    SoapyLib& lib_;
    bool logHandlerRegistered_ = false;
};
