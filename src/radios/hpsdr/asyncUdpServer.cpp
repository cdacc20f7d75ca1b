#include "radios/hpsdr/asyncUdpServer.h"

#include "framework/ASIORunner.h"
#include "framework/throttledLog.h"

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <spdlog/spdlog.h>

#include <sys/socket.h>

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>

namespace asio = boost::asio;
using boost::system::error_code;

/// Everything the I/O thread works on. Pending handlers hold it by shared
/// reference, so it outlives the endpoint until the last of them has run.
/// `closed`, `receiveBuffer` and `sender` belong to the I/O thread alone;
/// the callbacks, the owner and the lane are written once by connect, before
/// the work that reads them is posted. The callbacks are cleared by the
/// endpoint's destructor, which runs only once the owner has no strong
/// reference left, so no delivery can be inside a callback then.
struct asyncUdpServer::state : std::enable_shared_from_this<state> {
    state(asio::io_context& context, int size) : socket(context), receiveSize(size) {}

    udp::socket socket;
    const int receiveSize;
    buff<char> receiveBuffer;
    udp::endpoint sender;
    packetHandler callback;
    packetFromHandler callbackFrom;
    std::weak_ptr<asyncObject> owner;
    // Deliveries are queued on the owner's task group through this object,
    // not through the owner: a queued datagram must not keep the owner
    // alive. Otherwise a board sending faster than the owner handles keeps
    // its lane from ever running dry, and a released radio lives on, and
    // goes on answering the board, for as long as the board streams.
    std::shared_ptr<asyncObject> lane;
    std::atomic<uint32_t> started{0};
    std::atomic<uint32_t> completed{0};
    bool closed = false;
    // A board that is gone answers every packet with an error: these lines
    // come once, then at most once a second with a count. I/O thread.
    throttledLog receiveErrors;
    throttledLog sendErrors;
    bool connectCalled = false; // caller's thread

    // What the I/O thread and an exit's sendNow both touch, under `wire`:
    // the descriptor while the socket is open, the datagrams not yet handed
    // to the kernel, and whether the exit has sent its last ones. The I/O
    // thread opens and closes the socket and starts each send under it.
    struct outgoing {
        buff<char> packet;
        std::optional<udp::endpoint> to; // unconnected use
    };
    std::mutex wire;
    int descriptor = -1;
    std::deque<outgoing> outbox;
    bool sentLast = false;
    std::optional<error_code> fault;
    bool faultOpens = false;

    mutable std::mutex localMutex;
    udp::endpoint local;

    void onConnected(const error_code& ec);
    void openUnconnected();
    void startReceive();
    void handleReceive(const error_code& ec, size_t bytes);
    void startReceiveFrom();
    void handleReceiveFrom(const error_code& ec, size_t bytes);
    void close();
    /// Opens the socket for protocol; the descriptor is taken under `wire`.
    void open(const udp& protocol, error_code& ec);
    /// Queues one datagram for the I/O thread; false once the exit sent its
    /// last. Any thread.
    bool queue(outgoing o);
    /// The oldest waiting datagram to the kernel. I/O thread.
    void sendNext();
    /// Everything waiting, then last, from the calling thread (see sendNow).
    bool sendLast(outgoing last);
    void takeOwner(std::weak_ptr<asyncObject> o);
    /// Queues fn on the owner's task group, to run only if the owner is
    /// still there then (and kept there while it runs). I/O thread.
    template <class F>
    void deliver(const char* name, F fn);

    void setReceiveBufferOption() {
        error_code ec;
        socket.set_option(asio::socket_base::receive_buffer_size(receiveBufferOption), ec);
        if (ec) spdlog::error("udp receive buffer {}", ec.message());
    }
    void rememberLocal() {
        error_code ec;
        auto ep = socket.local_endpoint(ec);
        std::lock_guard<std::mutex> lock(localMutex);
        local = ec ? udp::endpoint() : ep;
    }
    /// Whether a completion may go on: not once the endpoint closed the
    /// socket or the operation was cancelled, and never on a closed socket.
    bool live(const error_code& ec) const {
        return !closed && ec != asio::error::operation_aborted && socket.is_open();
    }
};

asyncUdpServer::asyncUdpServer(int receiveSize)
    : asyncUdpServer(receiveSize, ASIORunner::getInstance().context()) {}

asyncUdpServer::asyncUdpServer(int receiveSize, asio::io_context& context)
    : receiveSize_(receiveSize), state_(std::make_shared<state>(context, receiveSize)) {}

asyncUdpServer::~asyncUdpServer() {
    // The owner is going: a delivery still queued finds it gone and runs no
    // callback, so drop them here, which also frees whatever they captured.
    state_->callback = nullptr;
    state_->callbackFrom = nullptr;
    auto s = state_;
    asio::post(s->socket.get_executor(), [s] { s->close(); });
}

void asyncUdpServer::injectConnectError(error_code error, bool openSocket) {
    state_->fault = error;
    state_->faultOpens = openSocket;
}

