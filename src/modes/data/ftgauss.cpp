#include "modes/data/ftgauss.h"

#include <cmath>

namespace {

ft8::gaussTable make(int sharpness) {
    ft8::gaussTable t{};
    for (int i = 0; i <= 1024; ++i) {
        const double x = 3.774 * sharpness * (i - 512) / 512.0;
        t[size_t(i)] = 1.000056 * 0.5 * std::erfc(-x / std::sqrt(2.0));
    }
    return t;
}

} // namespace

namespace ft8 {

const gaussTable ftgauss_1 = make(1);
const gaussTable ftgauss_2 = make(2);
const gaussTable ftgauss_10 = make(10);
const gaussTable ftgauss_50 = make(50);

} // namespace ft8
