// The transmit chain of a transceiver: microphone (or the recorded loop),
// the mode's modulator, the transmit filter, the fade in and out, and the
// delayed unkeying after a released PTT. It runs on the transceiver's task
// group, once per request of the radio; the transmission (transmission.h)
// sets the counters it works through.
#include "core/vtrx.h"
#include "core/vtrxToRadio.h"

#include "core/Radio.h"
#include "core/modDemod.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

using cplx = std::complex<float>;

constexpr float micGain = 0.707f;
constexpr double pi = 3.1415927;

/// Records the microphone into the loop store until it is (nearly) full.
void recordDelayed(vtrx& v, buff<float> mic) {
    v.inputStream.read(mic);
    const size_t L = v.delayBuffer.count;
    // The store comes from the pool uninitialised; a replay must never play
    // what an earlier user left there, even where recording skipped a copy.
    if (v.delayPos == 0) std::fill(v.delayBuffer.begin(), v.delayBuffer.end(), 0.0f);
    if (v.delayPos <= L) mic.copyTo(buff<float>(v.delayBuffer, v.delayPos, L - v.delayPos));
    v.delayPos += mic.count;
    if (v.delayPos + mic.count >= L) {
        v.delayFull = true;
        v.delayPos = 0;
    }
}

/// Plays the recorded loop instead of the microphone.
void replayDelayed(vtrx& v, buff<float> mic) {
    const size_t L = v.delayBuffer.count;
    // A request longer than what is left of the loop starts the loop over
    // rather than reading past the store; one longer than the whole store
    // gets silence after it.
    if (v.delayPos + mic.count > L) v.delayPos = 0;
    const size_t take = std::min(mic.count, L);
    buff<float>(v.delayBuffer, v.delayPos, take).copyTo(mic);
    std::fill(mic.begin() + take, mic.end(), 0.0f);
    v.delayPos += mic.count;
    if (v.delayPos + mic.count >= L) v.delayPos = 0;
}

/// The first len samples of a work buffer of the transceiver, grown (never
/// shrunk) when too short: steady requests allocate nothing.
template <class T>
buff<T> workBuffer(buff<T>& store, size_t len) {
    if (store.count < len) store = buff<T>(len);
    return buff<T>(store, 0, len);
}

/// len microphone samples, live or from the loop store (DelayAudio).
buff<float> micSamples(vtrx& v, size_t len) {
    buff<float> mic = workBuffer(v.txMic, len);
    if (!v.DelayAudio.get() || v.delayBuffer.empty())
        v.inputStream.read(mic);
    else if (v.delayFull)
        replayDelayed(v, mic);
    else
        recordDelayed(v, mic);
    return mic;
}

/// The mode's input: microphone samples as equal real and imaginary parts.
buff<cplx> micBlock(vtrx& v, size_t len) {
    buff<float> mic = micSamples(v, len);
    buff<cplx> in = workBuffer(v.txModeInput, len);
    for (size_t i = 0; i < len; ++i) in[i] = {micGain * mic[i], micGain * mic[i]};
    return in;
}

/// One call of the mode for exactly the request (or the tuning carrier).
void modulateDirect(vtrx& v, buff<cplx> out) {
    if (v.tune.get()) {
        micSamples(v, out.count); // read all the same: the loop store keeps its pace
        std::fill(out.begin(), out.end(), cplx{0.99f, 0.0f});
        return;
    }
    v.mode->modulate(micBlock(v, out.count), out);
}

/// Hands out filter blocks made one at a time, whatever the request's size:
/// a block may serve several requests, a request take several blocks.
void modulateBlocks(vtrx& v, buff<cplx> out) {
    lowLatFir& fir = v.txFir;
    const size_t F = fir.blockLength();
    if (F == 0) return; // no transmit filter: a transceiver no radio set up
    size_t produced = 0;
    while (produced < out.count) {
        size_t take = std::min(out.count - produced, F - std::min(v.txFirPos, F));
        if (take == 0) {
            // A mode that writes nothing (or only part) leaves silence, never
            // what the block held from the last round.
            std::fill(fir.inBlock.begin(), fir.inBlock.end(), cplx{});
            v.mode->modulate(micBlock(v, F), fir.inBlock);
            if (v.mode->txFiltered) fir.calc();
            v.txFirPos = 0;
            take = std::min(out.count - produced, F);
        }
        const buff<cplx>& source = v.mode->txFiltered ? fir.outBlock : fir.inBlock;
        buff<cplx>(source, v.txFirPos, take).copyTo(buff<cplx>(out, produced, take));
        produced += take;
        v.txFirPos += take;
    }
}

/// Start of a transmission: the lead silence, then a raised-cosine rise.
void fadeIn(vtrx& v, buff<cplx> out) {
    int left = v.rampUpLeft;
    const int length = v.rampUpLength;
    int c = left >= -1 ? left + 1 : 0;
    for (auto& s : out) {
        if (c == 0) {
            v.rampUpPending = false;
            break;
        }
        if (left > length)
            s = 0.0f;
        else
            s *= float(0.5 + 0.5 * std::cos(pi * left / length));
        --left;
        --c;
    }
    v.rampUpLeft = left;
}

/// End of a transmission: the tail unchanged, its last rampDownLength
/// samples falling, then silence.
void fadeOut(vtrx& v, buff<cplx> out) {
    int left = v.tailLeft;
    const int length = v.rampDownLength;
    for (auto& s : out) {
        if (left <= 0)
            s = 0.0f;
        else if (left <= length)
            s *= float(0.5 + 0.5 * std::cos(pi * (length - left) / length));
        // Counts on below zero while the radio keeps asking; saturate rather
        // than overflow on a radio that never stops.
        if (left > INT_MIN) --left;
    }
    v.tailLeft = left;
}

} // namespace

void vtrx::askToModulate(unsigned long n, const char* name) {
    tx.asked();
    auto self = std::static_pointer_cast<vtrx>(weak_from_this().lock());
    if (!self) return;
    seqTask t;
    t.fn = [self, n] { self->modulate(n); };
    t.name = name;
    asyncProcess(t);
}

void vtrx::modulate(unsigned long n) {
    tx.asked();
    buff<cplx> out(n, cplx{});
    // Nothing of a transmission goes out once it is off: a request the radio
    // made before it heard the end is answered with silence.
    if (mode && tx.where() != transmission::phase::off) {
        if (!mode->txBlockMode || tune.get())
            modulateDirect(*this, out);
        else
            modulateBlocks(*this, out);
    }
    const bool inTail = tx.where() == transmission::phase::tail;
    if (rampUpPending)
        fadeIn(*this, out);
    else if (inTail)
        fadeOut(*this, out);

    // Only the transceiver holding the transmitter is sent: a request
    // answered after the transmitter went to another is dropped.
    toRadio("radio.transmit", [out](Radio& r, vtrx& v) {
        if (r.txVtrx().get() == &v) r.transmit(out);
    });
    if (inTail && tailLeft <= -txTrailingSilence) tx.tailRanOut(); // the radio is told after the block
}
