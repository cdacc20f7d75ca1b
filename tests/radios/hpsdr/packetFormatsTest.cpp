// Protocol 1 packets byte for byte: the host's packets as the board reads
// them, and the board's packets (from the simulator's builders) decoded
// against the signal they were built from.
#include "radios/hpsdr/CommandControlFrame.h"
#include "radios/hpsdr/Ep2Packet.h"
#include "radios/hpsdr/Ep4Packet.h"
#include "radios/hpsdr/Ep6Packet.h"
#include "radios/hpsdr/StartStopPacket.h"
#include "radios/hpsdr/frequencyFolding.h"

#include "sim/hpsdrP1Sim.h"
#include "support/logCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

using cplx = std::complex<float>;

const unsigned char* bytes(const buff<char>& b) { return reinterpret_cast<const unsigned char*>(b.data); }
int be16(const unsigned char* p) { return int16_t(uint16_t(p[0] << 8 | p[1])); }
unsigned ube16(const unsigned char* p) { return unsigned(p[0] << 8 | p[1]); }

TEST(HpsdrPackets, StartStopPackets) {
    auto start = StartStopPacket::start(false), watchdogOff = StartStopPacket::start(true),
         stop = StartStopPacket::stop();
    std::vector<unsigned char> expected(64, 0);
    expected[0] = 0xEF, expected[1] = 0xFE, expected[2] = 0x04;
    for (auto [p, flags] : {std::pair{start, 0x03}, {watchdogOff, 0x83}, {stop, 0x00}}) {
        expected[3] = uint8_t(flags);
        ASSERT_EQ(p.count, 64u);
        EXPECT_EQ(std::vector<unsigned char>(bytes(p), bytes(p) + 64), expected) << flags;
    }
}

TEST(HpsdrPackets, Ep2HeaderFramesAndRamp) {
    const uint16_t* noRamp = nullptr;
    std::vector<uint16_t> ramp(4096);
    for (size_t k = 0; k < ramp.size(); ++k) ramp[k] = uint16_t(16 * k);

    transmitEncoding how;
    how.ramp = ramp.data();
    uint16_t rampIndex = 4090; // wraps inside the first packet's first frame
    std::vector<cplx> block(126, cplx{});
    std::vector<unsigned> lefts, rights;
    for (uint32_t seq : {0x01020304u, 0x01020305u}) {
        Ep2Packet p(seq);
        p.frame(0).setHeader(CommandControlFrame::c0(true, 45), 1, 2, 3, 4);
        p.frame(1).setHeader(CommandControlFrame::c0(false, 10), 5, 6, 7, 8);
        p.setSamples(block.data(), block.size(), how, rampIndex);
        const unsigned char* b = bytes(p.bytes);
        ASSERT_EQ(p.bytes.count, 1032u);
        EXPECT_EQ(std::vector<unsigned char>(b, b + 8),
                  (std::vector<unsigned char>{0xEF, 0xFE, 0x01, 0x02, 0x01, 0x02, 0x03, uint8_t(seq)}));
        EXPECT_EQ(std::vector<unsigned char>(b + 8, b + 16),
                  (std::vector<unsigned char>{0x7F, 0x7F, 0x7F, 0x5B, 1, 2, 3, 4})); // 45×2 | MOX
        EXPECT_EQ(std::vector<unsigned char>(b + 520, b + 528),
                  (std::vector<unsigned char>{0x7F, 0x7F, 0x7F, 0x14, 5, 6, 7, 8}));
        for (int f = 0; f < 2; ++f)
            for (int s = 0; s < 63; ++s) {
                const unsigned char* slot = b + 8 + 512 * f + 8 + 8 * s;
                lefts.push_back(ube16(slot));
                rights.push_back(ube16(slot + 2));
            }
    }
    ASSERT_EQ(lefts.size(), 252u);
    for (size_t k = 0; k < lefts.size(); ++k) {
        const unsigned want = (4090 + k) % 4096;
        ASSERT_EQ(lefts[k], want) << k;
        ASSERT_EQ(rights[k], 16 * want) << k;
    }
    EXPECT_EQ(rampIndex, (4090 + 252) % 4096);

    // Other boards: audio words stay 0 and the ramp does not move.
    how.ramp = noRamp;
    Ep2Packet p(0);
    p.setSamples(block.data(), block.size(), how, rampIndex);
    EXPECT_EQ(rampIndex, (4090 + 252) % 4096);
    for (size_t i = 8; i < 1032; ++i) EXPECT_EQ(p.bytes[i], 0) << i;
}

