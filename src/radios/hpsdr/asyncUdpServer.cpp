#include "radios/hpsdr/asyncUdpServer.h"

#include "framework/ASIORunner.h"
#include "framework/throttledLog.h"

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <spdlog/spdlog.h>

#include <algorithm>
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
                s->socket.open(peer.protocol(), ignored);
            }
            s->onConnected(*s->fault);
            return;
        }
        // Opens the socket for the peer's protocol first.
        s->socket.async_connect(peer, [s](const error_code& ec) { s->onConnected(ec); });
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
    socket.open(udp::v4(), ec);
    if (!ec) socket.bind(udp::endpoint(udp::v4(), 0), ec);
    if (ec) {
        spdlog::error("udp open error {}", ec.message());
        error_code ignored;
        socket.close(ignored);
        return;
    }
    setReceiveBufferOption();
    rememberLocal();
    startReceiveFrom();
}

void asyncUdpServer::state::close() {
    closed = true;
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

void asyncUdpServer::send(buff<char> packet) {
    auto s = state_;
    const uint32_t started = s->started.load(std::memory_order_relaxed);
    const uint32_t completed = s->completed.load(std::memory_order_acquire);
    if (int32_t(started - completed) >= maxOutstandingSends) {
        spdlog::error("no send {} {}", started, completed);
        return;
    }
    s->started.fetch_add(1, std::memory_order_relaxed);
    asio::post(s->socket.get_executor(), [s, packet = std::move(packet)]() mutable {
        if (s->closed) {
            s->completed.fetch_add(1, std::memory_order_release);
            return;
        }
        auto bytes = asio::buffer(packet.data, packet.count);
        // The completion keeps the packet: its storage lives until sent.
        s->socket.async_send(bytes, [s, packet = std::move(packet)](const error_code& ec, size_t) {
            if (ec && s->sendErrors.note()) {
                if (s->sendErrors.total() == 1)
                    spdlog::error(" send error {} {} {}", ec.message(), ec.category().name(), ec.value());
                else
                    spdlog::error(" send error {} {} {} ({} so far)", ec.message(), ec.category().name(), ec.value(),
                                  s->sendErrors.total());
            }
            s->completed.fetch_add(1, std::memory_order_release);
        });
    });
}

void asyncUdpServer::sendTo(buff<char> packet, const udp::endpoint& peer) {
    auto s = state_;
    asio::post(s->socket.get_executor(), [s, packet = std::move(packet), peer]() mutable {
        if (s->closed || !s->socket.is_open()) return;
        auto bytes = asio::buffer(packet.data, packet.count);
        s->socket.async_send_to(bytes, peer, [s, packet = std::move(packet)](const error_code&, size_t) {});
    });
}

uint32_t asyncUdpServer::sendsStarted() const { return state_->started.load(); }
uint32_t asyncUdpServer::sendsCompleted() const { return state_->completed.load(); }

asyncUdpServer::udp::endpoint asyncUdpServer::localEndpoint() const {
    std::lock_guard<std::mutex> lock(state_->localMutex);
    return state_->local;
}
