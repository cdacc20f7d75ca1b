#pragma once
// Ep6Packet: a radio-to-host packet of HPSDR protocol 1 carrying status and
// receive samples, 1032 bytes:
//   0..3  EF FE 01 06
//   4..7  sequence number, big-endian
//   8     first frame, 520 second frame; each 512 bytes:
//     0..1  7F 7F
//     2     7F, or the number of receivers in this frame − 1
//     3     C0: bit 0 PTT from the radio, bit 2 key input, bits 3..7 the
//           status address; bit 7 marks a register-write response
//     4..7  C1..C4, the status bytes of that address
//     8..   m = 504 / (6n + 2) samples of 6n + 2 bytes: per receiver 3 bytes
//           I, 3 bytes Q (24-bit big-endian two's complement), then 2 bytes
//           of microphone (unused)
//
// A view over received bytes: parse() refuses anything shorter than a whole
// packet, so nothing is ever read past what arrived.
#include <complex>
#include <cstddef>
#include <cstdint>
#include <optional>

/// Converts count 24-bit I/Q pairs starting at src, stride bytes apart,
/// into dst: each field becomes the top 24 bits of a signed 32-bit integer
/// times scale; in an even Nyquist zone (odd false) the sample is Q + jI,
/// in an odd one I + jQ. The caller guarantees the bytes exist.
void unpackhpsdr(std::complex<float>* dst, const unsigned char* src, size_t stride, size_t count, float scale,
                 bool odd);

class Ep6Frame {
public:
    static constexpr size_t size = 512;
    static constexpr size_t sampleBytes = 504;

    explicit Ep6Frame(const unsigned char* frame) : p_(frame) {}

    uint8_t c0() const { return p_[3]; }
    /// C1..C4 as c(1)..c(4).
    uint8_t c(int k) const { return p_[3 + k]; }
    bool ptt() const { return p_[3] & 0x01; }
    bool key() const { return p_[3] & 0x04; }
    int address() const { return p_[3] >> 3; }
    bool registerResponse() const { return p_[3] & 0x80; }
    /// The big-endian 16-bit status reading of C1C2 (pair 0) or C3C4 (1).
    unsigned status16(int pair) const {
        const unsigned char* p = p_ + (pair ? 6 : 4);
        return unsigned(p[0]) << 8 | p[1];
    }

    /// Receivers in this frame: byte 2 + 1 when byte 2 is not 7F and names
    /// fewer receivers than the radio has, else hwReceivers.
    int receivers(int hwReceivers) const;
    /// Samples per receiver in a frame of n receivers: 504 / (6n + 2).
    static size_t samplesPerFrame(int n);

    /// Converts samples [first, first + count) of receiver r of n into dst.
    /// Counts past the frame's samples, or r outside 0..n−1, convert nothing.
    size_t samples(int r, int n, size_t first, size_t count, std::complex<float>* dst, float scale, bool odd) const;

    const unsigned char* data() const { return p_; }

private:
    const unsigned char* p_;
};

class Ep6Packet {
public:
    static constexpr size_t size = 1032;

    /// The packet in data[0, length), or nothing when length is below 1032
    /// or bytes 2..3 are not 01 06.
    static std::optional<Ep6Packet> parse(const unsigned char* data, size_t length);

    uint32_t sequence() const;
    Ep6Frame frame(int i) const { return Ep6Frame(p_ + 8 + (i ? Ep6Frame::size : 0)); }

private:
    explicit Ep6Packet(const unsigned char* p) : p_(p) {}
    const unsigned char* p_;
};

/// Byte 2 and byte 3 of a protocol 1 datagram, or nothing when it is
/// shorter than a whole 1032-byte packet.
struct p1Header {
    uint8_t version;  ///< byte 2, 01 for every packet the host uses
    uint8_t endpoint; ///< byte 3: 04 wide band, 06 receive
    uint32_t sequence;
    static std::optional<p1Header> read(const unsigned char* data, size_t length);
};
