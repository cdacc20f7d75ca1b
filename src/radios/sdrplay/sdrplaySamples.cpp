#include "radios/sdrplay/sdrplaySamples.h"

int convertSdrplaySamples(const short* i, const short* q, std::complex<float>* out, size_t n, float scale) {
    float* o = reinterpret_cast<float*>(out); // complex<float> is two floats
    int peak = 0;
    for (size_t k = 0; k < n; ++k) {
        const int qk = q[k];
        const int magnitude = qk < 0 ? -qk : qk;
        peak = magnitude > peak ? magnitude : peak;
        o[2 * k] = scale * float(i[k]);
        o[2 * k + 1] = scale * float(qk);
    }
    return peak;
}
