#include "modes/data/dab/dabModeI.h"

#include "dsp/fft/fft.h"
#include "modes/data/dab/dabTables.h"

#include <fmt/format.h>

#include <cmath>
#include <numbers>
#include <stdexcept>

buff<std::complex<float>> get_DAB_PRS_reference(buff<std::complex<float>> block) {
    const size_t N = block.count;
    constexpr size_t needed = dabModeI::carriers + 1; // carriers 1..768 and -768..-1 kept apart
    if (N < needed)
        throw std::runtime_error(fmt::format("FFT buffer not large enough to fit phase reference symbol {}<{}", N, needed));
    for (auto& s : block) s = 0.0f;
    for (const dabCarrierGroup& g : PRS_PARAMS_MODE_I) {
        for (int k = g.firstCarrier; k <= g.lastCarrier; ++k) {
            const int quarterTurns = H_TABLE[g.i][k - g.firstCarrier] + g.n;
            const float phi = std::numbers::pi_v<float> / 2.0f * float(quarterTurns);
            const size_t index = k > 0 ? size_t(k) : N - size_t(-k);
            block[index] = std::polar(1.0f, phi);
        }
    }
    return block;
}

buff<int> buildFrequencyMap() {
    buff<int> map(dabModeI::carriers);
    size_t filled = 0;
    int p = 0;
    for (int step = 0; step < 2047; ++step) {
        p = (13 * p + 511) % 2048;
        if (p >= 256 && p <= 1792 && p != 1024 && filled < map.count) map[filled++] = p - 1024;
    }
    return map;
}

buff<std::complex<float>> buildDemoSignal() {
    using namespace dabModeI;
    buff<std::complex<float>> frame(frameSamples, std::complex<float>{});
    buff<std::complex<float>> reference(transformSize);
    const buff<std::complex<float>> symbol = fft::rev(get_DAB_PRS_reference(reference));
    symbol.copyTo(buff<std::complex<float>>(frame, symbolStart, transformSize));
    buff<std::complex<float>>(symbol, transformSize - guardSamples, guardSamples)
        .copyTo(buff<std::complex<float>>(frame, nullSamples, guardSamples));
    frame[firstMarker] = 1.0f;
    frame[secondMarker] = 2.0f;
    return frame;
}
