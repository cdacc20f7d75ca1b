#pragma once
// chirpyModDemod: an experimental chirp link test.
//
// Transmit: a continuous alternation of two chirps of 4096 samples (85.3 ms
// at 48000/s): B, A, B, A ... Chirp A sweeps 0 to 3000 Hz; chirp B is chirp A
// rotated by half its length, so B sweeps 1500 to 3000 Hz and then 0 to 1500.
//
// Receive: two matched filters (correlators A and B) run on the stream; at
// every 16th sample a = |A|, b = |B| go to the channel of that sample phase
// (256 channels span one chirp), which slices one bit per chirp (1 when
// a > b) into 23 decoders, one per word alignment, each descrambling and
// Golay-decoding 23-bit test words. Nothing of it reaches the host: the
// decoded values stay in the decoders, and a capture of a, b and a - b goes
// to the file "c:\scratch\chirpud3_9.csv" in the working directory, 7680
// lines once per mode, starting 160 chirps after the first transmit block.
//
// The test word source (getNextTxCode, getNextTxBit) gives the bit sequence
// a sender would key, words 1234 and 2947 alternately; modulate does not use
// it.
//
// Threads: modulate and demodulate run on the transceiver's task group;
// nothing else touches the mode's state. The Golay tables are process-wide
// (golay.h).
#include "core/modDemod.h"
#include "dsp/lowLatFir.h"
#include "modes/data/chirp/chirpyChannel.h"
#include "modes/data/firFeed.h"

#include <array>
#include <complex>
#include <cstdint>
#include <fstream>

class chirpyModDemod : public modDemod {
public:
    using cplx = std::complex<float>;

    static constexpr int rate = 48000;
    static constexpr size_t chirpSamples = 4096;
    static constexpr int phases = 256;     // channels, one per 16 samples of a chirp
    static constexpr int decimation = 16;  // samples per channel step
    static constexpr int captureStartChirps = 160;
    static constexpr int captureLines = 7680;
    static constexpr const char* captureFile = "c:\\scratch\\chirpud3_9.csv";
    static constexpr int firstWord = 1234;
    static constexpr int secondWord = 2947;

    explicit chirpyModDemod(std::shared_ptr<syncTask> taskGroup);
    ~chirpyModDemod() override = default;

    /// The real part of every sample of block (an empty block gives an empty
    /// one); any block length.
    buff<float> demodulate(buff<cplx> block) override;
    /// Fills out with the chirp alternation; the microphone is ignored.
    void modulate(buff<cplx> in, buff<cplx> out) override;

    /// Makes the next test word (1234, 2947, 1234 ...), keeps it scrambled
    /// for getNextTxBit and returns its codeword.
    uint32_t getNextTxCode();
    /// Puts the next bit of the test word sequence, most significant first,
    /// into the chirp selector (1: chirp A).
    void getNextTxBit();

    const double chirpLength = 4096.0; // samples
    const double chirpSweep = 3000.0;  // Hz
    const uint32_t scramble = chirpyDecoder::scramble;

    buff<cplx> chirpA;
    buff<cplx> chirpB;
    lowLatFir correlatorA;
    lowLatFir correlatorB;
    std::array<chirpyChannel, phases> channels;

    // Transmitter.
    int chirpSelector = 0; // 0: chirp B, 1: chirp A
    uint64_t txIndex = 0;  // sample within the chirp
    bool transmitting = false;

    // Receiver.
    int phaseIndex = 0;
    int chirpCounter = 0;   // chirps received while transmitting
    int captureCount = 0;   // capture lines written (or attempted)
    std::ofstream capture;

    // Test word source.
    int wordToggle = 0;
    uint32_t txWord = 0; // scrambled
    uint32_t bitMask = 0;

private:
    void step(float a, float b);
    void writeCapture(float a, float b);

    firFeed feed_;
};