TEST(HpsdrPackets, TransmitIqWords) {
    transmitEncoding how;
    int16_t a, b;
    // Magnitude 2 at full drive: shortened to 32766, phase kept.
    for (double phase : {0.3, 1.9, -2.4}) {
        const cplx x(float(2 * std::cos(phase)), float(2 * std::sin(phase)));
        CommandControlFrame::iqWords(x, how, a, b);
        // Even zone: (−i, q).
        EXPECT_NEAR(std::hypot(a, b), 32766.0, 1.0);
        EXPECT_NEAR(std::atan2(double(b), -double(a)), phase, 1e-4);
        EXPECT_LE(std::abs(a), 32766);
        EXPECT_LE(std::abs(b), 32766);
    }
    // Halves away from zero (scale 1/32766 makes s exactly 1).
    how.iqScale = 1.0 / 32766.0;
    CommandControlFrame::iqWords(cplx(2.5f, -1.5f), how, a, b);
    EXPECT_EQ(a, -3);
    EXPECT_EQ(b, -2);
    // Odd zone: (q, −i).
    how.reversedZone = true;
    CommandControlFrame::iqWords(cplx(2.5f, -1.5f), how, a, b);
    EXPECT_EQ(a, -2);
    EXPECT_EQ(b, -3);
    // Whatever is not finite goes out as silence.
    how = {};
    for (cplx bad : {cplx(std::numeric_limits<float>::quiet_NaN(), 0.1f),
                     cplx(0.1f, std::numeric_limits<float>::infinity()),
                     cplx(-std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity())}) {
        CommandControlFrame::iqWords(bad, how, a, b);
        EXPECT_EQ(a, 0);
        EXPECT_EQ(b, 0);
    }

    // The zone comes from the transmit frequency: 7 MHz even, 40 MHz odd.
    const int clock = 73728000;
    EXPECT_EQ(IsFrequencyReversed(7000000, clock), 0);
    EXPECT_EQ(IsFrequencyReversed(40000000, clock), 1);

    // The internal keyer's form, and slots written in packet order.
    how.cwInternal = true;
    std::vector<cplx> block{cplx(1.5f, 0), cplx(0.9f, 5), cplx(-1.0f, 0), cplx(std::nanf(""), 0)};
    Ep2Packet p(0);
    uint16_t ri = 0;
    p.setSamples(block.data(), block.size(), how, ri);
    const unsigned char* s = bytes(p.bytes) + 16;
    const unsigned char want[4] = {3, 0, 3, 0};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(s[8 * k + 4], 0);
        EXPECT_EQ(s[8 * k + 5], want[k]) << k;
        EXPECT_EQ(s[8 * k + 6] | s[8 * k + 7], 0);
    }

    // Normal form into the packet: frame 1 starts with sample 63.
    how = {};
    std::vector<cplx> ramp(126);
    for (size_t k = 0; k < ramp.size(); ++k) ramp[k] = cplx(float(k) / 1000.0f, -float(k) / 2000.0f);
    Ep2Packet q(0);
    q.setSamples(ramp.data(), ramp.size(), how, ri);
    for (size_t k : {size_t(0), size_t(62), size_t(63), size_t(125)}) {
        const unsigned char* slot = bytes(q.bytes) + 8 + (k < 63 ? 0 : 512) + 8 + 8 * (k % 63);
        EXPECT_EQ(be16(slot + 4), std::lround(-32766.0 * ramp[k].real())) << k;
        EXPECT_EQ(be16(slot + 6), std::lround(32766.0 * ramp[k].imag())) << k;
    }
}

TEST(HpsdrPackets, FrequencyFolding) {
    const int clock = 73728000;
    EXPECT_EQ(getFoldedFrequency(40000000, clock), 33728000);
    EXPECT_EQ(getFoldedFrequency(80000000, clock), 6272000);
    EXPECT_EQ(getFoldedFrequency(14095600, clock), 14095600);
    EXPECT_EQ(IsFrequencyReversed(80000000, clock), 0);

    // No zones without a clock: unfolded, zone 0, one log line in all.
    LogCapture log;
    for (int bad : {0, 1, -5}) {
        EXPECT_EQ(getFoldedFrequency(40000000, bad), 40000000);
        EXPECT_EQ(IsFrequencyReversed(40000000, bad), 0);
    }
    EXPECT_LE(log.lines().size(), 1u);
}

TEST(HpsdrPackets, Ep6Fields) {
    // The extreme 24-bit fields, unscaled.
    unsigned char fields[6] = {0x80, 0x00, 0x00, 0x7F, 0xFF, 0xFF};
    cplx out;
    unpackhpsdr(&out, fields, 6, 1, 1.0f, true);
    EXPECT_EQ(out.real(), -2147483648.0f);
    EXPECT_EQ(out.imag(), float(2147483648.0 - 256));
    unpackhpsdr(&out, fields, 6, 1, 1.0f, false); // even zone: Q + jI
    EXPECT_EQ(out.imag(), -2147483648.0f);

    EXPECT_EQ(Ep6Frame::samplesPerFrame(1), 63u);
    EXPECT_EQ(Ep6Frame::samplesPerFrame(2), 36u);
    EXPECT_EQ(Ep6Frame::samplesPerFrame(7), 11u);
    EXPECT_EQ(Ep6Frame::samplesPerFrame(8), 10u);
}

