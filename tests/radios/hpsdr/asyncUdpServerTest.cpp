// The UDP endpoint against a board simulator on loopback port 1024: what
// arrives and how, the outstanding-send limit, connected filtering, the
// unconnected use, a failed connect, and teardown while datagrams pour in.
#include "radios/hpsdr/asyncUdpServer.h"

#include "core/coreObjectFixture.h"
#include "core/drainTasks.h"
#include "framework/ASIORunner.h"
#include "framework/library.h"
#include "framework/syncTask.h"
#include "sim/hpsdrP1Sim.h"
#include "support/logCapture.h"
#include "support/skipOrFail.h"
#include "support/waitFor.h"

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>

#include <future>
#include <latch>
#include <optional>
#include <thread>

namespace {

using udp = boost::asio::ip::udp;

/// An object that owns an endpoint, as a radio does.
struct endpointOwner : asyncObject {
    explicit endpointOwner(int size = 1032) : asyncObject(std::make_shared<syncTask>(*globalPool)), endpoint(size) {}
    endpointOwner(int size, boost::asio::io_context& io)
        : asyncObject(std::make_shared<syncTask>(*globalPool)), endpoint(size, io) {}
    asyncUdpServer endpoint;
};

/// What reached the owner's task group, in order.
struct arrivals {
    std::mutex m;
    std::vector<std::vector<uint8_t>> packets;
    std::vector<udp::endpoint> senders;

    void add(const buff<char>& b, udp::endpoint from = {}) {
        std::lock_guard<std::mutex> lock(m);
        packets.emplace_back(b.data, b.data + b.count);
        senders.push_back(from);
    }
    size_t count() {
        std::lock_guard<std::mutex> lock(m);
        return packets.size();
    }
};

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> p(n);
    for (size_t i = 0; i < n; ++i) p[i] = uint8_t(seed + i * 7);
    return p;
}

buff<char> tagged(uint32_t tag, size_t n = 1032) {
    buff<char> b(n, char(0));
    std::memcpy(b.data, &tag, sizeof tag);
    return b;
}

/// Holds the library's I/O thread until released.
class ioHold {
public:
    ioHold() {
        std::latch entered(1);
        auto released = release_.get_future().share();
        boost::asio::post(ASIORunner::getInstance().context(), [released, &entered] {
            entered.count_down();
            released.wait();
        });
        entered.wait();
    }
    ~ioHold() { done(); }
    void done() {
        if (!released_) release_.set_value();
        released_ = true;
    }

private:
    std::promise<void> release_;
    bool released_ = false;
};

class UdpEndpoint : public CoreObjects {
protected:
    /// Opens the board simulator on address:1024, or says why not.
    bool openSim(hpsdrP1Sim& sim, const std::string& address, std::string& why) { return sim.open(address, &why); }

    static udp::endpoint board(const std::string& address) {
        return udp::endpoint(boost::asio::ip::make_address(address), hpsdrP1Sim::boardPort);
    }
    static bool connected(const asyncUdpServer& e) {
        return waitFor([&] { return e.localEndpoint().port() != 0; });
    }
};

