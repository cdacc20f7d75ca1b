// Loading librtlsdr at run time: the names tried, a library that is not
// there, loads racing each other, and the system's own library.
#include "radios/rtl/RTLController.h"
#include "radios/rtl/RTLSDRLib.h"

#include "core/coreObjectFixture.h"
#include "support/logCapture.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <latch>
#include <mutex>
#include <thread>

namespace {

std::mutex m;
std::vector<std::string> tried;
std::atomic<int> opens{0};

void* nowhere(const char* file, int) {
    std::lock_guard<std::mutex> l(m);
    tried.push_back(file);
    return nullptr;
}

/// Opens the test program itself: a library in which no name is found.
void* self(const char*, int flags) {
    opens.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(5)); // a slow disk: let the others arrive
    return dlopen(nullptr, flags);
}

} // namespace

// The library's logger is the test's, as everywhere.
using RTLSDRLoader = CoreObjects;

TEST_F(RTLSDRLoader, AMissingLibraryIsLookedForUnderEveryNameAtEveryCall) {
    LogCapture capture;
    RTLSDRLib lib(nowhere);
    lib.loadApi();
    lib.loadApi();
    EXPECT_EQ(tried, (std::vector<std::string>{"librtlsdr.so", "librtlsdr.so.0", "librtlsdr.dylib", "librtlsdr.so",
                                               "librtlsdr.so.0", "librtlsdr.dylib"}));
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"info|rtlsdr failed to load dll librtlsdr.dylib",
                                                         "info|rtlsdr failed to load dll librtlsdr.dylib"}));
    EXPECT_FALSE(lib.loaded());
    EXPECT_STREQ(lib.lacking({RTLSDRLib::entry::rtlsdr_close}), "rtlsdr_close");
    EXPECT_EQ(lib.rtlsdr_open, nullptr);
}

TEST_F(RTLSDRLoader, LoadsRacingEachOtherOpenOnceAndAllSeeTheWholeTable) {
    LogCapture capture;
    RTLSDRLib lib(self);
    constexpr int racers = 8;
    std::latch go(racers);
    std::vector<std::thread> threads;
    std::atomic<int> sawLoaded{0};
    for (int i = 0; i < racers; ++i)
        threads.emplace_back([&] {
            go.arrive_and_wait();
            lib.loadApi();
            // Every entry was looked up before the load became visible.
            if (lib.loaded() && lib.lacking({RTLSDRLib::entry::rtlsdr_set_bias_tee_gpio})) sawLoaded.fetch_add(1);
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(opens.load(), 1);
    EXPECT_EQ(sawLoaded.load(), racers);
    EXPECT_EQ(capture.count("info|rtlsdr loaded dll librtlsdr.so"), 1u);
    EXPECT_EQ(capture.count("info|failed to load rtlsdr_open"), 1u);
    EXPECT_EQ(capture.lines().size(), 1u + RTLSDRLib::entries);
}

using RTLSDRSystemLibrary = CoreObjects;

TEST_F(RTLSDRSystemLibrary, FindsEveryFunctionAndNoDeviceHere) {
    const char* found = nullptr;
    for (const char* name : RTLSDRLib::fileNames)
        if (void* h = dlopen(name, RTLD_LAZY)) {
            found = name;
            dlclose(h);
            break;
        }
    if (!found) {
        const char* ci = std::getenv("CI");
        if (ci && std::string(ci) == "true") FAIL() << "librtlsdr is not installed (package librtlsdr0)";
        GTEST_SKIP() << "librtlsdr is not installed (package librtlsdr0)";
    }

    LogCapture capture;
    void* c = RTLController_create();
    RTLController_bindnewRadio(c, host::onText<"newRadio">);
    RTLController_Discover(c);
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return capture.contains("info|rtl discover done"); }));
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"info|rtl discover", std::string("info|rtlsdr loaded dll ") + found,
                                                         "info|rtl discover done"}));
    EXPECT_TRUE(log.of("newRadio").empty());

    RTLSDRLib* lib = RTLSDRLib::getInstance();
    ASSERT_TRUE(lib->loaded());
    for (size_t i = 0; i < RTLSDRLib::entries; ++i)
        EXPECT_EQ(lib->lacking({RTLSDRLib::entry(i)}), nullptr) << RTLSDRLib::nameOf(RTLSDRLib::entry(i));
    EXPECT_EQ(lib->rtlsdr_get_device_count(), 0u);
    RTLController_release(c);
}
