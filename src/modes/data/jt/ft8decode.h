#pragma once
// The FT8, FT4 and JS8 decoder: one slot recording in, up to 50 payloads
// out. Keeps no state between calls; everything lives on the calling thread,
// the working storage (about 700 kB) on the heap.
#include <cstddef>
#include <cstdint>

/// One result, 32 bytes in the caller's buffer, little-endian floats. Bytes
/// 22 .. 31 are never written.
struct Ft8DecodeRecord {
    float frequency; // audio frequency of tone 0, Hz
    float time;      // seconds from the start of the recording: the frame's start less half a symbol
    float snr;       // dB in 2500 Hz
    uint8_t payload[10]; // message bits MSB first, unused low bits of byte 9 zero
};
static_assert(offsetof(Ft8DecodeRecord, payload) == 12, "the record's layout is the interface's");

namespace jtdecode {

constexpr int maxRecords = 50;
constexpr int recordBytes = 32;
constexpr int maxCandidates = 240;
constexpr int minScore = 30;

/// The body of the exported ft8decode: decodes the WAV file at path, mode 8
/// FT8, 10 JS8, anything else FT4. Writes the records to result (room for
/// 50 x 32 bytes) and returns their number, or -1 when the file cannot be
/// read as mono 16-bit PCM, is too long for the mode (180000 samples, FT4
/// 90000), or an argument is null.
int decodeFile(const char* path, uint8_t* result, int mode);

} // namespace jtdecode

/// The three modes on samples already read (count of them, at rate); same
/// results as decodeFile.
int ft8decode1(const int16_t* samples, int count, int rate, uint8_t* result);
int ft4decode1(const int16_t* samples, int count, int rate, uint8_t* result);
int js8decode1(const int16_t* samples, int count, int rate, uint8_t* result);
