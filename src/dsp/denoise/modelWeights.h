#pragma once
// The built-in model's weights and biases as embedded at build time from
// weights.i8: 87,503 signed bytes, layer tables back to back in the order
// input dense, VAD GRU, noise GRU, denoise GRU, denoise output, VAD output,
// each as bias, input weights, recurrent weights.
#include <cstddef>

// The size is part of the declaration so that constant expressions may point
// into the table (clang insists on a known bound).
inline constexpr std::size_t rnnoiseWeightCount = 87503;
extern const signed char rnnoiseWeightBytes[rnnoiseWeightCount];
extern const std::size_t rnnoiseWeightBytes_size;
