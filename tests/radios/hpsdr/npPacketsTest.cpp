// Protocol 2 packets without a network: the DDC specific and High priority
// packets byte for byte against tables written out here (with the counts
// the packets cannot hold), the readers of what a board sends against a
// plain reference conversion, and the pacing of lines a peer can provoke.
#include "radios/hpsdr/NpBoardPackets.h"
#include "radios/hpsdr/NpHostPackets.h"
#include "radios/hpsdr/throttledLog.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <complex>
#include <map>
#include <vector>

namespace {

using bytes = std::map<size_t, uint8_t>;

/// Every byte of p: those in want as given, all others 0.
void expectBytes(const buff<char>& p, size_t length, const bytes& want) {
    ASSERT_EQ(p.count, length);
    for (size_t i = 0; i < length; ++i) {
        auto it = want.find(i);
        ASSERT_EQ(uint8_t(p[i]), it == want.end() ? 0 : it->second) << "byte " << i;
    }
}

void put(bytes& b, size_t at, std::initializer_list<uint8_t> v) {
    for (uint8_t x : v) b[at++] = x;
}

void putWord(bytes& b, size_t at, uint32_t w) { put(b, at, {uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w)}); }

} // namespace

TEST(NpHostPackets, DdcPacketEnablesReceiversAndCarriesTheRate) {
    struct row {
        int receivers, ddcs, rate;
        uint8_t enable0, enable1;
        uint8_t rateHigh, rateLow;
    };
    const row rows[] = {
        {1, 1, 48000, 0x01, 0x00, 0x00, 0x30},   {10, 10, 48000, 0xFF, 0x03, 0x00, 0x30},
        {16, 16, 96000, 0xFF, 0xFF, 0x00, 0x60}, {20, 20, 384000, 0xFF, 0xFF, 0x01, 0x80},
        {1, 4, 1536000, 0x01, 0x00, 0x06, 0x00}, {0, 1, 48000, 0x00, 0x00, 0x00, 0x30},
        // 2^16 kHz and more: the field keeps the low 16 bits.
        {2, 1, 65537999, 0x03, 0x00, 0x00, 0x01},
        // Past 80 blocks nothing is written: no spill into the rest.
        {3, 400, 48000, 0x07, 0x00, 0x00, 0x30},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.receivers << " receivers, " << r.ddcs << " DDCs, " << r.rate);
        bytes want{{4, 2}};
        if (r.enable0) want[7] = r.enable0;
        if (r.enable1) want[8] = r.enable1;
        for (int d = 0; d < std::min(r.ddcs, 80); ++d) put(want, 17 + 6 * size_t(d), {0, r.rateHigh, r.rateLow, 0, 0, 24});
        for (auto it = want.begin(); it != want.end();) it = it->second ? std::next(it) : want.erase(it);
        expectBytes(NpHostPackets::ddc(r.receivers, r.ddcs, r.rate), 1444, want);
    }
}

TEST(NpHostPackets, HighPriorityPhaseWordsAttenuationAndRunBitOnly) {
    const int clock = 122880000;
    EXPECT_EQ(NpHostPackets::phaseWord(7074000, clock), 0x0EBCCCCDu);
    EXPECT_EQ(NpHostPackets::phaseWord(1000000, clock), 0x02155555u);
    EXPECT_EQ(NpHostPackets::phaseWord(-1, clock), 0u);
    EXPECT_EQ(NpHostPackets::phaseWord(clock, clock), 0xFFFFFFFFu) << "2^32 is clamped";
    EXPECT_EQ(NpHostPackets::phaseWord(LLONG_MAX, clock), 0xFFFFFFFFu);
    EXPECT_EQ(NpHostPackets::phaseWord(LLONG_MIN, clock), 0u);
    EXPECT_EQ(NpHostPackets::phaseWord(1, 8), 536870912u);
    for (int c : {1, 0, -122880000, INT_MIN}) EXPECT_EQ(NpHostPackets::phaseWord(7074000, c), 0u) << c;

    {
        // Two receivers, four DDCs: the spare DDCs and the DUC take receiver 0.
        bytes want{{4, 1}};
        const uint32_t w0 = 0x0EBCCCCD, w1 = NpHostPackets::phaseWord(70000000, clock);
        putWord(want, 9, w0);
        putWord(want, 13, w1);
        putWord(want, 17, w0);
        putWord(want, 21, w0);
        putWord(want, 329, w0);
        put(want, 1432, {0x21, 0x00, 0x10});
        want[1443] = 20;
        expectBytes(NpHostPackets::highPriority(true, {7074000, 70000000}, 4, clock, 0 - (-20)), 1444, want);
    }
    {
        // 400 DDCs and 90 receivers: 80 words, the control word intact, the
        // attenuation cut to 8 bits, stopped.
        std::vector<long long> f(90);
        for (size_t d = 0; d < f.size(); ++d) f[d] = 1000000LL * (static_cast<long long>(d) + 1);
        bytes want;
        for (int d = 0; d < 80; ++d) putWord(want, 9 + 4 * size_t(d), NpHostPackets::phaseWord(f[size_t(d)], clock));
        putWord(want, 329, 0x02155555);
        put(want, 1432, {0x21, 0x00, 0x10});
        want[1443] = 0xD4; // -300
        expectBytes(NpHostPackets::highPriority(false, f, 400, clock, -300), 1444, want);
    }
    {
        // A clock without zones: every word 0; no receivers at all: the
        // same; negative DDC counts write nothing.
        bytes want{{4, 1}};
        put(want, 1432, {0x21, 0x00, 0x10});
        expectBytes(NpHostPackets::highPriority(true, {7074000, 1000000}, 3, 1, 0), 1444, want);
        expectBytes(NpHostPackets::highPriority(true, {}, 3, clock, 0), 1444, want);
        expectBytes(NpHostPackets::highPriority(true, {}, -5, clock, 256), 1444, want);
    }
}

