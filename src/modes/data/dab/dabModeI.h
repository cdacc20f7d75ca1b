#pragma once
// Signals of DAB transmission mode I at 2048000 samples per second: the
// phase reference symbol, the frequency interleaving map and a
// demonstration frame holding one phase reference symbol.
#include "dsp/buff.h"

#include <complex>
#include <cstdint>

namespace dabModeI {
inline constexpr int sampleRate = 2048000;
inline constexpr size_t transformSize = 2048;
inline constexpr size_t guardSamples = 504;
inline constexpr size_t nullSamples = 2656;
inline constexpr size_t frameSamples = 196608; // 96 ms
inline constexpr int carriers = 1536;
/// Where the demonstration frame's symbol (useful part) starts and ends.
inline constexpr size_t symbolStart = nullSamples + guardSamples; // 3160
inline constexpr size_t symbolEnd = symbolStart + transformSize;   // 5208, one past
/// The two real markers behind the symbol: 1.0 and 2.0.
inline constexpr size_t firstMarker = symbolEnd;
inline constexpr size_t secondMarker = symbolEnd + guardSamples;
} // namespace dabModeI

/// Fills the N samples of block with the phase reference symbol in transform
/// order: carrier k (1..768) at index k, carrier -k at N - k, the rest 0.
/// Throws std::runtime_error "FFT buffer not large enough to fit phase
/// reference symbol N<1537" when N is below 1537. Returns block.
buff<std::complex<float>> get_DAB_PRS_reference(buff<std::complex<float>> block);

/// The 1536 carrier indices (-768..768, without 0) of the frequency
/// interleaving, in the order the standard assigns them.
buff<int> buildFrequencyMap();

/// One transmission frame (196608 samples), zero but for the null symbol's
/// end: the guard interval at 2656, the symbol at 3160 .. 5207, and markers
/// 1.0 at 5208 and 2.0 at 5712.
buff<std::complex<float>> buildDemoSignal();
