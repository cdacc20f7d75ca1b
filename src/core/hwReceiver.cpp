#include "core/hwReceiver.h"

#include <cmath>

size_t hwReceiver::blockSizeFor(int rate) {
    if (rate <= 48000) return 512;
    double blocks = std::ceil(rate / 48000.0);
    return size_t(std::pow(2.0, std::ceil(std::log2(blocks)))) * 512;
}
