#pragma once
// SDRPlayController: lists the RSP receivers the vendor library sees and
// sends one device id per receiver ("<serial>-<model>") on newRadio.
//
// It stays on the task group it was made on (the global one) and holds an
// image of the library of its own, loaded at its first discovery: normally
// the process's first load, the installed file.
#include "core/Controller.h"
#include "framework/asyncEvent.h"
#include "framework/asyncProperty.h"
#include "radios/sdrplay/SDRPlayLib.h"

#include <string>

class SDRPlayController : public Controller {
public:
    static constexpr unsigned int capacity = 6; ///< records per discovery

    explicit SDRPlayController(std::shared_ptr<syncTask> group);
    ~SDRPlayController() override = default;

    asyncProperty<bool> Enable{false}; ///< stored only
    asyncEvent<std::string> newRadio;

    /// Sends the id of every device listed now, also of those sent before
    /// and of those a radio is using. Task group.
    void Discover();

    SDRPlayLib lib;
};
