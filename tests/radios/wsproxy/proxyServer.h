#pragma once
// A remote proxy server played by the tests: a Beast websocket server on
// 127.0.0.1 with an ephemeral port and one I/O thread of its own. It records
// each handshake, every text message and every close code it receives,
// answers add-receiver commands with ids of its choosing, and sends what the
// test asks for to the newest connection: IQ frames (a tone, paced to 48000
// samples per second or flat out), any other message, silence, or a dropped
// connection.
#include <atomic>
#include <complex>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class ProxyServer {
public:
    struct Handshake {
        std::string target, userAgent;
    };

    ProxyServer();
    ~ProxyServer();

    std::string uri(const std::string& path = "/ws") const;

    // ---- what the client did; any thread ----
    std::vector<Handshake> handshakes();
    std::vector<std::string> texts();
    /// Close codes received, one per connection the client closed.
    std::vector<int> closeCodes();
    /// Connections that ended, in whatever way.
    int ended() const { return ended_.load(); }
    long long framesSent() const { return framesSent_.load(); }

    // ---- behaviour; any thread ----
    /// Answers each add-receiver command with these ids, in order, then with
    /// counting ids from the last one. On by default, from 1.
    void answerAdds(bool on, int firstId = 1);
    /// New connections read their first text message and then nothing: not
    /// even a close is answered.
    void deaf(bool on) { deaf_ = on; }
    /// Sends to the newest connection.
    void send(std::string message, bool binary);
    /// Streams frames of a complex tone (offset Hz from centre, amplitude a)
    /// to the newest connection, paced to 48000 samples per second or as
    /// fast as the client takes them; until stopStream or the connection ends.
    void stream(double centre, double offset, float amplitude, bool paced);
    void stopStream();
    /// Cuts the newest connection without a close message.
    void drop();

    /// A frame as the proxy sends it, with its length and type byte free.
    static std::string frame(double centre, const std::complex<float>* samples, size_t length = 4113,
                             uint8_t type = 3);

private:
    struct Impl;
    struct Connection;
    std::unique_ptr<Impl> impl_;
    std::atomic<bool> deaf_{false};
    std::atomic<int> ended_{0};
    std::atomic<long long> framesSent_{0};
    std::mutex m_;
    std::vector<Handshake> handshakes_;
    std::vector<std::string> texts_;
    std::vector<int> closeCodes_;
};
