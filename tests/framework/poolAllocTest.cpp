#include "framework/poolAlloc.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

TEST(PoolAlloc, SizeClassesMatchTheTable) {
    struct {
        size_t n;
        int c;
    } cases[] = {{0, 5},    {1, 5},    {64, 5},   {96, 5},     {97, 6},      {128, 6},
                 {129, 7},  {192, 7},  {193, 8},  {320, 8},    {321, 9},     {576, 9},
                 {577, 10}, {4128, 12}, {4160, 12}, {4161, 13}, {(1u << 20) + 64, 20}, {(1u << 20) + 65, 21}};
    for (auto& t : cases) {
        EXPECT_EQ(vireo::poolSizeClass(t.n), t.c) << "n=" << t.n;
        EXPECT_GE(vireo::poolBlockSize(t.c), t.n) << "block holds the request, n=" << t.n;
    }
}

TEST(PoolAlloc, FreedBlockIsReusedForTheSameClassAndStaysAligned) {
    void* a = poolAlloc(4128);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 32, 0u);
    poolFree(a, 4128);
    void* b = poolAlloc(4100); // same class 12
    EXPECT_EQ(a, b);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 32, 0u);
    poolFree(b, 4100);

    void* small = poolAlloc(1);
    poolFree(small, 1);
    EXPECT_EQ(poolAlloc(96), small); // 1 and 96 bytes share class 5
    poolFree(small, 96);
}

TEST(PoolAlloc, AbsurdSizesGiveNullInsteadOfAWrongBlock) {
    EXPECT_EQ(poolAlloc(SIZE_MAX), nullptr);
    EXPECT_EQ(poolAlloc(SIZE_MAX / 2), nullptr);
    poolFree(nullptr, 64); // harmless
}

TEST(PoolAlloc, ConcurrentAllocateAndFreeNeverHandsOutABlockTwice) {
    constexpr int threads = 8, rounds = 2000;
    std::vector<std::thread> ts;
    std::atomic<bool> clash{false};
    for (int t = 0; t < threads; ++t)
        ts.emplace_back([&, t] {
            for (int r = 0; r < rounds; ++r) {
                auto* p = static_cast<uint32_t*>(poolAlloc(200));
                if (!p) continue;
                p[0] = uint32_t(t);
                p[1] = uint32_t(r);
                std::this_thread::yield();
                if (p[0] != uint32_t(t) || p[1] != uint32_t(r)) clash.store(true);
                poolFree(p, 200);
            }
        });
    for (auto& t : ts) t.join();
    EXPECT_FALSE(clash.load());
}
