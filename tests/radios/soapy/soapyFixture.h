#pragma once
// Tests of the SoapySDR back-end against the real SoapySDR library, which
// loads the stand-in module (tests/standins/soapy) as it would load a
// device's. The host side is the exported C interface, compiled into the
// test; the objects behind the handles are reachable too.
#include "core/coreObjectFixture.h"
#include "radios/soapy/SoapyLib.h"
#include "radios/soapy/SoapyRadio.h"
#include "radios/soapy/soapyOwned.h"
#include "standins/soapy/soapyStandin.h"
#include "standins/standinControl.h"
#include "support/waitFor.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace sdr = standin::soapy;

class SoapyTest : public CoreObjects {
protected:
    static void SetUpTestSuite() {
        CoreObjects::SetUpTestSuite();
        setenv("SOAPY_SDR_PLUGIN_PATH", VIREO_SOAPY_STANDIN_DIR, 1);
    }

    void SetUp() override {
        lib = &SoapyLib::getInstance();
        lib->LoadApi();
        if (!lib->handle()) {
            if (const char* ci = std::getenv("CI"); ci && std::string(ci) == "true")
                FAIL() << "the SoapySDR library is missing";
            GTEST_SKIP() << "the SoapySDR library is missing (libsoapysdr0.8)";
        }
        // SoapySDR loads the module itself, so its drivers count as the
        // module's; a second load is refused as "already loaded".
        soapyOwnedText loaded(*lib, lib->loadModule(modulePath().c_str()));
        setDevices = standin::control<sdr::setDevicesFn>(sdr::module, "standin_soapy_setDevices");
        fail = standin::control<sdr::failFn>(sdr::module, "standin_soapy_fail");
        unplug = standin::control<sdr::unplugFn>(sdr::module, "standin_soapy_unplug");
        calls = standin::control<sdr::callsFn>(sdr::module, "standin_soapy_calls");
        counts = standin::control<sdr::countsFn>(sdr::module, "standin_soapy_counts");
        soapyLog = standin::control<sdr::logFn>(sdr::module, "standin_soapy_log");
        standin::control<sdr::resetFn>(sdr::module, "standin_soapy_reset")();
    }

    static std::string modulePath() { return std::string(VIREO_SOAPY_STANDIN_DIR) + "/" + sdr::module; }

    /// A device of the test driver called `label` (serial "S1").
    static sdr::Device device(const std::string& label) {
        sdr::Device d;
        d.find = {{"label", label}, {"serial", "S1"}};
        d.rateRanges = {{192000, 192000}};
        d.gainMinimum = 10;
        d.gainMaximum = 40;
        return d;
    }

    /// A radio on the device, its capability read done.
    void* openRadio(const std::string& label, const std::string& driver = "vctest") {
        void* r = SoapyRadio_create();
        SoapyRadio_setdriver(r, driver.c_str());
        SoapyRadio_setlabel(r, label.c_str());
        onWorker(object<SoapyRadio>(r), [] {});
        return r;
    }

    long reads() {
        long r = 0, a = 0, rel = 0;
        counts(&r, &a, &rel);
        return r;
    }
    /// Whether the device has seen `call` since the log had `from` lines.
    bool called(const std::string& call, size_t from = 0) {
        auto all = calls();
        for (size_t i = from; i < all.size(); ++i)
            if (all[i] == call) return true;
        return false;
    }
    bool waitForCall(const std::string& call, size_t from = 0) {
        return waitFor([&] { return called(call, from); });
    }
    /// Starts the radio and waits until the device delivers samples.
    bool startStreaming(void* radio) {
        const long before = reads();
        Radio_start(radio);
        return waitFor([&] { return reads() > before + 2; });
    }

    SoapyLib* lib = nullptr;
    sdr::setDevicesFn* setDevices = nullptr;
    sdr::failFn* fail = nullptr;
    sdr::unplugFn* unplug = nullptr;
    sdr::callsFn* calls = nullptr;
    sdr::countsFn* counts = nullptr;
    sdr::logFn* soapyLog = nullptr;
};
