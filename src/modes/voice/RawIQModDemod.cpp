#include "modes/voice/RawIQModDemod.h"

#include <algorithm>

RawIQModDemod::RawIQModDemod(std::shared_ptr<syncTask> taskGroup) : modDemod(std::move(taskGroup)) {
    txFiltered = false;
}

void RawIQModDemod::modulate(buff<std::complex<float>>, buff<std::complex<float>> out) {
    std::fill(out.begin(), out.end(), std::complex<float>{});
}
