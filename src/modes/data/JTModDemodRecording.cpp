// Slot recordings: the level rule and the two file formats, written by the
// thread a finished period is handed to.
#include "modes/data/JTModDemod.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

void put16(std::vector<unsigned char>& v, uint16_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void put32(std::vector<unsigned char>& v, uint32_t x) {
    put16(v, uint16_t(x));
    put16(v, uint16_t(x >> 16));
}
void putText(std::vector<unsigned char>& v, const char* s) { v.insert(v.end(), s, s + 4); }

/// A file written whole or reported: false (logged with path and reason)
/// when it cannot be created, written or closed.
bool writeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    errno = 0;
    FILE* raw = std::fopen(path.c_str(), "wb");
    if (!raw) {
        spdlog::error("JTModDemod cannot create {}: {}", path, std::strerror(errno));
        return false;
    }
    std::unique_ptr<FILE, FileCloser> f(raw);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
    const int writeError = errno;
    const bool closed = std::fclose(f.release()) == 0;
    if (!written || !closed) {
        spdlog::error("JTModDemod cannot write {}: {}", path, std::strerror(written ? errno : writeError));
        return false;
    }
    return true;
}

} // namespace

std::string JTModDemod::decode(buff<float> samples, double peak, double mean, const std::string& path,
                               double dialMHz, int saveMode) {
    float level = 0.0f;
    bool clip = false;
    // A silent period (peak 0) stays all zeros at level 0: 32000 / 0 would
    // make every sample 0 x infinity.
    if (peak > 0 && mean > 0 && std::isfinite(peak)) {
        if (peak / mean > 15) {
            level = float(32000.0 / (15.0 * mean));
            clip = true;
        } else {
            level = float(32000.0 / peak);
        }
    }
    const bool ok = saveMode == 1 ? writeToC2(path, samples, level, dialMHz) : writeToWav(path, samples, level, clip);
    return ok ? path : std::string();
}

bool JTModDemod::writeToWav(const std::string& path, const buff<float>& samples, float level, bool clip) {
    const uint32_t N = uint32_t(samples.count);
    std::vector<unsigned char> bytes;
    bytes.reserve(44 + 2 * size_t(N));
    putText(bytes, "RIFF");
    put32(bytes, 36 + 2 * N);
    putText(bytes, "WAVE");
    putText(bytes, "fmt ");
    put32(bytes, 16);
    put16(bytes, 1);     // PCM
    put16(bytes, 1);     // mono
    put32(bytes, 12000); // whatever the decimation
    put32(bytes, 24000);
    put16(bytes, 2);
    put16(bytes, 16);
    putText(bytes, "data");
    put32(bytes, 2 * N);
    for (float x : samples) {
        double s = double(x) * level;
        if (clip) s = std::clamp(s, -32766.0, 32766.0);
        // Truncation toward zero, kept inside 16 bits whatever the level.
        s = std::isfinite(s) ? std::clamp(s, -32768.0, 32767.0) : 0.0;
        put16(bytes, uint16_t(int16_t(s)));
    }
    return writeFile(path, bytes);
}

bool JTModDemod::writeToC2(const std::string& path, const buff<float>& samples, float level, double dialMHz) {
    std::vector<unsigned char> bytes(14, 0);
    bytes.reserve(26 + 4 * samples.count);
    put32(bytes, 2);
    uint64_t dial;
    std::memcpy(&dial, &dialMHz, 8);
    put32(bytes, uint32_t(dial));
    put32(bytes, uint32_t(dial >> 32));
    for (float x : samples) {
        const float v = x * level;
        uint32_t u;
        std::memcpy(&u, &v, 4);
        put32(bytes, u);
    }
    return writeFile(path, bytes);
}
