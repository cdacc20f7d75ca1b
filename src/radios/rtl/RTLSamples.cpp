#include "radios/rtl/RTLSamples.h"

#include <algorithm>
#include <cstdlib>

int convertRtlSamples(const unsigned char* in, std::complex<float>* out, size_t n, float scale) {
    // Plain loop over the interleaved floats (a complex<float> array may be
    // read as one), left to the compiler to vectorise; the peak is one
    // integer comparison per pair.
    float* o = reinterpret_cast<float*>(out);
    int peak = 0;
    for (size_t k = 0; k < n; ++k) {
        const int i = int(in[2 * k]) - 128;
        const int q = int(in[2 * k + 1]) - 128;
        peak = std::max(peak, std::abs(i));
        o[2 * k] = scale * float(i);
        o[2 * k + 1] = scale * float(q);
    }
    return peak;
}