TEST(NpHostPackets, StoresAndTheDucPacket) {
    char b[8] = {};
    NpHostPackets::writeUInt32(b, 1, 0xA1B2C3D4u);
    NpHostPackets::writeInt16(b, 5, -2);
    EXPECT_EQ(std::vector<uint8_t>(b, b + 8), (std::vector<uint8_t>{0, 0xA1, 0xB2, 0xC3, 0xD4, 0xFF, 0xFE, 0}));
    NpHostPackets::writeInt32(b, 0, -16);
    NpHostPackets::writeInt16(b, 6, 0x12345);
    EXPECT_EQ(std::vector<uint8_t>(b, b + 8), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xF0, 0xD4, 0xFF, 0x23, 0x45}));

    bytes want;
    putWord(want, 0, 0x01020304);
    expectBytes(NpHostPackets::duc(0x01020304), 1444, want);
}

TEST(NpBoardPackets, ReadersConvertWhatArrivedAndRefuseShortDatagrams) {
    std::vector<unsigned char> p(1444);
    for (size_t i = 0; i < p.size(); ++i) p[i] = uint8_t(i * 37 + 11);
    p[0] = 0x80, p[1] = 0x00, p[2] = 0x01, p[3] = 0xFF;
    EXPECT_FALSE(DDCIQPacket::parse(p.data(), 1443));
    EXPECT_FALSE(DDCIQPacket::parse(nullptr, 1444));
    auto packet = DDCIQPacket::parse(p.data(), 1500);
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->sequence(), 0x800001FFu);

    // Reference: each field sign-extended from 24 bits, scaled as the
    // 32-bit word it fills the top of.
    auto field = [&](size_t at) {
        int v = p[at] << 16 | p[at + 1] << 8 | p[at + 2];
        if (v & 0x800000) v -= 1 << 24;
        return double(v) * 256.0;
    };
    const double gain = std::pow(10.0, 20.0 / 20.0); // rxGain -20
    const float scale = float(1.0 / 2147483647.0 * gain);
    for (bool odd : {false, true}) {
        std::vector<std::complex<float>> out(238, {-9.0f, -9.0f});
        // In pieces, as the receive blocks ask for them.
        size_t done = 0;
        for (size_t piece : {100, 1, 137}) done += packet->convert(out.data() + done, done, piece, scale, odd);
        ASSERT_EQ(done, 238u);
        std::vector<std::complex<float>> spare(50);
        EXPECT_EQ(packet->convert(spare.data(), 238, 5, scale, odd), 0u);
        EXPECT_EQ(packet->convert(spare.data(), 230, 50, scale, odd), 8u) << "never past the last sample";
        EXPECT_EQ(spare[7], out[237]);
        for (size_t k = 0; k < 238; ++k) {
            const double i = field(16 + 6 * k) / 2147483647.0 * gain, q = field(19 + 6 * k) / 2147483647.0 * gain;
            const std::complex<double> want = odd ? std::complex<double>(i, q) : std::complex<double>(q, i);
            ASSERT_NEAR(out[k].real(), want.real(), 1e-6 * gain) << k << (odd ? " odd" : " even");
            ASSERT_NEAR(out[k].imag(), want.imag(), 1e-6 * gain) << k;
        }
    }

    EXPECT_FALSE(WideBandPacket::parse(p.data(), 1027));
    auto wide = WideBandPacket::parse(p.data(), 1028);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->position(), 3u * 512u) << "low two bits of 0x800001FF";
    EXPECT_EQ(wide->sampleBytes(), p.data() + 4);

    EXPECT_FALSE(HighPriorityStatusPacket::parse(p.data(), 5));
    p[5] = 0xFE;
    EXPECT_FALSE(HighPriorityStatusPacket::parse(p.data(), 6)->adcOverload());
    p[5] = 0x01;
    EXPECT_TRUE(HighPriorityStatusPacket::parse(p.data(), 6)->adcOverload());
}

TEST(ThrottledLog, FirstAtOnceThenOnceASecondWithTheCount) {
    throttledLog log;
    const auto t0 = throttledLog::clock::time_point{} + std::chrono::hours(1);
    std::vector<int> due;
    for (int ms : {0, 1, 500, 999, 1000, 1001, 1999, 2500, 2600, 9000})
        if (log.note(t0 + std::chrono::milliseconds(ms))) due.push_back(ms);
    EXPECT_EQ(due, (std::vector<int>{0, 1000, 2500, 9000}));
    EXPECT_EQ(log.total(), 10u);
}
