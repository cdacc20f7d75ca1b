#pragma once
// WsProxyLink: one connection of a WsProxyRadio to its proxy server, on an
// I/O context of its own (not the shared runner).
//
// run() is the whole life of the connection, on the communication thread:
// resolve and connect, handshake, send the add-receiver command, then take
// one message after another; after each, send the subscribe command a reply
// asks for and the commands waiting in the radio's ring. Every wait is
// asynchronous, so stop() ends the connection within closeGrace however
// silent the server is: it asks for a normal close (code 1000) and cuts the
// connection when no answer comes in time. Any other end is a failure,
// printed and logged, with the connection dropped without a close message.
//
// The link holds the radio only weakly: it reaches it just long enough to
// post a data task or take a command, and ends when the radio is gone.
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

class WsProxyRadio;

class WsProxyLink {
public:
    /// How long a stopped connection waits for the server's close answer.
    static constexpr std::chrono::milliseconds closeGrace{100};
    /// Largest message taken from the server; a larger one fails the read.
    static constexpr size_t maxMessage = 64 * 1024;
    /// The handshake's User-Agent, as the proxy servers know it.
    static constexpr const char* userAgent = "Boost.Beast/330";
    static constexpr const char* userAgentSuffix = " websocket-client-coro";

    /// A connection to uri for the server's radio remoteId, not yet running.
    static std::shared_ptr<WsProxyLink> make(std::weak_ptr<WsProxyRadio> radio, std::string uri, int remoteId);
    virtual ~WsProxyLink() = default;

    /// Runs the connection to its end. Communication thread, once.
    virtual void run() = 0;
    /// Ends the connection; harmless when it is already over or has not
    /// started. Any thread; never blocks.
    virtual void stop() = 0;
};
