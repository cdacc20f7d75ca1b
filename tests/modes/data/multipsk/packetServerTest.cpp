// The MultiPSK packet server on loop-back: framing as a client's bytes
// arrive (in one write, split, oversized, with a sample count that
// overrides the length), one client at a time, whole and ordered sends, and
// a server destroyed while a client still streams.
#include "modes/data/multipsk/MultiPskFramer.h"
#include "modes/data/multipsk/asyncTcpIpPacketServer.h"

#include "core/drainTasks.h"
#include "framework/objectFixture.h"
#include "support/logCapture.h"
#include "support/waitFor.h"

#include "multiPskClient.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>

#include <atomic>
#include <latch>
#include <mutex>
#include <random>
#include <thread>

namespace {

using namespace mpsktest;

std::string pattern(size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = char(uint8_t(seed * 131 + i * 7 + (i >> 8)));
    return s;
}

/// A "TXHWdata" frame whose length field says `length` while its count says
/// `count` sample bytes (all of which follow).
std::string samplesWithLength(uint32_t length, uint32_t count, unsigned seed) {
    return le32(length) + "TXHWdata" + le32(count) + pattern(count, seed);
}

class PacketServer : public ObjectTest {
protected:
    std::shared_ptr<asyncObject> owner = std::make_shared<asyncObject>(group);
    std::unique_ptr<asyncTcpIpPacketServer> server;
    int port = 0;

    std::mutex m;
    std::vector<std::string> bodies;
    std::vector<bool> connects;

    void SetUp() override {
        server = std::make_unique<asyncTcpIpPacketServer>(0, 16384);
        server->setOwner(owner);
        ASSERT_TRUE(server->start(
            [this](buff<char> b) {
                std::lock_guard<std::mutex> l(m);
                bodies.emplace_back(b.data, b.count);
            },
            [this](bool c) {
                std::lock_guard<std::mutex> l(m);
                connects.push_back(c);
            }));
        port = server->localEndpoint().port();
    }
    void TearDown() override { destroyServer(); }

