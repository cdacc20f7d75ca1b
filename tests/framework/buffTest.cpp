#include "dsp/buff.h"

#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <thread>
#include <vector>

using cbuff = buff<std::complex<float>>;

TEST(Buff, EmptyBufferHasNoStorage) {
    buff<float> b(0);
    EXPECT_EQ(b.count, 0u);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.use_count(), 0);
    buff<float> d;
    EXPECT_EQ(d.data, nullptr);
}

TEST(Buff, SamplesSitInOnePoolBlockThatIsReusedAfterTheLastCopy) {
    void* samples;
    {
        cbuff a(512);
        samples = a.data;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(a.data) % 32, 0u);
        cbuff copy = a;
        EXPECT_EQ(a.use_count(), 2);
        a = cbuff();
        EXPECT_EQ(copy.use_count(), 1);
    }
    // The 512-sample complex buffer takes one 4160-byte block (32-byte header
    // in front): the next such buffer reuses it, and a raw request of that
    // class gets the same block back.
    cbuff again(512);
    EXPECT_EQ(again.data, samples);
    again = cbuff();
    void* block = poolAlloc(4128);
    EXPECT_EQ(static_cast<char*>(block) + 32, samples);
    poolFree(block, 4128);
}

TEST(Buff, FillValueConstructorSetsEverySample) {
    buff<double> b(37, 1.5);
    for (double v : b) EXPECT_EQ(v, 1.5);
}

TEST(Buff, SliceWritesThroughAndKeepsStorageAlive) {
    cbuff slice;
    {
        cbuff src(512, {0, 0});
        slice = cbuff(src, 100, 412);
        ASSERT_EQ(slice.count, 412u);
        EXPECT_EQ(slice.data, src.data + 100);
        for (auto& s : slice) s = {1, 2};
        EXPECT_EQ(src[99], std::complex<float>(0, 0));
        EXPECT_EQ(src[100], std::complex<float>(1, 2));
        EXPECT_EQ(src[511], std::complex<float>(1, 2));
        cbuff sliceOfSlice(slice, 10, 2);
        EXPECT_EQ(sliceOfSlice.data, src.data + 110);
    }
    EXPECT_EQ(slice.use_count(), 1);
    EXPECT_EQ(slice[411], std::complex<float>(1, 2));
}

TEST(Buff, BadSlicesAreEmptyWithATrace) {
    cbuff src(512);
    struct {
        size_t offset, len;
        const char* trace;
    } bad[] = {
        {500, 20, " buff slice error 500  20  512 8"},
        {513, 0, " buff slice error 513  0  512 8"},
        // offset + len wraps around: must still be refused
        {8, SIZE_MAX - 4, " buff slice error 8  18446744073709551611  512 8"},
        // a negative count from a caller's int
        {0, size_t(-1), " buff slice error 0  18446744073709551615  512 8"},
    };
    for (auto& t : bad) {
        testing::internal::CaptureStdout();
        cbuff s(src, t.offset, t.len);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), t.trace);
        EXPECT_EQ(s.count, 0u);
        EXPECT_EQ(s.data, nullptr);
        EXPECT_EQ(s.use_count(), 0);
    }
    cbuff whole(src, 0, 512);
    EXPECT_EQ(whole.count, 512u);
    cbuff end(src, 512, 0);
    EXPECT_EQ(end.count, 0u);
}

TEST(Buff, CopyRulesSkipShortDestinations) {
    buff<float> big(1024, 3.0f), small(512, 7.0f);
    testing::internal::CaptureStdout();
    big.copyTo(small);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "buff copyTo error ");
    EXPECT_EQ(small[0], 7.0f);

    testing::internal::CaptureStdout();
    small.copy(big);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), " buff copy error1024 > 512");
    EXPECT_EQ(small[511], 7.0f);

    small.copyTo(big);
    EXPECT_EQ(big[0], 7.0f);
    EXPECT_EQ(big[511], 7.0f);
    EXPECT_EQ(big[512], 3.0f);
    buff<float> other(600, 1.0f);
    other.copy(small);
    EXPECT_EQ(other[511], 7.0f);
    EXPECT_EQ(other[512], 1.0f);
}

TEST(Buff, CopiesMayBeReleasedOnManyThreadsAtOnce) {
    cbuff src(512, {1, 1});
    std::vector<std::thread> ts;
    for (int t = 0; t < 8; ++t)
        ts.emplace_back([src] {
            for (int i = 0; i < 10000; ++i) {
                cbuff c = src;
                cbuff s(c, 1, 10);
                (void)s;
            }
        });
    for (auto& t : ts) t.join();
    EXPECT_EQ(src.use_count(), 1);
}
