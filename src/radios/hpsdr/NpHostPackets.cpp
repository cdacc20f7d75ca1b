#include "radios/hpsdr/NpHostPackets.h"

#include <algorithm>
#include <cmath>

namespace {

buff<char> zeroed(size_t length) { return buff<char>(length, char(0)); }

int clampDdcs(long long n) { return int(std::clamp<long long>(n, 0, NpHostPackets::maxDdcs)); }

} // namespace

void NpHostPackets::writeUInt32(char* b, int offset, uint32_t v) {
    b[offset] = char(v >> 24);
    b[offset + 1] = char(v >> 16);
    b[offset + 2] = char(v >> 8);
    b[offset + 3] = char(v);
}

void NpHostPackets::writeInt32(char* b, int offset, int32_t v) { writeUInt32(b, offset, uint32_t(v)); }

void NpHostPackets::writeInt16(char* b, int offset, int v) {
    b[offset] = char(uint32_t(v) >> 8);
    b[offset + 1] = char(v);
}

buff<char> NpHostPackets::general() {
    buff<char> p = zeroed(shortLength);
    char* b = p.data;
    b[4] = 0x00; // command: general packet
    writeInt16(b, 5, ddcPort);
    writeInt16(b, 7, transmitterPort);
    writeInt16(b, 9, highPriorityPort);
    writeInt16(b, 11, 1025); // high priority status from the board
    writeInt16(b, 13, 1028); // receiver audio to the board
    writeInt16(b, 15, ducPort);
    writeInt16(b, 17, 1035); // DDC 0 IQ; DDC d on 1035 + d
    writeInt16(b, 19, 1026); // microphone from the board
    writeInt16(b, 21, 1027); // wide band from the board
    b[23] = 1;               // wide band on
    writeInt16(b, 24, 512);  // samples per packet
    b[26] = 16;              // bits per sample
    b[27] = 20;              // update period, ms
    b[28] = 32;              // packets per block
    b[37] = 0x08;            // frequencies as phase words
    b[58] = 0x01;
    b[59] = 0x03;
    return p;
}

buff<char> NpHostPackets::transmitter() {
    buff<char> p = zeroed(shortLength);
    char* b = p.data;
    b[4] = 0x01;              // DACs
    b[5] = char(0xB8);        // CW mode bits
    writeInt16(b, 7, 600);    // side-tone, Hz
    b[9] = 25;                // keyer speed, wpm
    b[10] = 50;               // keyer weight
    writeInt16(b, 11, 310);   // hang delay, ms
    b[13] = 20;               // RF delay, ms
    writeInt16(b, 14, 192);   // DUC rate, kHz
    b[50] = 0x04;             // microphone control
    b[51] = 23;               // line-in gain
    b[57] = b[58] = b[59] = 31; // ADC attenuation while transmitting, dB
    return p;
}

buff<char> NpHostPackets::ddc(int receivers, int ddcs, int sampleRate) {
    buff<char> p = zeroed(longLength);
    char* b = p.data;
    b[4] = 2; // ADCs
    const int enabled = std::clamp(receivers, 0, 16);
    for (int d = 0; d < enabled; ++d) b[7 + d / 8] = char(uint8_t(b[7 + d / 8]) | 1u << (d % 8));
    const int n = clampDdcs(ddcs);
    const int kHz = sampleRate / 1000; // truncating; the field keeps the low 16 bits
    for (int d = 0; d < n; ++d) {
        const int at = 17 + 6 * d;
        b[at] = 0; // ADC 0
        writeInt16(b, at + 1, kHz);
        b[at + 5] = 24; // bits per sample
    }
    return p;
}

uint32_t NpHostPackets::phaseWord(long long f, int clock) {
    if (clock < 2) return 0;
    const double w = std::round(double(f) * 4294967296.0 / double(clock));
    if (!(w > 0.0)) return 0;
    if (w >= 4294967295.0) return 4294967295u;
    return uint32_t(w);
}

buff<char> NpHostPackets::highPriority(bool run, const std::vector<long long>& f, int ddcs, int clock,
                                       long long attenuation) {
    buff<char> p = zeroed(longLength);
    char* b = p.data;
    b[4] = run ? 1 : 0; // run only: nothing here ever keys the board
    const uint32_t first = f.empty() ? 0 : phaseWord(f[0], clock);
    const int n = clampDdcs(static_cast<long long>(f.size()));
    const int m = clampDdcs(ddcs);
    for (int d = 0; d < n; ++d) writeUInt32(b, 9 + 4 * d, phaseWord(f[size_t(d)], clock));
    for (int d = n; d < m; ++d) writeUInt32(b, 9 + 4 * d, first);
    writeUInt32(b, 329, first); // DUC 0
    b[controlWordOffset] = 0x21;
    b[controlWordOffset + 2] = 0x10;
    b[attenuationOffset] = char(uint8_t(attenuation & 0xFF));
    return p;
}

buff<char> NpHostPackets::duc(uint32_t sequence) {
    buff<char> p = zeroed(longLength);
    writeUInt32(p.data, 0, sequence);
    return p;
}
