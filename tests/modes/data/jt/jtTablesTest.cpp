// The protocol tables as published (spot values and the parity-check graphs
// against the published encoders), the Gaussian step shapes, and the CRCs
// against Boost's own CRC engine.
#include "modes/data/ftgauss.h"
#include "modes/data/jt/bpDecode.h"
#include "modes/data/jt/crc.h"
#include "modes/data/jt/jtTables.h"
#include "modes/data/jt/likelihood.h"

#include "jtEncode.h"

#include <boost/crc.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace {

using namespace jttest;

TEST(JtTables, SpotValuesAndBothParityGraphsHoldEveryPublishedCodeword) {
    const uint8_t costas8[7] = {3, 1, 4, 0, 6, 5, 2}, costasJs8[7] = {4, 2, 5, 6, 1, 3, 0};
    const uint8_t gray8[8] = {0, 1, 3, 2, 5, 6, 4, 7}, gray4[4] = {0, 1, 3, 2};
    const uint8_t costas4[4][4] = {{0, 1, 3, 2}, {1, 0, 2, 3}, {2, 3, 1, 0}, {3, 2, 0, 1}};
    const uint8_t scramble[10] = {0x4A, 0x5E, 0x89, 0xB4, 0xB0, 0x8A, 0x79, 0x55, 0xBE, 0x28};
    EXPECT_TRUE(std::equal(costas8, costas8 + 7, ft8::kCostas));
    EXPECT_TRUE(std::equal(costasJs8, costasJs8 + 7, js8::kCostas));
    EXPECT_TRUE(std::equal(gray8, gray8 + 8, ft8::kGrayMap));
    EXPECT_TRUE(std::equal(gray4, gray4 + 4, ft4::kGrayMap));
    for (int i = 0; i < 8; ++i) EXPECT_EQ(js8::kGrayMap[i], i);
    for (int g = 0; g < 4; ++g) EXPECT_TRUE(std::equal(costas4[g], costas4[g] + 4, ft4::kCostas[g]));
    EXPECT_TRUE(std::equal(scramble, scramble + 10, ft4::kScramble));

    struct Code {
        Mode mode;
        int checks;
        const uint8_t (*nm)[7];
        const uint8_t (*mn)[3];
        const uint8_t* nrw;
        int minRow, maxRow;
    };
    for (const Code& c : {Code{Mode::ft8, 83, ft8::kNm, ft8::kMn, ft8::kNrw, 6, 7},
                          Code{Mode::js8, 87, js8::kNm, js8::kMn, js8::kNrw, 5, 7}}) {
        SCOPED_TRACE(name(c.mode));
        ASSERT_EQ(int(generator(c.mode).size()), c.checks);
        // One graph seen from both sides: every bit in 3 checks, every edge
        // listed once each way.
        std::set<std::pair<int, int>> fromChecks, fromBits;
        int edges = 0;
        for (int m = 0; m < c.checks; ++m) {
            EXPECT_GE(c.nrw[m], c.minRow);
            EXPECT_LE(c.nrw[m], c.maxRow);
            for (int i = 0; i < c.nrw[m]; ++i) fromChecks.insert({c.nm[m][i], m});
            edges += c.nrw[m];
        }
        for (int n = 0; n < 174; ++n)
            for (int j = 0; j < 3; ++j) fromBits.insert({n, c.mn[n][j]});
        EXPECT_EQ(edges, 174 * 3);
        EXPECT_EQ(fromChecks, fromBits);

        // Codewords of the published encoder pass every check; the decoder
        // takes them straight back, and corrects a few flipped soft bits.
        std::mt19937 rng(c.checks);
        for (int trial = 0; trial < 20; ++trial) {
            const Payload p = randomPayload(c.mode, rng);
            const auto bits = codeword(c.mode, p);
            for (int m = 0; m < c.checks; ++m) {
                int x = 0;
                for (int i = 0; i < c.nrw[m]; ++i) x ^= bits[c.nm[m][i]];
                ASSERT_EQ(x, 0) << "check " << m;
            }
            float soft[174];
            for (int n = 0; n < 174; ++n) soft[n] = bits[size_t(n)] ? 4.0f : -4.0f;
            for (int k = 0; k < 8; ++k) soft[rng() % 174] *= -0.5f;
            uint8_t plain[174];
            int failed = -1;
            if (c.mode == Mode::js8)
                js8::bp_decode(soft, 50, plain, &failed);
            else
                ft8::bp_decode(soft, 25, plain, &failed);
            EXPECT_EQ(failed, 0);
            EXPECT_TRUE(std::equal(plain, plain + 174, bits.begin()));
        }
        uint8_t plain[174];
        float soft[174] = {};
        int failed = -1;
        ft8::bp_decode(soft, 0, plain, &failed);
        EXPECT_EQ(failed, 83) << "no iteration: every check counts as failed";
        // Soft values that do not vary are left alone rather than scaled by
        // 1/0; others come out with a variance of 16.
        std::fill(soft, soft + 174, 7.0f);
        EXPECT_FALSE(ft8::normalize_likelihood(soft));
        EXPECT_EQ(soft[100], 7.0f);
        for (int n = 0; n < 174; ++n) soft[n] = float(n % 9) - 2.0f;
        ASSERT_TRUE(ft8::normalize_likelihood(soft));
        double sum = 0, sum2 = 0;
        for (float x : soft) {
            sum += x;
            sum2 += double(x) * x;
        }
        EXPECT_NEAR(sum2 / 174 - (sum / 174) * (sum / 174), 16.0, 1e-3);
    }
}

