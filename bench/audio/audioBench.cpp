// The sound-card side of the receive audio: an output callback of 512 frames
// mixing 1, 8 and 32 transceiver streams, and one transceiver block written
// into its ring. A 512-frame buffer lasts 10.7 ms at 48 kHz: the share of
// that is time / 10.7 ms.
#include "audio/AudioOutputDevice.h"
#include "audio/audioIO.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

// No sound library: the device only needs somewhere to send its opens.
struct NoCard : AudioProvider {
    NoCard() {
        addNoneEntries();
        auto r = std::make_unique<AudioOutputChannel>();
        r->index = 1;
        r->name = "bench";
        outputs.push_back(std::move(r));
    }
    void Close() override {}
    void OpenOutput(int, AudioProducer*) override {}
    void OpenInput(int, AudioConsumer*) override {}
    void CloseInput(int) override {}
    void CloseOutput(int) override {}
    int defaultAudioInputDevice() override { return 0; }
    int defaultAudioOutputDevice() override { return 0; }
};
const bool installed = AudioProvider::install(new NoCard());

constexpr double bufferSeconds = 512.0 / 48000.0;

buff<float> tone() {
    buff<float> b(512);
    for (size_t i = 0; i < b.count; ++i) b[i] = float(0.5 * std::sin(0.13 * double(i)));
    return b;
}

void BM_OutputCallbackMixing(benchmark::State& state) {
    AudioOutputDevice device("bench", 1, 48000, 2);
    std::vector<std::shared_ptr<audioIO>> ios;
    for (int i = 0; i < state.range(0); ++i) {
        ios.push_back(std::make_shared<audioIO>());
        device.registerStream(ios.back());
    }
    std::vector<float> out(1024);
    double time = 1.0;
    device.Callback(out.data(), 512, time); // attaches them
    for (auto _ : state) {
        time += bufferSeconds;
        benchmark::DoNotOptimize(device.Callback(out.data(), 512, time));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_OutputCallbackMixing)->Arg(1)->Arg(8)->Arg(32);

void BM_WriteOneBlock(benchmark::State& state) {
    audioIO io;
    io.channels = int(state.range(0));
    const buff<float> block = tone();
    for (int k = 0; k < 40; ++k) io.write(block, true, false, 0.5f); // past the warm-up
    for (auto _ : state) {
        io.write(block, true, false, 0.5f);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_WriteOneBlock)->ArgName("channels")->Arg(2)->Arg(1);

} // namespace
