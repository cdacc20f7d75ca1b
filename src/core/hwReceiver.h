#pragma once
#include "dsp/buff.h"

#include <complex>
#include <cstdint>

/// Frequencies and offsets beyond this (Hz, either sign) are refused from the
/// host: no radio reaches them, and sums of a few of them stay far inside a
/// long long.
inline constexpr long long maxRadioFrequency = 1'000'000'000'000LL;

/// One hardware receiver (digital down-converter) of a radio: the block it
/// is filling and where it is tuned. Copies share the block.
struct hwReceiver {
    buff<std::complex<float>> block{512};
    long long frequency = 0; ///< centre, relative to the radio's TransceiverOffset
    int tuningError = 0;     ///< how far the device really tuned from frequency
    int sampleRate = 48000;
    size_t fill = 0;         ///< samples already in block
    /// The rate block was sized for; 0 while it is the first one, of 512
    /// samples whatever the rate. Written with block.
    int blockRate = 0;
    int slot = 0;            ///< transceiver slot (0 to 3) it serves
    int remoteId = -1;       ///< its id on a proxy server, -1 while none is known
    uint32_t expectedSequence = 0; ///< next packet number of a back-end that numbers its packets per receiver

    /// Receive block length at a rate: 512 up to 48000 samples per second,
    /// above that the power of two that keeps a block at least 512/48000 s.
    static size_t blockSizeFor(int rate);
};
