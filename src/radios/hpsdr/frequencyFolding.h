#pragma once
// Nyquist zones of an HPSDR board's ADC clock. A board samples at
// clockFrequency, so a frequency f lies in zone q = f / (clock / 2); the
// board is told the frequency folded into the first zone, and in the odd
// zones the spectrum is mirrored, which swaps I and Q of its samples.
//
// A clock below 2 Hz has no zones (half of it would be 0): frequencies are
// then sent unfolded and treated as zone 0; this is logged once per process.
// Plain functions, any thread.

/// f folded into [0, clock / 2]: r = f mod h in even zones, h - r in odd
/// ones (h = clock / 2, integer division).
long long getFoldedFrequency(long long frequency, int clockFrequency);

/// The zone's parity: 1 for an odd (mirrored) zone, else 0.
int IsFrequencyReversed(long long frequency, int clockFrequency);
