#pragma once
// The RTL-SDR's sample format: interleaved unsigned 8-bit I and Q, 128 being
// zero.
#include <complex>
#include <cstddef>

/// Converts n IQ byte pairs to complex float, each component (byte - 128)
/// times scale, and returns the largest |I - 128| among them (0 to 128; Q is
/// not measured). No allocation; any thread.
int convertRtlSamples(const unsigned char* in, std::complex<float>* out, size_t n, float scale);
