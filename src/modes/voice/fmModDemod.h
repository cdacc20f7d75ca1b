#pragma once
// fmModDemod: frequency modulation. Receive takes one of two paths, chosen
// by deviation: narrow-band voice from IQ at 48000 (below 12000 Hz), or
// broadcast FM with stereo from IQ at 384000 (fmBroadcast.cpp). Transmit is
// narrow-band voice: the shared voice chain over 300 .. 3000 Hz with a
// pre-emphasised equaliser, a band filter after the limiter, an optional
// CTCSS tone and a phase accumulator.
//
//   receive, narrow   discriminator (gain 48000 / (deviation × 3.14))
//                     -> rxAudioFilter (300 .. 3000 Hz, de-emphasis) -> real part
//   receive, wide     discriminator -> multiplex -> mono filter, and
//                     multiplex × 2 sin(2 × pilot phase) -> difference filter
//                     -> every 8th sample -> (left, right) pairs at 48000
//   transmit          shapeBlock -> limiter (0.97) -> postLimiterFilter
//                     -> + 0.1 CTCSS tone -> phase += 2 pi g deviation x / 48000
//                     -> 0.99 (cos, sin) of the phase
//
// A change of path (deviation across 12000 Hz) starts the new path as a new
// mode would, so narrow-band after broadcast sounds as narrow-band always
// does.
//
// Receive accepts blocks of any length: filter blocks are carried across
// calls. A block of 512 (or of several 512s) starting on a filter block is
// answered from that block's own filtering; other lengths are answered one
// filter block late, so that a stream of them is the same audio, 512
// samples later.
//
// Host values (deviation, CTCSS, compression, Stereo) are read once per
// block. Those the chain cannot carry are refused when set: a deviation that
// is not finite, a compression past voiceTx::maxLevel, a CTCSS tone above
// half the sample rate. A deviation whose receive gain the audio filter
// cannot carry (0, or one within a hair of it) gives silence and one log
// line until it changes. Everything else runs on the owning transceiver's
// task group.
#include "core/modDemod.h"
#include "dsp/lowLatFir.h"
#include "modes/data/checkedValue.h"
#include "modes/voice/delay.h"
#include "modes/voice/fmDiscriminator.h"
#include "modes/voice/pll.h"
#include "modes/voice/voiceTxChain.h"

#include <algorithm>
#include <complex>
#include <cstdint>

class fmModDemod : public modDemod {
public:
    using cplx = std::complex<float>;

    static constexpr int narrowRate = 48000;
    static constexpr int wideRate = 384000;
    static constexpr double wideFrom = 12000.0; // deviation from which receive is broadcast
    static constexpr int rxTaps = 1024;         // both receive designs: two partitions of 512
    /// The largest receive gain: the discriminator's ± pi times it, summed
    /// over the audio filter's transforms, stays far inside a float.
    static constexpr float maxReceiveGain = 1e30f;

    /// Designs the receive audio filter and the transmit equaliser (flat
    /// without a root object).
    explicit fmModDemod(std::shared_ptr<syncTask> taskGroup);
    ~fmModDemod() override = default;

    // ---- the owning transceiver's task group ----
    buff<float> demodulate(buff<cplx> in) override;
    void modulate(buff<cplx> in, buff<cplx> out) override;
    int rxInputSamplerate() override;
    /// The pre-emphasised, curve-shaped equaliser for 300 .. 3000 Hz.
    void setTxAudioFilter();
    /// Broadcast receive: interleaved (left, right) pairs at 48000.
    buff<float> demodulateWide(buff<cplx> in);
    /// Runs the pilot loop over the real parts of a multiplex block and
    /// returns the regenerated 38 kHz subcarrier 2 sin(2 × phase), each
    /// value in the phase its own sample was mixed with.
    buff<float> extractPilot(buff<cplx> multiplex);

    asyncProperty<double> compression{1.0};      // transmit gain: 2 × compression
    asyncProperty<double> deviation{75000.0};    // Hz: receive gain, receive rate, transmit deviation
    asyncProperty<double> CTCSS{0.0};            // Hz; 0 or less: no tone
    asyncProperty<double> MaxDeviation{100000.0}; // stored only
    asyncProperty<bool> Stereo{false};           // broadcast: pairs, or mono on both channels

    cplx lastRxSample{1.0f, 0.0f};
    double txPhase = 0.0;
    lowLatFir eqFilter;
    lowLatFir postClipFilter;
    lowLatFir postLimiterFilter;
    delay<float> limiter;
    int limiterWindow = voiceTx::limiterWindowLength;
    lowLatFir rxAudioFilter;    // narrow audio filter, or the broadcast mono filter on that path
    lowLatFir stereoDiffFilter; // broadcast difference filter, empty until built
    float toneRate = 48000.0f;
    cplx tonePhasor{1.0f, 0.0f};
    cplx toneStep{1.0f, 0.0f};
    int rxFill = 0;
    int64_t eqVersion = -1;
    bool wideBuilt = false; // the broadcast path has run (deviation 0 then stays on it)
    bool rxWide = false;    // the path the receive filters are set up for
    pll<float> pilotPll;

private:
    /// The deviation this block uses: the host's, or the last finite one.
    double deviationNow();
    /// A receive gain the audio filter carries, or false after logging (once
    /// per run) that receive is silent.
    bool receiveGain(double g, float& gain);
    /// Writes a receive block into the filter blocks through fmDiscriminator
    /// and hands each stretch of filtered output to take(position, count,
    /// index in the block); filterBlock runs when a filter block is full.
    template <class FilterBlock, class Take>
    void carryBlocks(const buff<cplx>& in, float gain, FilterBlock filterBlock, Take take);
    void buildWide();
    /// Sets the receive filters up for the broadcast or the narrow path,
    /// from a clean start.
    void enterReceivePath(bool wide);
    static lowLatFir narrowAudioFilter();
    /// The 19 kHz pilot loop as it starts.
    static pll<float> pilotLoop();
    /// taps shaped in the frequency domain by corner / f for corner <= f < top
    /// (6 dB per octave falling from the corner), then windowed.
    static buff<cplx> deEmphasised(buff<cplx> taps, int rate, double corner, double top);

    // What the chain carries of the host's values (see the top).
    checkedValue<double> compressionInUse_;
    checkedValue<double> deviationInUse_;
    checkedValue<double> ctcssInUse_;
    bool silentLogged_ = false;
};

template <class FilterBlock, class Take>
inline void fmModDemod::carryBlocks(const buff<cplx>& in, float gain, FilterBlock filterBlock, Take take) {
    const size_t B = rxAudioFilter.blockLength();
    // Whole filter blocks are answered from their own filtering; anything
    // else from the block before, so that every call gets its full count.
    const bool whole = rxFill == 0 && in.size() % B == 0;
    size_t done = 0;
    while (done < in.size()) {
        const size_t at = size_t(rxFill);
        const size_t c = std::min(B - at, in.size() - done);
        if (!whole) take(at, c, done);
        fmDiscriminator::run(in.data + done, c, lastRxSample, gain, rxAudioFilter.inBlock.data + at);
        rxFill += int(c);
        if (size_t(rxFill) >= B) {
            filterBlock();
            rxFill = 0;
        }
        if (whole) take(at, c, done);
        done += c;
    }
}
