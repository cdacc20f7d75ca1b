#include "framework/ASIORunner.h"
#include "framework/LogDuration.h"
#include "framework/fnThreadPool.h"

#include "support/logCapture.h"
#include "support/waitFor.h"

#include <boost/asio/post.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

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
