#pragma once
// asyncUdpServer: the one UDP socket of an HPSDR radio object.
//
// Two uses, chosen by the connect overload the owner calls once:
//  - connected (protocol 1): the socket is connected to the board's address;
//    send() / the receive loop exchange datagrams with that peer only (the
//    kernel drops datagrams from any other sender);
//  - unconnected (protocol 2): the socket is bound to 0.0.0.0 port 0;
//    sendTo() names the peer of each datagram and every received datagram is
//    handed on with its sender.
// Every received datagram reaches the owner's task group as a data task
// ("handle_receive" / "handle_receive_from") carrying a slice of a fresh
// pooled buffer of receiveSize bytes, so parsing runs serialised with the
// rest of the owner's work and needs no lock. A datagram longer than
// receiveSize arrives truncated to it; the slice always has the length that
// really arrived. A queued datagram does not keep the owner alive: one that
// comes up after the owner went is dropped unhandled, so a board streaming
// faster than its owner keeps up cannot hold a released owner.
//
// Threads and lifetime. Every socket operation (open, connect, bind, send,
// receive, close) runs on the single I/O thread of ASIORunner: the public
// functions only post work there (sendNow aside, see below), so the socket
// is never touched by two threads. The socket, the buffer being received into and the owner's
// callback live in a shared state that every pending handler holds; the
// endpoint itself may therefore go (with its owner) while the I/O thread
// still completes operations. The destructor posts a close: the pending
// receive then completes with operation_aborted and nothing is re-armed, so
// the state is freed by the last handler that held it. The only values read
// on both sides are the two send counters, which are atomic.
//
// At most 101 sends are outstanding (posted or in the kernel and not yet
// completed); a send beyond that is dropped with "no send {started}
// {completed}".
//
// The process's end. The I/O thread is stopped by an exit handler of its
// own, before or after the one that stops the owner's board, so what a
// board must hear last (off the air, stop streaming) cannot wait for it:
// sendNow sends from the calling thread, on the descriptor the I/O thread
// opened, after every datagram still waiting for the I/O thread, and from
// then on nothing the I/O thread was still to send goes out. The I/O thread
// opens, closes and sends on the socket under the same lock, so the exit
// never meets a descriptor being closed or reused, and its datagrams are
// the last the peer gets (save one the kernel had no room for when the I/O
// thread sent it: asio sends that one later, by itself).
#include "dsp/buff.h"
#include "framework/asyncObject.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/system/error_code.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

class asyncUdpServer {
public:
    using udp = boost::asio::ip::udp;
    /// Connected use: the datagram as a slice of its receive buffer.
    using packetHandler = std::function<void(buff<char>)>;
    /// Unconnected use: the datagram and its sender.
    using packetFromHandler = std::function<void(buff<char>, udp::endpoint)>;

    static constexpr int receiveBufferOption = 130048; ///< SO_RCVBUF, bytes
    static constexpr int32_t maxOutstandingSends = 101;

    /// A closed endpoint; nothing happens until connect. receiveSize is the
    /// size of every receive buffer (1032 for protocol 1, 1444 for
    /// protocol 2). The context defaults to ASIORunner's.
    explicit asyncUdpServer(int receiveSize);
    asyncUdpServer(int receiveSize, boost::asio::io_context& context);
    /// Closes the socket on the I/O thread; pending handlers end there
    /// without re-arming, and no datagram reaches the owner afterwards.
    ~asyncUdpServer();
    asyncUdpServer(const asyncUdpServer&) = delete;
    asyncUdpServer& operator=(const asyncUdpServer&) = delete;

    /// Connected use: connects to peer (IPv4 or IPv6, as peer is), sets
    /// SO_RCVBUF and arms the receive. A connect error is logged
    /// ("connect error {}"); the receive is still armed when the socket is
    /// open, never on a socket that could not be opened. Called once, on the
    /// owner's task group; a second call is refused with a log line.
    void connect(packetHandler callback, std::weak_ptr<asyncObject> owner, const udp::endpoint& peer);
    /// Unconnected use: opens IPv4, binds 0.0.0.0:0, sets SO_RCVBUF and arms
    /// the receive. Failures are logged and leave the endpoint deaf.
    void connect(packetFromHandler callback, std::weak_ptr<asyncObject> owner);

    /// Connected use. Never blocks: takes the packet by reference count and
    /// sends it from the I/O thread; dropped and logged past 101
    /// outstanding sends. Any thread.
    void send(buff<char> packet);
    /// Unconnected use. Never blocks; no limit on outstanding sends.
    void sendTo(buff<char> packet, const udp::endpoint& peer);

    /// At the process's end: sends what is still waiting for the I/O thread,
    /// in order, then packet, all from the calling thread, whether the I/O
    /// thread still runs or was stopped; later asynchronous sends are
    /// dropped. Waits for room in the socket's buffer for at most
    /// sendNowLimit in all, never for the I/O thread. False (logged)
    /// when the socket is not open or the packet could not be sent. Any
    /// thread.
    bool sendNow(const buff<char>& packet);
    /// The same in the unconnected use.
    bool sendToNow(const buff<char>& packet, const udp::endpoint& peer);
    static constexpr std::chrono::milliseconds sendNowLimit{100};

    uint32_t sendsStarted() const;
    uint32_t sendsCompleted() const;
    int receiveSize() const { return receiveSize_; }
    /// The socket's local address once it is open (unspecified before);
    /// for peers and tests. Any thread.
    udp::endpoint localEndpoint() const;

    /// Test seam: the next connect fails with this error instead of being
    /// attempted. With openSocket the socket is opened first (a connect that
    /// failed on an open socket); without, it stays closed (the socket could
    /// not be opened at all).
    void injectConnectError(boost::system::error_code error, bool openSocket);

    struct state; // shared with the pending handlers; see the .cpp

private:
    int receiveSize_;
    std::shared_ptr<state> state_;
};
