// Hosts end while radios run: each host program (exitHost.cpp,
// unloadHost.cpp) is started many times, at different moments of its work,
// and every run must end cleanly: exit status 0 and, in the sanitizer builds
// (whose reports end the process with another status as the suite sets
// them), no report on standard error either.
//
// VIREO_EXIT_RUNS sets the number of runs of each case (for long runs by
// hand).
#include "support/externalTool.h"

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

/// Runs the host `runs` times with the arguments args(i, its log file);
/// expects every run clean and names the first that was not.
void expectCleanRuns(const char* name, int runs,
                     const std::function<std::vector<std::string>(int, const std::string&)>& args) {
    const tool::ScratchDir scratch;
    ASSERT_FALSE(scratch.path.empty());
    int clean = 0;
    std::string first;
    for (int i = 0; i < runs; ++i) {
        const auto a = args(i, scratch.file("host.log"));
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
}

} // namespace

TEST(HostExit, ReturningFromMainWithRadiosRunningEndsCleanly) {
    // From at once after everything started to a third of a second into
    // the work.
    expectCleanRuns("vireo_exit_return", runsOf(20), [](int i, const std::string& log) {
        return std::vector<std::string>{VIREO_EXIT_HOST, log, "return",
                                        std::to_string((i * 37) % 350)};
    });
}

TEST(HostExit, ExitFromACallbackOnALibraryThreadEndsCleanly) {
    expectCleanRuns("vireo_exit_callback", runsOf(10), [](int i, const std::string& log) {
        return std::vector<std::string>{VIREO_EXIT_HOST, log, "exit",
                                        std::to_string(1 + (i * 13) % 60)};
    });
}

TEST(HostExit, UnloadingTheLibraryWhileRadiosRunIsHarmless) {
    expectCleanRuns("vireo_exit_unload", runsOf(5), [](int, const std::string& log) {
        return std::vector<std::string>{VIREO_UNLOAD_HOST, VIREO_LIBRARY, log};
    });
}
