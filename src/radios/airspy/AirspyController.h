#pragma once
// AirspyController: finds the connected Airspy receivers and publishes one
// device id ("Airspy~<serial>") per device on newRadio.
#include "core/Controller.h"
#include "framework/asyncEvent.h"
#include "framework/asyncProperty.h"

#include <string>

class AirspyController : public Controller {
public:
    /// Makes a task group of its own on the scheduler of `group`.
    explicit AirspyController(std::shared_ptr<syncTask> group);
    ~AirspyController() override = default;

    /// Stored only.
    asyncProperty<bool> Enable{false};
    asyncEvent<std::string> newRadio;

    /// Lists the devices. Controller's task group.
    void Discover();
};
