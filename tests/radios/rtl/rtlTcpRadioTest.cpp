// The RTL-TCP placeholder: it starts and stops like a radio, keeps what the
// host sets, and receives nothing.
#include "radios/rtl/RTLTCPRadio.h"

#include "core/coreObjectFixture.h"
#include "support/logCapture.h"

#include <gtest/gtest.h>

using Placeholder = CoreObjects;

TEST_F(Placeholder, StartsAndStopsItsDriverThreadKeepingSettingsAndOneTransceiver) {
    LogWindow capture;
    auto logged = [&](const char* line, size_t times) {
        return host::pollUntil(getUpdates, [&] { return capture.count(std::string("info|") + line) >= times; });
    };
    void* r = RTLTCPRadio_create();
    Radio_bindvtrxAdded(r, [](void* v, long long f, int, int) {
        host::Log::get().add({"added", {std::to_string(f)}, v}, vtrx_release);
    });
    RTLTCPRadio_bindPort(r, host::on<"Port", int>);
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
    EXPECT_EQ(log.of("added")[0].args[0], "51000000");
    {
        auto radio = object<RTLTCPRadio>(r);
        onWorker(radio, [&] {
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
