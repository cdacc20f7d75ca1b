#include "modes/voice/sigGenModDemod.h"

#include "modes/voice/realAudio.h"

#include <cmath>

sigGenModDemod::sigGenModDemod(std::shared_ptr<syncTask> taskGroup) : modDemod(std::move(taskGroup)) {}

buff<float> sigGenModDemod::demodulate(buff<std::complex<float>> block) {
    return realAudio(block);
}

void sigGenModDemod::modulate(buff<std::complex<float>>, buff<std::complex<float>> out) {
    const double a1 = ampl1Value_(ampl1.get(), "sigGenModDemod.ampl1");
    const double a2 = ampl2Value_(ampl2.get(), "sigGenModDemod.ampl2");
    const double f2 = freq2Value_(freq2.get(), "sigGenModDemod.freq2");
    const double step = 2 * f2 * 3.1415927 * 2.0833333333333333e-05; // 2π f2 / 48000
    for (auto& s : out) {
        phase += step;
        if (phase > 6.2831854) phase -= 6.2831854; // below zero it runs on: cos and sin don't mind
        s = {float(a1 + a2 * std::cos(phase)), float(a2 * std::sin(phase))};
    }
    // An offset near the largest double overflows the phase; start it again
    // rather than keep a phase that is no number.
    if (!std::isfinite(phase)) phase = 0.0;
}
