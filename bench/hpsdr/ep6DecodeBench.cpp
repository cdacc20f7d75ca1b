// Ep6 decoding for 1, 4 and 8 receivers: every sample of a packet converted
// to complex float, as the receive path does, against a plain reference
// loop that reads each field byte by byte and sign-extends it. The counters
// give samples per second and the real-time factor at 384000 samples per
// second per receiver (3048, 10105 and 19200 packets per second).
#include "radios/hpsdr/Ep6Packet.h"
#include "sim/hpsdrP1Sim.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <complex>
#include <vector>

namespace {

using cplx = std::complex<float>;

std::vector<std::vector<uint8_t>> packets(int n) {
    std::vector<std::vector<simTone>> tones(static_cast<size_t>(n));
    for (int r = 0; r < n; ++r) tones[size_t(r)] = {{0.5, 0.01 * (r + 1), 0.0}};
    ep6Stream stream(n, tones);
    std::vector<std::vector<uint8_t>> out;
    for (uint32_t s = 0; s < 64; ++s) out.push_back(stream.next(s));
    return out;
}

void counters(benchmark::State& state, int n, size_t samples) {
    const double perPacket = double(samples) / double(state.iterations());
    state.counters["samples/s"] = benchmark::Counter(double(samples), benchmark::Counter::kIsRate);
    // Real time: 384000 samples per second per receiver.
    state.counters["x realtime"] =
        benchmark::Counter(double(samples) / (384000.0 * n), benchmark::Counter::kIsRate);
    state.counters["samples/packet"] = perPacket;
}

void Ep6Decode(benchmark::State& state) {
    const int n = int(state.range(0));
    const auto input = packets(n);
    std::vector<cplx> out(64 * size_t(n));
    const float scale = float(std::ldexp(1.0, -31));
    size_t k = 0, samples = 0;
    for (auto _ : state) {
        const auto& raw = input[k++ % input.size()];
        auto p = Ep6Packet::parse(raw.data(), raw.size());
        for (int f = 0; f < 2; ++f) {
            auto frame = p->frame(f);
            const int rx = frame.receivers(n);
            for (int r = 0; r < rx; ++r) samples += frame.samples(r, rx, 0, 64, out.data() + 64 * r, scale, r & 1);
        }
        benchmark::DoNotOptimize(out.data());
    }
    counters(state, n, samples);
}

/// The straightforward form: one field at a time, sign by comparison.
float field24(const uint8_t* p) {
    int v = p[0] << 16 | p[1] << 8 | p[2];
    if (v & 0x800000) v -= 0x1000000;
    return float(v) / 8388608.0f;
}

void Ep6DecodeReference(benchmark::State& state) {
    const int n = int(state.range(0));
    const auto input = packets(n);
    std::vector<cplx> out(64 * size_t(n));
    const size_t m = 504 / (6 * size_t(n) + 2), stride = 6 * size_t(n) + 2;
    size_t k = 0, samples = 0;
    for (auto _ : state) {
        const auto& raw = input[k++ % input.size()];
        for (int f = 0; f < 2; ++f) {
            const uint8_t* frame = raw.data() + 8 + 512 * f;
            for (int r = 0; r < n; ++r)
                for (size_t s = 0; s < m; ++s) {
                    const uint8_t* at = frame + 8 + s * stride + 6 * size_t(r);
                    const float i = field24(at), q = field24(at + 3);
                    out[64 * size_t(r) + s] = (r & 1) ? cplx(i, q) : cplx(q, i);
                }
            samples += m * size_t(n);
        }
        benchmark::DoNotOptimize(out.data());
    }
    counters(state, n, samples);
}

} // namespace

BENCHMARK(Ep6Decode)->Arg(1)->Arg(4)->Arg(8);
BENCHMARK(Ep6DecodeReference)->Arg(1)->Arg(4)->Arg(8);
