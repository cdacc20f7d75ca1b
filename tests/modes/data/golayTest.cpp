// The Golay (23,12) code against its known structure: codewords are the
// multiples of the generator with the weight distribution of the perfect
// code, every pattern of up to three errors is corrected and counted, and
// the tables come out right when many threads reach them first together.
#include "modes/data/chirp/golay.h"

#include <gtest/gtest.h>

#include <bit>
#include <latch>
#include <map>
#include <set>
#include <thread>
#include <vector>

namespace {

/// Remainder of a polynomial over GF(2) by another, bit by bit from the top:
/// the reference the tables are checked against.
uint32_t polyMod(uint64_t p, uint64_t g) {
    const int dg = std::bit_width(g) - 1;
    for (int b = 63; b >= dg; --b)
        if (p >> b & 1) p ^= g << (b - dg);
    return uint32_t(p);
}

TEST(Golay, CodewordsAreTheGeneratorsMultiplesWithThePerfectCodesWeights) {
    std::map<int, int> weights;
    for (uint32_t m = 0; m < 4096; ++m) {
        const uint32_t c = encode_golay(m);
        ASSERT_EQ(c >> 11, m);
        ASSERT_EQ(polyMod(c, 0xC75), 0u) << m;
        ASSERT_EQ(get_syndrome(c), 0u);
        ASSERT_EQ(c, gen_enc_table()[m]);
        ++weights[std::popcount(c)];
        int errors = -1;
        ASSERT_EQ(decode_golay(c, &errors), m);
        ASSERT_EQ(errors, 0);
    }
    // The weight enumerator of the binary Golay code: minimum distance 7.
    const std::map<int, int> golay{{0, 1}, {7, 253}, {8, 506}, {11, 1288}, {12, 1288}, {15, 506}, {16, 253}, {23, 1}};
    EXPECT_EQ(weights, golay);
    EXPECT_EQ(encode_golay(0x1000 | 5), encode_golay(5)) << "only 12 bits of the value count";

    int errors = -1;
    EXPECT_EQ(decode_golay(encode_golay(1234), &errors), 1234u);
    EXPECT_EQ(errors, 0);
}

TEST(Golay, EveryPatternOfUpToThreeErrorsIsCorrectedAndCounted) {
    // Every pattern, from the enumeration the decoder is built with.
    std::vector<std::pair<uint32_t, int>> patterns{{0, 0}};
    for (int w = 1; w <= 3; ++w) {
        int a[3] = {0, 1, 2};
        do patterns.emplace_back(arr2int(a, w), w);
        while (nextcomb(23, w, a));
    }
    ASSERT_EQ(patterns.size(), 2048u);
    std::set<uint32_t> syndromes;
    for (auto [e, w] : patterns) {
        ASSERT_EQ(std::popcount(e), w);
        ASSERT_LT(e, 1u << 23);
        syndromes.insert(get_syndrome(e));
    }
    EXPECT_EQ(syndromes.size(), 2048u) << "a perfect code: one pattern per syndrome";

    const uint8_t* weight = nullptr;
    const uint32_t* table = gen_dec_table(&weight);
    for (auto [e, w] : patterns) {
        ASSERT_EQ(table[get_syndrome(e)], e);
        ASSERT_EQ(weight[get_syndrome(e)], w);
    }
    for (uint32_t m : {0u, 1234u, 2947u, 4095u, 0xA5Au}) {
        for (auto [e, w] : patterns) {
            int errors = -1;
            ASSERT_EQ(decode_golay(encode_golay(m) ^ e, &errors), m) << std::hex << e;
            ASSERT_EQ(errors, w);
        }
    }
    // Four errors lie within three of another codeword: decoded wrongly,
    // without a sign of it.
    int errors = -1;
    const uint32_t wrong = decode_golay(encode_golay(1234) ^ 0b1111, &errors);
    EXPECT_NE(wrong, 1234u);
    EXPECT_LE(errors, 3);
    EXPECT_EQ(std::popcount(encode_golay(wrong) ^ encode_golay(1234) ^ 0b1111u), errors);
}

TEST(Golay, BitsAboveTheWordAreIgnored) {
    // A word with only bits above 22 set has no leading term the division
    // can find: it must still end, as the word's low 23 bits would.
    EXPECT_EQ(get_syndrome(1u << 23), 0u);
    EXPECT_EQ(get_syndrome(0xFF800000u | 0x1234u), get_syndrome(0x1234u));
    int errors = -1;
    EXPECT_EQ(decode_golay(0xFF800000u | (encode_golay(2947) ^ 0x40001u), &errors), 2947u);
    EXPECT_EQ(errors, 2);
}

TEST(Golay, TablesBuiltOnceWhenManyThreadsReachThemFirst) {
    // Nothing in this process has touched the tables yet (one test per
    // process): the threads race to their first use.
    constexpr int threads = 8;
    std::latch start(threads);
    std::vector<int> wrong(threads, 0);
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            start.arrive_and_wait();
            for (uint32_t m = uint32_t(t); m < 4096; m += 61) {
                int errors = -1;
                if (t % 2 == 0 && decode_golay(encode_golay(m) ^ (1u << (m % 23)), &errors) != m) ++wrong[t];
                if (t % 2 == 1 && (gen_dec_table()[get_syndrome(1u << (m % 23))] != 1u << (m % 23) ||
                                   gen_enc_table()[m] != encode_golay(m)))
                    ++wrong[t];
            }
        });
    for (auto& th : pool) th.join();
    for (int t = 0; t < threads; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
}

} // namespace
