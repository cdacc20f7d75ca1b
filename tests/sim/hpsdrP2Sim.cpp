#include "sim/hpsdrP2Sim.h"

#include <cmath>
#include <stdexcept>

namespace {

void put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

void put24(uint8_t* p, double x) {
    const auto v = int32_t(std::fmax(-8388608.0, std::fmin(8388607.0, std::round(x * 8388607.0))));
    p[0] = uint8_t(v >> 16);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v);
}

} // namespace

ddcIqStream::ddcIqStream(std::vector<simTone> tones, bool oddZone) : tones_(std::move(tones)), odd_(oddZone) {}

std::complex<double> ddcIqStream::signal(size_t k) const {
    std::complex<double> s = 0;
    for (auto& t : tones_) s += std::polar(t.amplitude, 2 * M_PI * t.cyclesPerSample * double(k) + t.phase);
    return s;
}

std::vector<uint8_t> ddcIqStream::next(uint32_t sequence) {
    std::vector<uint8_t> p(1444, 0);
    put32(p.data(), sequence);
    for (size_t i = 0; i < samplesPerPacket; ++i) {
        const auto s = signal(sampleIndex_++);
        // In an even zone the board's I carries what the host reads as the
        // imaginary part.
        uint8_t* at = p.data() + 16 + 6 * i;
        put24(at, odd_ ? s.real() : s.imag());
        put24(at + 3, odd_ ? s.imag() : s.real());
    }
    return p;
}

bool hpsdrP2Sim::open(const std::string& address, std::string* why) {
    address_ = address;
    for (uint16_t port : listenPorts)
        if (!peer(port, why)) return false;
    return true;
}

udpPeer* hpsdrP2Sim::peer(uint16_t port, std::string* why) {
    std::lock_guard<std::mutex> lock(m_);
    auto& p = peers_[port];
    if (!p) {
        auto fresh = std::make_unique<udpPeer>();
        if (!fresh->open(address_, port, why)) {
            peers_.erase(port);
            return nullptr;
        }
        p = std::move(fresh);
    }
    return p.get();
}

udpPeer& hpsdrP2Sim::at(uint16_t port) {
    std::lock_guard<std::mutex> lock(m_);
    auto it = peers_.find(port);
    if (it == peers_.end()) throw std::logic_error("port " + std::to_string(port) + " is not open");
    return *it->second;
}

std::optional<hpsdrP2Sim::endpoint> hpsdrP2Sim::host() { return at(1024).lastSender(); }

bool hpsdrP2Sim::send(uint16_t sourcePort, const std::vector<uint8_t>& bytes) {
    auto to = host();
    if (!to) return false;
    udpPeer* p = peer(sourcePort, nullptr);
    return p && p->sendTo(bytes, *to);
}

void hpsdrP2Sim::clear() {
    for (uint16_t port : listenPorts) at(port).clear();
}

std::vector<uint8_t> hpsdrP2Sim::statusPacket(uint8_t byte5, size_t length) {
    std::vector<uint8_t> p(length, 0);
    if (length > 5) p[5] = byte5;
    return p;
}

std::vector<uint8_t> hpsdrP2Sim::micPacket(uint32_t sequence) {
    std::vector<uint8_t> p(132, 0);
    put32(p.data(), sequence);
    return p;
}

std::vector<uint8_t> hpsdrP2Sim::wideBandPacket(uint32_t sequence, const std::vector<int16_t>& samples) {
    std::vector<uint8_t> p(1028, 0);
    put32(p.data(), sequence);
    for (size_t i = 0; i < 512 && i < samples.size(); ++i) {
        p[4 + 2 * i] = uint8_t(uint16_t(samples[i]) >> 8);
        p[5 + 2 * i] = uint8_t(samples[i]);
    }
    return p;
}

uint32_t hpsdrP2Sim::be32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b.at(at)) << 24 | uint32_t(b.at(at + 1)) << 16 | uint32_t(b.at(at + 2)) << 8 | b.at(at + 3);
}

long long hpsdrP2Sim::ddcFrequency(const std::vector<uint8_t>& highPriority, int d, int clockFrequency) {
    return std::llround(double(be32(highPriority, 9 + 4 * size_t(d))) * clockFrequency / 4294967296.0);
}
