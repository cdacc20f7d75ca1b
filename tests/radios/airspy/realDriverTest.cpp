// The Airspy and Airspy HF+ radios on the real libairspy and libairspyhf
// with no device plugged in: discovery finds nothing, a start fails with the
// driver's code, and Debian's libairspyhf, which shifts the IF itself and has
// no airspyhf_get_freq_shift, leaves the tuning error at 0.
#include "radios/airspy/AirspyRadio.h"
#include "radios/airspyhf/AirspyHFRadio.h"
#include "radios/airspyhf/airspyhfDriver.h"

#include "core/coreObjectFixture.h"
#include "support/logCapture.h"

#include <dlfcn.h>

namespace {

class RealDrivers : public CoreObjects {
protected:
    void settle(void* r) {
        onWorker(object<Radio>(r), [] {});
        onWorker(object<Radio>(r), [] {});
    }
    bool logged(const std::string& prefix) {
        for (auto& line : capture.lines())
            if (line.rfind(prefix, 0) == 0) return true;
        return false;
    }
    LogCapture capture;
};

} // namespace

TEST_F(RealDrivers, FindNothingAndFailToStartWithTheDriversCode) {
    void* a = AirspyController_create();
    void* hf = AirspyHFController_create();
    AirspyController_bindnewRadio(a, host::onText<"newRadio">);
    AirspyHFController_bindnewRadio(hf, host::onText<"newRadio">);
    AirspyController_Discover(a);
    AirspyHFController_Discover(hf);
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] {
        return logged("info|airspy discover done") && logged("info|airspyhf discover done");
    }));
    getUpdates();
    AirspyController_release(a);
    AirspyHFController_release(hf);
    if (!log.of("newRadio").empty()) GTEST_SKIP() << "an Airspy device is plugged in";
    for (auto& line : capture.lines())
        EXPECT_TRUE(line.rfind("info|airspy discover", 0) == 0 || line.rfind("info|airspyhf discover", 0) == 0 ||
                    line.rfind("info|airspy_list_devices fail ", 0) == 0 ||
                    line.rfind("info|airspyhf_list_devices fail ", 0) == 0)
            << line;

    a = AirspyRadio_create();
    hf = AirspyHFRadio_create();
    AirspyRadio_setSerial(a, 1);
    AirspyHFRadio_setSerial(hf, 1);
    Radio_start(a);
    Radio_start(hf);
    settle(a);
    settle(hf);
    EXPECT_TRUE(logged("error|airspy start open failed "));
    EXPECT_TRUE(logged("error|airspyhf setup open failed "));
    EXPECT_TRUE(logged("error|airspyhf start open failed "));
    EXPECT_TRUE(object<AirspyRadio>(a)->isRunning()); // so that a stop clears it
    Radio_stop(a);
    settle(a);
    EXPECT_FALSE(object<AirspyRadio>(a)->isRunning());
    AirspyRadio_release(a);
    AirspyHFRadio_release(hf);

    // What the loaded libairspyhf offers decides the tuning error.
    const bool hasShift = dlsym(RTLD_DEFAULT, "airspyhf_get_freq_shift") != nullptr;
    EXPECT_EQ(airspyhfHasFreqShift(), hasShift);
    if (!hasShift) {
        int notADevice = 0;
        EXPECT_EQ(airspyhfTuningError(&notADevice), 0);
    }
}
