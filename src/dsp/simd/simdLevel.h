#pragma once
// simdLevel: which body the vector kernels run in this process.
//
// Every kernel has a four-lane baseline body that any x86-64 (SSE2) or 64-bit
// Arm machine runs. On x86-64 most kernels also have an eight-lane body built
// for AVX2 with fused multiply-add, in sources named *.avx2.cpp that only
// ever run after the CPU has been found to have both. The level is decided
// once, on first use, so one binary runs everywhere and uses what it finds.
//
// The environment variable VIREO_SIMD=baseline forces the four-lane bodies;
// the tests run the kernel tests that way too, so both stay tested on a
// machine that has AVX2.
//
// Each kernel family keeps a table of function pointers per body and picks
// one with kernelsFor. The wide tables exist only where VIREO_AVX2_KERNELS is
// defined (x86-64 builds).

enum class SimdLevel { baseline, avx2 };

/// The level of this process: decided on the first call, the same afterwards.
/// Thread-safe.
SimdLevel simdLevel();

/// "baseline" or "avx2+fma".
const char* simdLevelName(SimdLevel level);

/// The wide table when it was built and the process runs at the AVX2 level,
/// the baseline table otherwise.
template <class Table>
const Table& kernelsFor(const Table& baseline, const Table* avx2) {
    return avx2 != nullptr && simdLevel() == SimdLevel::avx2 ? *avx2 : baseline;
}

/// &table in builds that have the wide bodies, nullptr in the others, so a
/// family names its wide table in one place: kernelsFor(base, VIREO_AVX2_TABLE(wide)).
#if VIREO_AVX2_KERNELS
#define VIREO_AVX2_TABLE(table) (&(table))
#else
#define VIREO_AVX2_TABLE(table) nullptr
#endif
