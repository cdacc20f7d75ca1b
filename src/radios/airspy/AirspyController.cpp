#include "radios/airspy/AirspyController.h"

#include "radios/airspy/airspyDriver.h"
#include "radios/airspy/deviceDiscovery.h"

AirspyController::AirspyController(std::shared_ptr<syncTask> group)
    : Controller(group ? std::make_shared<syncTask>(group->pool()) : nullptr) {}

void AirspyController::Discover() { discoverDevices(airspyDriver, "Airspy", newRadio); }
