// Protocol 1 parsers and the transmit slot encoder on arbitrary bytes.
//
// Input: byte 0 picks the receiver count (1..8), byte 1 the ADC clock (0
// and 1 included, or 4 bytes of the input), bytes 2..5 a base receiver
// frequency, byte 6 the transmit encoding; the rest is one datagram. The
// datagram goes through the Ep6 and Ep4 parsers and the sample
// conversion, and, read as float samples, through the slot encoder; every
// output is checked against what the board may be sent or the receive
// chain may get.
#include "radios/hpsdr/CommandControlFrame.h"
#include "radios/hpsdr/Ep2Packet.h"
#include "radios/hpsdr/Ep4Packet.h"
#include "radios/hpsdr/Ep6Packet.h"
#include "radios/hpsdr/frequencyFolding.h"

#include <spdlog/spdlog.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

int clockFor(const uint8_t* p, size_t n) {
    static const int clocks[] = {0, 1, 2, 3, 73728000, 61440000, 122880000, -100};
    if (n < 2) return 73728000;
    if ((p[1] & 15) < 8) return clocks[p[1] & 7];
    return n >= 6 ? int(be32(p + 2)) : 73728000;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    spdlog::set_level(spdlog::level::off); // the clock note would flood the output
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 7) return 0;
    const int hw = 1 + data[0] % 8;
    const int clock = clockFor(data, size);
    const long long base = be32(data + 2) % 200000000u;
    const uint8_t flags = data[6];
    const uint8_t* d = data + 7;
    const size_t n = size - 7;

    // Folding stays inside the first zone whenever there are zones.
    for (int r = 0; r < hw; ++r) {
        const long long f = base * (r + 1);
        const long long folded = getFoldedFrequency(f, clock);
        if (clock >= 2) check(folded >= 0 && folded <= clock / 2);
        else check(folded == f);
        const int z = IsFrequencyReversed(f, clock);
        check(z == 0 || z == 1);
    }

    if (auto p = Ep6Packet::parse(d, n)) {
        (void)p->sequence();
        std::complex<float> out[64];
        const float scale = float(std::ldexp(1.0, -31));
        for (int f = 0; f < 2; ++f) {
            auto frame = p->frame(f);
            (void)frame.address();
            (void)frame.status16(0);
            (void)frame.status16(1);
            const int rx = frame.receivers(hw);
            check(rx >= 1 && rx <= hw);
            const size_t m = Ep6Frame::samplesPerFrame(rx);
            check(m * (6 * size_t(rx) + 2) <= Ep6Frame::sampleBytes);
            for (int r = 0; r < rx; ++r) {
                const bool odd = IsFrequencyReversed(base * (r + 1), clock);
                size_t got = frame.samples(r, rx, 0, 64, out, scale, odd);
                check(got == m);
                for (size_t k = 0; k < got; ++k)
                    check(std::fabs(out[k].real()) <= 1.0f && std::fabs(out[k].imag()) <= 1.0f);
            }
            check(frame.samples(rx, rx, 0, 64, out, scale, false) == 0);
        }
    }
    if (auto w = Ep4Packet::parse(d, n)) {
        check(w->position() + Ep4Packet::samplesPerPacket <= Ep4Packet::frameLength);
        int peak = 0;
        for (size_t i = 0; i < Ep4Packet::samplesPerPacket; ++i) peak = std::max(peak, std::abs(int(w->sample(i))));
        check(peak <= 32768);
    }

    // The datagram as transmit samples, any bit pattern included.
    std::vector<std::complex<float>> block(std::min<size_t>(n / 8, 126));
    if (!block.empty()) std::memcpy(block.data(), d, block.size() * 8);
    static uint16_t ramp[CommandControlFrame::rampLength];
    if (!ramp[1])
        for (size_t k = 0; k < CommandControlFrame::rampLength; ++k) ramp[k] = uint16_t(16 * k);
    transmitEncoding how;
    how.iqScale = (flags & 0x80) ? std::pow(10.0, -0.1 * (flags & 0x7F) / 20.0) : 1.0;
    how.reversedZone = IsFrequencyReversed(base, clock) != 0;
    how.cwInternal = flags & 1;
    how.ramp = (flags & 2) ? ramp : nullptr;
    uint16_t rampIndex = uint16_t(be32(data + 2) & 0xFFF);
    Ep2Packet packet(be32(data + 2));
    packet.setSamples(block.data(), block.size(), how, rampIndex);
    check(rampIndex < CommandControlFrame::rampLength);
    const auto* b = reinterpret_cast<const uint8_t*>(packet.bytes.data);
    for (int f = 0; f < 2; ++f)
        for (size_t s = 0; s < CommandControlFrame::slots; ++s) {
            const uint8_t* slot = b + 8 + 512 * f + 8 + 8 * s;
            const int a = int16_t(uint16_t(slot[4] << 8 | slot[5]));
            const int c = int16_t(uint16_t(slot[6] << 8 | slot[7]));
            if (how.cwInternal) {
                check(slot[4] == 0 && (slot[5] == 0 || slot[5] == 3) && slot[6] == 0 && slot[7] == 0);
            } else {
                check(std::abs(a) <= 32766 && std::abs(c) <= 32766);
                check(double(a) * a + double(c) * c <= 32767.0 * 32767.0);
            }
        }
    return 0;
}
