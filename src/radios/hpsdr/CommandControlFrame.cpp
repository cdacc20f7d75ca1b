#include "radios/hpsdr/CommandControlFrame.h"

#include <cmath>

namespace {

inline void putBE16(unsigned char* p, unsigned v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

} // namespace

void CommandControlFrame::setHeader(uint8_t c0, uint8_t c1, uint8_t c2, uint8_t c3, uint8_t c4) {
    p_[0] = p_[1] = p_[2] = 0x7F;
    p_[3] = c0;
    p_[4] = c1;
    p_[5] = c2;
    p_[6] = c3;
    p_[7] = c4;
}

void CommandControlFrame::iqWords(std::complex<float> x, const transmitEncoding& how, int16_t& first,
                                  int16_t& second) {
    const double s = fullScale * how.iqScale;
    double i = s * double(x.real());
    double q = s * double(x.imag());
    const double m2 = i * i + q * q;
    if (m2 >= fullScale * fullScale) {
        const double k = fullScale / std::sqrt(m2);
        i *= k;
        q *= k;
    }
    // A NaN or infinity would reach the integer conversion: it becomes a
    // zero sample instead, this sample only.
    if (!std::isfinite(i) || !std::isfinite(q)) i = q = 0.0;
    // |i|, |q| <= 32766 here, so rounding stays inside 16 bits.
    if (how.reversedZone) {
        first = int16_t(std::lround(q));
        second = int16_t(std::lround(-i));
    } else {
        first = int16_t(std::lround(-i));
        second = int16_t(std::lround(q));
    }
}

void CommandControlFrame::setSamples(const std::complex<float>* samples, size_t count, const transmitEncoding& how,
                                     uint16_t& rampIndex) {
    unsigned char* slot = p_ + 8;
    for (size_t k = 0; k < slots; ++k, slot += slotSize) {
        const std::complex<float> x = k < count ? samples[k] : std::complex<float>{};
        if (how.ramp) {
            const unsigned r = rampIndex & (rampLength - 1);
            putBE16(slot, r);
            putBE16(slot + 2, how.ramp[r]);
            rampIndex = uint16_t((r + 1) & (rampLength - 1));
        } else {
            putBE16(slot, 0);
            putBE16(slot + 2, 0);
        }
        if (how.cwInternal) {
            const float I = x.real();
            slot[4] = 0;
            slot[5] = (std::isfinite(I) && std::trunc(I) != 0.0f) ? 3 : 0;
            slot[6] = slot[7] = 0;
            continue;
        }
        int16_t a, b;
        iqWords(x, how, a, b);
        putBE16(slot + 4, uint16_t(a));
        putBE16(slot + 6, uint16_t(b));
    }
}
