// Hosts end while radios run: each host program (exitHost.cpp,
// unloadHost.cpp) is started many times, at different moments of its work,
// and every run must end cleanly: exit status 0 and, in the sanitizer builds
// (whose reports end the process with another status as the suite sets
// them), no report on standard error either.
//
// VIREO_EXIT_RUNS sets the number of runs of each case (for long runs by
// hand).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct outcome {
    int status = -1; // exit status, or 128 + signal
    std::string errors;
};

outcome run(const std::vector<std::string>& args, const std::string& errorFile) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    // The modes' traces on standard output are not what is looked at.
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    outcome o;
    if (posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&files);
    std::ifstream in(errorFile);
    std::stringstream s;
    s << in.rdbuf();
    o.errors = s.str();
    return o;
}

int runsOf(int fallback) {
    const char* n = std::getenv("VIREO_EXIT_RUNS");
    return n && std::atoi(n) > 0 ? std::atoi(n) : fallback;
}

/// Runs the host `runs` times with the arguments args(i); expects every run
/// clean and names the first that was not.
void expectCleanRuns(const char* name, int runs, const std::function<std::vector<std::string>(int)>& args) {
    const std::string base = ::testing::TempDir() + name + "_" + std::to_string(getpid());
    int clean = 0;
    std::string first;
    for (int i = 0; i < runs; ++i) {
        const auto a = args(i);
        outcome o = run(a, base + ".err");
        const bool reported = o.errors.find("Sanitizer") != std::string::npos ||
                              o.errors.find("runtime error:") != std::string::npos;
        if (o.status == 0 && !reported) {
            ++clean;
        } else if (first.empty()) {
            std::string cmd;
            for (auto& x : a) cmd += x + " ";
            first = cmd + "-> status " + std::to_string(o.status) + "\n" + o.errors.substr(0, 6000);
        }
    }
    std::remove((base + ".err").c_str());
    std::remove((base + ".log").c_str());
    std::remove((base + ".log.dump.txt").c_str());
    std::printf("%s: %d of %d runs clean\n", name, clean, runs);
    EXPECT_EQ(clean, runs) << first;
}

std::string logPath(const char* name) { return ::testing::TempDir() + name + "_" + std::to_string(getpid()) + ".log"; }

} // namespace

TEST(HostExit, ReturningFromMainWithRadiosRunningEndsCleanly) {
    // From at once after everything started to a third of a second into
    // the work.
    expectCleanRuns("vireo_exit_return", runsOf(20), [](int i) {
        return std::vector<std::string>{VIREO_EXIT_HOST, logPath("vireo_exit_return"), "return",
                                        std::to_string((i * 37) % 350)};
    });
}

TEST(HostExit, ExitFromACallbackOnALibraryThreadEndsCleanly) {
    expectCleanRuns("vireo_exit_callback", runsOf(10), [](int i) {
        return std::vector<std::string>{VIREO_EXIT_HOST, logPath("vireo_exit_callback"), "exit",
                                        std::to_string(1 + (i * 13) % 60)};
    });
}

TEST(HostExit, UnloadingTheLibraryWhileRadiosRunIsHarmless) {
    expectCleanRuns("vireo_exit_unload", runsOf(5), [](int) {
        return std::vector<std::string>{VIREO_UNLOAD_HOST, VIREO_LIBRARY, logPath("vireo_exit_unload")};
    });
}
