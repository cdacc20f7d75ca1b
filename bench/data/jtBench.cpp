// The FT8/FT4/JS8 decoder's cost per recording, on one core, file reading
// included: ft8_recording runs ft8decode over the nine real 15 s FT8
// receptions in turn (ms per recording); ft4_synthetic and js8_synthetic
// decode a file of three frames of their mode at -10 dB in 2500 Hz made by
// the tests' own encoder (7.5 s for FT4, 15 s for JS8).
#include "modes/data/jt/ft8decode.h"

#include "jtEncode.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace jttest;
namespace fs = std::filesystem;

/// Three frames of mode m at -10 dB, written once per process.
std::string synthetic(Mode m) {
    const std::string path =
        (fs::temp_directory_path() / ("jt_bench_" + std::string(name(m)) + "_" + std::to_string(getpid()) + ".wav"))
            .string();
    const size_t samples = m == Mode::ft4 ? 90000 : 180000;
    std::mt19937 rng(3);
    std::vector<double> x(samples, 0.0);
    for (int i = 0; i < 3; ++i) {
        const auto one = synthesize(m, tones(m, randomPayload(m, rng)), 600.0 + 700.0 * i, 0.5, 100.0, samples, 1);
        for (size_t k = 0; k < samples; ++k) x[k] += one[k];
    }
    std::normal_distribution<double> gauss(0.0, 2000.0 * std::sqrt(noiseVariance(1.0, -10.0)));
    std::vector<int16_t> pcm(samples);
    for (size_t k = 0; k < samples; ++k) pcm[k] = int16_t(std::clamp((x[k] + gauss(rng)) / 4, -32767.0, 32767.0));
    writeWav(path, pcm);
    return path;
}

void ft8_recording(benchmark::State& state) {
    static const auto files = recordings();
    std::vector<uint8_t> result(50 * 32);
    size_t i = 0;
    int decoded = 0;
    for (auto _ : state) {
        decoded += jtdecode::decodeFile(files[i].c_str(), result.data(), 8);
        i = (i + 1) % files.size();
    }
    state.counters["records_per_file"] = double(decoded) / double(state.iterations());
}
BENCHMARK(ft8_recording)->Unit(benchmark::kMillisecond);

/// The synthetic files, removed when the process ends.
struct Synthetic {
    std::string paths[3];
    ~Synthetic() {
        for (auto& p : paths)
            if (!p.empty()) fs::remove(p);
    }
};

void decodeSynthetic(benchmark::State& state, Mode m) {
    static Synthetic files;
    std::string& path = files.paths[int(m)];
    if (path.empty()) path = synthetic(m);
    std::vector<uint8_t> result(50 * 32);
    int decoded = 0;
    for (auto _ : state) decoded += jtdecode::decodeFile(path.c_str(), result.data(), info(m).number);
    state.counters["records"] = double(decoded) / double(state.iterations());
}
void ft4_synthetic(benchmark::State& state) { decodeSynthetic(state, Mode::ft4); }
void js8_synthetic(benchmark::State& state) { decodeSynthetic(state, Mode::js8); }
BENCHMARK(ft4_synthetic)->Unit(benchmark::kMillisecond);
BENCHMARK(js8_synthetic)->Unit(benchmark::kMillisecond);

} // namespace
