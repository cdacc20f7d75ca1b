#pragma once
// A MultiPSK stand-in for the tests: a blocking TCP client on the loop-back
// address that writes and reads MultiPskPacket frames. Every read has a
// deadline, so a missing reply fails the test instead of hanging it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "vireocore.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace mpsktest {

using namespace std::chrono_literals;

/// Little-endian 32-bit field.
inline std::string le32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[size_t(i)] = char(uint8_t(v >> (8 * i)));
    return s;
}
inline uint32_t readLe32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(uint8_t(s[at + size_t(i)])) << (8 * i);
    return v;
}
inline int16_t readLe16(const std::string& s, size_t at) {
    return int16_t(uint16_t(uint8_t(s[at]) | uint16_t(uint8_t(s[at + 1])) << 8));
}
/// A whole frame: the body's length, then the body.
inline std::string frame(const std::string& body) { return le32(uint32_t(body.size())) + body; }

/// A "TXHWdata" body with the pairs given (I, Q).
inline std::string samplesBody(const std::vector<std::pair<int16_t, int16_t>>& pairs) {
    std::string b = "TXHWdata" + le32(uint32_t(4 * pairs.size()));
    for (auto [i, q] : pairs) {
        b += char(uint8_t(i));
        b += char(uint8_t(uint16_t(i) >> 8));
        b += char(uint8_t(q));
        b += char(uint8_t(uint16_t(q) >> 8));
    }
    return b;
}

/// A free port on 127.0.0.1 at the moment of asking.
inline int freePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

/// The port a MultiPSK mode serves once attached to a transceiver: the
/// first free one from its port on, which another instance or process may
/// hold. Read back from its port property, which is published only once
/// served (a bind then delivers it); 0 when none is served within 5 s. The
/// host must not set the port meanwhile: that set, on the mode's own task
/// group, may come after the serving and change the value read. The host
/// thread, poll being its update loop.
inline int servedPort(void* mode, void (*poll)()) {
    static std::atomic<int> heard;
    heard = 0;
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (heard.load() == 0 && std::chrono::steady_clock::now() < until) {
        MultiPskModDemod_bindport(mode, [](int port) { heard = port; });
        poll();
        std::this_thread::sleep_for(10ms);
    }
    return heard.load();
}

class Client {
public:
    Client() = default;
    explicit Client(int port) { connect(port); }
    ~Client() { close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool connect(int port) {
        close();
        peerGone_ = false;
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close();
            return false;
        }
        return true;
    }
    bool open() const { return fd_ >= 0; }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    bool write(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) {
                peerGone_ = true;
                return false;
            }
            done += size_t(n);
        }
        return true;
    }
    bool sendBody(const std::string& body) { return write(frame(body)); }

    /// Exactly n bytes, or nothing when the deadline passes or the peer
    /// closes first.
    std::optional<std::string> read(size_t n, std::chrono::milliseconds timeout = 5s) {
        std::string out(n, '\0');
        size_t got = 0;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (got < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() < 0) return std::nullopt;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, int(left.count()) + 1) <= 0) return std::nullopt;
            ssize_t r = ::recv(fd_, out.data() + got, n - got, 0);
            if (r <= 0) {
                peerGone_ = true;
                return std::nullopt;
            }
            got += size_t(r);
        }
        return out;
    }
    /// One whole frame, length field included.
    std::optional<std::string> readFrame(std::chrono::milliseconds timeout = 5s) {
        auto length = read(4, timeout);
        if (!length) return std::nullopt;
        auto body = read(readLe32(*length, 0), timeout);
        if (!body) return std::nullopt;
        return *length + *body;
    }
    /// The next frame whose keyword is not skip (receive IQ, for instance).
    std::optional<std::string> readFrameSkipping(const std::string& skip,
                                                 std::chrono::milliseconds timeout = 5s) {
        for (;;) {
            auto f = readFrame(timeout);
            if (!f || f->compare(4, 8, skip) != 0) return f;
        }
    }
    /// Whether the peer closed (or reset) the connection before the deadline.
    /// What it sent before closing is read and dropped: its end of stream
    /// waits behind those bytes, and a receive window full of them would hold
    /// it back for good.
    bool closedByPeer(std::chrono::milliseconds timeout = 5s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        char sink[65536];
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() < 0) return false;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, int(left.count()) + 1) <= 0) return false;
            if (::recv(fd_, sink, sizeof sink, 0) <= 0) return true;
        }
    }
    /// A read met the end of the stream, or a write failed.
    bool peerGone() const { return peerGone_; }
    int fd() const { return fd_; }

private:
    int fd_ = -1;
    bool peerGone_ = false;
};

} // namespace mpsktest
