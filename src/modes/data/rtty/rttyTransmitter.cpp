#include "modes/data/rtty/rttyTransmitter.h"
#include "modes/data/rtty/ITA2.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace rtty {
namespace {

std::complex<float> stepOf(double hz) {
    const double w = 2.0 * std::numbers::pi * hz / 48000.0;
    return {float(std::cos(w)), float(std::sin(w))};
}

} // namespace

void rttyTransmitter::modulate(buff<std::complex<float>> out, const std::function<int()>& nextChar) {
    mark_ = stepOf(markHz);
    space_ = stepOf(spaceHz);
    for (auto& s : out) {
        if (samplesLeft_-- < 2) {
            const int elementsBefore = elementsLeft_--;
            if (elementsBefore < 1) {
                int c = lettersShift;
                if (leadFramesLeft_ > 0)
                    --leadFramesLeft_;
                else if (const int next = nextChar(); next != 0)
                    c = next;
                startFrame(c);
            } else {
                frame_ >>= 1;
                step_ = frame_ & 1 ? mark_ : space_;
                samplesLeft_ = elementsBefore == 1 || elementsBefore == 8 ? stopSamples : elementSamples;
            }
        }
        oscillator_ *= step_;
        s = oscillator_ * amplitude;
    }
    oscillator_ /= std::abs(oscillator_);
}

void rttyTransmitter::begin(int leadSamples) {
    samplesLeft_ = 0;
    elementsLeft_ = 0;
    const int lead = std::max(leadSamples, 0);
    leadFramesLeft_ = lead / frameSamples + (lead % frameSamples != 0) + leadFrames;
}

void rttyTransmitter::startFrame(int c) {
    const auto& table = ITA2Table();
    const uint32_t v = table[uint8_t(c)];
    step_ = space_; // the start element
    samplesLeft_ = elementSamples;
    elementsLeft_ = 6;
    const int wanted = int(v & figuresShift);
    if (!(v & needsNoShift) && wanted != shift_) {
        shift_ = wanted;
        const uint32_t shiftFrame = frameOf(table[wanted ? 0x0E : 0x0F]);
        frame_ = shiftFrame | frameOf(v) << 7;
        elementsLeft_ = 13;
    } else {
        frame_ = frameOf(v);
    }
    switch ((v >> 3) & 31) {
    case 31: shift_ = letters; break;
    case 27: shift_ = figures; break;
    case 4:
        if (shift_ != letters) shift_ = either;
        break;
    default: break;
    }
}

} // namespace rtty
