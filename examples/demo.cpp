// vireo_demo: a loop-back test radio with two transceivers. One transmits a
// 1000 Hz tone through a host-driven mode; the other receives it. The demo
// polls the library for a few seconds as any host does, then writes what it
// heard (a WAV file) and saw (a waterfall PNG) and prints the signal strength.
//
//   vireo_demo [output-directory]
#include "vireocore.h"

#include <png.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<void*> transceivers;
std::vector<float> audio;
std::vector<std::vector<float>> lines;
double lineLow = 0, lineHigh = 0;
double strength = -1800;
double txPhase = 0;

void onAdded(void* vtrx, long long frequency, int rate, int) {
    std::printf("transceiver at %lld Hz, radio rate %d\n", frequency, rate);
    transceivers.push_back(vtrx);
}

void onAudio(void* a) {
    float* d = floatArray_data(a);
    audio.insert(audio.end(), d, d + floatArray_size(a));
    floatArray_delete(a);
}

void onSpectrum(void* line, int, double low, double high) {
    float* d = floatArray_data(line);
    lines.emplace_back(d, d + floatArray_size(line));
    lineLow = low;
    lineHigh = high;
    floatArray_delete(line);
}

void onStrength(double s) { strength = std::fmax(strength, s); }

// The transmitting mode: fills each transmit block with a 1000 Hz tone
// (complex, so it lands 1000 Hz above the transmitter's frequency).
void onTxChunk(void* in, void* out) {
    float* iq = complexArray_data(out);
    int n = complexArray_size(out);
    for (int i = 0; i < n; ++i) {
        iq[2 * i] = float(0.5 * std::cos(txPhase));
        iq[2 * i + 1] = float(0.5 * std::sin(txPhase));
        txPhase += 2 * M_PI * 1000.0 / 48000.0;
    }
    txPhase = std::fmod(txPhase, 2 * M_PI);
    complexArray_delete(in);
    complexArray_delete(out);
}

void onRxChunk(void* block) { complexArray_delete(block); }

