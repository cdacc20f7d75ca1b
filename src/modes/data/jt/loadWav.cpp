#include "modes/data/jt/loadWav.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

uint32_t le32(const unsigned char* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t le16(const unsigned char* p) { return uint16_t(p[0] | p[1] << 8); }

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

} // namespace

int load_wav(int16_t* buffer, int* count, int* rate, const char* path) {
    if (!buffer || !count || !rate || !path || *count < 0) return -1;
    std::unique_ptr<FILE, FileCloser> f(std::fopen(path, "rb"));
    if (!f) return -1;

    // RIFF id, size, WAVE, "fmt ", its size, format, channels, rate, byte
    // rate, block align, bits, data id, data size.
    unsigned char h[44];
    if (std::fread(h, 1, sizeof h, f.get()) != sizeof h) return -1;
    const uint32_t fmtSize = le32(h + 16);
    const uint16_t format = le16(h + 20);
    const uint16_t channels = le16(h + 22);
    const uint32_t sampleRate = le32(h + 24);
    const uint16_t blockAlign = le16(h + 32);
    const uint16_t bits = le16(h + 34);
    const uint32_t dataSize = le32(h + 40);
    if (fmtSize != 16 || format != 1 || channels != 1 || bits != 16 || blockAlign == 0) return -1;

    const uint32_t frames = dataSize / blockAlign;
    if (frames > uint32_t(*count)) return -2;
    // A short file yields what it holds; the caller's block count then
    // follows the samples read, and nothing past them is stale.
    const size_t got = std::fread(buffer, sizeof(int16_t), frames, f.get());
    std::memset(buffer + got, 0, (size_t(*count) - got) * sizeof(int16_t));
    *count = int(got);
    *rate = int(std::min<uint32_t>(sampleRate, 0x7fffffff));
    return 0;
}
