// The RTL-TCP placeholder: it starts and stops like a radio, keeps what the
// host sets, and receives nothing.
#include "radios/rtl/RTLTCPRadio.h"

#include "core/coreObjectFixture.h"
#include "support/logCapture.h"

#include <gtest/gtest.h>

#include <climits>

using Placeholder = CoreObjects;

TEST_F(Placeholder, StartsAndStopsItsDriverThreadKeepingSettingsAndOneTransceiver) {
    LogCapture capture;
    auto logged = [&](const char* line, size_t times) {
        return host::pollUntil(getUpdates, [&] { return capture.count(std::string("info|") + line) >= times; });
    };
    void* r = RTLTCPRadio_create();
    Radio_bindvtrxAdded(r, [](void* v, long long f, int rate, int) {
        host::Log::get().add({"added", {std::to_string(f), std::to_string(rate)}, v}, vtrx_release);
    });
    RTLTCPRadio_bindPort(r, host::on<"Port", int>);
    // Only its receiver's rate is taken, and told to the host.
    Radio_bindSampleRate(r, host::on<"SampleRate", int>);
    for (int rate : {0, -1, 48000, INT_MAX, 2400000}) Radio_setSampleRate(r, rate);
    Radio_stop(r); // never started: logs, joins nothing
    ASSERT_TRUE(logged("extio stopped", 1));
    Radio_start(r);
    ASSERT_TRUE(logged("extio exit driver thread", 1));
    RTLTCPRadio_setPort(r, 1234);
    RTLTCPRadio_setHost(r, "sdr.example");
    RTLTCPRadio_setShowGui(r, false);
    Radio_stop(r);
    ASSERT_TRUE(logged("extio stopped", 2));
    Radio_start(r);
    Radio_start(r); // still started: nothing
    ASSERT_TRUE(logged("extio exit driver thread", 2));

    std::vector<std::string> extio;
    for (auto& l : capture.lines())
        if (l.find("extio") != std::string::npos) extio.push_back(l);
    EXPECT_EQ(extio, (std::vector<std::string>{"info|extio stopping", "info|extio stopped",
                                               "info|extio exit driver thread", "info|extio stopping",
                                               "info|extio stopped", "info|extio exit driver thread"}));
    ASSERT_EQ(log.of("added").size(), 1u);
    EXPECT_EQ(log.of("added")[0].args, (std::vector<std::string>{"51000000", "2400000"}));
    // The host's last word was the rate in force: the refusals before it,
    // and the bind's delivery, are not told.
    EXPECT_EQ(log.of("SampleRate").size(), 0u);
    for (int rate : {0, -1, 48000, INT_MAX})
        EXPECT_EQ(capture.count("error|RTLTCPRadio SampleRate " + std::to_string(rate) + " refused, keeping 2400000"), 1u);
    {
        auto radio = object<RTLTCPRadio>(r);
        onWorker(radio, [&] {
            EXPECT_EQ(radio->receivers[0].sampleRate, 2400000);
            EXPECT_EQ(radio->Port.get(), 1234);
            EXPECT_EQ(radio->Host.get(), "sdr.example");
            EXPECT_FALSE(radio->ShowGui.get());
            EXPECT_TRUE(radio->running.load());
        });
    }
    EXPECT_TRUE(log.of("Port").empty()); // a host value is not echoed

    // Released while started: its thread is joined, nothing is left behind.
    asyncObject_bindDeleted(r, host::on<"gone", int>);
    RTLTCPRadio_release(r);
    EXPECT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("gone").size() == 1; }));
}
