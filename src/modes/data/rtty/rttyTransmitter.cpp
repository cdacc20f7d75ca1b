#include "modes/data/rtty/rttyTransmitter.h"
#include "modes/data/rtty/ITA2.h"

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
                const int c = nextChar();
                startFrame(c != 0 ? c : lettersShift);
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
}

} // namespace rtty