TEST(JtTables, GaussianStepShapesHoldTheTellingRows) {
    struct Row {
        const ft8::gaussTable& table;
        int sharpness, index;
        double value;
    };
    const Row rows[] = {
        {ft8::ftgauss_1, 1, 0, 0.0000805},  {ft8::ftgauss_1, 1, 256, 0.029595}, {ft8::ftgauss_1, 1, 512, 0.500028},
        {ft8::ftgauss_1, 1, 768, 0.970461}, {ft8::ftgauss_1, 1, 1024, 0.999895}, {ft8::ftgauss_2, 2, 0, 0.0},
        {ft8::ftgauss_2, 2, 256, 0.0000805}, {ft8::ftgauss_2, 2, 768, 0.999976}, {ft8::ftgauss_10, 10, 480, 0.009177},
        {ft8::ftgauss_10, 10, 544, 0.99088}, {ft8::ftgauss_50, 50, 500, 0.000005}, {ft8::ftgauss_50, 50, 524, 1.000052},
    };
    for (const Row& r : rows) EXPECT_NEAR(r.table[size_t(r.index)], r.value, 0.0001) << r.sharpness << " at " << r.index;
    for (const auto* t : {&ft8::ftgauss_1, &ft8::ftgauss_2, &ft8::ftgauss_10, &ft8::ftgauss_50}) {
        EXPECT_NEAR((*t)[512], 0.500028, 1e-6);
        EXPECT_NEAR((*t)[1024], 1.000056, 0.0002);
        for (size_t i = 1; i < t->size(); ++i) ASSERT_GE((*t)[i], (*t)[i - 1]);
    }
}

/// FT8's CRC-14 is the plain polynomial division of the 82 message bits,
/// JS8's CRC-12 the remainder of the bytes as they stand.
TEST(JtTables, CrcsAgreeWithBoost) {
    std::mt19937 rng(14);
    for (int trial = 0; trial < 200; ++trial) {
        uint8_t a[12] = {};
        for (int i = 0; i < 10; ++i) a[i] = uint8_t(rng());
        a[9] &= 0xF8;
        boost::crc_basic<14> reference(0x2757, 0, 0, false, false);
        for (int i = 0; i < 82; ++i) reference.process_bit((a[i / 8] >> (7 - i % 8)) & 1);
        ASSERT_EQ(ft8::crc(a, 82), reference.checksum());

        // Augmented: the remainder of the message itself, taken as one
        // polynomial; Boost's direct engine gives the same from all but the
        // last 12 bits, with those bits added on.
        const int len = 2 + int(rng() % 20);
        std::vector<uint8_t> bytes(static_cast<size_t>(len));
        for (auto& b : bytes) b = uint8_t(rng());
        const int bits = 8 * len;
        boost::crc_basic<12> direct(0xC06, 0, 0, false, false);
        unsigned tail = 0;
        for (int i = 0; i < bits; ++i) {
            const bool bit = (bytes[size_t(i / 8)] >> (7 - i % 8)) & 1;
            if (i < bits - 12)
                direct.process_bit(bit);
            else
                tail = tail << 1 | unsigned(bit);
        }
        ASSERT_EQ(js8::crc(bytes.data(), len), direct.checksum() ^ tail);

        // A word whose last 12 bits hold the CRC of the rest checks to 0;
        // one flipped bit does not.
        bytes[size_t(len - 2)] &= 0xF0;
        bytes[size_t(len - 1)] = 0;
        const unsigned c = js8::crc(bytes.data(), len);
        bytes[size_t(len - 2)] |= uint8_t(c >> 8);
        bytes[size_t(len - 1)] = uint8_t(c);
        ASSERT_EQ(js8::crc(bytes.data(), len), 0);
        bytes[rng() % bytes.size()] ^= uint8_t(1u << (rng() % 8));
        ASSERT_NE(js8::crc(bytes.data(), len), 0);
    }
    uint8_t packed[2] = {0xFF, 0xFF};
    const uint8_t bits[9] = {1, 0, 1, 1, 0, 0, 0, 1, 1};
    ft8::pack_bits(bits, 9, packed);
    EXPECT_EQ(packed[0], 0xB1);
    EXPECT_EQ(packed[1], 0x80);
    ft8::pack_bits(bits, 0, packed);
    EXPECT_EQ(packed[0], 0);
}

} // namespace
