#pragma once
// FractionalKernels: the output loop of FractionalDownConverter as one
// function per vector width (see dsp/simd/simdLevel.h).
#include <complex>
#include <cstddef>
#include <cstdint>

/// Where the resampler stands: output `counter` of the L x M cycle, its
/// first input at (ceil(counter * M / L) - offset); outputs stop before the
/// one whose 47 inputs would reach `limit`. The loop advances counter and
/// offset as the class would, output by output.
struct PolyphaseCursor {
    int64_t L;
    int64_t M;
    int64_t counter;
    int64_t offset;
    int64_t limit;
};

struct FractionalKernels {
    /// Writes up to count outputs from the bank (L phases x 47 taps, each
    /// stored twice) and the input store; returns how many.
    size_t (*process)(const float* bank, const std::complex<float>* input, PolyphaseCursor& at,
                      std::complex<float>* out, size_t count);
};

/// The table of this process's level.
const FractionalKernels& fractionalKernels();
