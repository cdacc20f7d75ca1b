#include "modes/data/fsk/fskModDemod.h"

buff<float> fskModDemod::demodulate(buff<std::complex<float>> block) { return buff<float>(block.count, 0.0f); }

void fskModDemod::modulate(buff<std::complex<float>>, buff<std::complex<float>> out) {
    std::fill(out.begin(), out.end(), std::complex<float>{});
}
