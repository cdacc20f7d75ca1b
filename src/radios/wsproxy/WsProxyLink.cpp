#include "radios/wsproxy/WsProxyLink.h"

#include "framework/exitGate.h"
#include "radios/wsproxy/ProxyCommands.h"
#include "radios/wsproxy/Uri.h"
#include "radios/wsproxy/WsIqFrame.h"
#include "radios/wsproxy/WsProxyRadio.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/field.hpp>
#include <boost/beast/websocket.hpp>
#include <spdlog/spdlog.h>

#include <cstdio>
#include <deque>

namespace {

namespace net = boost::asio;
namespace websocket = boost::beast::websocket;
using tcp = net::ip::tcp;
using boost::system::error_code;

/// Connection states and traces go to standard output, as the server's
/// operators expect to see them there.
void say(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

class Session final : public WsProxyLink {
public:
    Session(std::weak_ptr<WsProxyRadio> radio, std::string uri, int remoteId)
        : radio_(std::move(radio)), uriText_(std::move(uri)), remoteId_(remoteId) {
        // Posted first, so a stop posted before run() still comes after it.
        net::post(io_, [this] { begin(); });
    }

    void run() override {
        for (;;) {
            try {
                io_.run();
                break;
            } catch (const std::exception& e) {
                // Whatever a handler threw ends the connection like any
                // failure; running on lets the aborted operations finish.
                fail(e.what());
            }
        }
        reportBadFrames();
    }

    void stop() override {
        net::post(io_, [this] { onStop(); });
    }

private:
    enum class phase { connecting, open, closing, over };

    void begin() {
        if (stopping_) return;
        uri_ = Uri::Parse(uriText_);
        resolver_.async_resolve(uri_.host, uri_.port, [this](error_code ec, tcp::resolver::results_type found) {
            if (ec) return fail(ec);
            net::async_connect(socket(), found, [this](error_code ec, const tcp::endpoint&) { onConnected(ec); });
        });
    }

    void onConnected(error_code ec) {
        if (ec) return fail(ec);
        if (stopping_) return; // a stop that came as the connection did
        say("##ws connect\n");
        // Commands are small and each stands alone: waiting to coalesce
        // them only delays retuning (and the close) by an acknowledgement.
        error_code ignored;
        socket().set_option(tcp::no_delay(true), ignored);
        ws_.set_option(websocket::stream_base::decorator([](websocket::request_type& request) {
            request.set(boost::beast::http::field::user_agent, std::string(userAgent) + userAgentSuffix);
        }));
        ws_.read_message_max(maxMessage);
        ws_.async_handshake(uri_.host + ":" + uri_.port, uri_.path, [this](error_code ec) {
            if (ec) return fail(ec);
            if (stopping_) return;
            phase_ = phase::open;
            outbox_.push_back(ProxyCommands::addReceiver(remoteId_));
            sendNext();
        });
    }

    /// Sends the outbox in order, then reads the next message.
    void sendNext() {
        if (phase_ != phase::open) return;
        if (outbox_.empty()) {
            if (!looping_) say("##ws loop\n");
            looping_ = true;
            ws_.async_read(in_, [this](error_code ec, size_t) { onMessage(ec); });
            return;
        }
        ws_.text(true);
        ws_.async_write(net::buffer(outbox_.front()), [this](error_code ec, size_t) {
            if (ec) return fail(ec);
            outbox_.pop_front();
            sendNext();
        });
    }

    void onMessage(error_code ec) {
        if (ec) return fail(ec);
        if (phase_ != phase::open) return;
        exitGate::pass pass;
        if (!pass) {
            // The process is exiting: the radio gets nothing more, but the
            // connection stays as it is until a stop ends it.
            in_.clear();
            return sendNext();
        }
        try {
            if (ws_.got_binary())
                takeFrame();
            else
                takeReply();
        } catch (const std::exception& e) {
            return fail(e.what());
        }
        in_.clear();
        if (auto radio = radio_.lock()) {
            std::string command;
            while (radio->takeCommand(command)) outbox_.push_back(std::move(command));
        } else {
            return onStop();
        }
        sendNext();
    }

    void takeFrame() {
        if (!spare_.data) spare_ = buff<std::complex<float>>(WsIqFrame::samples);
        auto r = WsIqFrame::decode(static_cast<const uint8_t*>(in_.data().data()), in_.size(), spare_.data);
        if (r.what == WsIqFrame::verdict::notAFrame) return;
        // The first bad frame of a connection is logged at once, the rest
        // are counted for one line when the connection ends.
        if (r.what == WsIqFrame::verdict::badCentre) {
            if (badFrames_++ == 0)
                spdlog::error("ws proxy {}: frame with centre frequency {} dropped", uriText_, r.centre);
            ++badCentres_;
            return;
        }
        if (r.nonFinite > 0) {
            if (badFrames_++ == 0)
                spdlog::error("ws proxy {}: {} non-finite samples written as 0", uriText_, r.nonFinite);
            nonFinite_ += r.nonFinite;
        }
        auto radio = radio_.lock();
        if (!radio) return;
        seqTask t;
        t.fn = [radio, samples = std::move(spare_), hz = r.hz] { radio->handleRx(samples, hz); };
        t.name = "handleRx";
        spare_ = {};
        radio->asyncProcess(t);
    }

    void takeReply() {
        const auto* text = static_cast<const char*>(in_.data().data());
        auto id = ProxyCommands::addReceiverResponse(std::string_view(text, in_.size()));
        if (!id) return;
        if (auto radio = radio_.lock()) {
            seqTask t;
            t.fn = [radio, id = *id] { radio->storeRemoteId(id); };
            t.name = "addReceiverResponse";
            radio->asyncProcess(t);
        }
        outbox_.push_back(ProxyCommands::subscribeToIQ(*id));
    }

    void onStop() {
        if (stopping_) return;
        stopping_ = true;
        resolver_.cancel();
        if (phase_ == phase::open) {
            phase_ = phase::closing;
            // A server that does not answer the close is cut off after the
            // grace; a pending read or write ends with the socket.
            graceTimer_.expires_after(closeGrace);
            graceTimer_.async_wait([this](error_code ec) {
                if (!ec) cut();
            });
            ws_.async_close(websocket::close_code::normal, [this](error_code) {
                graceTimer_.cancel();
                cut();
                phase_ = phase::over;
                say("##ws closed\n");
            });
        } else if (phase_ == phase::connecting) {
            phase_ = phase::over;
            cut();
        }
    }

    void fail(error_code ec) { fail(boost::system::system_error(ec).what()); }

    void fail(const std::string& what) {
        // Errors caused by our own stop are the stop, not failures.
        if (stopping_ || phase_ == phase::over) return;
        phase_ = phase::over;
        say("Error: " + what + "\n");
        spdlog::error("ws proxy {}: {}", uriText_, what);
        cut();
    }

    /// Drops the connection without a word to the server.
    void cut() {
        error_code ignored;
        socket().close(ignored);
    }

    void reportBadFrames() {
        if (badFrames_ > 1)
            spdlog::error("ws proxy {}: {} frames dropped for their centre frequency, {} non-finite samples "
                          "written as 0 on this connection",
                          uriText_, badCentres_, nonFinite_);
    }

    tcp::socket& socket() { return ws_.next_layer(); }

    net::io_context io_{1};
    tcp::resolver resolver_{io_};
    websocket::stream<tcp::socket> ws_{io_};
    net::steady_timer graceTimer_{io_};
    boost::beast::flat_buffer in_;
    std::deque<std::string> outbox_;
    buff<std::complex<float>> spare_;

    std::weak_ptr<WsProxyRadio> radio_;
    const std::string uriText_;
    const int remoteId_;
    Uri uri_;
    phase phase_ = phase::connecting;
    bool stopping_ = false;
    bool looping_ = false;
    size_t badFrames_ = 0;
    size_t badCentres_ = 0;
    size_t nonFinite_ = 0;
};

} // namespace

std::shared_ptr<WsProxyLink> WsProxyLink::make(std::weak_ptr<WsProxyRadio> radio, std::string uri, int remoteId) {
    return std::make_shared<Session>(std::move(radio), std::move(uri), remoteId);
}