void asyncUdpServer::connect(packetHandler callback, std::weak_ptr<asyncObject> owner, const udp::endpoint& peer) {
    auto s = state_;
    if (s->connectCalled) {
        spdlog::error("udp endpoint already connected");
        return;
    }
    s->connectCalled = true;
    s->callback.swap(callback);
    s->takeOwner(std::move(owner));
    asio::post(s->socket.get_executor(), [s, peer] {
        if (s->closed) return;
        if (s->fault) {
            if (s->faultOpens) {
                error_code ignored;
                s->open(peer.protocol(), ignored);
            }
            s->onConnected(*s->fault);
            return;
        }
        // A datagram connect is made at once, as the connect starts: an
        // exit's send finds the socket connected or not open.
        error_code ec;
        {
            std::lock_guard<std::mutex> lock(s->wire);
            s->socket.open(peer.protocol(), ec);
            if (!ec) {
                s->socket.async_connect(peer, [s](const error_code& ec) { s->onConnected(ec); });
                s->descriptor = s->socket.native_handle();
            }
        }
        if (ec) s->onConnected(ec);
    });
}

void asyncUdpServer::connect(packetFromHandler callback, std::weak_ptr<asyncObject> owner) {
    auto s = state_;
    if (s->connectCalled) {
        spdlog::error("udp endpoint already open");
        return;
    }
    s->connectCalled = true;
    s->callbackFrom.swap(callback);
    s->takeOwner(std::move(owner));
    asio::post(s->socket.get_executor(), [s] { s->openUnconnected(); });
}

void asyncUdpServer::state::takeOwner(std::weak_ptr<asyncObject> o) {
    owner = std::move(o);
    // An owner already gone (or without a task group) gets nothing.
    if (auto alive = owner.lock())
        if (alive->taskGroup()) lane = std::make_shared<asyncObject>(alive->taskGroup());
}

template <class F>
void asyncUdpServer::state::deliver(const char* name, F fn) {
    if (!lane || owner.expired()) return;
    seqTask t;
    t.fn = [self = shared_from_this(), fn = std::move(fn)] {
        if (auto o = self->owner.lock()) fn(*self);
    };
    t.name = name;
    lane->asyncProcess(t);
}

void asyncUdpServer::state::onConnected(const error_code& ec) {
    if (closed || ec == asio::error::operation_aborted) return;
    if (ec) spdlog::error("connect error {}", ec.message());
    if (!socket.is_open()) {
        // Nothing to listen on: a receive here would fail and re-arm for ever.
        spdlog::error("udp socket not open, not receiving");
        return;
    }
    setReceiveBufferOption();
    rememberLocal();
    startReceive();
}

void asyncUdpServer::state::openUnconnected() {
    if (closed) return;
    error_code ec;
    open(udp::v4(), ec);
    if (!ec) socket.bind(udp::endpoint(udp::v4(), 0), ec);
    if (ec) {
        spdlog::error("udp open error {}", ec.message());
        std::lock_guard<std::mutex> lock(wire);
        descriptor = -1;
        error_code ignored;
        socket.close(ignored);
        return;
    }
    setReceiveBufferOption();
    rememberLocal();
    startReceiveFrom();
}

void asyncUdpServer::state::open(const udp& protocol, error_code& ec) {
    std::lock_guard<std::mutex> lock(wire);
    socket.open(protocol, ec);
    if (!ec) descriptor = socket.native_handle();
}

void asyncUdpServer::state::close() {
    closed = true;
    std::lock_guard<std::mutex> lock(wire);
    descriptor = -1;
    error_code ignored;
    socket.close(ignored); // pending operations complete with operation_aborted
}

// ---- receiving, I/O thread ----

void asyncUdpServer::state::startReceive() {
    if (closed || !socket.is_open()) return;
    receiveBuffer = buff<char>(size_t(receiveSize));
    socket.async_receive(asio::buffer(receiveBuffer.data, receiveBuffer.count),
                         [self = shared_from_this()](const error_code& ec, size_t n) { self->handleReceive(ec, n); });
}

void asyncUdpServer::state::handleReceive(const error_code& ec, size_t bytes) {
    if (!live(ec)) return;
    if (ec && ec != asio::error::message_size) {
        if (receiveErrors.note()) {
            if (receiveErrors.total() == 1)
                spdlog::error("comms error {}", ec.message());
            else
                spdlog::error("comms error {} ({} so far)", ec.message(), receiveErrors.total());
        }
    } else {
        // Exactly what arrived (at most the buffer), sharing its storage.
        buff<char> slice(receiveBuffer, 0, std::min(bytes, receiveBuffer.count));
        deliver("handle_receive", [slice](state& s) { s.callback(slice); });
    }
    startReceive();
}

void asyncUdpServer::state::startReceiveFrom() {
    if (closed || !socket.is_open()) return;
    receiveBuffer = buff<char>(size_t(receiveSize));
    socket.async_receive_from(
        asio::buffer(receiveBuffer.data, receiveBuffer.count), sender,
        [self = shared_from_this()](const error_code& ec, size_t n) { self->handleReceiveFrom(ec, n); });
}

