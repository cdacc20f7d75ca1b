#pragma once
// hellRaster: draws characters from the Hellschreiber font as tone bursts,
// at 48000 samples per second.
//
// A character is one blank column, then its glyph's columns; a column is
// eight pixels sent from the bottom row up; a pixel lasts N + 1 samples,
// N = 48000 / step (1601 at 30 Hz). The pixel of row b is a tone at
// 1300 - step * (7 - b) Hz above the carrier: the top row at 1300 Hz. A lit
// pixel is a raised-cosine burst that rises over its own pixel time and
// falls over the next one, while the following pixel's burst rises: two
// oscillators, current and previous, carry the overlap.
#include "dsp/buff.h"

#include <complex>
#include <functional>

namespace hell {

class hellRaster {
public:
    static constexpr double topTone = 1300.0;

    /// Fills all of out with `step` Hz between rows (48000 / INT_MAX <= step
    /// <= 48000, so that a pixel's length fits an int).
    /// nextChar gives the next character to draw.
    void modulate(buff<std::complex<float>> out, double step, const std::function<int()>& nextChar);

private:
    /// The next column: a new character's blank column, or its next glyph column.
    void nextColumn(const std::function<int()>& nextChar);

    int rowsLeft_ = 0;
    int column_ = 0;
    int samplesLeft_ = 0;
    int glyph_ = 0;
    int columnByte_ = 0;
    int rowMask_ = 1;
    double level_ = 0.0;
    double previousLevel_ = 0.0;
    std::complex<double> oscillator_{1.0, 0.0};
    std::complex<double> step_{1.0, 0.0};
    std::complex<double> previousOscillator_{1.0, 0.0};
    std::complex<double> previousStep_{1.0, 0.0};
};

} // namespace hell
