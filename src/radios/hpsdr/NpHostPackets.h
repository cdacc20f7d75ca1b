#pragma once
// The datagrams a host sends to an HPSDR protocol 2 board. Each packet is
// built in a fresh zeroed buffer; multi-byte fields are big-endian; bytes 0..3
// (the sequence number) stay 0 except in the DUC IQ packet. The destination
// port tells the board which packet it is:
//
//   General           60 bytes to 1024  constants: the board's port map, the
//                                       wide-band format, phase-word tuning
//   DDC specific    1444 bytes to 1025  ADC count, enable bits of DDC 0..15,
//                                       a 6-byte block per DDC at 17 + 6d
//                                       (ADC 0, rate in kHz, 24 bits)
//   Transmitter       60 bytes to 1026  constants (CW keyer, DUC rate, mic)
//   High priority   1444 bytes to 1027  run bit, DDC phase words at 9 + 4d,
//                                       DUC word at 329, control word
//                                       21 00 10 00 at 1432, ADC 0
//                                       attenuation at 1443
//   DUC IQ          1444 bytes to 1029  a running sequence number, silence
//
// The packets have room for 80 DDC blocks and 80 phase words: counts above
// that are cut to 80 here, so no field ever spills into another or out of
// the packet. Plain functions, any thread.
#include "dsp/buff.h"

#include <cstdint>
#include <vector>

struct NpHostPackets {
    static constexpr size_t shortLength = 60;
    static constexpr size_t longLength = 1444;
    /// DDC blocks and phase words the packets have room for.
    static constexpr int maxDdcs = 80;

    static constexpr uint16_t generalPort = 1024;
    static constexpr uint16_t ddcPort = 1025;
    static constexpr uint16_t transmitterPort = 1026;
    static constexpr uint16_t highPriorityPort = 1027;
    static constexpr uint16_t ducPort = 1029;

    static constexpr size_t controlWordOffset = 1432;
    static constexpr size_t attenuationOffset = 1443;

    /// Big-endian stores at buffer + offset; writeInt16 keeps the low 16 bits.
    static void writeUInt32(char* buffer, int offset, uint32_t value);
    static void writeInt32(char* buffer, int offset, int32_t value);
    static void writeInt16(char* buffer, int offset, int value);

    static buff<char> general();
    static buff<char> transmitter();
    /// receivers: enabled DDCs (0..receivers−1, at most 16 have enable bits);
    /// ddcs: DDC blocks written, each with sampleRate / 1000 as its rate.
    static buff<char> ddc(int receivers, int ddcs, int sampleRate);
    /// frequencies[d]: DDC d's centre in Hz; DDCs from frequencies.size() up
    /// to ddcs get the word of frequencies[0]; the DUC word is that too.
    /// attenuation goes out as its low 8 bits.
    static buff<char> highPriority(bool run, const std::vector<long long>& frequencies, int ddcs, int clockFrequency,
                                   long long attenuation);
    static buff<char> duc(uint32_t sequence);

    /// f × 2^32 / clock rounded half away from zero and clamped to 0..2^32−1;
    /// 0 for a clock below 2 Hz, which has no meaningful word.
    static uint32_t phaseWord(long long frequency, int clockFrequency);
};