TEST_F(UdpEndpoint, DatagramsArriveWholeOrTruncatedAndOnlyFromThePeer) {
    for (std::string address : {"127.0.0.1", "::1"}) {
        SCOPED_TRACE(address);
        hpsdrP1Sim sim;
        std::string why;
        if (!openSim(sim, address, why)) {
            if (address == "::1") {
                GTEST_SKIP() << why; // hosts without an IPv6 loopback
            }
            VIREO_SKIP_OR_FAIL(why);
        }
        auto owner = std::make_shared<endpointOwner>();
        auto got = std::make_shared<arrivals>();
        owner->endpoint.connect([got](buff<char> b) { got->add(b); }, owner, board(address));
        ASSERT_TRUE(connected(owner->endpoint));

        // The board learns the host from what it sends.
        owner->endpoint.send(tagged(1, 64));
        ASSERT_TRUE(sim.peer.waitForCount(1));
        EXPECT_EQ(sim.peer.received()[0].bytes.size(), 64u);

        // A stranger on another loopback address is not the peer.
        if (address == "127.0.0.1") {
            udpPeer stranger;
            if (stranger.open("127.0.0.2", 0, &why)) {
                auto to = owner->endpoint.localEndpoint();
                ASSERT_TRUE(stranger.sendTo(pattern(1032, 99), udp::endpoint(to.address(), to.port())));
            }
        }
        const auto whole = pattern(1032, 1), longer = pattern(1500, 2), shorter = pattern(10, 3);
        ASSERT_TRUE(sim.sendToHost(whole));
        ASSERT_TRUE(sim.sendToHost(longer));
        ASSERT_TRUE(sim.sendToHost(shorter));
        ASSERT_TRUE(waitFor([&] { return got->count() >= 3; }));
        drainDataTasks(owner);

        std::lock_guard<std::mutex> lock(got->m);
        ASSERT_EQ(got->packets.size(), 3u) << "the stranger's datagram must not arrive";
        EXPECT_EQ(got->packets[0], whole);
        EXPECT_EQ(got->packets[1], std::vector<uint8_t>(longer.begin(), longer.begin() + 1032));
        EXPECT_EQ(got->packets[2], shorter) << "a short datagram arrives with its own length";
    }
}

TEST_F(UdpEndpoint, AtMost101SendsOutstanding) {
    hpsdrP1Sim sim;
    std::string why;
    if (!openSim(sim, "127.0.0.1", why)) VIREO_SKIP_OR_FAIL(why);
    auto owner = std::make_shared<endpointOwner>();
    owner->endpoint.connect([](buff<char>) {}, owner, board("127.0.0.1"));
    ASSERT_TRUE(connected(owner->endpoint));

    LogCapture log;
    {
        ioHold hold;
        for (uint32_t k = 0; k < 102; ++k) owner->endpoint.send(tagged(k));
        EXPECT_EQ(log.count("error|no send 101 0"), 1u);
        EXPECT_EQ(owner->endpoint.sendsCompleted(), 0u);
    }
    ASSERT_TRUE(waitFor([&] { return owner->endpoint.sendsCompleted() == 101; }));
    owner->endpoint.send(tagged(1000));
    ASSERT_TRUE(sim.peer.waitForCount(102));

    auto all = sim.peer.received();
    ASSERT_EQ(all.size(), 102u);
    for (size_t k = 0; k < all.size(); ++k) {
        uint32_t tag;
        std::memcpy(&tag, all[k].bytes.data(), sizeof tag);
        EXPECT_EQ(tag, k < 101 ? k : 1000u) << "the 102nd send is the one dropped";
    }
    EXPECT_EQ(log.count("error|no send 101 0"), 1u);
}

