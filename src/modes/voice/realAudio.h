#pragma once
// The receive audio of the modes whose transceiver filter has already done
// the work (SSB, the generator, the client): the real part of each sample.
#include "dsp/buff.h"

#include <complex>

inline buff<float> realAudio(const buff<std::complex<float>>& block) {
    buff<float> audio(block.size());
    for (size_t i = 0; i < block.size(); ++i) audio[i] = block[i].real();
    return audio;
}
