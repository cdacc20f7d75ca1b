#pragma once
// FreeDVModDemod: FreeDV digital voice. Everything FreeDV-specific (vocoder,
// modem, framing) happens in codec2's FreeDV interface (FreeDVLib); this mode
// adapts rates and block sizes around it.
//
// Receive: the 48 kHz IQ goes through ComplexAGC, is decimated to the modem
// rate and collected until the codec has the samples it asked for
// (freedv_nin); decoded speech goes into a ring of 16384 samples that the
// output side reads half a ring behind the writer, zero-stuffed back to
// 48 kHz and interpolated by rxFilter. A codec that yields less speech than
// the ring plays (2400A: 7680 a second) would let the reader pass the writer;
// the reader then plays silence until the ring is half full again.
//
// Transmit: the microphone is band-limited (txFilter, shaped by the
// microphone equaliser), decimated to the speech rate and collected into
// whole speech frames for the encoder. Three placements of the modem samples
// on the 48 kHz grid, by the codec's proportions:
//   A  one modem sample per speech sample (modem rate = speech rate): each
//      frame's modem samples leave in step with the next frame's speech,
//      one every rateFactor output samples, scaled by a per-mode level;
//   B  one modem sample per two speech samples (2020, 2020B), likewise;
//   C  modem at 48000 (2400A, 2400B): whole frames queue and leave one per
//      output sample, unscaled. 2400A's frames (2000 samples) outlast their
//      speech (1920 output samples), so one speech frame is skipped
//      whenever a frame's worth of backlog has built up.
// The zeros between the modem samples of A and B are left for the
// transceiver's transmit filter.
//
// Conjugation: below 10 MHz (lower sideband by convention) the receive IQ is
// conjugated before the codec and the transmit IQ after it.
//
// Threads: demodulate and modulate run on the owning transceiver's task
// group; the Mode hook (and with it setMode) on the mode object's own. A
// mode change replaces the codec instance and every buffer those calls use,
// so the three hold `codec_` while they run. compression and Mode are read
// as single atomic values.
#include "core/modDemod.h"
#include "dsp/lowLatFir.h"
#include "framework/ValueLabelItem.h"
#include "framework/asyncCollection.h"
#include "modes/data/checkedValue.h"
#include "modes/voice/ComplexAGC.h"
#include "modes/voice/FreeDVLib.h"
#include "modes/voice/voiceTxChain.h"

#include <complex>
#include <cstdint>
#include <mutex>

class FreeDVModDemod : public modDemod {
public:
    using cplx = std::complex<float>;

    static constexpr int ringSize = 16384;
    static constexpr int blockLimit = 512; // the filters' block
    static constexpr long long conjugateBelow = 10000000; // Hz

    /// Loads the library (FreeDVLib::LoadApi); with it, lists the modes and
    /// opens the instance of Mode (700D). Without it the mode is silent and
    /// Mode only stores.
    explicit FreeDVModDemod(std::shared_ptr<syncTask> taskGroup);
    /// Closes the instance, with the "closing fdv" / "closed fdv" trace.
    ~FreeDVModDemod() override;

    /// One receive block at 48000 in, audio of the same length out (silence
    /// without an instance, and for a block longer than 512, refused).
    buff<float> demodulate(buff<cplx> in) override;
    /// One microphone block in (at most 512 samples), transmit IQ written
    /// into out (at least as long as in); out is all zeros without an
    /// instance.
    void modulate(buff<cplx> in, buff<cplx> out) override;
    void vfoChanged(long long) override {}

    /// Opens a FreeDV instance in `mode` and sizes buffers, rate factor and
    /// filters after it. An instance that does not open, whose rates the
    /// mode cannot place on 48 kHz or whose frames do not fit, leaves the
    /// mode silent (with a log line). Any task group.
    void setMode(int mode);
    /// Shapes txFilter with the microphone equaliser over lo..hi Hz.
    void setTxEqFilter(double lo, double hi);

    asyncCollection<ValueLabelItem> Modes;
    asyncProperty<int> Mode{7};
    asyncProperty<float> Squelch{0.0f};
    asyncProperty<bool> SquelchEnabled{false};
    asyncProperty<double> compression{1.0};

    // ---- codec state: guarded by codec_ ----
    lowLatFir txFilter; // speech band-pass with the equaliser, 2048 taps
    lowLatFir rxFilter; // speech band-pass, 1536 taps
    freedvState* fdv = nullptr;
    buff<cplx> modemIn;
    buff<int16_t> speechOut;
    buff<int16_t> speechRing{ringSize, 0};
    int modemCount = 0;
    int ringWrite = 0;
    int ringRead = ringSize / 2;
    int rxInPos = 0;
    int rxOutPos = 0;
    ComplexAGC complexAgc;
    buff<int16_t> txSpeech;
    buff<cplx> txModem;
    int txSpeechPos = 0;
    int txOutPos = 0;
    int rateFactor = 6;
    int txHalf = 0;

    /// Speech samples waiting in the ring, and whether the reader waits for
    /// it to be half full again.
    int ringFill = ringSize / 2;
    bool ringRefilling = false;

private:
    enum class path { A, B, C };

    /// What the open instance says of its frames and rates.
    struct sizes {
        int maxModem, maxSpeech, speechFrame, modemFrame, speechRate, modemRate;
    };
    sizes readSizes();
    void closeInstance();
    /// False (logged) when the mode cannot place the instance's frames on
    /// 48 kHz or its decode does not fit the ring.
    bool fits(int mode, const sizes& z);
    void encode();
    void takeSpeechSample(float k);
    void pushSpeech(int count);
    float nextSpeechSample();
    bool conjugating();
    /// Logs once per kind of refusal.
    void refuse(bool& said, const char* what, long long value);

    std::mutex codec_;
    FreeDVLib* lib_;
    int openMode_ = -1; // the mode of fdv
    path path_ = path::A;
    int rxStep = 6;     // 48000 / modem rate
    buff<int16_t> txReal; // real modem samples of 800XA
    // Path C: modem samples waiting to go out, oldest at txQueueRead.
    buff<cplx> txQueue;
    int txQueueRead = 0;
    int txQueueCount = 0;

    checkedValue<double> compressionInUse_; // what the chain carries of compression
    bool saidRxBlock_ = false, saidTxBlock_ = false, saidMissing_ = false;
};
