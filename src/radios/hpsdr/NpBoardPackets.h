#pragma once
// The datagrams an HPSDR protocol 2 board sends to the host. Only the
// source port says which packet a datagram is:
//
//   1025        high priority status: byte 5 bit 0 = ADC 0 overload
//   1026        microphone samples: not read, only their arrival counts
//   1027        wide band, 1028 bytes: sequence (0..3, only its low two
//               bits place the packet in a frame of four), then 512 ADC
//               samples, signed 16-bit big-endian
//   1035 + d    DDC d IQ, 1444 bytes: sequence (0..3), 12 bytes not read,
//               then 238 samples of I and Q, each signed 24-bit big-endian
//
// Views over received bytes: parse() refuses a datagram shorter than its
// packet, so nothing is ever read past what arrived.
#include <complex>
#include <cstddef>
#include <cstdint>
#include <optional>

struct NpBoardPorts {
    static constexpr uint16_t status = 1025;
    static constexpr uint16_t microphone = 1026;
    static constexpr uint16_t wideBand = 1027;
    static constexpr uint16_t firstDdc = 1035;
    static constexpr uint16_t lastDdc = 1050; // DDC 15
};

class DDCIQPacket {
public:
    static constexpr size_t size = 1444;
    static constexpr size_t samples = 238;
    static constexpr size_t firstSample = 16;
    static constexpr size_t stride = 6;

    static std::optional<DDCIQPacket> parse(const unsigned char* data, size_t length);

    uint32_t sequence() const;
    /// Converts samples [first, first + count) into dst, as unpackhpsdr
    /// does: (I, Q) in an odd Nyquist zone, (Q, I) in an even one. Counts
    /// past the packet's 238 samples convert nothing; returns those done.
    size_t convert(std::complex<float>* dst, size_t first, size_t count, float scale, bool odd) const;

private:
    explicit DDCIQPacket(const unsigned char* p) : p_(p) {}
    const unsigned char* p_;
};

class WideBandPacket {
public:
    static constexpr size_t size = 1028;
    static constexpr size_t samples = 512;
    static constexpr size_t frameLength = 2048;

    static std::optional<WideBandPacket> parse(const unsigned char* data, size_t length);

    uint32_t sequence() const;
    /// Where the packet's samples start in the frame of four.
    size_t position() const { return samples * (sequence() % 4); }
    /// The 512 samples, from byte 4 on.
    const unsigned char* sampleBytes() const { return p_ + 4; }

private:
    explicit WideBandPacket(const unsigned char* p) : p_(p) {}
    const unsigned char* p_;
};

class HighPriorityStatusPacket {
public:
    static constexpr size_t minimumSize = 6;

    static std::optional<HighPriorityStatusPacket> parse(const unsigned char* data, size_t length);

    bool adcOverload() const { return p_[5] & 0x01; }

private:
    explicit HighPriorityStatusPacket(const unsigned char* p) : p_(p) {}
    const unsigned char* p_;
};
