#pragma once
#include <cstdint>

/// Reads a mono 16-bit PCM WAV file into buffer, which holds *count samples.
/// Returns 0 with *count set to the samples actually read (the rest of the
/// buffer zeroed) and *rate to the header's rate; -1 for a file that cannot
/// be opened, a short or unsupported header, a block align of 0 or a null
/// argument; -2 when the data holds more than *count frames. The four chunk
/// identifiers are not compared: the 44-byte header is taken as laid out.
int load_wav(int16_t* buffer, int* count, int* rate, const char* path);
