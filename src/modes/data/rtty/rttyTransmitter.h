#pragma once
// rttyTransmitter: ITA2 frames as two-tone FSK at 45.45 baud, 48000 samples
// per second: mark (1) at +2170 Hz, space (0) at +2000 Hz above the carrier.
// A frame is a start element (space), the five code elements and a stop
// element (mark) of 1.5 elements; a character of the other shift goes out
// right after the shift character's frame. With nothing to send it sends
// letters-shift frames without pause.
#include "dsp/buff.h"

#include <complex>
#include <functional>

namespace rtty {

class rttyTransmitter {
public:
    static constexpr int elementSamples = 1056; // 22 ms
    static constexpr int stopSamples = 1584;    // 1.5 elements
    static constexpr double markHz = 2170.0;
    static constexpr double spaceHz = 2000.0;
    static constexpr float amplitude = 0.95f;
    static constexpr int lettersShift = 15; // the byte whose frame is letters shift

    /// Fills all of out. nextChar gives the next byte to send, 0 for none.
    void modulate(buff<std::complex<float>> out, const std::function<int()>& nextChar);

    /// 0 letters, 1 figures: the shift the receiving end is in.
    int shift() const { return shift_; }

private:
    void startFrame(int c);

    int samplesLeft_ = 0;
    int elementsLeft_ = 0;
    uint32_t frame_ = 0;
    int shift_ = 0;
    std::complex<float> oscillator_{1.0f, 0.0f};
    std::complex<float> mark_{1.0f, 0.0f};
    std::complex<float> space_{1.0f, 0.0f};
    std::complex<float> step_{1.0f, 0.0f};
};

} // namespace rtty
