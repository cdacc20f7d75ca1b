#include "modes/voice/sigGenModDemod.h"

#include "core/realAudio.h"

#include <cmath>

sigGenModDemod::sigGenModDemod(std::shared_ptr<syncTask> taskGroup) : modDemod(std::move(taskGroup)) {
    ampl1InUse_.guard(ampl1, "sigGenModDemod.ampl1", voiceTx::carriesLevel);
    ampl2InUse_.guard(ampl2, "sigGenModDemod.ampl2", voiceTx::carriesLevel);
    freq2InUse_.guard(freq2, "sigGenModDemod.freq2", voiceTx::carriesOffset);
}

buff<float> sigGenModDemod::demodulate(buff<std::complex<float>> block) {
    return realAudio(block);
}

void sigGenModDemod::modulate(buff<std::complex<float>>, buff<std::complex<float>> out) {
    const double a1 = ampl1InUse_.get();
    const double a2 = ampl2InUse_.get();
    const double f2 = freq2InUse_.get();
    const double step = 2 * f2 * 3.1415927 * 2.0833333333333333e-05; // 2π f2 / 48000
    for (auto& s : out) {
        phase += step;
        if (phase > 6.2831854) phase -= 6.2831854; // below zero it runs on: cos and sin don't mind
        s = {float(a1 + a2 * std::cos(phase)), float(a2 * std::sin(phase))};
    }
}
