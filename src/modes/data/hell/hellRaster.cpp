#include "modes/data/hell/hellRaster.h"
#include "modes/data/hell/hellFont.h"

#include <cmath>
#include <numbers>

namespace hell {

void hellRaster::modulate(buff<std::complex<float>> out, double step, const std::function<int()>& nextChar) {
    constexpr double pi = std::numbers::pi;
    const int N = int(48000.0 / step);
    for (auto& s : out) {
        int w;
        if (samplesLeft_-- >= 1) {
            w = samplesLeft_;
        } else {
            samplesLeft_ = N;
            w = N;
            rowMask_ *= 2;
            if (rowsLeft_ != 0)
                --rowsLeft_;
            else
                nextColumn(nextChar);
            // The new pixel: the one before keeps sounding as it fades.
            previousOscillator_ = oscillator_;
            previousStep_ = step_;
            previousLevel_ = level_;
            level_ = (rowMask_ & columnByte_) != 0 ? 1.0 : 0.0;
            step_ = std::polar(1.0, 2.0 * pi * (topTone - step * rowsLeft_) / 48000.0);
        }
        const double current = 0.45 * level_ * (std::cos(pi * w / N) + 1.0);
        const double previous = 0.45 * previousLevel_ * (std::cos(pi * (w - N) / N) + 1.0);
        oscillator_ *= step_;
        previousOscillator_ *= previousStep_;
        s = std::complex<float>(current * oscillator_ + previous * previousOscillator_);
    }
    oscillator_ /= std::abs(oscillator_);
    previousOscillator_ /= std::abs(previousOscillator_);
}

void hellRaster::nextColumn(const std::function<int()>& nextChar) {
    rowsLeft_ = 7;
    const glyph& g = font[size_t(glyph_)];
    if (column_ <= 5 - g[0]) {
        column_ = 5;
        const int c = nextChar();
        glyph_ = c >= 32 && c <= 127 ? c - 32 : 0;
        columnByte_ = 0; // the blank column before every character
    } else {
        --column_;
        columnByte_ = column_ <= 4 ? font[size_t(glyph_)][size_t(5 - column_)] : 0;
    }
    rowMask_ = 1;
}

} // namespace hell
