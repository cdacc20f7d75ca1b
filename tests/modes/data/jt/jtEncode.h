#pragma once
// The transmitting side of FT8, FT4 and JS8 for the tests (the system only
// decodes): payload, CRC, LDPC parity from the published generators, Gray
// mapping and sync groups, giving one tone number per symbol; and signals of
// those tones at 12000 samples/s with white noise at a set SNR in 2500 Hz.
#include "modes/data/jt/crc.h"
#include "modes/data/jt/jtTables.h"


#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace jttest {

inline std::string dataPath(const std::string& name) { return std::string(JT_TEST_DATA) + "/" + name; }

/// The real FT8 receptions (WAV), in name order; each has its reference
/// decodes beside it as .txt.
inline std::vector<std::string> recordings() {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dataPath("recordings")))
        if (e.path().extension() == ".wav") out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
}

enum class Mode { ft8, ft4, js8 };

using Payload = std::array<uint8_t, 10>;

struct ModeInfo {
    int number;       // ft8decode's mode argument
    int messageBits;  // payload + CRC
    int symbols;      // per frame
    int bitsPerSymbol;
    int symbolSamples; // at 12000/s
    double spacingHz;
    double timeShift;  // the decoder's report less the frame's start
};

inline ModeInfo info(Mode m) {
    switch (m) {
    case Mode::ft8: return {8, 91, 79, 3, 1920, 6.25, 0.0};
    case Mode::ft4: return {4, 91, 103, 2, 576, 12000.0 / 576, -0.4};
    case Mode::js8: return {10, 87, 79, 3, 1920, 6.25, 0.0};
    }
    return {};
}

inline const char* name(Mode m) { return m == Mode::ft8 ? "FT8" : m == Mode::ft4 ? "FT4" : "JS8"; }