void asyncUdpServer::state::handleReceiveFrom(const error_code& ec, size_t bytes) {
    if (!live(ec)) return;
    if (!ec || ec == asio::error::message_size) {
        buff<char> slice(receiveBuffer, 0, std::min(bytes, receiveBuffer.count));
        deliver("handle_receive_from", [slice, from = sender](state& s) { s.callbackFrom(slice, from); });
    }
    startReceiveFrom();
}

// ---- sending ----

bool asyncUdpServer::state::queue(outgoing o) {
    {
        std::lock_guard<std::mutex> lock(wire);
        if (sentLast) return false;
        outbox.push_back(std::move(o));
    }
    asio::post(socket.get_executor(), [self = shared_from_this()] { self->sendNext(); });
    return true;
}

void asyncUdpServer::state::sendNext() {
    // Under the lock to the kernel's hands: asio tries a send at once, so a
    // datagram taken here cannot pass one an exit sends meanwhile.
    std::lock_guard<std::mutex> lock(wire);
    if (outbox.empty()) return; // the exit sent it
    outgoing o = std::move(outbox.front());
    outbox.pop_front();
    auto bytes = asio::buffer(o.packet.data, o.packet.count);
    if (o.to) {
        if (closed || !socket.is_open()) return;
        socket.async_send_to(bytes, *o.to, [keep = std::move(o.packet)](const error_code&, size_t) {});
        return;
    }
    if (closed) {
        completed.fetch_add(1, std::memory_order_release);
        return;
    }
    // On a socket that never opened the send fails in its completion, which
    // logs it. The completion keeps the packet: its storage lives until sent.
    socket.async_send(bytes, [self = shared_from_this(), keep = std::move(o.packet)](const error_code& ec, size_t) {
        if (ec && self->sendErrors.note()) {
            if (self->sendErrors.total() == 1)
                spdlog::error(" send error {} {} {}", ec.message(), ec.category().name(), ec.value());
            else
                spdlog::error(" send error {} {} {} ({} so far)", ec.message(), ec.category().name(), ec.value(),
                              self->sendErrors.total());
        }
        self->completed.fetch_add(1, std::memory_order_release);
    });
}

namespace {

/// One datagram on the descriptor, without asio and without blocking: the
/// I/O thread may be gone. Retries, for at most `until`, while the socket's
/// buffer is full or a peer's earlier refusal is reported in its place.
bool sendOnDescriptor(int fd, const buff<char>& p, const std::optional<asyncUdpServer::udp::endpoint>& to,
                      std::chrono::steady_clock::time_point until) {
    for (;;) {
        const ssize_t n = to ? ::sendto(fd, p.data, p.count, MSG_DONTWAIT | MSG_NOSIGNAL, to->data(), to->size())
                             : ::send(fd, p.data, p.count, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n >= 0) return true;
        const int e = errno;
        const bool full = e == EAGAIN || e == EWOULDBLOCK || e == ENOBUFS;
        if (!(full || e == EINTR || e == ECONNREFUSED) || std::chrono::steady_clock::now() > until) {
            spdlog::error("udp send at exit: {}", std::strerror(e));
            return false;
        }
        if (full) {
            pollfd w{fd, POLLOUT, 0};
            static_cast<void>(::poll(&w, 1, 1));
        }
    }
}

} // namespace

bool asyncUdpServer::state::sendLast(outgoing last) {
    std::lock_guard<std::mutex> lock(wire);
    sentLast = true;
    if (descriptor < 0) {
        spdlog::error("udp socket not open at exit: {} datagrams not sent", outbox.size() + 1);
        outbox.clear();
        return false;
    }
    const auto until = std::chrono::steady_clock::now() + sendNowLimit;
    for (auto& o : outbox) {
        sendOnDescriptor(descriptor, o.packet, o.to, until);
        if (!o.to) completed.fetch_add(1, std::memory_order_release);
    }
    outbox.clear();
    return sendOnDescriptor(descriptor, last.packet, last.to, until);
}

void asyncUdpServer::send(buff<char> packet) {
    auto s = state_;
    const uint32_t started = s->started.load(std::memory_order_relaxed);
    const uint32_t completed = s->completed.load(std::memory_order_acquire);
    if (int32_t(started - completed) >= maxOutstandingSends) {
        spdlog::error("no send {} {}", started, completed);
        return;
    }
    s->started.fetch_add(1, std::memory_order_relaxed);
    if (!s->queue({std::move(packet), std::nullopt})) s->completed.fetch_add(1, std::memory_order_release);
}

void asyncUdpServer::sendTo(buff<char> packet, const udp::endpoint& peer) {
    state_->queue({std::move(packet), peer});
}

bool asyncUdpServer::sendNow(const buff<char>& packet) { return state_->sendLast({packet, std::nullopt}); }

bool asyncUdpServer::sendToNow(const buff<char>& packet, const udp::endpoint& peer) {
    return state_->sendLast({packet, peer});
}

uint32_t asyncUdpServer::sendsStarted() const { return state_->started.load(); }
uint32_t asyncUdpServer::sendsCompleted() const { return state_->completed.load(); }

asyncUdpServer::udp::endpoint asyncUdpServer::localEndpoint() const {
    std::lock_guard<std::mutex> lock(state_->localMutex);
    return state_->local;
}
