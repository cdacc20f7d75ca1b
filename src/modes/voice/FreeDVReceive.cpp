// FreeDV receive: IQ at 48000 to the codec at its modem rate, decoded speech
// through the ring back to 48000.
#include "modes/voice/FreeDVModDemod.h"

#include <algorithm>
#include <complex>

buff<float> FreeDVModDemod::demodulate(buff<cplx> in) {
    buff<float> out(in.count, 0.0f);
    std::lock_guard<std::mutex> lock(codec_);
    if (!fdv) return out;
    if (in.count > size_t(blockLimit)) {
        // The output side writes rxFilter's block at positions up to the
        // input's length.
        refuse(saidRxBlock_, "receive block of", (long long)in.count);
        return out;
    }
    const int length = int(in.count);
    buff<cplx> a(in.count);
    complexAgc.process(in, a);
    const bool mirror = conjugating();
    const int capacity = int(modemIn.count);

    // The codec's appetite, kept inside the buffer it reads from; asking for
    // nothing would never let the collection advance.
    auto appetite = [&] { return std::clamp(lib_->freedv_nin(fdv), 1, capacity); };
    while (rxInPos < length) {
        int nin = appetite();
        if (modemCount >= nin) {
            const int c = lib_->freedv_comprx(fdv, speechOut.data, modemIn.data);
            modemCount = 0;
            pushSpeech(std::clamp(c, 0, int(speechOut.count)));
            nin = appetite();
        }
        while (modemCount < nin && rxInPos < length) {
            const cplx s = a[size_t(rxInPos)];
            modemIn[size_t(modemCount++)] = mirror ? std::conj(s) : s;
            rxInPos += rxStep;
        }
    }
    rxInPos -= length;

    // Zero-stuffed back to 48000 with the gain that makes int16 full scale
    // 1.0 after rxFilter's interpolation.
    std::fill(rxFilter.inBlock.begin(), rxFilter.inBlock.end(), cplx{});
    const float gain = float(rateFactor) / 32768.0f;
    while (rxOutPos < length) {
        rxFilter.inBlock[size_t(rxOutPos)] = {gain * nextSpeechSample(), 0.0f};
        rxOutPos += rateFactor;
    }
    rxOutPos -= length;
    rxFilter.calc();
    for (size_t i = 0; i < out.count; ++i) out[i] = rxFilter.outBlock[i].real();
    return out;
}

void FreeDVModDemod::pushSpeech(int count) {
    for (int i = 0; i < count; ++i) {
        speechRing[size_t(ringWrite)] = speechOut[size_t(i)];
        if (++ringWrite == ringSize) ringWrite = 0;
    }
    ringFill += count;
    if (ringFill > ringSize) {
        // The writer went round the reader: the oldest samples are gone.
        ringRead = ringWrite;
        ringFill = ringSize;
    }
}

float FreeDVModDemod::nextSpeechSample() {
    if (ringFill == 0) ringRefilling = true;
    if (ringRefilling) {
        if (ringFill < ringSize / 2) return 0.0f;
        ringRefilling = false;
    }
    const float s = speechRing[size_t(ringRead)];
    if (++ringRead == ringSize) ringRead = 0;
    --ringFill;
    return s;
}
