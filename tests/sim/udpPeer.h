#pragma once
// udpPeer: one UDP socket on a loopback address that plays the far side of
// a radio's UDP endpoint in tests and benchmarks. A thread of its own
// receives and records every datagram with its sender and arrival time;
// sends go out at once from the calling thread. Independent of the
// library's I/O thread, so a test may hold that thread while the peer goes
// on.
//
// Traffic stays on this machine: open() and sendTo() refuse any address
// outside 127.0.0.0/8 and ::1. A port that cannot be bound (taken, or no
// IPv6 loopback) is reported by open(), so the caller can skip.
//
// Reuse: a protocol 2 board simulator opens one udpPeer per board port.
#include <boost/asio/ip/udp.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class udpPeer {
public:
    using endpoint = boost::asio::ip::udp::endpoint;
    using clock = std::chrono::steady_clock;

    struct datagram {
        std::vector<uint8_t> bytes;
        endpoint from;
        clock::time_point at;
    };

    udpPeer() = default;
    ~udpPeer();
    udpPeer(const udpPeer&) = delete;
    udpPeer& operator=(const udpPeer&) = delete;

    /// Whether an address is one tests may use (127.0.0.0/8 or ::1).
    static bool isLoopback(const boost::asio::ip::address& a);

    /// Binds address:port (port 0: any) and starts receiving. False, with
    /// the reason in why, when the address is refused or cannot be bound.
    bool open(const std::string& address, uint16_t port, std::string* why = nullptr);
    void close();

    /// Sends one datagram; refuses (returns false) a non-loopback peer.
    bool sendTo(const void* data, size_t length, const endpoint& to);
    bool sendTo(const std::vector<uint8_t>& bytes, const endpoint& to) { return sendTo(bytes.data(), bytes.size(), to); }

    /// The bound address.
    endpoint local() const { return local_; }
    /// Sender of the newest datagram, if any arrived.
    std::optional<endpoint> lastSender() const;

    /// Everything received so far, in arrival order.
    std::vector<datagram> received() const;
    size_t count() const;
    /// Waits until at least n datagrams have arrived.
    bool waitForCount(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    /// Forgets what was recorded (counting restarts at 0).
    void clear();
    /// With a handler, datagrams go to it (on the peer's thread) instead of
    /// being recorded; for floods and benchmarks.
    void onDatagram(std::function<void(const uint8_t*, size_t, const endpoint&)> handler);

private:
    void run();

    int fd_ = -1;
    endpoint local_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    mutable std::mutex m_;
    mutable std::condition_variable cv_;
    std::vector<datagram> received_;
    std::optional<endpoint> lastSender_;
    std::function<void(const uint8_t*, size_t, const endpoint&)> handler_;
};
