#include "radios/airspy/deviceDiscovery.h"

#include "framework/exitGate.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <array>

void discoverDevices(const usbDriver& driver, const char* prefix, asyncEvent<std::string>& newRadio) {
    spdlog::info("{} discover", driver.name);
    std::array<uint64_t, maxListedDevices> serials{};
    const int n = driver.list(serials.data(), maxListedDevices);
    if (n < 0) {
        spdlog::info("{}_list_devices fail {}", driver.name, n);
    } else {
        if (n > maxListedDevices)
            spdlog::info("{} lists {} devices, the first {} are used", driver.name, n, maxListedDevices);
        for (int i = 0; i < std::min(n, maxListedDevices); ++i) {
            spdlog::info("{} found {}", driver.name, serials[size_t(i)]);
            newRadio.send(std::string(prefix) + "~" + std::to_string(serials[size_t(i)]));
        }
    }
    // After what the driver built for it.
    exitGate::rearmAfterFirst(std::string(driver.name) + " discovery", n > 0);
    spdlog::info("{} discover done", driver.name);
}
