#include "sim/hpsdrP1Sim.h"

#include "framework/buildSlowdown.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace {

void put24(uint8_t* p, int32_t v) {
    p[0] = uint8_t(v >> 16);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v);
}

void header(std::vector<uint8_t>& p, uint8_t endpointByte, uint32_t sequence) {
    p[0] = 0xEF;
    p[1] = 0xFE;
    p[2] = 0x01;
    p[3] = endpointByte;
    p[4] = uint8_t(sequence >> 24);
    p[5] = uint8_t(sequence >> 16);
    p[6] = uint8_t(sequence >> 8);
    p[7] = uint8_t(sequence);
}

} // namespace

ep6Stream::ep6Stream(int receivers, std::vector<std::vector<simTone>> tones) : n_(receivers), tones_(std::move(tones)) {
    tones_.resize(size_t(receivers));
}

size_t ep6Stream::samplesPerFrame() const { return 504 / (6 * size_t(n_) + 2); }

std::array<int32_t, 2> ep6Stream::fields(int r, size_t k) const {
    double i = 0, q = 0;
    for (auto& t : tones_[size_t(r)]) {
        const double a = 2 * M_PI * t.cyclesPerSample * double(k) + t.phase;
        i += t.amplitude * std::cos(a);
        q += t.amplitude * std::sin(a);
    }
    auto field = [](double x) {
        double v = std::lround(x * 8388607.0);
        return int32_t(std::fmax(-8388608.0, std::fmin(8388607.0, v)));
    };
    return {field(i), field(q)};
}

std::vector<uint8_t> ep6Stream::next(uint32_t sequence, simStatus first, simStatus second) {
    std::vector<uint8_t> p(1032, 0);
    header(p, 0x06, sequence);
    const size_t m = samplesPerFrame();
    const size_t stride = 6 * size_t(n_) + 2;
    for (int f = 0; f < 2; ++f) {
        uint8_t* frame = p.data() + 8 + 512 * f;
        const simStatus& s = f ? second : first;
        frame[0] = frame[1] = 0x7F;
        frame[2] = s.receiverByte;
        frame[3] = s.c0;
        frame[4] = s.c1;
        frame[5] = s.c2;
        frame[6] = s.c3;
        frame[7] = s.c4;
        for (size_t k = 0; k < m; ++k, ++sampleIndex_) {
            for (int r = 0; r < n_; ++r) {
                auto iq = fields(r, sampleIndex_);
                uint8_t* at = frame + 8 + k * stride + 6 * size_t(r);
                put24(at, iq[0]);
                put24(at + 3, iq[1]);
            }
        }
    }
    return p;
}

std::vector<uint8_t> ep4Packet(uint32_t sequence, const std::vector<int16_t>& samples) {
    std::vector<uint8_t> p(1032, 0);
    header(p, 0x04, sequence);
    for (size_t i = 0; i < 512 && i < samples.size(); ++i) {
        p[8 + 2 * i] = uint8_t(uint16_t(samples[i]));
        p[9 + 2 * i] = uint8_t(uint16_t(samples[i]) >> 8);
    }
    return p;
}

simTone simTone::above(double offsetHz, int rate, bool oddZone, double amplitude) {
    const double c = offsetHz / rate;
    // I = cos, Q = sin in an odd zone; I = sin, Q = cos (the mirrored tone
    // turned by a quarter) in an even one.
    return oddZone ? simTone{amplitude, c, 0.0} : simTone{amplitude, -c, M_PI / 2};
}

std::optional<ep2Packet> decodeEp2(const std::vector<uint8_t>& b) {
    if (b.size() != 1032 || b[0] != 0xEF || b[1] != 0xFE || b[2] != 0x01 || b[3] != 0x02) return std::nullopt;
    ep2Packet p;
    p.sequence = uint32_t(b[4]) << 24 | uint32_t(b[5]) << 16 | uint32_t(b[6]) << 8 | b[7];
    for (int f = 0; f < 2; ++f) {
        const uint8_t* frame = b.data() + 8 + 512 * f;
        if (frame[0] != 0x7F || frame[1] != 0x7F || frame[2] != 0x7F) return std::nullopt;
        ep2Frame& out = p.frames[size_t(f)];
        out.c0 = frame[3];
        out.c1 = frame[4];
        out.c2 = frame[5];
        out.c3 = frame[6];
        out.c4 = frame[7];
        for (size_t k = 0; k < 63; ++k) {
            const uint8_t* slot = frame + 8 + 8 * k;
            out.iq[k] = {int16_t(uint16_t(slot[4] << 8 | slot[5])), int16_t(uint16_t(slot[6] << 8 | slot[7]))};
        }
    }
    return p;
}

