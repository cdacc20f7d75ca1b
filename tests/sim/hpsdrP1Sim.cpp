#include "sim/hpsdrP1Sim.h"

#include <cmath>

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
