// The level follows the CPU unless VIREO_SIMD=baseline forces the four-lane
// bodies; the kernel tests run once each way (kernels.BaselineBodies).
#include "dsp/simd/simdLevel.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

TEST(SimdLevel, FollowsTheCpuUnlessTheBaselineIsForced) {
    const char* forced = std::getenv("VIREO_SIMD");
    SimdLevel expected = SimdLevel::baseline;
#if VIREO_AVX2_KERNELS
    if (!(forced && std::strcmp(forced, "baseline") == 0) && __builtin_cpu_supports("avx2") &&
        __builtin_cpu_supports("fma"))
        expected = SimdLevel::avx2;
#endif
    EXPECT_EQ(simdLevel(), expected) << "running " << simdLevelName(simdLevel());
    EXPECT_EQ(simdLevel(), simdLevel());

    static const int baselineTable = 1, wideTable = 2;
    EXPECT_EQ(&kernelsFor(baselineTable, static_cast<const int*>(nullptr)), &baselineTable);
    EXPECT_EQ(&kernelsFor(baselineTable, &wideTable), expected == SimdLevel::avx2 ? &wideTable : &baselineTable);
}
