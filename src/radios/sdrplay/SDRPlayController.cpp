#include "radios/sdrplay/SDRPlayController.h"

#include "framework/exitGate.h"
#include "radios/sdrplay/sdrplayDevice.h"

#include <spdlog/spdlog.h>

#include <algorithm>

SDRPlayController::SDRPlayController(std::shared_ptr<syncTask> group) : Controller(std::move(group)) {}

void SDRPlayController::Discover() {
    if (!lib.loaded()) lib.loadApi();
    if (!lib.loaded()) return; // the loader said why
    spdlog::info("sdrplay discover started");
    lib.sdrplay_api_LockDeviceApi();
    sdrplay_api_DeviceT devices[capacity] = {};
    unsigned int count = 0;
    const sdrplay_api_ErrT err = lib.sdrplay_api_GetDevices(devices, &count, capacity);
    if (err != 0) {
        spdlog::error("sdrplay_api_GetDevices {}", lib.errorText(err));
    } else {
        // The count comes from the library: never past the array.
        count = std::min(count, capacity);
        for (unsigned int i = 0; i < count; ++i) {
            const std::string id = sdrplayDevice::id(devices[i]);
            spdlog::info("sdrplay found hwVer {} {}", int(devices[i].hwVer), id);
            newRadio.send(id);
        }
    }
    lib.sdrplay_api_UnlockDeviceApi();
    lib.firstCalls.rearmAfter("discovery", err == 0 && count > 0); // after what the service built for it
    spdlog::info("sdrplay discover done");
}
