#include "radios/wsproxy/WsIqFrame.h"

#include <bit>
#include <cmath>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "frames are little-endian and read as they are");

WsIqFrame::result WsIqFrame::decode(const uint8_t* message, size_t n, std::complex<float>* out) {
    result r;
    if (n != size || message[0] != type) return r;

    std::memcpy(&r.centre, message + centreOffset, sizeof r.centre);
    // The comparison is false for NaN, so NaN lands here as well.
    if (!(std::fabs(r.centre) <= maxCentre)) {
        r.what = verdict::badCentre;
        return r;
    }
    r.hz = static_cast<long long>(r.centre);

    // One NaN would stay in every filter and gain loop downstream for good.
    std::memcpy(out, message + samplesOffset, samples * sizeof(std::complex<float>));
    for (size_t i = 0; i < samples; ++i) {
        if (std::isfinite(out[i].real()) && std::isfinite(out[i].imag())) continue;
        out[i] = {};
        ++r.nonFinite;
    }
    r.what = verdict::samples;
    return r;
}