// The process's end: what still waits for the I/O thread goes first, in
// order, then the exit's own datagrams, from the calling thread; nothing the
// I/O thread was still to send follows, whether that thread is only busy or
// stopped for good (and run again here, to see that it sends nothing).
TEST_F(UdpEndpoint, SendNowComesLastWhetherTheIoThreadIsBusyOrStopped) {
    hpsdrP1Sim sim;
    std::string why;
    if (!openSim(sim, "127.0.0.1", why)) VIREO_SKIP_OR_FAIL(why);
    for (const bool stopped : {false, true}) {
        SCOPED_TRACE(stopped ? "stopped" : "busy");
        sim.peer.clear();
        boost::asio::io_context own;
        auto owner = stopped ? std::make_shared<endpointOwner>(1032, own) : std::make_shared<endpointOwner>();
        {
            auto work = boost::asio::make_work_guard(own);
            std::thread io;
            if (stopped) io = std::thread([&] { own.run(); });
            owner->endpoint.connect([](buff<char>) {}, owner, board("127.0.0.1"));
            const bool up = connected(owner->endpoint);
            own.stop();
            if (io.joinable()) io.join();
            ASSERT_TRUE(up);
        }
        {
            std::optional<ioHold> hold;
            if (!stopped) hold.emplace();
            for (uint32_t k = 0; k < 5; ++k) owner->endpoint.send(tagged(k));
            EXPECT_TRUE(owner->endpoint.sendNow(tagged(100)));
            EXPECT_TRUE(owner->endpoint.sendNow(tagged(101)));
            owner->endpoint.send(tagged(200));
        }
        // The I/O thread runs what it was given before: it finds nothing to
        // send, or a datagram it sent would reach the board before the next.
        if (stopped) {
            own.restart();
            own.poll();
        } else {
            std::promise<void> ran;
            boost::asio::post(ASIORunner::getInstance().context(), [&] { ran.set_value(); });
            ran.get_future().wait();
        }
        EXPECT_EQ(owner->endpoint.sendsCompleted(), owner->endpoint.sendsStarted());
        owner->endpoint.sendNow(tagged(300));
        ASSERT_TRUE(sim.peer.waitForCount(8));
        std::vector<uint32_t> tags;
        for (auto& d : sim.peer.received()) {
            uint32_t tag;
            std::memcpy(&tag, d.bytes.data(), sizeof tag);
            tags.push_back(tag);
        }
        EXPECT_EQ(tags, (std::vector<uint32_t>{0, 1, 2, 3, 4, 100, 101, 300}));
        owner.reset(); // its close runs on its context
        own.restart();
        own.poll();
    }
}

TEST_F(UdpEndpoint, UnconnectedReportsEachSender) {
    hpsdrP1Sim sim;
    std::string why;
    if (!openSim(sim, "127.0.0.1", why)) VIREO_SKIP_OR_FAIL(why);
    auto owner = std::make_shared<endpointOwner>(1444);
    auto got = std::make_shared<arrivals>();
    owner->endpoint.connect([got](buff<char> b, udp::endpoint from) { got->add(b, from); }, owner);
    ASSERT_TRUE(connected(owner->endpoint));
    const udp::endpoint here(boost::asio::ip::make_address("127.0.0.1"), owner->endpoint.localEndpoint().port());

    owner->endpoint.sendTo(tagged(5, 60), sim.peer.local());
    ASSERT_TRUE(sim.peer.waitForCount(1));
    EXPECT_EQ(sim.peer.received()[0].from.port(), here.port());

    ASSERT_TRUE(sim.peer.sendTo(pattern(1444, 4), here));
    udpPeer other;
    bool second = other.open("127.0.0.2", 0, &why);
    if (second) {
        ASSERT_TRUE(other.sendTo(pattern(2000, 5), here));
    }
    ASSERT_TRUE(waitFor([&] { return got->count() >= (second ? 2u : 1u); }));

    std::lock_guard<std::mutex> lock(got->m);
    EXPECT_EQ(got->packets[0], pattern(1444, 4));
    EXPECT_EQ(got->senders[0], sim.peer.local());
    if (second) {
        EXPECT_EQ(got->packets[1].size(), 1444u);
        EXPECT_EQ(got->senders[1], other.local());
    }
}

TEST_F(UdpEndpoint, FailedConnectLogsAndNeverSpins) {
    LogCapture log;
    const auto refused = make_error_code(boost::asio::error::network_unreachable);
    const std::string connectLine = "error|connect error " + refused.message();
    {
        // The socket could not even be opened: nothing is armed on it, and
        // sends fail one by one in their completions; the second failure
        // within a second is counted, not logged.
        auto owner = std::make_shared<endpointOwner>();
        owner->endpoint.injectConnectError(refused, false);
        owner->endpoint.connect([](buff<char>) {}, owner, board("127.0.0.1"));
        owner->endpoint.send(tagged(1));
        owner->endpoint.send(tagged(2));
        ASSERT_TRUE(waitFor([&] { return owner->endpoint.sendsCompleted() == 2; }));
        EXPECT_EQ(log.count(connectLine), 1u);
        EXPECT_EQ(log.count("error|udp socket not open, not receiving"), 1u);
        auto lines = log.lines();
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](auto& l) { return l.find("error| send error") == 0; }),
                  1);
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](auto& l) { return l.find("comms error") != l.npos; }),
                  0);
    }
    {
        // Opened, then the connect failed: the receive is still armed.
        auto owner = std::make_shared<endpointOwner>();
        owner->endpoint.injectConnectError(refused, true);
        owner->endpoint.connect([](buff<char>) {}, owner, board("127.0.0.1"));
        ASSERT_TRUE(waitFor([&] { return log.count(connectLine) == 2; }));
        drainDataTasks(owner);
        EXPECT_EQ(log.count("error|udp socket not open, not receiving"), 1u);
    }
}

