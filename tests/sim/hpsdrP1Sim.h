#pragma once
// hpsdrP1Sim: an HPSDR protocol 1 board on loopback, for tests and
// benchmarks. It listens on 127.0.0.1:1024 (or [::1]:1024), records every
// datagram the host sends with its arrival time (the host's address is
// learnt from them), and sends what a board sends: Ep6 packets built from
// tones per receiver with chosen status bytes and sequence numbers, Ep4
// wide-band packets, and raw datagrams of any length.
//
// The packet builders are plain and static-free: ep6Stream keeps the tones'
// phases across packets, so consecutive packets carry continuous signals
// that a decoder can be checked against sample by sample (toneSample gives
// the reference).
//
// Reuse: grow the board's answers (start and stop, Ep2 decoding) here;
// tests binding port 1024 share the ctest RESOURCE_LOCK hpsdr_port_1024.
#include "sim/udpPeer.h"

#include <array>
#include <complex>
#include <cstdint>
#include <string>
#include <vector>

/// A complex tone: amplitude (1.0 = full scale of the 24-bit fields) and
/// frequency in cycles per sample (negative below the centre).
struct simTone {
    double amplitude = 0.5;
    double cyclesPerSample = 0.01;
    double phase = 0.0;
};

/// The status part of one Ep6 frame.
struct simStatus {
    uint8_t c0 = 0, c1 = 0, c2 = 0, c3 = 0, c4 = 0;
    /// Byte 2 of the frame: 0x7F, or receivers − 1.
    uint8_t receiverByte = 0x7F;
};

/// Builds consecutive Ep6 packets for n receivers, each carrying the sum of
/// its tones, fields as the board sends them (I first, then Q).
class ep6Stream {
public:
    ep6Stream(int receivers, std::vector<std::vector<simTone>> tones);

    /// The next packet; the tones go on where the previous packet stopped.
    std::vector<uint8_t> next(uint32_t sequence, simStatus first = {}, simStatus second = {});

    int receivers() const { return n_; }
    /// Samples per receiver per frame: 504 / (6n + 2).
    size_t samplesPerFrame() const;
    /// Receiver r's signal at absolute sample index k (0 = the first sample
    /// of the first packet), as 24-bit integer fields (I, Q).
    std::array<int32_t, 2> fields(int r, size_t k) const;

private:
    int n_;
    std::vector<std::vector<simTone>> tones_;
    size_t sampleIndex_ = 0;
};

/// One Ep4 packet: sequence and 512 samples (little-endian 16-bit).
std::vector<uint8_t> ep4Packet(uint32_t sequence, const std::vector<int16_t>& samples);

class hpsdrP1Sim {
public:
    static constexpr uint16_t boardPort = 1024;

    /// Listens on address:1024. False, with the reason, when it cannot.
    bool open(const std::string& address = "127.0.0.1", std::string* why = nullptr) {
        return peer.open(address, boardPort, why);
    }

    /// Sends to the host that sent the newest datagram; false before any.
    bool sendToHost(const std::vector<uint8_t>& bytes) {
        auto host = peer.lastSender();
        return host && peer.sendTo(bytes, *host);
    }

    udpPeer peer;
};
