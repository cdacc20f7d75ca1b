// init may run once per process: every case that needs it forks a child that
// starts the library, acts as a host and reports through its exit code.
#include "framework/asyncObject.h"
#include "framework/criticalErrorDump.h"
#include "framework/library.h"
#include "framework/sothreadPool.h"
#include "support/externalTool.h"

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <latch>
#include <thread>
#include <vector>

namespace {

/// Runs body in a child process; returns its exit status (0 = passed).
int inChild(const std::function<int()>& body) {
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int rc = 1;
        try {
            rc = body();
        } catch (...) {
            rc = 99;
        }
        spdlog::shutdown();
        std::fflush(nullptr);
        _exit(rc);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

std::string tempPath(const char* name) {
    std::string p = ::testing::TempDir() + name;
    std::remove(p.c_str());
    std::remove((p + ".dump.txt").c_str());
    return p;
}

} // namespace

TEST(Init, VerboseOneLogsInfoAndSetsTheDumpPath) {
    std::string log = tempPath("vireo_init_v1.log");
    ASSERT_EQ(inChild([&] {
                  vireo::init(log.c_str(), 1);
                  if (criticalErrorDump::filename != log + ".dump.txt") return 2;
                  if (!globalPool || !globalTaskGroup) return 3;
                  spdlog::info("an info line");
                  spdlog::error("an error line");
                  return 0;
              }),
              0);
    std::string text = tool::readFile(log);
    EXPECT_NE(text.find("an info line"), std::string::npos);
    EXPECT_NE(text.find("an error line"), std::string::npos);
}

TEST(Init, OtherVerboseValuesLogErrorsOnlyAndTheLogIsAppended) {
    std::string log = tempPath("vireo_init_v0.log");
    {
        std::ofstream earlier(log);
        earlier << "line from an earlier run\n";
    }
    for (int verbose : {0, 2}) {
        ASSERT_EQ(inChild([&] {
                      vireo::init(log.c_str(), verbose);
                      spdlog::info("info {}", verbose);
                      spdlog::error("error {}", verbose);
                      return 0;
                  }),
                  0);
    }
    std::string text = tool::readFile(log);
    EXPECT_EQ(text.rfind("line from an earlier run\n", 0), 0u);
    EXPECT_EQ(text.find("info 0"), std::string::npos);
    EXPECT_EQ(text.find("info 2"), std::string::npos);
    EXPECT_NE(text.find("error 0"), std::string::npos);
    EXPECT_NE(text.find("error 2"), std::string::npos);
}

TEST(Init, UnopenableLogAndSecondInitLeaveTheLibraryWorking) {
    ASSERT_EQ(inChild([&] {
                  vireo::init("/nonexistent-dir/x/vireo.log", 1);
                  vireo::init("/nonexistent-dir/x/vireo.log", 1); // ignored
                  if (!globalPool) return 2;
                  // The scheduler still runs work.
                  auto obj = std::make_shared<asyncObject>(globalTaskGroup);
                  static std::atomic<int> echoed{0};
                  obj->Echo = [](int n) { echoed = n; };
                  seqTask t;
                  t.fn = [obj] { obj->Ping(9); };
                  t.name = "asyncObject.Ping()";
                  obj->queueSetItem(t);
                  for (int i = 0; i < 5000 && echoed.load() == 0; ++i) {
                      vireo::getUpdates();
                      usleep(1000);
                  }
                  return echoed.load() == 9 ? 0 : 3;
              }),
              0);
}

TEST(Init, HostThreadsRacingInitLeaveOneLibraryAndLogTheRest) {
    std::string log = tempPath("vireo_init_race.log");
    ASSERT_EQ(inChild([&] {
                  constexpr int callers = 6;
                  std::latch go(callers);
                  std::vector<std::thread> hosts;
                  for (int i = 0; i < callers; ++i)
                      hosts.emplace_back([&] {
                          go.arrive_and_wait();
                          vireo::init(log.c_str(), 1);
                      });
                  for (auto& h : hosts) h.join();
                  return globalPool && globalTaskGroup ? 0 : 2;
              }),
              0);
    std::string text = tool::readFile(log);
    size_t ignored = 0;
    for (size_t at = text.find("called more than once"); at != std::string::npos;
         at = text.find("called more than once", at + 1))
        ++ignored;
    EXPECT_EQ(ignored, 5u);
}

TEST(Init, CallsBeforeInitReturnAtOnce) {
    ASSERT_EQ(inChild([] {
                  vireo::getUpdates();
                  vireo::getRenderUpdates();
                  return globalPool == nullptr ? 0 : 2;
              }),
              0);
}

TEST(Init, GetUpdatesGoesOnAfterAThrowingCallback) {
    std::string log = tempPath("vireo_init_updates.log");
    ASSERT_EQ(inChild([&] {
                  vireo::init(log.c_str(), 0);
                  auto obj = std::make_shared<asyncObject>(globalTaskGroup);
                  static int delivered = 0;
                  obj->SendEvent([] { throw std::runtime_error("callback failed"); });
                  obj->SendEvent([] { throw 5; });
                  obj->SendEvent([] { ++delivered; });
                  vireo::getUpdates(); // drains all three in one call
                  vireo::getUpdates(); // empty queue: returns at once
                  return delivered == 1 ? 0 : 2;
              }),
              0);
    std::string text = tool::readFile(log);
    EXPECT_NE(text.find("getUpdates callback failed"), std::string::npos);
    EXPECT_NE(text.find("] getUpdates\n"), std::string::npos);
    // Failures of host callbacks never reach the crash dump.
    EXPECT_EQ(tool::readFile(log + ".dump.txt"), "");
}

TEST(Init, CrashDumpHoldsOnlyTheLastEntryWithoutLineEnd) {
    std::string path = tempPath("vireo_dump.txt");
    criticalErrorDump::init(path);
    criticalErrorDump::logException("processPropertySetQueue", "agc.Attack.set");
    criticalErrorDump::logException("worker", "??");
    EXPECT_EQ(tool::readFile(path), "worker ??");
    criticalErrorDump::init("/nonexistent-dir/x/dump.txt");
    criticalErrorDump::logException("worker", "??"); // cannot open: skipped quietly
    criticalErrorDump::init("dump.txt");
}
