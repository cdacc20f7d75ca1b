#include "proxyServer.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <numbers>
#include <thread>

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;
using boost::system::error_code;

struct ProxyServer::Impl {
    net::io_context io;
    tcp::acceptor acceptor{io};
    std::thread thread;
    std::weak_ptr<Connection> newest;
    std::vector<std::shared_ptr<Connection>> all;
    bool answering = true;
    int nextId = 1;
    unsigned short port = 0;
};

struct ProxyServer::Connection : std::enable_shared_from_this<Connection> {
    Connection(ProxyServer& s, tcp::socket socket) : server(s), ws(std::move(socket)) {}

    ProxyServer& server;
    websocket::stream<tcp::socket> ws;
    beast::flat_buffer in;
    http::request<http::string_body> request;
    std::deque<std::pair<std::string, bool>> out;
    bool open = false, writing = false, over = false;

    // The tone stream.
    net::steady_timer pace{ws.get_executor()};
    bool streaming = false, paced = false;
    double centre = 0, offset = 0;
    float amplitude = 0;
    long long next = 0; // sample index of the next frame
    std::chrono::steady_clock::time_point t0;

    void start() {
        http::async_read(ws.next_layer(), in, request, [self = shared_from_this()](error_code ec, size_t) {
            if (ec) return self->end();
            {
                std::lock_guard<std::mutex> l(self->server.m_);
                self->server.handshakes_.push_back({std::string(self->request.target()),
                                                    std::string(self->request[http::field::user_agent])});
            }
            self->ws.async_accept(self->request, [self](error_code ec) {
                if (ec) return self->end();
                self->open = true;
                self->flush();
                self->read();
            });
        });
    }

    void read() {
        in.clear();
        ws.async_read(in, [self = shared_from_this()](error_code ec, size_t) {
            if (ec == websocket::error::closed) {
                std::lock_guard<std::mutex> l(self->server.m_);
                self->server.closeCodes_.push_back(int(self->ws.reason().code));
            }
            if (ec) return self->end();
            if (self->ws.got_text()) {
                self->onText(beast::buffers_to_string(self->in.data()));
                if (self->server.deaf_) return;
            }
            self->read();
        });
    }

    void onText(std::string text) {
        {
            std::lock_guard<std::mutex> l(server.m_);
            server.texts_.push_back(text);
        }
        if (server.impl_->answering && text.find(R"("cmd":"addReceiver")") != std::string::npos)
            queue(R"({"cmd":"addReceiverResponse","ID":)" + std::to_string(server.impl_->nextId++) + "}", false);
    }

    void queue(std::string message, bool binary) {
        out.emplace_back(std::move(message), binary);
        flush();
    }

    void flush() {
        if (writing || !open || over || out.empty()) return;
        writing = true;
        ws.binary(out.front().second);
        ws.async_write(net::buffer(out.front().first), [self = shared_from_this()](error_code ec, size_t) {
            self->writing = false;
            if (ec) return self->end();
            self->out.pop_front();
            if (self->streaming && !self->paced && self->out.empty()) self->queueFrame();
            self->flush();
        });
    }

    void queueFrame() {
        std::complex<float> s[512];
        for (int i = 0; i < 512; ++i, ++next)
            s[i] = std::complex<float>(
                std::polar(double(amplitude), 2 * std::numbers::pi * offset * double(next % 48000) / 48000.0));
        queue(frame(centre, s), true);
        server.framesSent_.fetch_add(1);
    }

    void startStream(double c, double f, float a, bool p) {
        centre = c, offset = f, amplitude = a, paced = p;
        streaming = true;
        next = 0;
        t0 = std::chrono::steady_clock::now();
        if (paced)
            tick();
        else
            queueFrame();
    }

    void tick() {
        if (!streaming || over) return;
        using namespace std::chrono;
        const long long due = duration_cast<microseconds>(steady_clock::now() - t0).count() * 48 / 1000;
        while (next + 512 <= due) queueFrame();
        pace.expires_after(milliseconds(2));
        pace.async_wait([self = shared_from_this()](error_code ec) {
            if (!ec) self->tick();
        });
    }

    void end() {
        if (over) return;
        over = true;
        streaming = false;
        pace.cancel();
        error_code ignored;
        ws.next_layer().close(ignored);
        server.ended_.fetch_add(1);
    }
};

ProxyServer::ProxyServer() : impl_(std::make_unique<Impl>()) {
    tcp::endpoint at(net::ip::make_address("127.0.0.1"), 0);
    impl_->acceptor.open(at.protocol());
    impl_->acceptor.set_option(tcp::acceptor::reuse_address(true));
    impl_->acceptor.bind(at);
    impl_->acceptor.listen();
    impl_->port = impl_->acceptor.local_endpoint().port();
    struct accepting {
        ProxyServer* s;
        void operator()(error_code ec, tcp::socket socket) const {
            if (ec) return; // closed at shut-down
            socket.set_option(tcp::no_delay(true));
            auto c = std::make_shared<Connection>(*s, std::move(socket));
            s->impl_->all.push_back(c);
            s->impl_->newest = c;
            c->start();
            s->impl_->acceptor.async_accept(*this);
        }
    };
    impl_->acceptor.async_accept(accepting{this});
    impl_->thread = std::thread([this] { impl_->io.run(); });
}

ProxyServer::~ProxyServer() {
    net::post(impl_->io, [this] {
        impl_->acceptor.close();
        for (auto& c : impl_->all) c->end();
        impl_->all.clear();
    });
    impl_->thread.join();
}

std::string ProxyServer::uri(const std::string& path) const {
    return "ws://127.0.0.1:" + std::to_string(impl_->port) + path;
}

std::vector<ProxyServer::Handshake> ProxyServer::handshakes() {
    std::lock_guard<std::mutex> l(m_);
    return handshakes_;
}

std::vector<std::string> ProxyServer::texts() {
    std::lock_guard<std::mutex> l(m_);
    return texts_;
}

std::vector<int> ProxyServer::closeCodes() {
    std::lock_guard<std::mutex> l(m_);
    return closeCodes_;
}

void ProxyServer::answerAdds(bool on, int firstId) {
    net::post(impl_->io, [this, on, firstId] {
        impl_->answering = on;
        impl_->nextId = firstId;
    });
}

void ProxyServer::send(std::string message, bool binary) {
    net::post(impl_->io, [this, message = std::move(message), binary]() mutable {
        if (auto c = impl_->newest.lock()) c->queue(std::move(message), binary);
    });
}

void ProxyServer::stream(double centre, double offset, float amplitude, bool paced) {
    net::post(impl_->io, [=, this] {
        if (auto c = impl_->newest.lock()) c->startStream(centre, offset, amplitude, paced);
    });
}

void ProxyServer::stopStream() {
    net::post(impl_->io, [this] {
        if (auto c = impl_->newest.lock()) c->streaming = false;
    });
}

void ProxyServer::drop() {
    net::post(impl_->io, [this] {
        if (auto c = impl_->newest.lock()) c->end();
    });
}

std::string ProxyServer::frame(double centre, const std::complex<float>* samples, size_t length, uint8_t type) {
    std::string f(length, '\0');
    if (length > 0) f[0] = char(type);
    if (length >= 13) std::memcpy(f.data() + 5, &centre, 8);
    if (length > 17) std::memcpy(f.data() + 17, samples, std::min<size_t>(4096, length - 17));
    return f;
}
