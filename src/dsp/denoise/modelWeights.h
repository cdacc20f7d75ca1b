#pragma once
// The built-in model's weights and biases as embedded at build time from
// weights.i8: 87,503 signed bytes, layer tables back to back in the order
// input dense, VAD GRU, noise GRU, denoise GRU, denoise output, VAD output,
// each as bias, input weights, recurrent weights.
#include <cstddef>

extern const signed char rnnoiseWeightBytes[];
extern const std::size_t rnnoiseWeightBytes_size;
