#pragma once
// asyncTcpIpPacketServer: a TCP server on the loop-back address for one
// client at a time, speaking MultiPskPacket frames.
//
// Every complete packet body reaches the owner's task group as the data task
// "read_handler 2", in order; a client accepted posts "accept_handler"
// (connect callback with true), a connection that fails or closes posts
// "read_data_err" (false) and the server goes back to accepting. Tasks are
// posted only while the owner exists. While a client is connected no accept
// is pending: a second client waits in the backlog of one.
//
// Only 127.0.0.1 is served: what arrives here keys a transmitter, so no
// other host may reach it.
//
// Threads and lifetime. The acceptor, the client socket, the framing and
// the write queue belong to the single I/O thread of ASIORunner; send() and
// the destructor only post work there, so packets go out whole and in the
// order of the send() calls. All of it lives in a shared state that every
// pending handler holds, so the server may be destroyed while operations
// are in flight: the destructor posts a close, pending operations then end
// with operation_aborted and re-arm nothing, and the state goes with the
// last handler. The callbacks are cleared by the destructor; they are only
// ever called from the owner's tasks, which keep the owner (and so this
// server) alive while they run.
//
// A client that sends faster than the owner takes its packets is held back
// by TCP: with 128 packets waiting for the owner the server stops reading
// until half of them are handled.
//
// A client that stops reading cannot make the queue grow without bound:
// past maxQueuedBytes waiting to be written, further packets for it are
// dropped ("tcp write queue full {}", once per stall).
#include "dsp/buff.h"
#include "framework/asyncObject.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <cstddef>
#include <functional>
#include <memory>

class asyncTcpIpPacketServer {
public:
    using tcp = boost::asio::ip::tcp;
    using packetCallback = std::function<void(buff<char>)>;
    using connectCallback = std::function<void(bool)>;

    static constexpr size_t maxQueuedBytes = size_t(8) << 20;

    /// Opens, binds (reuse-address) and listens on 127.0.0.1:port, on the
    /// ASIORunner context (or the one given). Port 0 lets the system choose.
    /// Throws boost::system::system_error when any of it fails (a port in
    /// use). bufferSize is the largest body read (at least 12).
    asyncTcpIpPacketServer(int port, unsigned long bufferSize);
    asyncTcpIpPacketServer(int port, unsigned long bufferSize, boost::asio::io_context& context);
    ~asyncTcpIpPacketServer();
    asyncTcpIpPacketServer(const asyncTcpIpPacketServer&) = delete;
    asyncTcpIpPacketServer& operator=(const asyncTcpIpPacketServer&) = delete;

    /// The object whose task group runs the callbacks. Before start.
    void setOwner(std::weak_ptr<asyncObject> owner);
    /// Takes the callbacks, sets the backlog to one and starts accepting.
    /// False, with "listen err " logged, when the acceptor is not open or
    /// listen fails. Once; the owner's thread.
    bool start(packetCallback onPacket, connectCallback onConnect);
    /// Queues a whole frame for the connected client. Never blocks; any
    /// thread. Dropped when no client is connected.
    void send(buff<char> frame);

    /// The bound address and port. Any thread.
    tcp::endpoint localEndpoint() const { return local_; }

    struct state; // shared with the pending handlers; see the .cpp

private:
    std::shared_ptr<state> state_;
    tcp::endpoint local_;
    bool started_ = false;
};
