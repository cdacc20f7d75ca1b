// The SoapySDR loader and log handler.
#include "radios/soapy/SoapyLib.h"

#include "support/logCapture.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <latch>
#include <mutex>
#include <thread>
#include <vector>

namespace {

std::mutex openedMutex;
std::vector<std::string> opened;
std::atomic<int> realOpens{0};

void* refuse(const char* file) {
    std::lock_guard<std::mutex> l(openedMutex);
    opened.push_back(file);
    return nullptr;
}
void* countAndOpen(const char* file) {
    realOpens.fetch_add(1);
    return dlopen(file, RTLD_LAZY);
}

int nullEntries(const SoapyLib& lib) {
    int n = 0;
#define COUNT_NULL(member, name, type) n += lib.member == nullptr;
    VIREO_SOAPY_TABLE(COUNT_NULL)
    VIREO_SOAPY_RELEASE(COUNT_NULL)
#undef COUNT_NULL
    return n;
}

bool realLibraryPresent() {
    void* h = dlopen("libSoapySDR.so.0.8", RTLD_LAZY);
    if (h) dlclose(h);
    return h != nullptr;
}

#define SKIP_WITHOUT_LIBRARY()                                                                               \
    if (!realLibraryPresent()) {                                                                             \
        if (const char* ci = std::getenv("CI"); ci && std::string(ci) == "true") FAIL() << "no SoapySDR";    \
        GTEST_SKIP() << "the SoapySDR library is missing (libsoapysdr0.8)";                                  \
    }

} // namespace

TEST(SoapyLoader, WithoutALibraryEveryNameIsTriedOnEachLoad) {
    LogCapture log;
    SoapyLib lib(refuse);
    lib.LoadApi();
    lib.LoadApi(); // a failed load is tried again in full
    const std::vector<std::string> names = {"libSoapySDR.so", "libSoapySDR.so.0.8", "libSoapySDR.dylib",
                                            "libSoapySDR.so.0.7", "libSoapySDR.so.0.6"};
    std::vector<std::string> twice = names;
    twice.insert(twice.end(), names.begin(), names.end());
    EXPECT_EQ(opened, twice);
    EXPECT_EQ(log.lines(), std::vector<std::string>(2, "info|soapy failed to load dll libSoapySDR.so.0.6"));
    EXPECT_EQ(lib.handle(), nullptr);
    EXPECT_EQ(nullEntries(lib), 65);
    EXPECT_STREQ(lib.missing<&SoapyLib::enumerate>(), "SoapySDRDevice_enumerate");
}

TEST(SoapyLoader, TheRealLibraryLacksExactlyTwoFunctionsAndLoadsOnce) {
    SKIP_WITHOUT_LIBRARY();
    LogCapture log;
    SoapyLib lib;
    lib.LoadApi();
    lib.LoadApi();
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"info|soapy loaded dll libSoapySDR.so",
                                                     "info|failed to load SoapySDRDevice_getSettingInfoWithKey",
                                                     "info|failed to load SoapySDRDevice_getChannelSettingInfoWithKey"}));
    EXPECT_NE(lib.handle(), nullptr);
    EXPECT_EQ(nullEntries(lib), 2);
    EXPECT_EQ(lib.missing<&SoapyLib::setupStream>(), nullptr);
    EXPECT_STREQ((lib.missing<&SoapyLib::make, &SoapyLib::getChannelSettingInfoWithKey>()),
                 "SoapySDRDevice_getChannelSettingInfoWithKey");
    EXPECT_EQ(reinterpret_cast<void*>(lib.setupStream), reinterpret_cast<void*>(lib.setupStreamOld));
    EXPECT_TRUE(lib.abiStartsWith({"0.8"}));
}

TEST(SoapyLoader, ConcurrentFirstLoadsLoadOnce) {
    SKIP_WITHOUT_LIBRARY();
    LogCapture log;
    SoapyLib lib(countAndOpen);
    std::latch go(8);
    std::vector<std::thread> threads;
    std::vector<void*> seen(8);
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            go.arrive_and_wait();
            lib.LoadApi();
            seen[size_t(i)] = reinterpret_cast<void*>(lib.enumerate); // complete once the load returned
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(realOpens.load(), 1);
    EXPECT_EQ(log.count("info|soapy loaded dll libSoapySDR.so"), 1u);
    for (void* f : seen) EXPECT_NE(f, nullptr);
}

TEST(SoapyLoader, LogHandlerSplitsLevelsAndWritesTextAsItIs) {
    LogCapture log;
    LogHandler(SOAPY_SDR_FATAL, "fatal");
    LogHandler(SOAPY_SDR_ERROR, "tuner {} failed {0}");
    LogHandler(SOAPY_SDR_WARNING, "overflow {}");
    LogHandler(SOAPY_SDR_SSI, "O");
    LogHandler(SOAPY_SDR_INFO, nullptr);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"error|fatal", "error|tuner {} failed {0}", "info|overflow {}",
                                                     "info|O", "info|"}));
}
