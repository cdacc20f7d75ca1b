#pragma once
// Chirps: sweeps of constant amplitude 0.97 for the chirp link test. The
// phase starts at 0 and advances before every sample.
//
// The linear chirp's frequency runs from f0 at sample 0 towards f1 in equal
// steps; the hyperbolic one's period does, so that its frequency rises
// slowly at first and fast at the end. Both reach f0 + (f1 - f0)(n-1)/n (or
// its period form) on their last sample, not f1: the block is one period of
// a repeating sweep.
#include "dsp/buff.h"

#include <complex>

/// Fills block with the linear chirp from f0 to f1 Hz at rate; returns it.
buff<std::complex<float>> generateChirp(buff<std::complex<float>> block, double rate, double f0, double f1);
/// A new block of n samples of the linear chirp.
buff<std::complex<float>> generateChirp(size_t n, double rate, double f0, double f1);
/// Fills block with the hyperbolic chirp from f0 to f1 Hz (both non-zero);
/// returns it.
buff<std::complex<float>> generateHyperbolicChirp(buff<std::complex<float>> block, double rate, double f0, double f1);
/// A new block of n samples of the hyperbolic chirp.
buff<std::complex<float>> generateHyperbolicChirp(size_t n, double rate, double f0, double f1);