void poll(double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        getUpdates();
        getRenderUpdates();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool writeWav(const std::string& path, const std::vector<float>& x, int rate) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    auto u32 = [&](uint32_t v) { std::fwrite(&v, 4, 1, f); };
    auto u16 = [&](uint16_t v) { std::fwrite(&v, 2, 1, f); };
    uint32_t bytes = uint32_t(x.size() * 2);
    std::fwrite("RIFF", 1, 4, f);
    u32(36 + bytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    u32(16);
    u16(1);
    u16(1);
    u32(uint32_t(rate));
    u32(uint32_t(rate * 2));
    u16(2);
    u16(16);
    std::fwrite("data", 1, 4, f);
    u32(bytes);
    for (float s : x) {
        float c = std::fmax(-1.0f, std::fmin(1.0f, s));
        int16_t v = int16_t(std::lrint(c * 32767.0f));
        std::fwrite(&v, 2, 1, f);
    }
    std::fclose(f);
    return true;
}

// Glyphs of 3 x 5 pixels for the scale's labels, one row per entry (bit 2
// is the left column).
const unsigned char* glyph(char c) {
    static const unsigned char digits[10][5] = {
        {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
        {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};
    static const unsigned char k[5] = {4, 5, 6, 5, 5}, H[5] = {5, 5, 7, 5, 5}, z[5] = {0, 7, 1, 2, 7};
    static const unsigned char blank[5] = {0, 0, 0, 0, 0};
    if (c >= '0' && c <= '9') return digits[c - '0'];
    return c == 'k' ? k : c == 'H' ? H : c == 'z' ? z : blank;
}

// An RGB image drawn row by row into memory, then written as a PNG.
struct Image {
    size_t width, height;
    std::vector<png_byte> pixels;
    Image(size_t w, size_t h) : width(w), height(h), pixels(w * h * 3, 0) {}
    void set(size_t x, size_t y, png_byte r, png_byte g, png_byte b) {
        if (x >= width || y >= height) return;
        png_byte* p = &pixels[(y * width + x) * 3];
        p[0] = r, p[1] = g, p[2] = b;
    }
    // Text in the glyphs above, each pixel drawn scale x scale.
    void text(size_t x, size_t y, const std::string& t, int scale) {
        for (char c : t) {
            const unsigned char* g = glyph(c);
            for (int row = 0; row < 5; ++row)
                for (int col = 0; col < 3; ++col)
                    if (g[row] & (4 >> col))
                        for (int dy = 0; dy < scale; ++dy)
                            for (int dx = 0; dx < scale; ++dx)
                                set(x + size_t(col * scale + dx), y + size_t(row * scale + dy), 230, 230, 230);
            x += size_t(4 * scale);
        }
    }
    bool write(const std::string& path) const {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return false;
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        if (setjmp(png_jmpbuf(png))) {
            png_destroy_write_struct(&png, &info);
            std::fclose(f);
            return false;
        }
        png_init_io(png, f);
        png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (size_t y = 0; y < height; ++y) png_write_row(png, &pixels[y * width * 3]);
        png_write_end(png, nullptr);
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return true;
    }
};

// One row per spectrum line (each drawn 4 pixels high), newest at the
// bottom, above a frequency scale: a tick every kHz, a longer one with its
// frequency in kHz every 5 kHz. The colours run from the noise floor (the
// median of all values, most bins holding no signal) to the strongest value,
// over at most 80 dB, so that the tone stands out and the window's far
// side lobes stay dark.
bool writeWaterfall(const std::string& path, const std::vector<std::vector<float>>& rows, double low,
                    double high) {
    if (rows.empty() || !(high > low)) return false;
    const size_t width = rows[0].size(), waterfall = rows.size() * 4, scale = 36;
    std::vector<float> all;
    for (auto& r : rows) all.insert(all.end(), r.begin(), r.end());
    std::sort(all.begin(), all.end());
    const float peak = all.back();
    const float floor = std::fmax(all[all.size() / 2], peak - 8.0f); // log10 power: 8 is 80 dB
    const float span = std::fmax(peak - floor, 1e-3f);

    Image img(width, waterfall + scale);
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t i = 0; i < width; ++i) {
            float v = i < rows[r].size() ? rows[r][i] : floor;
            float t = std::fmax(0.0f, std::fmin(1.0f, (v - floor) / span));
            for (size_t k = 0; k < 4; ++k)
                img.set(i, r * 4 + k, png_byte(255 * std::fmin(1.0f, t * 1.5f)), png_byte(255 * t * t),
                        png_byte(255 * std::fmin(1.0f, 0.3f + t) * (1.0f - t * 0.7f)));
        }

    const double pixelsPerHz = double(width) / (high - low);
    for (long long khz = (long long)std::ceil(low / 1000.0); khz * 1000.0 <= high; ++khz) {
        const size_t x = size_t((khz * 1000.0 - low) * pixelsPerHz);
        const bool major = khz % 5 == 0;
        for (size_t y = 0; y < (major ? 10u : 4u); ++y) img.set(x, waterfall + y, 230, 230, 230);
        if (major) {
            const std::string label = std::to_string(khz);
            const size_t w = label.size() * 8;
            img.text(x >= w / 2 ? x - w / 2 : 0, waterfall + 14, label, 2);
        }
    }
    img.text(width - 3 * 8 - 4, waterfall + 14, "kHz", 2);
    return img.write(path);
}

// Frequency from upward zero crossings of x[from, to).
double dominantFrequency(const std::vector<float>& x, size_t from, size_t to, int rate) {
    to = std::min(to, x.size());
    size_t first = 0, last = 0, count = 0;
    for (size_t i = from + 1; i < to; ++i)
        if (x[i - 1] < 0 && x[i] >= 0) {
            if (!count) first = i;
            last = i;
            ++count;
        }
    return count > 1 ? double(count - 1) * rate / double(last - first) : 0.0;
}

} // namespace

int main(int argc, char** argv) {
    std::string dir = argc > 1 ? argv[1] : ".";
    init((dir + "/vireo_demo.log").c_str(), 1);

    void* radio = TestRadio_create();
    Radio_bindvtrxAdded(radio, onAdded);
    Radio_start(radio); // the test radio adds its first transceiver at 14000000
    Radio_addVtrx(radio, 14000000, 0, 0);
    poll(0.5);
    if (transceivers.size() < 2) {
        std::fprintf(stderr, "expected two transceivers, got %zu\n", transceivers.size());
        return 1;
    }
    void* tx = transceivers[0];
    void* rx = transceivers[1];

    void* txMode = proxyModDemod_create();
    proxyModDemod_bindgetTxChunk(txMode, onTxChunk);
    vtrx_setModulation(tx, txMode);

    void* rxMode = proxyModDemod_create();
    proxyModDemod_bindrxChunk(rxMode, onRxChunk);
    vtrx_setModulation(rx, rxMode);
    vtrx_setRxFilter(rx, -3000, 3000);
    vtrx_setvfo(rx, 14000500); // the tone then sounds at 500 Hz
    vtrx_bindnewAudio(rx, onAudio);
    vtrx_bindnewSpectrum(rx, onSpectrum);
    vtrx_bindsignalStrength(rx, onStrength);
    vtrx_setSendAudio(rx, true);
    vtrx_setforegroundDisplay(rx, true);
    vtrx_start(rx);
    vtrx_start(tx);

    std::printf("transmitting for 3 s...\n");
    size_t keyedAt = audio.size();
    vtrx_setptt(tx, true);
    poll(3.0);
    size_t releasedAt = audio.size();
    vtrx_setptt(tx, false);
    poll(0.5);

    std::string wav = dir + "/vireo_demo.wav", png = dir + "/vireo_demo_waterfall.png";
    bool wavOk = writeWav(wav, audio, 48000);
    bool pngOk = writeWaterfall(png, lines, lineLow, lineHigh);
    std::printf("received %.2f s of audio; while keyed the tone sounds at %.0f Hz (expected 500 Hz)\n",
                audio.size() / 48000.0, dominantFrequency(audio, keyedAt + 24000, releasedAt, 48000));
    std::printf("strongest signal %.1f dB\n", strength);
    std::printf("%zu spectrum lines from %.0f to %.0f Hz\n", lines.size(), lineLow, lineHigh);
    std::printf("%s %s\n%s %s\n", wavOk ? "wrote" : "could not write", wav.c_str(), pngOk ? "wrote" : "could not write",
                png.c_str());

    vtrx_remove(rx);
    vtrx_remove(tx);
    Radio_stop(radio);
    poll(0.2);
    for (void* v : transceivers) vtrx_release(v);
    proxyModDemod_release(txMode);
    proxyModDemod_release(rxMode);
    Radio_release(radio);
    closeAudio();
    return wavOk && pngOk ? 0 : 1;
}
