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
    /// Discovers with a controller and returns the lines it logged.
    template <class Create, class Bind, class Discover, class Release>
    std::vector<std::string> discover(Create create, Bind bind, Discover run, Release release, const std::string& done) {
        void* c = create();
        bind(c, host::onText<"newRadio">);
        run(c);
        EXPECT_TRUE(host::pollUntil(getUpdates, [&] { return capture.contains(done); }));
        getUpdates();
        release(c);
        return capture.lines();
    }
    LogCapture capture;
};

} // namespace

TEST_F(RealDrivers, FindNothingAndFailToStartWithTheDriversCode) {
    discover(AirspyController_create, AirspyController_bindnewRadio, AirspyController_Discover,
             AirspyController_release, "info|airspy discover done");
    auto lines = discover(AirspyHFController_create, AirspyHFController_bindnewRadio, AirspyHFController_Discover,
                          AirspyHFController_release, "info|airspyhf discover done");
    if (!log.of("newRadio").empty()) GTEST_SKIP() << "an Airspy device is plugged in";
    for (auto& line : lines)
        EXPECT_TRUE(line == "info|airspy discover" || line == "info|airspy discover done" ||
                    line == "info|airspyhf discover" || line == "info|airspyhf discover done" ||
                    line.rfind("info|airspy_list_devices fail ", 0) == 0 ||
                    line.rfind("info|airspyhf_list_devices fail ", 0) == 0)
            << line;

    void* a = AirspyRadio_create();
    void* hf = AirspyHFRadio_create();
    AirspyRadio_setSerial(a, 1);
    AirspyHFRadio_setSerial(hf, 1);
    Radio_start(a);
    Radio_start(hf);
    settle(a);
    settle(hf);
    auto failed = [&](const std::string& prefix) {
        for (auto& line : capture.lines())
            if (line.rfind(prefix, 0) == 0) return true;
        return false;
    };
    EXPECT_TRUE(failed("error|airspy start open failed "));
    EXPECT_TRUE(failed("error|airspyhf setup open failed "));
    EXPECT_TRUE(failed("error|airspyhf start open failed "));
    EXPECT_FALSE(object<AirspyRadio>(a)->isOpen());
    EXPECT_TRUE(object<AirspyRadio>(a)->isRunning());
    Radio_stop(a);
    Radio_stop(hf);
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
