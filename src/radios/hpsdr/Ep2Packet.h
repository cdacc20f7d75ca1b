#pragma once
// Ep2Packet: a host-to-radio packet of HPSDR protocol 1, 1032 bytes:
//   0..3  EF FE 01 02
//   4..7  sequence number, big-endian (0 for the first packet of each start)
//   8     first CommandControlFrame (transmit samples 0..62 of a block)
//   520   second CommandControlFrame (samples 63..125)
// Built zero-filled in a pooled buffer that the UDP endpoint sends as is.
#include "dsp/buff.h"
#include "radios/hpsdr/CommandControlFrame.h"

#include <cstdint>

class Ep2Packet {
public:
    static constexpr size_t size = 1032;
    static constexpr size_t samplesPerPacket = 2 * CommandControlFrame::slots; // 126

    explicit Ep2Packet(uint32_t sequence);

    /// Frame 0 (at byte 8) or 1 (at byte 520).
    CommandControlFrame frame(int i) const;
    /// Both frames' slots from a block; samples past count are sent as 0.
    void setSamples(const std::complex<float>* block, size_t count, const transmitEncoding& how,
                    uint16_t& rampIndex);

    buff<char> bytes;
};
