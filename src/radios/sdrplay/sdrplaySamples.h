#pragma once
// The conversion of the library's 16-bit I and Q arrays into complex float.
#include <complex>
#include <cstddef>

/// out[k] = (scale·i[k], scale·q[k]) for k < n; returns the largest |q[k]|
/// (32768 for −32768, hence an int). Plain loop: the compiler vectorises it.
int convertSdrplaySamples(const short* i, const short* q, std::complex<float>* out, size_t n, float scale);
