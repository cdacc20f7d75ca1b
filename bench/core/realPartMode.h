#pragma once
// A mode whose audio is the channel's real part: the cheapest demodulator,
// so a benchmark's figures are the chain's own cost.
#include "core/modDemod.h"

#include <complex>

struct RealPartMode : modDemod {
    using modDemod::modDemod;
    buff<float> demodulate(buff<std::complex<float>> block) override {
        buff<float> a(block.count);
        for (size_t i = 0; i < a.count; ++i) a[i] = block[i].real();
        return a;
    }
};
