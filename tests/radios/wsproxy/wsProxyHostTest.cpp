// The websocket proxy radio as a host drives it, released while connected.
#include "vireocore.h"

#include "proxyServer.h"
#include "support/externalTool.h"
#include "support/hostHarness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <unistd.h>

namespace {

std::atomic<int> iqBlocks{0};
std::atomic<int> toneBlocks{0};
std::atomic<int> iqRate{0};

void onIQ(void* iq, double frequency, int rate) {
    iqRate.store(rate);
    // Frames carry a tone of amplitude 0.5 at 7074000.
    if (frequency == 7074000.0 && complexArray_size(iq) == 512 && complexArray_data(iq)[0] > 0.49f)
        toneBlocks.fetch_add(1);
    iqBlocks.fetch_add(1);
    complexArray_delete(iq);
}

void onAdded(void* h, long long f, int rate, int ownerId) {
    host::Log::get().add({"added", {std::to_string(f), std::to_string(rate), std::to_string(ownerId)}, h},
                         vtrx_release);
}

void poll() {
    getUpdates();
    getRenderUpdates();
}

} // namespace

TEST(HostWsProxyRadio, StreamsFromTheServerAndMayBeReleasedConnected) {
    const std::string logPath = ::testing::TempDir() + "vireo_wsproxy_" + std::to_string(getpid()) + ".log";
    init(logPath.c_str(), 1);
    auto& log = host::Log::get();
    ProxyServer server;
    void* radio = WsProxyRadio_create();
    ASSERT_NE(radio, nullptr);
    WsProxyRadio_setURI(radio, server.uri("/iq").c_str());
    WsProxyRadio_setRemoteID(radio, 3);
    WsProxyRadio_bindURI(radio, host::onText<"uri">);
    WsProxyRadio_bindRemoteID(radio, host::on<"remoteId", int>);
    Radio_bindvtrxAdded(radio, onAdded);
    Radio_start(radio);

    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("added").size() == 1; }));
    EXPECT_EQ(log.of("added")[0].args, (std::vector<std::string>{"14095600", "48000", "0"}));
    void* v = log.of("added")[0].handle;
    vtrx_bindnewIQ(v, onIQ);
    vtrx_setSendIQ(v, true);
    vtrx_start(v);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return server.texts().size() >= 3; }));
    EXPECT_EQ(server.texts()[0], R"({"cmd":"addReceiver","ID":3})");
    EXPECT_EQ(server.handshakes().at(0).target, "/iq");

    server.stream(7074000, 0.0, 0.5f, true);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return toneBlocks.load() >= 5; }));
    EXPECT_EQ(toneBlocks.load(), iqBlocks.load());
    // Host values are stored, not echoed.
    EXPECT_TRUE(log.of("uri").empty());
    EXPECT_TRUE(log.of("remoteId").empty());

    // The frames come at 48000: no other rate is taken, and that one told
    // back to a host whose last word was another.
    Radio_bindSampleRate(radio, host::on<"SampleRate", int>);
    for (int rate : {0, -1, 96000, INT_MAX}) Radio_setSampleRate(radio, rate);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("SampleRate").size() == 1; }));
    EXPECT_EQ(log.of("SampleRate")[0].args[0], "48000");
    const std::string logged = tool::readFile(logPath); // errors are flushed at once
    for (int rate : {0, -1, 96000, INT_MAX})
        EXPECT_NE(logged.find("] WsProxyRadio SampleRate " + std::to_string(rate) + " refused, keeping 48000\n"), logged.npos);
    const int before = iqBlocks.load();
    ASSERT_TRUE(host::pollUntil(poll, [&] { return iqBlocks.load() > before; }));
    EXPECT_EQ(iqRate.load(), 48000);

    asyncObject_bindDeleted(radio, host::on<"gone", int>);
    asyncObject_bindDeleted(v, host::on<"gone", int>);
    WsProxyRadio_release(radio);
    log.clear(); // frees the transceiver's handle
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("gone").size() == 2; }));
    // The radio closed its connection as it went.
    ASSERT_TRUE(host::pollUntil(poll, [&] { return server.ended() == 1; }));
    EXPECT_EQ(server.closeCodes(), std::vector<int>{1000});
    log.clear();
}