    /// On the owner's group, so no callback of the server runs meanwhile.
    void destroyServer() {
        onGroup(owner, [&] { server.reset(); });
        drainDataTasks(owner);
    }
    size_t bodyCount() {
        std::lock_guard<std::mutex> l(m);
        return bodies.size();
    }
    std::vector<bool> connectEvents() {
        std::lock_guard<std::mutex> l(m);
        return connects;
    }
    /// Closes the client and waits until the server has seen it go, so that
    /// nothing of this test is still logging when the next one starts.
    void quiesce(Client& c, size_t events) {
        c.close();
        EXPECT_TRUE(waitFor([&] { return connectEvents().size() == events; }));
    }
    std::vector<std::string> received() {
        std::lock_guard<std::mutex> l(m);
        return bodies;
    }
};

TEST_F(PacketServer, CutsEveryKindOfFrameAsTheClientSendsIt) {
    EXPECT_EQ(server->localEndpoint().address().to_string(), "127.0.0.1");
    LogCapture log;
    Client c(port);
    ASSERT_TRUE(c.open());
    ASSERT_TRUE(waitFor([&] { return connectEvents() == std::vector<bool>{true}; }));

    std::vector<std::string> expected;
    std::string wire;
    // Empty body and a 200-byte one, in one write with the rest.
    wire += frame("");
    expected.push_back("");
    const std::string two = "Abcdefgh" + pattern(192, 1);
    wire += std::string("\xC8\0\0\0", 4) + two;
    expected.push_back(two);
    // The sample count wins over a length field that is too short...
    wire += samplesWithLength(300, 400, 2);
    expected.push_back(wire.substr(wire.size() - 412));
    // ...and over one that is too long: what follows the count's end is
    // the next frame.
    const std::string nested = "Received" + pattern(76, 3);
    wire += samplesWithLength(500, 400, 4);
    expected.push_back(wire.substr(wire.size() - 412));
    wire += frame(nested);
    expected.push_back(nested);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(c.write(wire));

    // One frame a byte at a time.
    const std::string slow = "Pversion1";
    for (char ch : frame(slow)) ASSERT_TRUE(c.write(std::string(1, ch)));
    expected.push_back(slow);

    // A length past the buffer reads 16384 bytes; the client made the rest
    // a frame of its own.
    const std::string big = pattern(16384, 5);
    const std::string rest = pattern(3612, 6);
    ASSERT_TRUE(c.write(le32(20000) + big + le32(3612) + rest));
    expected.push_back(big);
    expected.push_back(rest);

    // A count far past the buffer is cut as well, to 16384 bytes.
    const std::string huge = "TXHWdata" + le32(0x7FFFFFFF) + pattern(16384 - 12, 7);
    ASSERT_TRUE(c.write(le32(12) + huge));
    expected.push_back(huge);

    ASSERT_TRUE(waitFor([&] { return bodyCount() >= expected.size(); }));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(received(), expected);
    EXPECT_NE(out.find("300 400 xxxx\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("500 400 xxxx\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("12 2147483647 xxxx\r\n"), std::string::npos) << out;
    EXPECT_EQ(log.count("error|tcp bad len 20000"), 1u);
    EXPECT_EQ(log.count("error|tcp bad len 2147483659"), 1u);
    quiesce(c, 2);
}

TEST_F(PacketServer, ServesOneClientAtATimeAndTheNextAfterADisconnect) {
    LogCapture log;
    Client first(port);
    ASSERT_TRUE(waitFor([&] { return connectEvents().size() == 1; }));
    Client second(port); // completes in the backlog, but is not served
    ASSERT_TRUE(second.open());
    ASSERT_TRUE(second.sendBody("second.."));
    ASSERT_TRUE(first.sendBody("first..."));
    ASSERT_TRUE(first.sendBody("first..2"));
    ASSERT_TRUE(waitFor([&] { return bodyCount() == 2; }));
    EXPECT_EQ(received(), (std::vector<std::string>{"first...", "first..2"}));
    EXPECT_EQ(connectEvents(), std::vector<bool>{true});

    // Between packets: the first goes, the waiting one is served from a
    // length field, and replies reach it alone.
    first.close();
    ASSERT_TRUE(waitFor([&] { return bodyCount() == 3; }));
    EXPECT_EQ(received().back(), "second..");
    EXPECT_EQ(connectEvents(), (std::vector<bool>{true, false, true}));
    EXPECT_EQ(log.count("error|tcp read err"), 1u);
    server->send(buff<char>(0)); // nothing to write: ignored
    auto f = frame("Received");
    buff<char> b(f.size());
    std::copy(f.begin(), f.end(), b.data);
    server->send(b);
    EXPECT_EQ(second.readFrame(), f);
    quiesce(second, 4);
}

TEST_F(PacketServer, FramesFromTwoThreadsArriveWholeAndInCallOrder) {
    Client c(port);
    ASSERT_TRUE(waitFor([&] { return connectEvents().size() == 1; }));
    constexpr int perThread = 400;
    auto sender = [&](uint8_t who) {
        std::mt19937 rng(who);
        for (int i = 0; i < perThread; ++i) {
            const size_t n = 9 + rng() % 4000;
            buff<char> f(4 + n);
            const std::string body = std::string(1, char(who)) + le32(uint32_t(i)) + pattern(n - 5, unsigned(i));
            const std::string whole = frame(body);
            std::copy(whole.begin(), whole.end(), f.data);
            server->send(f);
        }
    };
    std::thread a(sender, 1), b(sender, 2);
    int next[3] = {0, 0, 0};
    for (int k = 0; k < 2 * perThread; ++k) {
        auto f = c.readFrame();
        ASSERT_TRUE(f) << "frame " << k;
        const uint8_t who = uint8_t((*f)[4]);
        ASSERT_TRUE(who == 1 || who == 2);
        const uint32_t i = readLe32(*f, 5);
        ASSERT_EQ(i, uint32_t(next[who])) << "out of order";
        ASSERT_EQ(f->substr(9), pattern(f->size() - 9, i)) << "frame " << k << " not whole";
        ++next[who];
    }
    a.join();
    b.join();
}

TEST_F(PacketServer, HoldsBackAClientFasterThanItsOwner) {
    Client c(port);
    ASSERT_TRUE(waitFor([&] { return connectEvents().size() == 1; }));
    // The owner is busy while a burst far beyond its task queue arrives.
    std::latch busy(1), release(1);
    seqTask t;
    t.fn = [&] {
        busy.count_down();
        release.wait();
    };
    t.name = "test.busy";
    owner->asyncProcess(t);
    busy.wait();
    constexpr int burst = 3000;
    std::string wire;
    for (int i = 0; i < burst; ++i) wire += frame("Burst..." + le32(uint32_t(i)));
    ASSERT_TRUE(c.write(wire));
    int queued = 1;
    ASSERT_TRUE(waitFor([&] { return ioctl(c.fd(), SIOCOUTQ, &queued) == 0 && queued == 0; }));
    release.count_down();
    ASSERT_TRUE(waitFor([&] { return bodyCount() == burst; })) << bodyCount() << " of " << burst;
    auto got = received();
    for (int i = 0; i < burst; ++i) ASSERT_EQ(readLe32(got[size_t(i)], 8), uint32_t(i));
}

TEST_F(PacketServer, GoesAwayWhileAClientStreamsBothWays) {
    Client c(port);
    ASSERT_TRUE(waitFor([&] { return connectEvents().size() == 1; }));
    std::atomic<bool> stop{false};
    std::thread streamer([&] {
        const std::string f = frame(samplesBody(std::vector<std::pair<int16_t, int16_t>>(512, {1, -1})));
        while (!stop && c.write(f)) {
        }
    });
    // Writes still queued and in flight when the server goes.
    buff<char> reply(2064, 'x');
    for (int i = 0; i < 2000; ++i) server->send(reply);
    ASSERT_TRUE(waitFor([&] { return bodyCount() > 50; }));
    destroyServer();
    const size_t after = bodyCount();
    drainDataTasks(owner);
    EXPECT_EQ(bodyCount(), after) << "no packet once the server is gone";
    stop = true;
    streamer.join();
    EXPECT_TRUE(c.closedByPeer());
}

// Framing alone, with a reference: random frames of every kind, cut into
// random reads of at most what the framer asks for.
TEST(MultiPskFramer, SegmentationNeverChangesTheBodies) {
    testing::internal::CaptureStdout(); // the " xxxx" lines
    std::mt19937 rng(27);
    for (int round = 0; round < 20; ++round) {
        std::string wire;
        std::vector<std::string> expected;
        for (int k = 0; k < 60; ++k) {
            const uint32_t count = rng() % 3000;
            switch (rng() % 4) {
            case 0: { // any body
                const std::string b = pattern(rng() % 3000, rng());
                wire += frame(b);
                expected.push_back(b);
                break;
            }
            case 1: // samples, length field right
                wire += samplesWithLength(12 + count, count, rng());
                expected.push_back(wire.substr(wire.size() - 12 - count));
                break;
            case 2: // samples, length field short
                wire += samplesWithLength(12 + (count ? rng() % count : 0), count, rng());
                expected.push_back(wire.substr(wire.size() - 12 - count));
                break;
            default: { // samples, length field long: a frame hides in the rest
                const std::string inner = pattern(rng() % 100, rng());
                wire += samplesWithLength(12 + count + 4 + uint32_t(inner.size()), count, rng());
                expected.push_back(wire.substr(wire.size() - 12 - count));
                wire += frame(inner);
                expected.push_back(inner);
            }
            }
        }
        MultiPskFramer framer(16384);
        std::vector<std::string> got;
        size_t at = 0;
        while (at < wire.size()) {
            const size_t want = framer.wanted();
            ASSERT_GT(want, 0u);
            const size_t n = std::min({want, size_t(1 + rng() % (want + 1)), wire.size() - at});
            std::copy_n(wire.data() + at, n, framer.readPointer());
            at += n;
            if (auto body = framer.arrived(n)) got.emplace_back(body->data, body->count);
        }
        ASSERT_EQ(got, expected) << "round " << round;
    }
    testing::internal::GetCapturedStdout();
}

} // namespace
