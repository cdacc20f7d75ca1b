// Protocol 2 packets without a network: the High priority packet byte for
// byte against tables written out here (with the counts and clocks the
// packet cannot hold), the stores and the DUC packet, and the pacing of
// lines a peer can provoke. The radio's tests check the rest on the wire.
#include "radios/hpsdr/NpHostPackets.h"
#include "framework/throttledLog.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
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

TEST(ThrottledLog, FirstAtOnceThenOnceASecondWithTheCount) {
    throttledLog log;
    const auto t0 = throttledLog::clock::time_point{} + std::chrono::hours(1);
    std::vector<int> due;
    for (int ms : {0, 1, 500, 999, 1000, 1001, 1999, 2500, 2600, 9000})
        if (log.note(t0 + std::chrono::milliseconds(ms))) due.push_back(ms);
    EXPECT_EQ(due, (std::vector<int>{0, 1000, 2500, 9000}));
    EXPECT_EQ(log.total(), 10u);
}
