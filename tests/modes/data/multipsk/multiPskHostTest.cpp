// The MultiPSK bridge as a host uses it, through the C interface only, on
// the clock-paced loop-back radio: the port it serves, a client that links
// up, streams transmit IQ and reads receive IQ, and every handle released
// while that client is still streaming: the bridge goes with its
// transceiver and closes the connection.
#include "vireocore.h"

#include "support/hostHarness.h"

#include "multiPskClient.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace mpsktest;

void poll() {
    getUpdates();
    getRenderUpdates();
}
std::string last(const std::string& what) {
    auto calls = host::Log::get().of(what);
    return calls.empty() ? std::string() : calls.back().args.at(0);
}

} // namespace

TEST(MultiPskHost, LinksUpStreamsAndGoesAwayWithItsTransceiver) {
    init((::testing::TempDir() + "vireo_multipsk_" + std::to_string(getpid()) + ".log").c_str(), 1);
    auto& log = host::Log::get();

    void* radio = TestRadio_create();
    Radio_bindvtrxAdded(radio, host::Transceivers::onAdded);
    Radio_start(radio);
    const auto added = host::Transceivers::await(poll, 1);
    ASSERT_EQ(added.size(), 1u);
    void* v = added[0];

    void* mode = MultiPskModDemod_create();
    MultiPskModDemod_bindconnected(mode, host::on<"connected", bool>);
    MultiPskModDemod_bindsending(mode, host::on<"sending", bool>);
    const int start = freePort();
    MultiPskModDemod_setport(mode, 70000); // refused, the next one kept
    MultiPskModDemod_setport(mode, start);
    asyncObject_bindEcho(mode, host::on<"modeEcho", int>);
    asyncObject_Ping(mode, 1); // the port is set before the mode is attached
    ASSERT_TRUE(host::pollUntil(poll, [] { return !last("modeEcho").empty(); }));
    vtrx_setModulation(v, mode);
    vtrx_start(v);
    vtrx_bindptt(v, host::on<"ptt", bool>);
    // Serving the port it was given changes nothing the host set, so port
    // is only published: a bind once the transceiver has attached the mode
    // delivers it.
    asyncObject_bindEcho(v, host::on<"echo", int>);
    asyncObject_Ping(v, 1);
    ASSERT_TRUE(host::pollUntil(poll, [] { return !last("echo").empty(); }));
    MultiPskModDemod_bindport(mode, host::on<"port", int>);
    ASSERT_TRUE(host::pollUntil(poll, [] { return !last("port").empty(); }));
    const int port = std::stoi(last("port"));
    EXPECT_GE(port, start);
    EXPECT_LT(port, start + 20);

    Client client(port);
    ASSERT_TRUE(client.open());
    ASSERT_TRUE(host::pollUntil(poll, [] { return last("connected") == "true"; }));
    client.sendBody("InitHWMP" + std::string(5, '\0') + le32(14000000) + "!");
    ASSERT_TRUE(host::pollUntil(poll, [] { return last("sending") == "true"; }));
    client.sendBody("SwitchTX");

    // MultiPSK's side: a tone to transmit, paced by the receive IQ (both run
    // at 48000/s) after a start of 8192 samples, and steered by the bridge's
    // ADJUrate as MultiPSK is: twice what it hears while asked to speed up,
    // so that a transmit chain that runs ahead of the receive IQ under load
    // refills the ring rather than drains it. It ends when the connection
    // does.
    std::atomic<long> iqSamples{0}, acknowledged{0};
    std::atomic<bool> closed{false}, done{false};
    std::thread peer([&] {
        long sent = 0;
        auto send = [&](size_t n) {
            std::vector<std::pair<int16_t, int16_t>> pairs;
            for (size_t k = 0; k < n; ++k, ++sent) pairs.emplace_back(int16_t(8000 * std::cos(sent * 0.2)), 0);
            return client.sendBody(samplesBody(pairs));
        };
        bool ok = true;
        // ThreadSanitizer slows the chain enough for its hiccups to exceed
        // a 8192-sample lead, and on a loaded machine a 32768-sample one
        // (0.85 s without a receive block seen); a longer one (still below
        // the 65536-sample ring, so that nothing is overwritten) keeps the
        // check on what it is about there.
#if defined(__SANITIZE_THREAD__)
        const int leadBlocks = 112;
#else
        const int leadBlocks = 16;
#endif
        for (int k = 0; k < leadBlocks && ok; ++k) ok = send(512);
        bool faster = false;
        while (ok) {
            auto f = client.readFrame();
            if (!f) break;
            if (f->compare(4, 8, "Received") == 0) ++acknowledged;
            if (f->compare(4, 8, "ADJUrate") == 0 && f->size() > 12) faster = uint8_t((*f)[12]) > 100;
            if (f->compare(4, 8, "TXHWdata") == 0) {
                const size_t n = readLe32(*f, 12) / 4;
                iqSamples += long(n);
                ok = send(faster ? 2 * n : n);
            }
        }
        closed = client.peerGone(); // not a time-out
        done = true;
    });
    EXPECT_TRUE(host::pollUntil(poll, [&] { return iqSamples.load() > 24000; }))
        << iqSamples.load() << " samples, " << acknowledged.load() << " acknowledged";
    EXPECT_EQ(last("ptt"), "true") << "still transmitting: no underrun";

    Radio_stop(radio);
    vtrx_release(v);
    MultiPskModDemod_release(mode);
    Radio_release(radio);
    EXPECT_TRUE(host::pollUntil(poll, [&] { return done.load(); }));
    peer.join(); // at the latest when its read times out
    EXPECT_TRUE(closed.load()) << "the connection closes with the bridge";
    log.clear();
}
