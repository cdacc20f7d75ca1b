#include "modes/data/multipsk/asyncTcpIpPacketServer.h"

#include "framework/ASIORunner.h"
#include "modes/data/multipsk/MultiPskFramer.h"

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/system/system_error.hpp>
#include <spdlog/spdlog.h>

#include <deque>

namespace asio = boost::asio;
using boost::system::error_code;

namespace {
constexpr int maxInFlight = 128;
constexpr int resumeAt = maxInFlight / 2;
} // namespace

/// Everything the I/O thread works on, held by every pending handler. The
/// callbacks are written by start() before the first accept is posted and
/// read only by the owner's tasks; everything else is the I/O thread's.
struct asyncTcpIpPacketServer::state : std::enable_shared_from_this<state> {
    state(asio::io_context& context, size_t bufferSize) : acceptor(context), client(context), framer(bufferSize) {}

    tcp::acceptor acceptor;
    tcp::socket client;
    MultiPskFramer framer;
    packetCallback onPacket;
    connectCallback onConnect;
    std::weak_ptr<asyncObject> owner;

    std::deque<buff<char>> writes; // the front one is being written
    size_t queuedBytes = 0;
    bool writing = false;
    bool writeFailed = false; // this connection's writes are given up
    bool dropping = false;    // the queue is full; logged once
    bool connected = false;
    bool closed = false;
    // Counts connections, so that a write completing after its connection
    // ended leaves the next connection's queue alone.
    unsigned connection = 0;

    // Packets posted to the owner and not yet handled (or dropped). Past
    // maxInFlight the server stops reading, so TCP holds a fast client back
    // instead of the owner's queue dropping its packets; the packet that
    // brings the count back down to resumeAt starts reading again.
    std::atomic<int> inFlight{0};
    bool paused = false;
    void resume();

    void startAccept();
    void accept_handler(const error_code& ec);
    void startRead();
    void read_handler(const error_code& ec, size_t bytes);
    void disconnect();
    void enqueue(buff<char> frame);
    void writeNext();
    void written(const error_code& ec, unsigned forConnection, size_t bytes);
    void close();

    /// Posts body(state&) to the owner's task group, if the owner is still
    /// there. The task holds this state; the owner's queue holds the owner.
    template <class Body>
    void toOwner(const char* name, Body body) {
        auto o = owner.lock();
        if (!o) return;
        seqTask t;
        t.fn = [self = shared_from_this(), body]() { body(*self); };
        t.name = name;
        o->asyncProcess(t);
    }
};

asyncTcpIpPacketServer::asyncTcpIpPacketServer(int port, unsigned long bufferSize)
    : asyncTcpIpPacketServer(port, bufferSize, ASIORunner::getInstance().context()) {}

asyncTcpIpPacketServer::asyncTcpIpPacketServer(int port, unsigned long bufferSize, asio::io_context& context)
    : state_(std::make_shared<state>(context, size_t(bufferSize))) {
    if (port < 0 || port > 65535) throw boost::system::system_error(asio::error::invalid_argument, "tcp port");
    const tcp::endpoint at(asio::ip::address_v4::loopback(), static_cast<unsigned short>(port));
    // Nothing is pending on the acceptor yet: the I/O thread does not touch
    // it until start() posts the first accept.
    auto& a = state_->acceptor;
    a.open(at.protocol());
    a.set_option(tcp::acceptor::reuse_address(true));
    a.bind(at);
    a.listen();
    local_ = a.local_endpoint();
}

asyncTcpIpPacketServer::~asyncTcpIpPacketServer() {
    state_->onPacket = nullptr;
    state_->onConnect = nullptr;
    auto s = state_;
    asio::post(s->acceptor.get_executor(), [s] { s->close(); });
}

void asyncTcpIpPacketServer::setOwner(std::weak_ptr<asyncObject> owner) { state_->owner = std::move(owner); }

bool asyncTcpIpPacketServer::start(packetCallback onPacket, connectCallback onConnect) {
    auto s = state_;
    if (started_) {
        spdlog::error("listen err already started");
        return false;
    }
    if (!s->acceptor.is_open()) {
        spdlog::error("listen err ");
        return false;
    }
    error_code ec;
    s->acceptor.listen(1, ec);
    if (ec) {
        spdlog::error("listen err {}", ec.message());
        return false;
    }
    started_ = true;
    s->onPacket = std::move(onPacket);
    s->onConnect = std::move(onConnect);
    asio::post(s->acceptor.get_executor(), [s] { s->startAccept(); });
    return true;
}

