#pragma once
// The eight fill functions of the stream loop: one per device sample format
// (U8, CS8, CS16, CF32) and per IQ order. Each converts n interleaved pairs
// to complex float times the gain scale and returns the running peak: the
// largest |first value of a pair| (offset-removed for U8) over this call and
// the peak passed in. With swapIQ the first value of a pair is Q.
//
// Kept plain so the compiler vectorises them: one pass, no branches on the
// format inside the loop.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace soapyFill {

using cplx = std::complex<float>;

/// Integer pairs around `zero`: (value - zero) x scale.
template <class T, int zero, bool swapIQ>
int integers(const T* in, cplx* out, size_t n, float scale, int peak) {
    for (size_t i = 0; i < n; ++i) {
        const int a = int(in[2 * i]) - zero, b = int(in[2 * i + 1]) - zero;
        out[i] = swapIQ ? cplx(float(b) * scale, float(a) * scale) : cplx(float(a) * scale, float(b) * scale);
        peak = std::max(peak, std::abs(a));
    }
    return peak;
}

/// Unsigned bytes around 128 (the raw stream of an RTL-SDR dongle).
template <bool swapIQ>
int u8(const uint8_t* in, cplx* out, size_t n, float scale, int peak) {
    return integers<uint8_t, 128, swapIQ>(in, out, n, scale, peak);
}
template <bool swapIQ>
int cs8(const int8_t* in, cplx* out, size_t n, float scale, int peak) {
    return integers<int8_t, 0, swapIQ>(in, out, n, scale, peak);
}
template <bool swapIQ>
int cs16(const int16_t* in, cplx* out, size_t n, float scale, int peak) {
    return integers<int16_t, 0, swapIQ>(in, out, n, scale, peak);
}

template <bool swapIQ>
float cf32(const float* in, cplx* out, size_t n, float scale, float peak) {
    for (size_t i = 0; i < n; ++i) {
        const float a = in[2 * i], b = in[2 * i + 1];
        out[i] = swapIQ ? cplx(b * scale, a * scale) : cplx(a * scale, b * scale);
        // A NaN or infinity stays in its block: it never reaches the meter,
        // nor through it the gain control.
        const float m = std::fabs(a);
        peak = m > peak && m <= FLT_MAX ? m : peak;
    }
    return peak;
}

} // namespace soapyFill
