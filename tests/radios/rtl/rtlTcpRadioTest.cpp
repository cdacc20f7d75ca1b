// The RTL-TCP placeholder: it starts and stops like a radio, keeps what the
// host sets, and receives nothing.
#include "radios/rtl/RTLTCPRadio.h"

#include "core/coreObjectFixture.h"
#include "support/logCapture.h"

#include <gtest/gtest.h>

namespace {

class Placeholder : public CoreObjects {
protected:
    std::vector<std::string> extioLines() {
        std::vector<std::string> out;
        for (auto& l : capture.lines())
            if (l.find("extio") != std::string::npos) out.push_back(l);
        return out;
    }
    bool logged(const std::string& line, size_t times) {
        return host::pollUntil(getUpdates, [&] { return capture.count(line) >= times; });
    }
    void releaseAndWait(void* h) {
        asyncObject_bindDeleted(h, host::on<"gone", int>);
        RTLTCPRadio_release(h);
        EXPECT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("gone").size() == 1; }));
    }
    LogWindow capture;
};

void onAdded(void* v, long long f, int, int) { host::Log::get().add({"added", {std::to_string(f)}, v}, vtrx_release); }

} // namespace

TEST_F(Placeholder, StartStopStartLogsTheDriverThreadAndKeepsOneTransceiver) {
    void* r = RTLTCPRadio_create();
    Radio_bindvtrxAdded(r, onAdded);
    RTLTCPRadio_bindPort(r, host::on<"Port", int>);
    Radio_start(r);
    ASSERT_TRUE(logged("info|extio exit driver thread", 1));
    RTLTCPRadio_setPort(r, 1234);
    RTLTCPRadio_setHost(r, "sdr.example");
    RTLTCPRadio_setShowGui(r, false);
    RTLTCPRadio_setDeviceSettings(r, "gain=20");
    Radio_stop(r);
    ASSERT_TRUE(logged("info|extio stopped", 1));
    Radio_start(r);
    ASSERT_TRUE(logged("info|extio exit driver thread", 2));
    Radio_start(r); // still started: nothing
    Radio_stop(r);
    ASSERT_TRUE(logged("info|extio stopped", 2));

    EXPECT_EQ(extioLines(),
              (std::vector<std::string>{"info|extio exit driver thread", "info|extio stopping", "info|extio stopped",
                                        "info|extio exit driver thread", "info|extio stopping", "info|extio stopped"}));
    ASSERT_EQ(log.of("added").size(), 1u);
    EXPECT_EQ(log.of("added")[0].args[0], "51000000");
    auto radio = object<RTLTCPRadio>(r);
    onWorker(radio, [&] {
        EXPECT_EQ(radio->Port.get(), 1234);
        EXPECT_EQ(radio->Host.get(), "sdr.example");
        EXPECT_FALSE(radio->ShowGui.get());
        EXPECT_EQ(radio->DeviceSettings.get(), "gain=20");
        EXPECT_EQ(radio->receivers.size(), 1u);
    });
    EXPECT_TRUE(log.of("Port").empty()); // a host value is not echoed
    radio.reset();
    releaseAndWait(r);
}

TEST_F(Placeholder, AStopWithoutAStartOnlyLogs) {
    void* r = RTLTCPRadio_create();
    Radio_stop(r);
    ASSERT_TRUE(logged("info|extio stopped", 1));
    EXPECT_EQ(extioLines(), (std::vector<std::string>{"info|extio stopping", "info|extio stopped"}));
    releaseAndWait(r);
}

TEST_F(Placeholder, ReleasedWhileStartedItJoinsItsThread) {
    void* r = RTLTCPRadio_create();
    Radio_start(r);
    releaseAndWait(r); // the thread may or may not have ended by now
    EXPECT_TRUE(logged("info|extio exit driver thread", 1));
}
