#pragma once
// Two FreeDV modes joined without a radio: the sender's transmit blocks go
// through a band filter like a transceiver's transmit filter (it fills the
// zeros between the modem samples) straight into the receiver's demodulate.
#include "modes/voice/FreeDVModDemod.h"

#include "freedvSupport.h"

#include <complex>
#include <memory>
#include <vector>

namespace freedvtest {

struct Chain {
    using cplx = std::complex<float>;

    Chain(std::shared_ptr<syncTask> group, int mode)
        : tx(std::make_shared<FreeDVModDemod>(group)), rx(std::make_shared<FreeDVModDemod>(group)) {
        tx->setMode(mode);
        rx->setMode(mode);
    }

    /// Runs the microphone samples from `from` to `to` (48000 per second,
    /// whole blocks of 512; silence past the end of mic).
    void run(const std::vector<float>& mic, size_t from, size_t to) {
        for (size_t at = from; at < to; at += 512) {
            buff<cplx> in(512), out(512, cplx{});
            for (size_t i = 0; i < 512; ++i) {
                const float m = at + i < mic.size() ? 0.707f * mic[at + i] : 0.0f;
                in[i] = {m, m};
            }
            tx->modulate(in, air.inBlock);
            air.calc();
            buff<cplx> onAir(512);
            for (size_t i = 0; i < 512; ++i) onAir[i] = air.outBlock[i];
            sent.insert(sent.end(), onAir.begin(), onAir.end());
            auto audio = rx->demodulate(onAir);
            heard.insert(heard.end(), audio.begin(), audio.end());
        }
    }

    std::shared_ptr<FreeDVModDemod> tx, rx;
    lowLatFir air{-3000.0f, 6000.0f, 48000, 1536, 512};
    std::vector<cplx> sent;
    std::vector<float> heard;
};

} // namespace freedvtest
