#include "radios/airspyhf/AirspyHFController.h"

#include "radios/airspy/deviceDiscovery.h"
#include "radios/airspyhf/airspyhfDriver.h"

AirspyHFController::AirspyHFController(std::shared_ptr<syncTask> group)
    : Controller(group ? std::make_shared<syncTask>(group->pool()) : nullptr) {}

void AirspyHFController::Discover() { discoverDevices(airspyhfDriver, "AirspyHF", newRadio); }
