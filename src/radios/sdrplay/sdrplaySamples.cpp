#include "radios/sdrplay/sdrplaySamples.h"

int convertSdrplaySamples(const short* i, const short* q, std::complex<float>* out, size_t n, float scale) {
    float* o = reinterpret_cast<float*>(out); // complex<float> is two floats
    // The largest and the smallest Q, kept in 16 bits so that the loop
    // vectorises; |−32768| is taken only at the end, in an int.
    short high = 0, low = 0;
    for (size_t k = 0; k < n; ++k) {
        const short qk = q[k];
        high = qk > high ? qk : high;
        low = qk < low ? qk : low;
        o[2 * k] = scale * float(i[k]);
        o[2 * k + 1] = scale * float(qk);
    }
    return int(high) > -int(low) ? int(high) : -int(low);
}
