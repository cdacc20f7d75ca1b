#pragma once
// AirspyHFController: finds the connected Airspy HF+ receivers and publishes
// one device id ("AirspyHF~<serial>") per device on newRadio.
#include "core/Controller.h"
#include "framework/asyncEvent.h"
#include "framework/asyncProperty.h"

#include <string>

class AirspyHFController : public Controller {
public:
    /// Makes a task group of its own on the scheduler of `group`.
    explicit AirspyHFController(std::shared_ptr<syncTask> group);
    ~AirspyHFController() override = default;

    /// Stored only.
    asyncProperty<bool> Enable{false};
    asyncEvent<std::string> newRadio;

    /// Lists the devices. Controller's task group.
    void Discover();
};
