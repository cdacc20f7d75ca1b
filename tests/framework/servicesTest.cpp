#include "framework/ASIORunner.h"
#include "framework/LogDuration.h"
#include "framework/fnThreadPool.h"

#include "support/logCapture.h"
#include "support/waitFor.h"

#include <boost/asio/post.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

TEST(ASIORunnerTest, ThrowingHandlerDoesNotEndTheIoThread) {
    LogCapture log;
    auto& ctx = ASIORunner::getInstance().context();
    std::atomic<bool> ran{false};
    std::thread::id first, second;
    boost::asio::post(ctx, [&] {
        first = std::this_thread::get_id();
        throw std::runtime_error("handler failed");
    });
    boost::asio::post(ctx, [&] {
        second = std::this_thread::get_id();
        ran = true;
    });
    ASSERT_TRUE(waitFor([&] { return ran.load(); }));
    EXPECT_EQ(first, second); // one I/O thread serves every handler
    EXPECT_TRUE(log.contains("error|asio handler handler failed"));
}

TEST(SmallServices, LogDurationReportsOnlyPastItsThreshold) {
    LogCapture log;
    { LogDuration quick("quick", 1000); }
    {
        LogDuration slow("slow", 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("error|slow ", 0), 0u);
}

TEST(SmallServices, FnThreadPoolRunsJobsAndSurvivesThrowingOnes) {
    LogCapture log;
    std::atomic<int> n{0};
    {
        fnThreadPool pool;
        pool.submit([] { throw std::runtime_error("job failed"); });
        for (int i = 0; i < 100; ++i) pool.submit([&n] { n.fetch_add(1); });
        ASSERT_TRUE(waitFor([&] { return n.load() == 100; }));
    }
    EXPECT_TRUE(log.contains("error|worker job failed"));
}

// Tests read the log while other threads write it: a capture opens and
// closes while they log, and the logger they log through is never replaced
// under them (the sanitizer build reports any access without order). Each
// capture holds what was logged while it was open, and nothing from before.
TEST(SmallServices, LogCapturesOpenAndCloseWhileOtherThreadsLog) {
    spdlog::logger* const logger = spdlog::default_logger_raw();
    std::atomic<bool> stop{false};
    std::atomic<long> written{0};
    std::vector<std::thread> writers;
    for (int k = 0; k < 4; ++k)
        writers.emplace_back([&, k] {
            while (!stop.load()) {
                spdlog::info("writer {}", k);
                written.fetch_add(1);
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        });
    for (int i = 0; i < 200; ++i) {
        LogCapture log;
        spdlog::error("opened {}", i);
        const long from = written.load();
        ASSERT_TRUE(waitFor([&] { return written.load() > from + 4; }));
        auto lines = log.lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "error|opened " + std::to_string(i)), 1) << i;
        if (i > 0) {
            EXPECT_FALSE(log.contains("error|opened " + std::to_string(i - 1))) << i;
        }
        EXPECT_GT(std::count_if(lines.begin(), lines.end(),
                                [](const std::string& l) { return l.rfind("info|writer ", 0) == 0; }),
                  0)
            << i;
    }
    stop = true;
    for (auto& t : writers) t.join();
    EXPECT_EQ(spdlog::default_logger_raw(), logger) << "the logger was replaced";
}
