#include "audio/AudioProvider.h"
#include "audio/AudioStreams.h"
#include "framework/ASIORunner.h"
#include "framework/LogDuration.h"
#include "framework/fnThreadPool.h"

#include "support/logCapture.h"
#include "support/waitFor.h"

#include <boost/asio/post.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(AudioWithoutDevices, ListsHoldOnlyTheNoneEntries) {
    auto* ap = AudioProvider::getInstance();
    EXPECT_EQ(ap, AudioProvider::getInstance());
    ASSERT_EQ(ap->outputs.size(), 1u);
    ASSERT_EQ(ap->inputs.size(), 1u);
    EXPECT_EQ(ap->outputs[0]->name, "None");
    EXPECT_EQ(ap->outputs[0]->device, -1);
    EXPECT_EQ(ap->outputs[0]->rate, 48000);
    EXPECT_EQ(ap->outputs[0]->channels, 2);
    EXPECT_EQ(ap->inputs[0]->rate, 48000);
    EXPECT_EQ(ap->inputs[0]->channels, 1);
    EXPECT_EQ(ap->defaultAudioInputDevice(), 0);
    EXPECT_EQ(ap->defaultAudioOutputDevice(), 0);
}

TEST(AudioWithoutDevices, CloseprintsItsTwoLinesAndMayBeRepeated) {
    testing::internal::CaptureStdout();
    AudioProvider::getInstance()->Close();
    AudioProvider::getInstance()->Close();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ap close\r\nap closed\r\nap close\r\nap closed\r\n");
}

TEST(AudioWithoutDevices, StreamIdZeroIsSilentAndOthersAreRefused) {
    LogCapture log;
    AudioInputStream in(0);
    buff<float> mic(480, 1.0f);
    in.read(mic);
    for (float s : mic) EXPECT_EQ(s, 0.0f);
    EXPECT_EQ(in.getPeak(), 0.0f);
    in.setStreamId(3);
    in.setStreamId(-1);
    EXPECT_EQ(in.streamId(), 0);
    EXPECT_EQ(log.count("error|Invalid audio stream id 3"), 1u);
    EXPECT_EQ(log.count("error|Invalid audio stream id -1"), 1u);

    AudioOutputStream out;
    out.write(buff<float>(512, 0.5f), true, false, 0.5f); // nothing attached: no effect
    out.setStreamId(1);
    EXPECT_EQ(out.streamId(), 0);
    EXPECT_EQ(log.count("error|Invalid op audio stream id 1"), 1u);
    out.setStreamId(0);
    EXPECT_EQ(out.streamId(), 0);
}

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
