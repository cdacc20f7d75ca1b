#pragma once
// WsIqFrame: one binary websocket message from the proxy server carrying 512
// complex samples and the centre frequency they were taken at.
//
//   offset  size  content
//        0     1  frame type, 3
//        5     8  centre frequency, Hz, 64-bit float
//       17  4096  512 x (I, Q), 32-bit floats
//
// Everything is little-endian; bytes 1-4 and 13-16 are not read. The fields
// sit at odd offsets, so they are copied out byte-wise, never cast in place.
#include <complex>
#include <cstddef>
#include <cstdint>

struct WsIqFrame {
    static constexpr size_t size = 4113;
    static constexpr size_t centreOffset = 5;
    static constexpr size_t samplesOffset = 17;
    static constexpr size_t samples = 512;
    static constexpr uint8_t type = 3;
    /// Largest centre frequency, either sign, taken as a frequency. Nothing
    /// tunes near it, and it keeps the sums of centre and offsets made
    /// downstream far inside 64 bits.
    static constexpr double maxCentre = 1e12;

    enum class verdict {
        notAFrame, ///< wrong length or type: not meant as IQ, dropped quietly
        badCentre, ///< NaN, infinite or beyond maxCentre: the frame is dropped
        samples,   ///< centre and samples taken
    };
    struct result {
        verdict what = verdict::notAFrame;
        double centre = 0;    ///< as sent, also when refused
        long long hz = 0;     ///< centre truncated toward zero, when taken
        size_t nonFinite = 0; ///< samples with a NaN or infinite part, written as 0
    };

    /// Reads one message of n bytes. For a frame that is taken, writes its
    /// 512 samples to out (which holds at least 512), any sample with a
    /// non-finite part as 0. Never reads past n; out is untouched otherwise.
    static result decode(const uint8_t* message, size_t n, std::complex<float>* out);
};
