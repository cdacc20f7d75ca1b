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
// Opened with openBoard() the simulator plays the board: it keeps every
// datagram from the host itself (not in the peer's record), follows the
// host's start and stop packets, and pump() streams only between a start
// and the next stop; ep2() decodes the host's Ep2 packets (registers, MOX,
// transmit words). runClock() streams instead at a board's own pace from a
// thread of the simulator, as a real board does whatever the host does;
// stopClock() makes it fall silent, as a board that died.
//
// Tests binding port 1024 share the ctest RESOURCE_LOCK hpsdr_port_1024.
#include "sim/udpPeer.h"

#include <array>
#include <atomic>
#include <complex>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

/// A complex tone: amplitude (1.0 = full scale of the 24-bit fields) and
/// frequency in cycles per sample (negative below the centre).
struct simTone {
    double amplitude = 0.5;
    double cyclesPerSample = 0.01;
    double phase = 0.0;

    /// A tone offsetHz above a receiver's centre as a board at rate sends
    /// it: in an odd Nyquist zone the fields are I + jQ of the tone, in an
    /// even one they are swapped (the host reads Q + jI there).
    static simTone above(double offsetHz, int rate, bool oddZone, double amplitude = 0.5);
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

/// One frame of a host-to-board packet as the board reads it.
struct ep2Frame {
    uint8_t c0 = 0, c1 = 0, c2 = 0, c3 = 0, c4 = 0;
    /// The two IQ words of each of the 63 slots, as sent.
    std::array<std::array<int16_t, 2>, 63> iq{};
    bool mox() const { return c0 & 1; }
    /// The register index of an ordinary frame (a queued command's C0 is
    /// FA or FB, index 125).
    int index() const { return c0 >> 1; }
};

struct ep2Packet {
    uint32_t sequence = 0;
    std::array<ep2Frame, 2> frames;
};

/// An Ep2 packet (1032 bytes, EF FE 01 02), or nothing.
std::optional<ep2Packet> decodeEp2(const std::vector<uint8_t>& bytes);

/// The 64-byte start/stop command (EF FE 04 flags, zeros) as a host sends it.
inline std::vector<uint8_t> startStopPacket(uint8_t flags) {
    std::vector<uint8_t> p(64, 0);
    p[0] = 0xEF;
    p[1] = 0xFE;
    p[2] = 0x04;
    p[3] = flags;
    return p;
}

class hpsdrP1Sim {
public:
    static constexpr uint16_t boardPort = 1024;

    hpsdrP1Sim() = default;
    /// The clock and the peer's thread end first: they use the state below.
    ~hpsdrP1Sim() {
        stopClock();
        peer.close();
    }

    /// Listens on address:1024. False, with the reason, when it cannot.
    bool open(const std::string& address = "127.0.0.1", std::string* why = nullptr) {
        return peer.open(address, boardPort, why);
    }

    /// Sends to the host that sent the newest datagram; false before any.
    bool sendToHost(const std::vector<uint8_t>& bytes) {
        auto host = peer.lastSender();
        return host && peer.sendTo(bytes, *host);
    }

    /// As open, playing the board (see above).
    bool openBoard(const std::string& address = "127.0.0.1", std::string* why = nullptr);
    /// Board mode: the host's datagrams so far, and waiting for them.
    std::vector<udpPeer::datagram> hostDatagrams() const;
    size_t hostCount() const;
    bool waitForHost(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    /// Board mode: the host's Ep2 packets so far, in order.
    std::vector<ep2Packet> ep2() const;
    /// Board mode: the host's start and stop packets (64 bytes, EF FE 04
    /// flags), in order.
    std::vector<std::vector<uint8_t>> startStop() const;
    /// Board mode: whether the newest start or stop packet asked for the
    /// stream.
    bool streaming() const;

    /// Sends count Ep6 packets of stream while the host has it streaming,
    /// numbered from sequence on (which advances). Before each packet it
    /// waits until the host has taken all but `window` of those sent:
    /// consumed() gives the sequence number the host expects next. Returns
    /// how many were sent (fewer when the host stops the stream or stops
    /// taking packets for 10 s).
    size_t pump(ep6Stream& stream, uint32_t& sequence, size_t count, const std::function<uint32_t()>& consumed,
                uint32_t window = 16);

    /// Board mode: sends the Ep6 packets of stream at the pace of a board at
    /// rate (one per 2 × samplesPerFrame samples) from a thread of its own,
    /// while the host has it streaming, numbered from 0 after every start.
    /// In a sanitizer build, which may run the host slower than any board,
    /// the clock also waits while the host is more than a window of packets
    /// behind (by the Ep2 packets it sent since the start, one per 126
    /// samples of the stream at 48000), so that the host's queues never
    /// overflow with the board's packets and drop its own work; a host that
    /// sends nothing for a while (released, or gone) is not waited for.
    void runClock(ep6Stream stream, int rate = 48000);
    /// Ends the clock: the board sends nothing more.
    void stopClock();
    /// Ep6 packets the clock has sent so far.
    size_t clockPackets() const { return clockSent_; }

    udpPeer peer;

private:
    mutable std::mutex m_;
    mutable std::condition_variable cv_;
    std::vector<udpPeer::datagram> host_;
    bool streaming_ = false;
    unsigned starts_ = 0; // start packets received
    size_t ep2SinceStart_ = 0; // the host's Ep2 packets since the latest start
    std::thread clock_;
    std::atomic<bool> clockStop_{false};
    std::atomic<size_t> clockSent_{0};
};
