// The tanh approximation against its defining rule, and its limits.
#include "dsp/denoise/activation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace denoise;

namespace {

// The rule, evaluated independently in double: nearest table point
// tanh(0.04 i), then y + d (1 - y^2)(1 - y d), odd in x.
double tanhRule(double x) {
    const double a = std::fabs(x);
    const int i = static_cast<int>(std::floor(0.5 + 25.0 * a));
    const double d = a - 0.04 * i;
    const double y = std::tanh(0.04 * i);
    const double r = y + d * (1.0 - y * y) * (1.0 - y * d);
    return x < 0 ? -r : r;
}

} // namespace

TEST(TanhApprox, FollowsTheTableRuleAndStaysCloseToTanh) {
    for (int k = -7999; k <= 7999; ++k) {
        const float x = k * 0.001f;
        const float y = tanhApprox(x);
        ASSERT_NEAR(y, tanhRule(x), 2e-6) << "x = " << x;
        ASSERT_NEAR(y, std::tanh(x), 2e-4) << "x = " << x;
        ASSERT_EQ(y, -tanhApprox(-x)) << "x = " << x;
    }
}

TEST(TanhApprox, SaturatesAtEightAndMapsNaNToZero) {
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(tanhApprox(8.f), 1.f);
    EXPECT_EQ(tanhApprox(100.f), 1.f);
    EXPECT_EQ(tanhApprox(inf), 1.f);
    EXPECT_EQ(tanhApprox(-8.f), -1.f);
    EXPECT_EQ(tanhApprox(-inf), -1.f);
    EXPECT_EQ(tanhApprox(std::numeric_limits<float>::quiet_NaN()), 0.f);
    EXPECT_EQ(tanhApprox(0.f), 0.f);
    // Just inside the limit the table's last point (tanh 8) applies.
    EXPECT_NEAR(tanhApprox(7.99f), std::tanh(7.99), 1e-6);
}

TEST(SigmoidApprox, IsHalfTanhOfHalfX) {
    EXPECT_EQ(sigmoidApprox(0.f), 0.5f);
    for (float x : {-20.f, -3.f, -0.7f, 0.25f, 1.f, 5.f, 16.f}) {
        EXPECT_FLOAT_EQ(sigmoidApprox(x), 0.5f + 0.5f * tanhApprox(0.5f * x));
        EXPECT_NEAR(sigmoidApprox(x), 1.0 / (1.0 + std::exp(-x)), 1e-4);
    }
    EXPECT_EQ(sigmoidApprox(16.f), 1.f);
    EXPECT_EQ(sigmoidApprox(-16.f), 0.f);
}
