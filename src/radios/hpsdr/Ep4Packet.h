#pragma once
// Ep4Packet: a radio-to-host wide-band packet of HPSDR protocol 1, 1032
// bytes: EF FE 01 04, a big-endian sequence number s, then 512 raw ADC
// samples as little-endian signed 16-bit (little-endian, unlike everything
// else). Four consecutive packets fill one 2048-sample frame; a packet's
// samples belong at (s mod 4)·512.
#include <cstddef>
#include <cstdint>
#include <optional>

class Ep4Packet {
public:
    static constexpr size_t size = 1032;
    static constexpr size_t samplesPerPacket = 512;
    static constexpr size_t frameLength = 2048;

    /// The packet in data[0, length), or nothing when length is below 1032
    /// or bytes 2..3 are not 01 04.
    static std::optional<Ep4Packet> parse(const unsigned char* data, size_t length);

    uint32_t sequence() const;
    int16_t sample(size_t i) const {
        const unsigned char* p = p_ + 8 + 2 * i;
        return int16_t(uint16_t(p[0] | p[1] << 8));
    }
    /// Where this packet's first sample goes in the 2048-sample frame.
    size_t position() const { return (sequence() % 4) * samplesPerPacket; }
    /// This packet fills the frame's last position.
    bool completesFrame() const { return sequence() % 4 == 3; }

private:
    explicit Ep4Packet(const unsigned char* p) : p_(p) {}
    const unsigned char* p_;
};
