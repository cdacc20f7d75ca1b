#pragma once
// MultiPskTxRing: the transmit samples MultiPSK sends, waiting for the
// transmitter.
//
// "TXHWdata" packets put 16-bit I/Q pairs in (scaled by 1/33000); the
// transmit chain takes blocks out. Nothing comes out until more than 6144
// samples (128 ms) arrived since the last restart, so that MultiPSK's pace
// and the transmitter's never starve the chain at the start. The pace is
// steered by the backlog: more than half a ring waiting asks MultiPSK for
// rate 80 (slower), less for 120 (faster). A backlog below -8192 means
// MultiPSK stopped sending: the transmission should end. So does a
// transmission that never starts: once the transmitter has waited as long
// as a start that just made it and then ran dry would take (6144 + 8192
// samples more than MultiPSK sent), whatever MultiPSK sent before.
//
// The taken samples go through a one-pole DC removal whose estimate carries
// over from block to block and from one transmission to the next.
//
// Not thread-safe: the owner serialises put, take and restart.
#include "dsp/buff.h"

#include <complex>
#include <cstddef>

class MultiPskTxRing {
public:
    using cplx = std::complex<float>;
    static constexpr int ringSize = 65536;
    static constexpr long long startAfter = 6144;
    static constexpr long long underrunLimit = -8192;
    static constexpr float sampleScale = 1.0f / 33000.0f;
    static constexpr float dcRate = 0.01f;
    static constexpr int slowRate = 80;
    static constexpr int fastRate = 120;

    MultiPskTxRing();

    /// A new transmission: every sample, both indices and both counts to 0.
    /// The last announced rate and the DC estimate stay.
    void restart();

    /// pairs little-endian 16-bit I then Q at bytes. Returns the rate to
    /// announce when it changed (printed with " adj"), else 0.
    int put(const char* bytes, size_t pairs);

    /// Fills out: zeros before the start, else samples from the ring (the
    /// slots read become 0) after DC removal. A negative backlog is printed;
    /// true when it fell below the underrun limit, or when a transmission
    /// restarted has waited too long for its start ("#####TO" printed).
    bool take(buff<cplx> out);

    long long received() const { return received_; }
    long long consumed() const { return consumed_; }
    int lastRate() const { return lastRate_; }

private:
    buff<cplx> ring_{size_t(ringSize), cplx{}};
    int read_ = 0;
    int write_ = 0;
    // Wider than the sample counters of a 32-bit design: a transmission
    // longer than 12 hours must not wrap them.
    long long consumed_ = 0;
    long long received_ = 0;
    long long waited_ = 0;  // samples asked for since the restart, before the start
    bool waiting_ = false; // restarted and not yet started or given up
    int lastRate_ = 100;
    cplx dc_{};
};
