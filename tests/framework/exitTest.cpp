// Hosts end while radios run: each host program (exitHost.cpp,
// unloadHost.cpp) is started many times, at different moments of its work,
// and every run must end cleanly: exit status 0 and, in the sanitizer builds
// (whose reports end the process with another status as the suite sets
// them), no report on standard error either.
//
// VIREO_EXIT_RUNS sets the number of runs of each case (for long runs by
// hand).
#include "support/externalTool.h"
#include "support/skipOrFail.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

int runsOf(int fallback) {
    const char* n = std::getenv("VIREO_EXIT_RUNS");
    return n && std::atoi(n) > 0 ? std::atoi(n) : fallback;
}

/// Runs the host `runs` times with the arguments args(i, its log file,
/// the scratch folder); expects every run clean, and no drain of the exit
/// timed out, and names the first run that was not.
void expectCleanRuns(const char* name, int runs,
                     const std::function<std::vector<std::string>(int, const std::string&, const std::string&)>& args) {
    const tool::ScratchDir scratch;
    ASSERT_FALSE(scratch.path.empty());
    int clean = 0;
    std::string first;
    for (int i = 0; i < runs; ++i) {
        const auto a = args(i, scratch.file("host.log"), scratch.path);
        const tool::Result o = tool::run(a, scratch.path);
        const bool reported =
            o.err.find("Sanitizer") != std::string::npos || o.err.find("runtime error:") != std::string::npos;
        if (o.status == 0 && !reported) {
            ++clean;
        } else if (first.empty()) {
            std::string cmd;
            for (auto& x : a) cmd += x + " ";
            first = cmd + "-> status " + std::to_string(o.status) + "\n" + o.err.substr(0, 6000);
        }
    }
    std::printf("%s: %d of %d runs clean\n", name, clean, runs);
    EXPECT_EQ(clean, runs) << first;
    const std::string log = tool::readFile(scratch.file("host.log"));
    EXPECT_EQ(log.find("still running"), std::string::npos) << log.substr(0, 4000);
}

/// The device host on `radio`, its drivers' stand-ins found first, with
/// freed memory filled with a pattern, so that a read of a driver's state
/// after its teardown goes wrong at once; with `uses`, in use that many
/// times first.
std::vector<std::string> deviceHost(const std::string& radio, const std::string& log, const char* how, long n,
                                    const std::string& scratch, std::vector<std::string> before = {}, int uses = 0) {
    const std::string s = VIREO_STANDINS;
    std::vector<std::string> a{"/usr/bin/env",
                               "LD_LIBRARY_PATH=" + s + "/standin_rtlsdr:" + s + "/standin_airspy:" + s +
                                   "/standin_airspyhf:" + s + "/standin_sdrplay_world",
                               "SOAPY_SDR_PLUGIN_PATH=" + s + "/soapyStandin", "GLIBC_TUNABLES=glibc.malloc.perturb=165"};
    a.insert(a.end(), before.begin(), before.end());
    a.insert(a.end(), {VIREO_EXIT_DEVICE_HOST, log, how, std::to_string(n), radio, scratch});
    if (uses > 0) a.push_back(std::to_string(uses));
    return a;
}

const char* const deviceRadios[] = {"rtl", "airspy", "airspyhf", "sdrplay", "soapy"};

} // namespace

TEST(HostExit, ReturningFromMainWithRadiosRunningEndsCleanly) {
    // From at once after everything started to a third of a second into
    // the work.
    expectCleanRuns("vireo_exit_return", runsOf(20), [](int i, const std::string& log, const std::string&) {
        return std::vector<std::string>{VIREO_EXIT_HOST, log, "return",
                                        std::to_string((i * 37) % 350)};
    });
}

TEST(HostExit, ExitFromACallbackOnALibraryThreadEndsCleanly) {
    expectCleanRuns("vireo_exit_callback", runsOf(10), [](int i, const std::string& log, const std::string&) {
        return std::vector<std::string>{VIREO_EXIT_HOST, log, "exit",
                                        std::to_string(1 + (i * 13) % 60)};
    });
}

TEST(HostExit, UnloadingTheLibraryWhileRadiosRunIsHarmless) {
    expectCleanRuns("vireo_exit_unload", runsOf(5), [](int, const std::string& log, const std::string&) {
        return std::vector<std::string>{VIREO_UNLOAD_HOST, VIREO_LIBRARY, log};
    });
}

TEST(HostExit, DeviceRadiosStreamingWhenTheHostEndsAreStoppedBeforeTheirDriversGo) {
    // The driver's state is made after init, as a host that opens a device
    // makes it: its teardown then comes before the library's own.
    for (const char* radio : deviceRadios) {
        // Half of them end on a host thread that never called the library (the Airspy drivers,
        // which the library links, load before init: they show the early order only). The
        // first two have used the radio for a while: the exit list has not grown with it.
        expectCleanRuns((std::string("vireo_exit_return_") + radio).c_str(), runsOf(16),
                        [radio](int i, const std::string& log, const std::string& scratch) {
                            return deviceHost(radio, log, i % 2 ? "thread" : "return", (i * 41) % 200, scratch, {},
                                              i < 2 ? 40 : 0);
                        });
        expectCleanRuns((std::string("vireo_exit_callback_") + radio).c_str(), runsOf(4),
                        [radio](int i, const std::string& log, const std::string& scratch) {
                            return deviceHost(radio, log, "exit", 1 + (i * 7) % 20, scratch);
                        });
    }
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST(HostExit, DeviceRadiosEndCleanlyUnderValgrind) {
    if (!tool::available("valgrind")) VIREO_SKIP_OR_FAIL("valgrind is not installed");
    const std::vector<std::string> valgrind{"valgrind", "-q", "--error-exitcode=99"};
    for (const char* radio : deviceRadios) {
        expectCleanRuns((std::string("vireo_exit_valgrind_") + radio).c_str(), runsOf(2),
                        [&](int i, const std::string& log, const std::string& scratch) {
                            return deviceHost(radio, log, i % 2 ? "exit" : "return", i % 2 ? 3 : 100, scratch,
                                              valgrind, i % 2 ? 0 : 5);
                        });
    }
}
#endif