TEST(HpsdrPackets, Ep6DecodesTheSimulatorsTones) {
    for (int n = 1; n <= 8; ++n) {
        SCOPED_TRACE(n);
        std::vector<std::vector<simTone>> tones(static_cast<size_t>(n));
        for (int r = 0; r < n; ++r) tones[size_t(r)] = {{0.3 + 0.05 * r, 0.01 * (r + 1) - 0.04, 0.2 * r}};
        ep6Stream stream(n, tones);
        const size_t m = stream.samplesPerFrame();
        const float scale = float(std::ldexp(1.0, -31));
        size_t k0 = 0;
        for (uint32_t seq = 41; seq < 44; ++seq) {
            simStatus s0{0x0D, 1, 2, 3, 4, uint8_t(n - 1)}, s1{};
            auto raw = stream.next(seq, s0, s1);
            auto p = Ep6Packet::parse(raw.data(), raw.size());
            ASSERT_TRUE(p);
            EXPECT_EQ(p->sequence(), seq);
            EXPECT_EQ(p->frame(0).ptt(), true);
            EXPECT_EQ(p->frame(0).key(), true);
            EXPECT_EQ(p->frame(0).address(), 1);
            EXPECT_EQ(p->frame(0).status16(0), 0x0102u);
            EXPECT_EQ(p->frame(0).status16(1), 0x0304u);
            for (int f = 0; f < 2; ++f) {
                auto frame = p->frame(f);
                ASSERT_EQ(frame.receivers(n), n);
                for (int r = 0; r < n; ++r) {
                    std::vector<cplx> got(m);
                    // In two pieces, as the receive blocks may ask for it.
                    size_t a = frame.samples(r, n, 0, m / 3, got.data(), scale, true);
                    size_t b = frame.samples(r, n, a, m, got.data() + a, scale, true);
                    ASSERT_EQ(a + b, m);
                    for (size_t k = 0; k < m; ++k) {
                        auto iq = stream.fields(r, k0 + f * m + k);
                        ASSERT_EQ(got[k], cplx(iq[0] * 256 * scale, iq[1] * 256 * scale)) << r << " " << k;
                    }
                }
            }
            k0 += 2 * m;
        }
    }
}

TEST(HpsdrPackets, Ep6AndEp4RefuseWhatIsNotThem) {
    ep6Stream stream(2, {});
    auto raw = stream.next(0);
    EXPECT_FALSE(Ep6Packet::parse(raw.data(), 1031)) << "short";
    EXPECT_FALSE(Ep4Packet::parse(raw.data(), raw.size())) << "Ep6 is not Ep4";
    raw[2] = 0x02;
    EXPECT_FALSE(Ep6Packet::parse(raw.data(), raw.size())) << "byte 2";

    // Receiver count from byte 2: only fewer than the radio has counts.
    raw[2] = 0x01;
    raw[8 + 2] = 0x02;
    auto p = Ep6Packet::parse(raw.data(), raw.size());
    ASSERT_TRUE(p);
    EXPECT_EQ(p->frame(0).receivers(4), 3);
    EXPECT_EQ(p->frame(0).receivers(3), 3);
    EXPECT_EQ(p->frame(0).receivers(2), 2);
    raw[8 + 2] = 0x7F;
    EXPECT_EQ(p->frame(0).receivers(5), 5);
    // Outside the frame nothing is converted.
    cplx sink[64];
    EXPECT_EQ(p->frame(0).samples(2, 2, 0, 10, sink, 1, false), 0u);
    EXPECT_EQ(p->frame(0).samples(0, 2, 36, 10, sink, 1, false), 0u);
    EXPECT_EQ(p->frame(0).samples(0, 100, 0, 10, sink, 1, false), 0u);

    // Ep4: little-endian samples at (s mod 4)·512.
    std::vector<int16_t> samples(512);
    for (int i = 0; i < 512; ++i) samples[size_t(i)] = int16_t(i * 64 - 16384);
    auto w = ep4Packet(7, samples);
    auto e = Ep4Packet::parse(w.data(), w.size());
    ASSERT_TRUE(e);
    EXPECT_EQ(e->sequence(), 7u);
    EXPECT_EQ(e->position(), 1536u);
    EXPECT_TRUE(e->completesFrame());
    EXPECT_EQ(e->sample(0), -16384);
    EXPECT_EQ(e->sample(511), 511 * 64 - 16384);
    EXPECT_FALSE(Ep4Packet::parse(w.data(), 1000));
    EXPECT_FALSE(Ep6Packet::parse(w.data(), w.size()));
}

} // namespace
