#pragma once
// CommandControlFrame: one of the two 512-byte frames of a host-to-radio
// packet (Ep2Packet) of HPSDR protocol 1, written in place:
//
//   0..2   7F 7F 7F
//   3      C0: bit 0 MOX, bits 1..7 the command-and-control index (or a
//          one-shot command's own C0)
//   4..7   C1..C4, the register bytes of that index
//   8..511 63 transmit slots of 8 bytes: left and right audio (big-endian
//          16-bit; the test ramp on boards that want it, else 0), then two
//          big-endian signed 16-bit IQ words
//
// The IQ words: s = 32766 × iqScale; i = s·I, q = s·Q; a sample longer than
// 32766 is shortened to 32766 keeping its phase; in an even Nyquist zone the
// words are (−i, q), in an odd one (q, −i); each rounded to the nearest
// integer, halves away from zero. A sample that is not finite is sent as 0.
// With cwInternal the board keys its own carrier: the slot carries only
// 00 03 00 00 (the integer part of I non-zero) or zeros.
#include <complex>
#include <cstddef>
#include <cstdint>

/// How transmit samples become slots.
struct transmitEncoding {
    double iqScale = 1.0;       ///< of the drive-table entry in use
    bool reversedZone = false;  ///< transmit frequency in an odd Nyquist zone
    bool cwInternal = false;
    /// The test ramp (boards of type 6), entry k = 16·k, 4096 entries; null:
    /// audio words 0.
    const uint16_t* ramp = nullptr;
};

class CommandControlFrame {
public:
    static constexpr size_t size = 512;
    static constexpr size_t slots = 63;
    static constexpr size_t slotSize = 8;
    static constexpr size_t rampLength = 4096;
    static constexpr double fullScale = 32766.0;

    /// A view of 512 writable bytes.
    explicit CommandControlFrame(unsigned char* frame) : p_(frame) {}

    /// C0 of an ordinary frame: MOX in bit 0, the index above it.
    static uint8_t c0(bool mox, int index) { return uint8_t((mox ? 1 : 0) | (index << 1)); }

    /// Writes the sync bytes and C0..C4.
    void setHeader(uint8_t c0, uint8_t c1, uint8_t c2, uint8_t c3, uint8_t c4);
    /// C1..C4, for writers that fill them field by field.
    unsigned char* registers() const { return p_ + 4; }

    /// Writes the 63 slots from samples[0..count); slots past count carry a
    /// zero sample. rampIndex (0..4095) is the running ramp position shared
    /// across frames and packets; it advances by one per slot with a ramp.
    void setSamples(const std::complex<float>* samples, size_t count, const transmitEncoding& how,
                    uint16_t& rampIndex);

    /// One slot's IQ words as sent (before byte order), for tests and peers.
    static void iqWords(std::complex<float> x, const transmitEncoding& how, int16_t& first, int16_t& second);

    unsigned char* data() const { return p_; }

private:
    unsigned char* p_;
};