void asyncTcpIpPacketServer::send(buff<char> frame) {
    auto s = state_;
    asio::post(s->acceptor.get_executor(), [s, frame = std::move(frame)]() mutable { s->enqueue(std::move(frame)); });
}

// ---- accepting and reading, I/O thread ----

void asyncTcpIpPacketServer::state::startAccept() {
    if (closed) return;
    acceptor.async_accept(client, [self = shared_from_this()](const error_code& ec) { self->accept_handler(ec); });
}

void asyncTcpIpPacketServer::state::accept_handler(const error_code& ec) {
    if (closed || ec == asio::error::operation_aborted) return;
    if (ec) {
        // Nothing accepts any more: the server stays idle until destroyed.
        spdlog::error("tcp accept err {}", ec.message());
        return;
    }
    connected = true;
    ++connection;
    writeFailed = false;
    dropping = false;
    toOwner("accept_handler", [](state& s) {
        if (s.onConnect) s.onConnect(true);
    });
    framer.reset();
    startRead();
}

void asyncTcpIpPacketServer::state::startRead() {
    if (closed) return;
    client.async_read_some(asio::buffer(framer.readPointer(), framer.wanted()),
                           [self = shared_from_this()](const error_code& ec, size_t n) { self->read_handler(ec, n); });
}

void asyncTcpIpPacketServer::state::read_handler(const error_code& ec, size_t bytes) {
    if (closed || ec == asio::error::operation_aborted) return;
    if (ec) {
        // Also the peer's orderly close.
        spdlog::error("tcp read err");
        toOwner("read_data_err", [](state& s) {
            if (s.onConnect) s.onConnect(false);
        });
        disconnect();
        startAccept();
        return;
    }
    if (auto body = framer.arrived(bytes)) {
        // Counted while the task exists, run or dropped by a full queue.
        auto held = std::shared_ptr<void>(nullptr, [self = shared_from_this()](void*) {
            if (self->inFlight.fetch_sub(1, std::memory_order_acq_rel) - 1 == resumeAt)
                asio::post(self->acceptor.get_executor(), [self] { self->resume(); });
        });
        inFlight.fetch_add(1, std::memory_order_acq_rel);
        toOwner("read_handler 2", [body = *body, held](state& s) {
            if (s.onPacket) s.onPacket(body);
        });
        if (inFlight.load(std::memory_order_acquire) >= maxInFlight) {
            paused = true; // the count must come down through resumeAt
            return;
        }
    }
    startRead();
}

void asyncTcpIpPacketServer::state::resume() {
    if (!paused || closed) return;
    paused = false;
    startRead();
}

void asyncTcpIpPacketServer::state::disconnect() {
    connected = false;
    paused = false;
    error_code ignored;
    client.close(ignored); // a closed socket is what the next accept fills
    ++connection;
    writes.clear(); // packets for this client go nowhere else
    queuedBytes = 0;
    writing = false;
}

void asyncTcpIpPacketServer::state::close() {
    closed = true;
    error_code ignored;
    acceptor.close(ignored); // pending operations end with operation_aborted
    client.close(ignored);
    writes.clear();
    queuedBytes = 0;
    owner.reset();
}

// ---- writing, I/O thread ----

void asyncTcpIpPacketServer::state::enqueue(buff<char> frame) {
    if (closed || !connected || writeFailed || frame.empty()) return;
    if (queuedBytes + frame.count > maxQueuedBytes) {
        if (!dropping) spdlog::error("tcp write queue full {}", queuedBytes);
        dropping = true;
        return;
    }
    queuedBytes += frame.count;
    writes.push_back(std::move(frame));
    if (!writing) writeNext();
}

void asyncTcpIpPacketServer::state::writeNext() {
    if (writes.empty()) {
        writing = false;
        return;
    }
    writing = true;
    // The completion holds the frame: its storage lives until written, even
    // when the queue is cleared meanwhile.
    buff<char> frame = writes.front();
    asio::async_write(client, asio::buffer(frame.data, frame.count),
                      [self = shared_from_this(), c = connection, frame](const error_code& ec, size_t) {
                          self->written(ec, c, frame.count);
                      });
}

void asyncTcpIpPacketServer::state::written(const error_code& ec, unsigned forConnection, size_t bytes) {
    if (closed || forConnection != connection) return;
    writes.pop_front();
    queuedBytes -= bytes;
    dropping = false;
    if (ec) {
        // No retry and no disconnect: the reader notices a dead peer. The
        // rest of this connection's packets would fail the same way.
        spdlog::error("tcp write err {}", ec.message());
        writeFailed = true;
        writes.clear();
        queuedBytes = 0;
        writing = false;
        return;
    }
    writeNext();
}
