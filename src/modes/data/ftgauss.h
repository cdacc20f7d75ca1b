#pragma once
// Frequency-step shapes for Gaussian-smoothed FSK: entry i (0 .. 1024) of a
// table is the fraction of a step from one tone to the next completed at
// point i of a window one symbol long centred on the symbol boundary, from
// 1.000056 x Phi(3.774 x N x (i - 512) / 512) with N the table's number and
// Phi the standard normal distribution function. Larger N: sharper steps.
#include <array>

namespace ft8 {

using gaussTable = std::array<double, 1025>;

extern const gaussTable ftgauss_1;
extern const gaussTable ftgauss_2;
extern const gaussTable ftgauss_10;
extern const gaussTable ftgauss_50;

} // namespace ft8