bool hpsdrP1Sim::openBoard(const std::string& address, std::string* why) {
    peer.onDatagram([this](const uint8_t* data, size_t n, const udpPeer::endpoint& from) {
        std::lock_guard<std::mutex> lock(m_);
        host_.push_back({std::vector<uint8_t>(data, data + n), from, udpPeer::clock::now()});
        if (n == 64 && data[0] == 0xEF && data[1] == 0xFE && data[2] == 0x04) {
            streaming_ = (data[3] & 0x03) != 0;
            starts_ += streaming_;
            if (streaming_) ep2SinceStart_ = 0;
        }
        if (n == 1032 && data[0] == 0xEF && data[1] == 0xFE && data[2] == 0x01 && data[3] == 0x02) ++ep2SinceStart_;
        cv_.notify_all();
    });
    return peer.open(address, boardPort, why);
}

std::vector<udpPeer::datagram> hpsdrP1Sim::hostDatagrams() const {
    std::lock_guard<std::mutex> lock(m_);
    return host_;
}

size_t hpsdrP1Sim::hostCount() const {
    std::lock_guard<std::mutex> lock(m_);
    return host_.size();
}

bool hpsdrP1Sim::waitForHost(size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_for(lock, timeout, [&] { return host_.size() >= n; });
}

std::vector<ep2Packet> hpsdrP1Sim::ep2() const {
    std::vector<ep2Packet> out;
    for (auto& d : hostDatagrams())
        if (auto p = decodeEp2(d.bytes)) out.push_back(*p);
    return out;
}

std::vector<std::vector<uint8_t>> hpsdrP1Sim::startStop() const {
    std::vector<std::vector<uint8_t>> out;
    for (auto& d : hostDatagrams())
        if (d.bytes.size() == 64 && d.bytes[0] == 0xEF && d.bytes[1] == 0xFE && d.bytes[2] == 0x04)
            out.push_back(d.bytes);
    return out;
}

bool hpsdrP1Sim::streaming() const {
    std::lock_guard<std::mutex> lock(m_);
    return streaming_;
}

size_t hpsdrP1Sim::pump(ep6Stream& stream, uint32_t& sequence, size_t count,
                        const std::function<uint32_t()>& consumed, uint32_t window) {
    size_t sent = 0;
    for (; sent < count; ++sent) {
        // Loopback drops nothing while the host keeps up: never run more
        // than a window ahead of it.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (int32_t(sequence - consumed()) > int32_t(window)) {
            if (std::chrono::steady_clock::now() > deadline) return sent;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (!streaming() || !sendToHost(stream.next(sequence))) return sent;
        ++sequence;
    }
    return sent;
}

void hpsdrP1Sim::runClock(ep6Stream stream, int rate) {
    stopClock();
    clockStop_ = false;
    clock_ = std::thread([this, stream = std::move(stream), rate]() mutable {
        using namespace std::chrono;
        const auto period = duration_cast<steady_clock::duration>(
            duration<double>(2.0 * double(stream.samplesPerFrame()) / double(rate)));
        // The host's Ep2 packets per Ep6 packet of the stream.
        const double ep2PerEp6 = 2.0 * double(stream.samplesPerFrame()) * 48000.0 / (double(rate) * 126.0);
        auto next = steady_clock::now();
        uint32_t sequence = 0;
        unsigned startsSeen = 0;
        size_t hostSent = 0;
        auto hostSentAt = steady_clock::now();
        while (!clockStop_) {
            bool on;
            {
                std::unique_lock<std::mutex> lock(m_);
                on = streaming_;
                // A board numbers its stream from 0 again after every start.
                if (starts_ != startsSeen) sequence = 0;
                startsSeen = starts_;
                if constexpr (vireo::buildSlowdown > 1) {
                    constexpr double window = 64;
                    const auto patience = milliseconds(250 * vireo::buildSlowdown);
                    while (on && !clockStop_ && double(sequence) * ep2PerEp6 > double(ep2SinceStart_) + window) {
                        if (ep2SinceStart_ != hostSent) {
                            hostSent = ep2SinceStart_;
                            hostSentAt = steady_clock::now();
                        } else if (steady_clock::now() - hostSentAt > patience) {
                            break; // a host that sends nothing: the board streams on
                        }
                        cv_.wait_for(lock, milliseconds(1));
                        on = streaming_ && starts_ == startsSeen;
                    }
                }
            }
            if (on && sendToHost(stream.next(sequence))) {
                ++sequence;
                ++clockSent_;
            }
            // A thread held up catches up by a few packets at most, as a
            // board's buffer would not hold more.
            next = std::max(next + period, steady_clock::now() - 4 * period);
            std::this_thread::sleep_until(next);
        }
    });
}

void hpsdrP1Sim::stopClock() {
    clockStop_ = true;
    if (clock_.joinable()) clock_.join();
}
