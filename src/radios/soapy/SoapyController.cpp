#include "radios/soapy/SoapyController.h"

#include "framework/exitGate.h"
#include "radios/soapy/SoapyLib.h"
#include "radios/soapy/soapyOwned.h"

#include <spdlog/spdlog.h>

soapyDeviceFields soapyDeviceFields::of(const SoapySDRKwargs& device, bool logFound) {
    soapyDeviceFields f;
    // The library's lists are read defensively: a null array reads as empty.
    if (!device.keys || !device.vals) return f;
    for (size_t i = 0; i < device.size; ++i) {
        const std::string key = soapyText(device.keys[i]);
        const std::string value = soapyText(device.vals[i]);
        if (logFound) spdlog::info("soapy found {} {}", key, value);
        if (key == "label")
            f.label = value;
        else if (key == "device" && f.label.empty())
            f.label = value;
        else if (key == "driver")
            f.driver = value;
        else if (key == "serial")
            f.serial = value;
        else if (key == "uri" && f.serial == "??")
            f.serial = value;
    }
    return f;
}

SoapyController::SoapyController(std::shared_ptr<syncTask> group)
    : Controller(group ? std::make_shared<syncTask>(group->pool()) : nullptr), lib_(SoapyLib::getInstance()) {}

bool SoapyController::moduleWanted(const std::string& path) const {
    // Only the module's own file name tells what it drives: a folder that
    // happens to be called "audio-tools" must not hide every module in it.
    const std::string name = path.substr(path.find_last_of('/') + 1);
    auto has = [&](const char* word) { return name.find(word) != std::string::npos; };
    if (has("audio") || has("sdrPlay")) return false;
    if (has("airspyhf") && !UseAirspyHF.get()) return false;
    if (has("airspy") && !UseAirspy.get()) return false;
    if (has("rtlsdr") && !UseRTL.get()) return false;
    return true;
}

bool SoapyController::driverWanted(const std::string& driver) const {
    if (driver == "audio" || driver == "sdrplay") return false;
    if (driver == "airspyhf") return UseAirspyHF.get();
    if (driver == "airspy") return UseAirspy.get();
    if (driver == "rtlsdr") return UseRTL.get();
    return true;
}

void SoapyController::Discover() {
    try {
        discover();
    } catch (const std::exception& e) {
        spdlog::error("soapy discover  {}", e.what());
    } catch (...) {
        spdlog::error("soapy discover ??");
    }
}

void SoapyController::discover() {
    spdlog::info("soapy discover");
    lib_.LoadApi();
    if (!lib_.handle()) return;

    if (!logHandlerRegistered_ && lib_.registerLogHandler) {
        logHandlerRegistered_ = true;
        lib_.registerLogHandler(LogHandler);
        if (lib_.setLogLevel)
            lib_.setLogLevel(spdlog::default_logger()->should_log(spdlog::level::info) ? SOAPY_SDR_INFO
                                                                                      : SOAPY_SDR_ERROR);
    }
    if (const char* m = lib_.missing<&SoapyLib::getABIVersion, &SoapyLib::getAPIVersion, &SoapyLib::getRootPath,
                                     &SoapyLib::listModules, &SoapyLib::loadModule, &SoapyLib::enumerate>()) {
        spdlog::error("soapy missing {}", m);
        return;
    }
    spdlog::info("soapy ABIVersion {}", soapyText(lib_.getABIVersion()));
    spdlog::info("soapy APIVersion {}", soapyText(lib_.getAPIVersion()));
    spdlog::info("soapy RootPath {}", soapyText(lib_.getRootPath()));
    if (lib_.abiStartsWith({"0.5", "0.4", "0.3", "0.2", "0.1"})) return;

    size_t count = 0;
    char** paths = lib_.listModules(&count);
    soapyStrings modules(lib_, paths, count);
    spdlog::info("soapy modules {}", modules.size());
    bool loadedNow = false;
    for (char* p : modules) {
        const std::string path = soapyText(p);
        spdlog::info("module found {}", path);
        if (path.empty() || !moduleWanted(path)) continue;
        spdlog::info("module loaded {}", path);
        // The result is the library's error text, empty on success (a
        // second discovery meets "already loaded"); it is only given back.
        soapyOwnedText result(lib_, lib_.loadModule(path.c_str()));
        if (result.str().empty()) loadedNow = true;
    }

    SoapySDRKwargs none{};
    size_t n = 0;
    SoapySDRKwargs* list = lib_.enumerate(&none, &n);
    soapyKwargsList devices(lib_, list, n);
    for (const SoapySDRKwargs& device : devices) {
        const auto f = soapyDeviceFields::of(device, true);
        if (f.label.empty() || f.driver.empty() || f.serial == "??") continue;
        if (!driverWanted(f.driver)) continue;
        newRadio.send(f.driver + "~" + f.label + "~" + f.serial);
    }
    if (loadedNow) exitGate::rearm(); // after the statics of the modules loaded now
    exitGate::rearmAfterFirst("SoapySDR enumerate", devices.size() > 0); // after what enumerating built
}
