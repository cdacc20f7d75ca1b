#include "modes/data/dab/DABModDemod.h"

#include "dsp/dspMath.h"
#include "dsp/fft/fft.h"
#include "modes/data/dab/dabModeI.h"

#include <algorithm>
#include <iostream>

namespace {

constexpr size_t filterBlock = 512;
constexpr size_t audioSamples = 32;

/// The symbol conjugated and reversed in time: the transform of the
/// conjugated carriers.
buff<std::complex<float>> matchedTaps(const buff<std::complex<float>>& reference) {
    return fft::rev(dspMath::conjugate(reference));
}

} // namespace

DABModDemod::DABModDemod(std::shared_ptr<syncTask> taskGroup)
    : modDemod(std::move(taskGroup)),
      reference(get_DAB_PRS_reference(buff<cplx>(dabModeI::transformSize))),
      matchedFilter(matchedTaps(reference), int(filterBlock)),
      demoFrame(buildDemoSignal()) {}

int DABModDemod::rxInputSamplerate() { return dabModeI::sampleRate; }

void DABModDemod::modulate(buff<cplx>, buff<cplx>) {}

buff<float> DABModDemod::demodulate(buff<cplx> block) {
    // The block stands for as many samples of the frame, walked cyclically:
    // a length that does not divide the frame carries on at its start.
    size_t left = block.count;
    while (left > 0) {
        const size_t take = std::min<size_t>(left, demoFrame.count - readPosition);
        feed_.push(buff<cplx>(demoFrame, readPosition, take), {&matchedFilter}, [this] { detect(); });
        readPosition += take;
        if (readPosition == demoFrame.count) readPosition = 0;
        left -= take;
    }
    return buff<float>(audioSamples, 0.0f);
}

void DABModDemod::detect() {
    const buff<cplx>& out = matchedFilter.outBlock;
    const size_t n = out.count;
    for (size_t i = 0; i < n; ++i) {
        const double m = std::abs(out[i]);
        if (m > peakMagnitude) {
            peakMagnitude = m;
            peakPosition = markedPosition = total + i;
        }
    }
    if (markedPosition >= total && markedPosition < total + n)
        std::cout << matchedFilter.inBlock[markedPosition - total] << "\r\n" << std::flush;
    total += n;
    if (total >= dabModeI::frameSamples) {
        std::cout << peakMagnitude << "  " << peakPosition << "\r\n" << std::flush;
        peakMagnitude = 0.0;
        total = 0;
    }
}