TEST_F(UdpEndpoint, ReleasedWhileDatagramsPourIn) {
    hpsdrP1Sim sim;
    std::string why;
    if (!openSim(sim, "127.0.0.1", why)) VIREO_SKIP_OR_FAIL(why);
    const auto packet = pattern(1032, 7);
    std::atomic<bool> stop{false}, pouring{false};
    std::thread flood([&] {
        while (!stop) {
            if (pouring)
                for (int k = 0; k < 32; ++k) sim.sendToHost(packet);
            std::this_thread::yield();
        }
    });
    for (int round = 0; round < 100; ++round) {
        auto owner = std::make_shared<endpointOwner>();
        auto got = std::make_shared<std::atomic<int>>(0);
        owner->endpoint.connect([got](buff<char> b) { got->fetch_add(int(b.count)); }, owner, board("127.0.0.1"));
        ASSERT_TRUE(connected(owner->endpoint));
        const auto here = owner->endpoint.localEndpoint();
        owner->endpoint.send(tagged(uint32_t(round), 8));
        ASSERT_TRUE(waitFor([&] { return sim.peer.lastSender() && sim.peer.lastSender()->port() == here.port(); }));
        pouring = true;
        // Released at a different point of the stream each round, with
        // datagrams in the kernel, a receive pending and deliveries queued.
        if (round % 2) waitFor([&] { return got->load() > 0; }, std::chrono::milliseconds(200));
        std::weak_ptr<endpointOwner> weak = owner;
        owner.reset();
        const bool gone = waitFor([&] { return weak.expired(); });
        pouring = false;
        ASSERT_TRUE(gone);
    }
    stop = true;
    flood.join();
}

TEST_F(UdpEndpoint, ReleasedOwnerGoesWhileDatagramsOutpaceIt) {
    // The owner takes 2 ms a datagram and the board sends far faster, so its
    // lane never runs dry: the backlog must not keep a released owner alive.
    hpsdrP1Sim sim;
    std::string why;
    if (!openSim(sim, "127.0.0.1", why)) VIREO_SKIP_OR_FAIL(why);
    auto owner = std::make_shared<endpointOwner>();
    auto handled = std::make_shared<std::atomic<int>>(0);
    owner->endpoint.connect(
        [handled](buff<char>) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            handled->fetch_add(1);
        },
        owner, board("127.0.0.1"));
    ASSERT_TRUE(connected(owner->endpoint));
    owner->endpoint.send(tagged(1, 8));
    ASSERT_TRUE(sim.peer.waitForCount(1));

    const auto packet = pattern(1032, 9);
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread flood([&] {
        while (!stop) {
            sim.sendToHost(packet);
            ++sent;
            std::this_thread::yield();
        }
    });
    ASSERT_TRUE(waitFor([&] { return handled->load() >= 10; }));
    std::weak_ptr<endpointOwner> weak = owner;
    owner.reset();
    const bool gone = waitFor([&] { return weak.expired(); });
    const int handledAtEnd = handled->load();
    const int sentAtEnd = sent;
    // Still pouring after the owner went, and nothing more was handled.
    const bool pouring = waitFor([&] { return sent > sentAtEnd + 500; });
    stop = true;
    flood.join();
    EXPECT_TRUE(gone) << "released owner still alive after " << handledAtEnd << " datagrams";
    EXPECT_TRUE(pouring);
    EXPECT_EQ(handled->load(), handledAtEnd);
}

} // namespace
