#pragma once
// rttyTransmitter: ITA2 frames as two-tone FSK at 45.45 baud, 48000 samples
// per second: mark (1) at +2170 Hz, space (0) at +2000 Hz above the carrier.
// A frame is a start element (space), the five code elements and a stop
// element (mark) of 1.5 elements; a character of the other shift goes out
// right after the shift character's frame. With nothing to send it sends
// letters-shift frames without pause.
//
// The shift it tracks is the one a receiver is in: every letters-shift or
// figures-shift frame sets it, idle ones included. A space sent in figures
// leaves it open, since receivers that unshift on space go back to letters
// and the others do not: the next character of either shift is then
// preceded by its shift frame, so both kinds read it.
#include "dsp/buff.h"

#include <complex>
#include <functional>

namespace rtty {

class rttyTransmitter {
public:
    static constexpr int elementSamples = 1056; // 22 ms
    static constexpr int stopSamples = 1584;    // 1.5 elements
    static constexpr int frameSamples = 6 * elementSamples + stopSamples;
    static constexpr double markHz = 2170.0;
    static constexpr double spaceHz = 2000.0;
    static constexpr float amplitude = 0.95f;
    static constexpr int lettersShift = 15; // the byte whose frame is letters shift
    /// Whole idle frames that lead every transmission once the transceiver's
    /// own lead is past, as stations send them: a receiver that heard only
    /// silence or noise before finds the character timing on them, and
    /// leaves whatever shift the noise put it in, before the text starts.
    static constexpr int leadFrames = 4;

    static constexpr int letters = 0;
    static constexpr int figures = 1;
    static constexpr int either = -1; // receivers differ: the next character sends its shift

    /// Starts a transmission whose first `leadSamples` samples will not
    /// reach the air whole: whatever frame was under way is dropped, and
    /// idle letters-shift frames go out until leadFrames whole frames have
    /// followed them, before the next character is taken.
    void begin(int leadSamples);

    /// Fills all of out. nextChar gives the next byte to send, 0 for none.
    void modulate(buff<std::complex<float>> out, const std::function<int()>& nextChar);

    /// letters, figures or either: the shift the receiving end is in.
    int shift() const { return shift_; }

private:
    void startFrame(int c);

    int samplesLeft_ = 0;
    int elementsLeft_ = 0;
    int leadFramesLeft_ = 0;
    uint32_t frame_ = 0;
    int shift_ = letters;
    std::complex<float> oscillator_{1.0f, 0.0f};
    std::complex<float> mark_{1.0f, 0.0f};
    std::complex<float> space_{1.0f, 0.0f};
    std::complex<float> step_{1.0f, 0.0f};
};

} // namespace rtty