/// Rows of a generator file: parity bit i = XOR of the message bits set in
/// row i (MSB first, hex).
inline std::vector<std::vector<uint8_t>> loadGenerator(const std::string& file, int messageBits) {
    std::ifstream in(dataPath(file));
    std::vector<std::vector<uint8_t>> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<uint8_t> row(static_cast<size_t>(messageBits));
        for (int b = 0; b < messageBits; ++b) {
            const int nibble = std::stoi(line.substr(size_t(b / 4), 1), nullptr, 16);
            row[size_t(b)] = uint8_t((nibble >> (3 - b % 4)) & 1);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

inline const std::vector<std::vector<uint8_t>>& generator(Mode m) {
    static const auto g91 = loadGenerator("generator-174-91.txt", 91);
    static const auto g87 = loadGenerator("generator-174-87.txt", 87);
    return m == Mode::js8 ? g87 : g91;
}

/// The payload as the decoder reports it: the mode's unused low bits of
/// byte 9 cleared.
inline Payload trim(Mode m, Payload p) {
    p[9] &= m == Mode::js8 ? 0xE0 : 0xF8;
    return p;
}

inline Payload randomPayload(Mode m, std::mt19937& rng) {
    Payload p;
    for (auto& b : p) b = uint8_t(rng());
    return trim(m, p);
}

/// The 174 codeword bits of a payload, message first. FT4 scrambles the
/// payload before the CRC.
inline std::vector<uint8_t> codeword(Mode m, const Payload& payload) {
    uint8_t a[12] = {};
    for (int i = 0; i < 10; ++i) a[i] = payload[size_t(i)] ^ (m == Mode::ft4 ? ft4::kScramble[i] : 0);
    std::vector<uint8_t> bits(174);
    int payloadBits, crcBits;
    unsigned crc;
    if (m == Mode::js8) {
        a[9] &= 0xE0;
        payloadBits = 75;
        crcBits = 12;
        crc = js8::crc(a, 11) ^ 42u;
    } else {
        a[9] &= 0xF8;
        payloadBits = 77;
        crcBits = 14;
        crc = ft8::crc(a, 82);
    }
    for (int i = 0; i < payloadBits; ++i) bits[size_t(i)] = (a[i / 8] >> (7 - i % 8)) & 1;
    for (int i = 0; i < crcBits; ++i) bits[size_t(payloadBits + i)] = (crc >> (crcBits - 1 - i)) & 1;
    const int k = payloadBits + crcBits;
    const auto& g = generator(m);
    for (size_t r = 0; r < g.size(); ++r) {
        uint8_t x = 0;
        for (int c = 0; c < k; ++c) x ^= g[r][size_t(c)] & bits[size_t(c)];
        bits[size_t(k) + r] = x;
    }
    return bits;
}

/// One tone number per symbol of a frame.
inline std::vector<int> tones(Mode m, const Payload& payload) {
    const auto bits = codeword(m, payload);
    std::vector<int> out;
    if (m == Mode::ft4) {
        for (int g = 0; g < 4; ++g) {
            for (int k = 0; k < 4; ++k) out.push_back(ft4::kCostas[g][k]);
            if (g == 3) break;
            for (int s = 0; s < 29; ++s) {
                const int d = 29 * g + s;
                out.push_back(ft4::kGrayMap[bits[size_t(2 * d)] << 1 | bits[size_t(2 * d + 1)]]);
            }
        }
        return out;
    }
    const uint8_t* costas = m == Mode::js8 ? js8::kCostas : ft8::kCostas;
    const uint8_t* gray = m == Mode::js8 ? js8::kGrayMap : ft8::kGrayMap;
    for (int g = 0; g < 3; ++g) {
        for (int k = 0; k < 7; ++k) out.push_back(costas[k]);
        if (g == 2) break;
        for (int s = 0; s < 29; ++s) {
            const int d = 29 * g + s;
            out.push_back(gray[bits[size_t(3 * d)] << 2 | bits[size_t(3 * d + 1)] << 1 | bits[size_t(3 * d + 2)]]);
        }
    }
    return out;
}

/// Variance of real white noise at 12000/s that puts a real tone of
/// amplitude A at snrDb in 2500 Hz.
inline double noiseVariance(double amplitude, double snrDb) {
    return amplitude * amplitude / 2.0 / std::pow(10.0, snrDb / 10.0) * 6000.0 / 2500.0;
}

/// A frame of tones sent as continuous-phase FSK on `hz` from `startSeconds`
/// on, in `samples` samples at 12000/s with noise, as 16-bit samples.
inline std::vector<int16_t> synthesize(Mode m, const std::vector<int>& toneList, double hz, double startSeconds,
                                       double snrDb, size_t samples, unsigned seed) {
    const ModeInfo mi = info(m);
    std::vector<double> x(samples, 0.0);
    double phase = 0;
    const long start = std::lround(startSeconds * 12000);
    for (size_t s = 0; s < toneList.size(); ++s) {
        const double step = 2 * M_PI * (hz + toneList[s] * mi.spacingHz) / 12000.0;
        for (int i = 0; i < mi.symbolSamples; ++i) {
            const long n = start + long(s) * mi.symbolSamples + i;
            if (n >= 0 && size_t(n) < samples) x[size_t(n)] = std::cos(phase);
            phase += step;
        }
    }
    std::mt19937 rng(seed);
    std::normal_distribution<double> gauss(0.0, std::sqrt(noiseVariance(1.0, snrDb)));
    std::vector<int16_t> out(samples);
    const double scale = 2000.0 / std::max(1.0, std::sqrt(noiseVariance(1.0, snrDb)));
    for (size_t i = 0; i < samples; ++i)
        out[i] = int16_t(std::lround(std::clamp((x[i] + gauss(rng)) * scale, -32767.0, 32767.0)));
    return out;
}

/// Writes 16-bit mono samples as a WAV file with the given header rate.
inline void writeWav(const std::string& path, const std::vector<int16_t>& s, uint32_t rate = 12000) {
    std::ofstream f(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
    const uint32_t bytes = uint32_t(2 * s.size());
    f.write("RIFF", 4);
    u32(36 + bytes);
    f.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(1);
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    f.write("data", 4);
    u32(bytes);
    f.write(reinterpret_cast<const char*>(s.data()), std::streamsize(bytes));
}

/// One decoder record.
struct Record {
    float frequency, time, snr;
    Payload payload;
};

inline std::vector<Record> records(const uint8_t* buffer, int n) {
    std::vector<Record> out;
    for (int i = 0; i < n; ++i) {
        Record r;
        const uint8_t* p = buffer + 32 * i;
        std::memcpy(&r.frequency, p, 4);
        std::memcpy(&r.time, p + 4, 4);
        std::memcpy(&r.snr, p + 8, 4);
        std::memcpy(r.payload.data(), p + 12, 10);
        out.push_back(r);
    }
    return out;
}

} // namespace jttest
