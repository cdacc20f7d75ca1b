#pragma once
// RTLController: finds the connected RTL-SDR receivers and publishes one
// device id per receiver ("RTL~" and its USB serial) on newRadio, from which
// the host makes an RTLRadio.
//
// Threads: Discover runs on the controller's own task group; newRadio
// reaches the host as a host task.
#include "core/Controller.h"
#include "framework/asyncEvent.h"
#include "framework/asyncProperty.h"

#include <memory>
#include <string>

class RTLSDRLib;

class RTLController : public Controller {
public:
    explicit RTLController(std::shared_ptr<syncTask> group);
    ~RTLController() override = default;

    asyncProperty<bool> Enable{false}; ///< stored only
    asyncEvent<std::string> newRadio;
    RTLSDRLib* lib;

    /// Sends the id of every device present now, also of those sent before.
    /// Controller's task group.
    void Discover();
};
