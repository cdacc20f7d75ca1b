#pragma once
// DABModDemod: a step towards a DAB receiver. It asks its transceiver for
// 2048000 samples per second and runs a matched filter for the phase
// reference symbol of transmission mode I. For now the filter runs on a
// built-in demonstration frame instead of the received samples, and the
// findings go to standard output:
// - whenever the position of the frame's strongest output so far lies in
//   the filter block just run, the frame's sample there, as "(re,im)\r\n";
// - once per frame (196608 samples), the strongest output and its position
//   in the frame, as "magnitude  position\r\n".
// With the demonstration frame the strongest output is at 5208, the end of
// the symbol, where the frame holds the marker (1,0).
//
// Any block length is taken: the frame is walked cyclically, and the filter
// runs on 512-sample blocks of that walk, so its blocks always start at a
// multiple of 512 in the frame and one frame is 384 of them.
//
// Threads: demodulate runs on the transceiver's task group; nothing else
// touches the mode's state.
#include "core/modDemod.h"
#include "dsp/lowLatFir.h"
#include "modes/data/firFeed.h"

#include <complex>
#include <cstdint>

class DABModDemod : public modDemod {
public:
    using cplx = std::complex<float>;

    explicit DABModDemod(std::shared_ptr<syncTask> taskGroup);
    ~DABModDemod() override = default;

    /// 32 samples of silence; the block's samples are replaced by the
    /// demonstration frame's.
    buff<float> demodulate(buff<cplx> block) override;
    /// Transmits nothing: out is left as it is.
    void modulate(buff<cplx> in, buff<cplx> out) override;
    int rxInputSamplerate() override;

    buff<cplx> reference;  // the symbol's 2048 carriers, transform order
    lowLatFir matchedFilter;
    buff<cplx> demoFrame;
    uint64_t readPosition = 0; // in the frame

    // Detector, per frame.
    double peakMagnitude = 0.0;
    uint64_t peakPosition = 0;
    uint64_t markedPosition = 0;
    uint64_t total = 0; // frame samples filtered

private:
    void detect();

    firFeed feed_;
};
