#include "sim/udpPeer.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ip = boost::asio::ip;

udpPeer::~udpPeer() { close(); }

bool udpPeer::isLoopback(const ip::address& a) {
    if (a.is_v4()) return (a.to_v4().to_uint() >> 24) == 127;
    return a.is_v6() && a.to_v6().is_loopback();
}

bool udpPeer::open(const std::string& address, uint16_t port, std::string* why) {
    auto fail = [&](std::string reason) {
        if (why) *why = std::move(reason);
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        return false;
    };
    boost::system::error_code ec;
    auto a = ip::make_address(address, ec);
    if (ec) return fail("bad address " + address);
    if (!isLoopback(a)) return fail("refused: " + address + " is not a loopback address");
    endpoint ep(a, port);
    fd_ = ::socket(a.is_v4() ? AF_INET : AF_INET6, SOCK_DGRAM, 0);
    if (fd_ < 0) return fail(std::string("no socket for ") + address + ": " + std::strerror(errno));
    int big = 4 << 20;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    if (::bind(fd_, ep.data(), socklen_t(ep.size())) != 0)
        return fail("cannot bind " + address + ":" + std::to_string(port) + ": " + std::strerror(errno));
    socklen_t len = socklen_t(local_.capacity());
    ::getsockname(fd_, local_.data(), &len);
    local_.resize(len);
    stop_ = false;
    thread_ = std::thread([this] { run(); });
    return true;
}

void udpPeer::close() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool udpPeer::sendTo(const void* data, size_t length, const endpoint& to) {
    if (!isLoopback(to.address()) || fd_ < 0) return false;
    return ::sendto(fd_, data, length, 0, to.data(), socklen_t(to.size())) == ssize_t(length);
}

void udpPeer::run() {
    std::vector<uint8_t> buffer(65536);
    while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 5) <= 0) continue;
        endpoint from;
        socklen_t len = socklen_t(from.capacity());
        ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), 0, from.data(), &len);
        if (n < 0) continue;
        from.resize(len);
        std::function<void(const uint8_t*, size_t, const endpoint&)> handler;
        {
            std::lock_guard<std::mutex> lock(m_);
            lastSender_ = from;
            handler = handler_;
            if (!handler)
                received_.push_back({std::vector<uint8_t>(buffer.begin(), buffer.begin() + n), from, clock::now()});
        }
        if (handler) handler(buffer.data(), size_t(n), from);
        cv_.notify_all();
    }
}

std::optional<udpPeer::endpoint> udpPeer::lastSender() const {
    std::lock_guard<std::mutex> lock(m_);
    return lastSender_;
}

std::vector<udpPeer::datagram> udpPeer::received() const {
    std::lock_guard<std::mutex> lock(m_);
    return received_;
}

size_t udpPeer::count() const {
    std::lock_guard<std::mutex> lock(m_);
    return received_.size();
}

bool udpPeer::waitForCount(size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_for(lock, timeout, [&] { return received_.size() >= n; });
}

void udpPeer::clear() {
    std::lock_guard<std::mutex> lock(m_);
    received_.clear();
}

void udpPeer::onDatagram(std::function<void(const uint8_t*, size_t, const endpoint&)> handler) {
    std::lock_guard<std::mutex> lock(m_);
    handler_ = std::move(handler);
}
