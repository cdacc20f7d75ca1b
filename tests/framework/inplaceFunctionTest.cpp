#include "framework/inplaceFunction.h"
#include "framework/seqTask.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>

TEST(InplaceFunction, EmptyThrowsBadFunctionCall) {
    stdext::inplace_function<void(), 112, 8> f;
    EXPECT_FALSE(f);
    EXPECT_THROW(f(), std::bad_function_call);
    f = [] {};
    EXPECT_TRUE(f);
    f = nullptr;
    EXPECT_THROW(f(), std::bad_function_call);
}

TEST(InplaceFunction, CopyMoveAndDestroyTrackTheCapturesExactly) {
    auto token = std::make_shared<int>(5);
    {
        stdext::inplace_function<int(int), 112, 8> f = [token](int x) { return *token + x; };
        EXPECT_EQ(token.use_count(), 2);
        auto g = f; // copy
        EXPECT_EQ(token.use_count(), 3);
        auto h = std::move(f); // relocate: the source gives its capture up
        EXPECT_EQ(token.use_count(), 3);
        EXPECT_THROW(f(1), std::bad_function_call);
        EXPECT_EQ(g(1), 6);
        EXPECT_EQ(h(2), 7);
        g = h; // assignment destroys g's old capture
        EXPECT_EQ(token.use_count(), 3);
        g = nullptr;
        EXPECT_EQ(token.use_count(), 2);
    }
    EXPECT_EQ(token.use_count(), 1);
}

TEST(InplaceFunction, RequestHoldsAFullSizedCaptureInPlace) {
    std::array<char, 100> big{};
    big[99] = 42;
    seqTask t;
    char seen = 0;
    char* out = &seen;
    t.fn = [big, out] { *out = big[99]; };
    t.name = "test.Big.set";
    seqTask copy = t;
    copy.fn();
    EXPECT_EQ(seen, 42);
    static_assert(sizeof(seqTask) <= 128, "a request stays small enough for the rings");
}
