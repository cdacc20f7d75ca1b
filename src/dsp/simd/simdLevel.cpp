#include "dsp/simd/simdLevel.h"

#include <spdlog/spdlog.h>

#include <cstdlib>
#include <cstring>

namespace {

SimdLevel detect() {
    const char* forced = std::getenv("VIREO_SIMD");
    if (forced != nullptr && std::strcmp(forced, "baseline") == 0) return SimdLevel::baseline;
    if (forced != nullptr && *forced != '\0' && std::strcmp(forced, "auto") != 0)
        spdlog::warn("VIREO_SIMD={} not known (baseline or auto); choosing from the CPU", forced);
#if VIREO_AVX2_KERNELS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return SimdLevel::avx2;
#endif
    return SimdLevel::baseline;
}

} // namespace

SimdLevel simdLevel() {
    static const SimdLevel level = [] {
        const SimdLevel l = detect();
        spdlog::debug("vector kernels: {}", simdLevelName(l));
        return l;
    }();
    return level;
}

const char* simdLevelName(SimdLevel level) { return level == SimdLevel::avx2 ? "avx2+fma" : "baseline"; }
