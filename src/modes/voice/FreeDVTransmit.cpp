// FreeDV transmit: microphone at 48000 to whole speech frames for the
// encoder, modem samples placed back on the 48000 grid (paths A, B and C,
// see FreeDVModDemod.h).
#include "modes/voice/FreeDVModDemod.h"

#include "dsp/dspMath.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

/// Transmit level of paths A and B by FreeDV mode, before rateFactor / 34000.
float modeLevel(int mode) {
    switch (mode) {
    case 0: return 1.71f;
    case 5:
    case 8:
    case 16: return 3.6f;
    case 6:
    case 13: return 1.9f;
    case 7: return 2.0f;
    default: return 1.0f;
    }
}

/// A filtered speech value as an int16 sample: beyond full scale it
/// saturates rather than wrapping into the opposite sign.
int16_t speechSample(float v) {
    if (!(v == v)) return 0; // NaN
    constexpr float lo = std::numeric_limits<int16_t>::min(), hi = std::numeric_limits<int16_t>::max();
    return int16_t(std::clamp(std::trunc(v), lo, hi));
}

bool allFinite(const buff<std::complex<float>>& b) {
    for (const auto& s : b)
        if (!std::isfinite(s.real()) || !std::isfinite(s.imag())) return false;
    return true;
}

} // namespace

void FreeDVModDemod::takeSpeechSample(float k) {
    txSpeech[size_t(txSpeechPos)] = speechSample(txFilter.outBlock[size_t(txOutPos)].real() * k);
    txOutPos += rateFactor;
    ++txSpeechPos;
}

void FreeDVModDemod::encode() {
    if (openMode_ == 5 && path_ == path::A) {
        lib_->freedv_tx(fdv, txReal.data, txSpeech.data);
        for (size_t i = 0; i < txModem.count; ++i) txModem[i] = {float(txReal[i]), 0.0f};
    } else {
        lib_->freedv_comptx(fdv, txModem.data, txSpeech.data);
    }
    txSpeechPos = 0;
}

void FreeDVModDemod::modulate(buff<cplx> in, buff<cplx> out) {
    std::fill(out.begin(), out.end(), cplx{});
    std::lock_guard<std::mutex> lock(codec_);
    if (!fdv) return;
    if (in.count > size_t(blockLimit) || out.count < in.count) {
        // Speech is taken from txFilter's block up to the input's length,
        // and A and B write out up to it.
        refuse(saidTxBlock_, "transmit block of", (long long)in.count);
        return;
    }
    const float level = float(rateFactor) / 34000.0f * modeLevel(openMode_);
    const int length = int(in.count);
    const int frame = int(txSpeech.count);

    // A NaN or infinity would stay in the filter's history for good.
    if (allFinite(in))
        std::copy(in.begin(), in.end(), txFilter.inBlock.begin());
    else
        std::fill_n(txFilter.inBlock.begin(), in.count, cplx{});
    std::fill(txFilter.inBlock.begin() + in.count, txFilter.inBlock.end(), cplx{});
    const float k = float(compressionInUse_.get() * 32000.0);
    txFilter.calc();

    switch (path_) {
    case path::A:
        while (txOutPos < length) {
            if (txSpeechPos == frame) encode();
            while (txOutPos < length && txSpeechPos < frame) {
                out[size_t(txOutPos)] = txModem[size_t(txSpeechPos)] * level;
                takeSpeechSample(k);
            }
        }
        break;
    case path::B:
        while (txOutPos < length) {
            if (txSpeechPos == frame) encode();
            while (txOutPos < length && txSpeechPos < frame) {
                if (txHalf == 0) out[size_t(txOutPos)] = txModem[size_t(txSpeechPos / 2)] * level;
                takeSpeechSample(k);
                txHalf ^= 1;
            }
        }
        break;
    case path::C: {
        const int modemFrame = int(txModem.count);
        const int queueSize = int(txQueue.count);
        for (int j = 0; j < length; ++j) {
            if (j == txOutPos) {
                takeSpeechSample(k);
                if (txSpeechPos == frame) {
                    if (txQueueCount >= modemFrame) {
                        // A frame's worth of backlog: drop this speech frame
                        // so that the air time keeps up with the speech.
                        txSpeechPos = 0;
                    } else {
                        encode();
                        int w = (txQueueRead + txQueueCount) % queueSize;
                        for (const auto& s : txModem) {
                            txQueue[size_t(w)] = s;
                            if (++w == queueSize) w = 0;
                        }
                        txQueueCount += modemFrame;
                    }
                }
            }
            if (txQueueCount > 0) {
                out[size_t(j)] = txQueue[size_t(txQueueRead)];
                if (++txQueueRead == queueSize) txQueueRead = 0;
                --txQueueCount;
            }
        }
        break;
    }
    }
    txOutPos -= length;

    if (conjugating()) dspMath::conjugate(out, out);
}
