#pragma once
// The audio of a mode that plays what it receives: the real part of every
// sample of the block.
#include "dsp/buff.h"

#include <complex>

inline buff<float> realAudio(const buff<std::complex<float>>& block) {
    buff<float> audio(block.count);
    for (size_t i = 0; i < block.count; ++i) audio[i] = block[i].real();
    return audio;
}
