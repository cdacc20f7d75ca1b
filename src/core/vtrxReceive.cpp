// The receive chain of a transceiver: one receive block at a time, on the
// transceiver's task group. A block is optionally combined with its diversity
// partner, copied to the host as IQ, mixed to 0 Hz and decimated, resampled
// to the mode's rate and filtered; each filter block is measured,
// demodulated, gain-controlled, optionally noise-reduced and played.
#include "core/Radio.h"
#include "core/agc.h"
#include "core/modDemod.h"
#include "core/vtrx.h"
#include "dsp/denoise/rnnoise.h"
#include "dsp/dspMath.h"
#include "framework/hostArrays.h"

#include <spdlog/spdlog.h>

#include <cmath>

namespace {
constexpr double pi = 3.1415927;
} // namespace

void vtrx::processRxChunk(buff<cplx> block, long long frequency, int rate, buff<float> wideBand,
                          double wideBandValue, int slot) {
    if (!running) return;
    if (slot >= 0 && slot < 4) arrivedSlots |= 1 << slot;

    if (ADCs.get() == 3) {
        if (diversityPartnerMissing()) {
            // No receiver serves one of the two slots: its partner block
            // would never come. Say so, and play this one alone.
            if (!diversityReported) {
                diversityReported = true;
                spdlog::error("vtrx: diversity needs receivers for slots 0 and 1; the radio placed {} and {}",
                              hwReceiverSlots[0].load(), hwReceiverSlots[1].load());
                TuningValid.set(false, true);
            }
        } else {
            diversityReported = false;
            if (slot >= 0 && slot < 4) slotBlocks[size_t(slot)] = block;
            if ((arrivedSlots & 3) != 3) return; // wait for the partner block
            block = combineDiversity(block);
        }
    }

    if (SendIQ.get()) sendIQ(block, frequency, rate);
    const double seconds = rate > 0 ? double(block.count) / double(rate) : 0.0;
    if (OwnerID.get() > 0 || !mode) { // an IQ source only
        voiceSwitch(seconds, false);
        return;
    }

    bool ratesChanged = false;
    if (rate != lastBlockRate) {
        lastBlockRate = rate;
        rxFill = 0;
        ratesChanged = true;
    }
    const int modeRate = mode->rxInputSamplerate();
    const bool modeRateChanged = modeRate != lastModeRate;
    if (modeRateChanged) {
        lastModeRate = modeRate;
        rxFill = 0;
        ratesChanged = true;
    }
    int L = 1, M = 1;
    const int d = dspMath::getDecimation(rate, modeRate, &L, &M);
    // A ratio whose filter bank would be absurdly large (an odd device rate
    // against the mode's) is not designed on this path: said once per rate
    // pair, and treated like a mode faster than the blocks.
    const bool resamplable = (L == 1 && M == 1) || FractionalDownConverter<float>::supports(L, M);
    if (d > 0 && !resamplable && ratesChanged)
        spdlog::error("vtrx: {} samples per second cannot be resampled to the mode's {} ({} / {})", rate, modeRate, L,
                      M);
    if (d <= 0 || rate <= 0 || !resamplable) {
        bandwidthSufficient.set(false, true);
        processRxSpectrumChunk(block, frequency, rate, wideBand, wideBandValue);
        voiceSwitch(seconds, false);
        return;
    }
    bandwidthSufficient.set(true, true);

    // Radians per input sample that bring vfo to 0 Hz; from the current vfo
    // every block, so retuning takes effect at once.
    const double step = 2.0 * pi * double(frequency - vfo.get()) / double(rate);
    const int F = int(rxFir.blockLength());
    if (F <= 0) return; // no receive filter designed (a host-made transceiver)
    // Edges in Hz make another filter at every rate. The history at the old
    // rate would only ring through the first blocks at the new one.
    const bool redesign = modeRate != rxFirRate;
    if (redesign) designRxFilter(modeRate);
    if (redesign || modeRateChanged) rxFir.clearState();

    size_t pos = 0, left = block.count;
    while (left > 0) {
        size_t n;
        if (L == 1 && M == 1) {
            n = std::min(size_t(F - rxFill) * size_t(d), left);
            buff<cplx> in(block, pos, n);
            buff<cplx> out(rxFir.inBlock, size_t(rxFill), n / size_t(d));
            rxFill += rxDownConverter.tuneDecimate(step, d, in, out);
            if (rxResampler.L != 0) rxResampler = FractionalDownConverter<float>();
        } else {
            if (rxResampler.L != L || rxResampler.M != M) rxResampler = FractionalDownConverter<float>(L, M);
            n = size_t((long long)(F - rxFill + 1) * M * d / L);
            n = std::min(n, left);
            if (n % size_t(d)) n += size_t(d) - n % size_t(d);
            n = std::min(n, left);
            buff<cplx> in(block, pos, n);
            rxDownConverter.tuneDecimate(step, d, in, rxResampler.GetInputBuffer(int(n / size_t(d))));
            buff<cplx> out(rxFir.inBlock, size_t(rxFill), size_t(F - rxFill));
            rxFill += rxResampler.Process(out);
        }
        if (rxFill >= F) {
            rxFill = 0;
            rxFir.calc();
            processFilterBlock(rxFir.outBlock, std::abs(step));
        }
        if (n == 0) break; // nothing consumed: never spin on a block
        pos += n;
        left -= n;
    }

    processRxSpectrumChunk(block, frequency, rate, wideBand, wideBandValue);
    voiceSwitch(seconds, true);
}

buff<vtrx::cplx> vtrx::combineDiversity(const buff<cplx>& arrived) {
    const double phi = ADC1Phase.get() * pi / 180.0;
    const cplx w = cplx(std::complex<double>(ADC1Gain.get() * std::cos(phi), ADC1Gain.get() * std::sin(phi)));
    buff<cplx> a = slotBlocks[0], b = slotBlocks[1];
    buff<cplx> result = arrived;
    if (a.count == b.count && a.count > 0) {
        result = buff<cplx>(a.count);
        for (size_t i = 0; i < a.count; ++i) result[i] = a[i] + w * b[i];
    }
    arrivedSlots = 0;
    for (auto& s : slotBlocks) s = buff<cplx>();
    return result;
}

void vtrx::processFilterBlock(buff<cplx> outBlock, double absStep) {
    // At or past the band edge the mixer would alias: play silence instead.
    if (absStep >= 3.14)
        for (auto& x : outBlock) x = cplx(0);

    micPeak = std::max(micPeak, double(inputStream.getPeak()));
    if (meterCount >= 17) {
        meterCount = 0;
        measureSignalStrength(outBlock);
        micLevel.set(micPeak, true);
        micPeak = 0;
        TuningValid.set(tuningValid(), true);
    } else {
        ++meterCount;
    }

    if (!mode) return;
    buff<float> audio = mode->demodulate(outBlock);
    if (audio.count == 0) return;
    const bool stereo = audio.count != 512;
    const float level = float(signalStrength.get());
    auto rx = rxagc.get();
    auto tx = txagc.get();
    buff<float> out = audio;

    if (ptt.get()) {
        bool hold = pttHold > 0;
        if (pttHold >= 1) --pttHold;
        if (tx) out = tx->process(audio, hold, true, level);
        outputStream.write(out, useResampler.get(), stereo, Balance.get());
        pttTail = 50;
        return;
    }

    const int t = pttTail;
    if (t > 0) pttTail = t - 1;
    pttHold = 50;
    // After PTT goes off the transmit stage, then the receive stage, hold
    // their gains, so the receiver does not jump at the first quiet block.
    if (t >= 22) {
        if (tx) out = tx->process(audio, true, true, level);
    } else if (rx) {
        out = rx->process(audio, t > 0, !mode->rnnoise.get(), level);
    }

    if (mode->rnnoise.get()) denoise(out, stereo, t > 0, level);

    outputStream.write(out, useResampler.get(), stereo, Balance.get());
    if (SendAudio.get()) sendAudio(out);
}

void vtrx::denoise(buff<float> out, bool stereo, bool hold, float level) {
    const float strength = float(mode->rnnoiseSquelch.get());
    if (stereo) {
        nrStereo[0].reduce(out, 0, 2, strength);
        nrStereo[1].reduce(out, 1, 2, strength);
    } else {
        if (!denoiser) denoiser = rnnoise_create(nullptr);
        if (!denoiser) return;
        denoiseFrame(denoiser, out, strength);
    }

    if (innerAgc) {
        if (auto rx = rxagc.get()) {
            innerAgc->Attack.set(rx->Attack.get(), true);
            innerAgc->Decay.set(rx->Decay.get(), true);
            innerAgc->Hang.set(rx->Hang.get(), true);
            innerAgc->Volume.set(rx->Volume.get(), true);
        }
        innerAgc->MaxGain.set(10.0f, true);
        innerAgc->process(out, hold, true, level);
    }
}

void vtrx::measureSignalStrength(buff<cplx> block) {
    double p = block.count ? double(dspMath::peakPower(block)) : 0.0;
    signalStrength.set(10.0 * std::log10(10.0 * p + 1e-180), true);
}

bool vtrx::diversityPartnerMissing() const {
    return hwReceiverSlots[0].load() < 0 || hwReceiverSlots[1].load() < 0;
}

bool vtrx::tuningValid() {
    if (ADCs.get() == 3 && diversityPartnerMissing()) return false;
    auto radio = owner.lock();
    if (!radio) return true;
    bool valid = true;
    for (auto& s : hwReceiverSlots) {
        int r = s.load();
        if (r != -1) valid = valid && radio->getVfoValid(r, vfo.get(), rxFilterLow.load(), rxFilterHigh.load());
    }
    return valid;
}

void vtrx::voiceSwitch(double blockSeconds, bool mayKey) {
    const bool on = mayKey && foregroundDisplay.get() && useVox.get();
    // A transmission the switch keyed runs out its hold once the switch is
    // off (window in the background, VOX off, no mode): speech no longer
    // holds it, and nothing else would end it.
    const bool holding = tx.keyedByVoice();
    if (!on && !holding) return;
    const double p = on ? double(inputStream.getPeak()) : 0.0;
    if (ptt.get()) {
        if (on && p > VoxThreshold.get() * 0.5) {
            voxHoldLeft = VoxHold.get();
        } else {
            voxHoldLeft -= blockSeconds;
            if (voxHoldLeft <= 0) tx.releaseByVoice();
        }
    } else if (p > VoxThreshold.get()) {
        tx.keyForVoice();
        voxHoldLeft = VoxHold.get();
    } else {
        tx.voicePaused();
    }
}

void vtrx::sendIQ(const buff<cplx>& block, long long frequency, int rate) {
    if (!newIQ_.load()) return;
    // The host gets its own copy; its handle is made when the task runs, so a
    // task refused by a full queue or meeting no callback leaks nothing.
    buff<cplx> copy(block.count);
    copy.copy(block);
    SendRenderEvent([this, copy, frequency, rate] {
        if (auto cb = newIQ_.load()) cb(vireo::api::arrayHandle(copy), double(frequency), rate);
    });
}

void vtrx::sendAudio(const buff<float>& audio) {
    if (!newAudio_.load()) return;
    // Stereo blocks go to the host as their left channel.
    buff<float> copy(audio.count == 512 ? audio.count : audio.count / 2);
    if (audio.count == 512)
        copy.copy(audio);
    else
        for (size_t i = 0; i < copy.count; ++i) copy[i] = audio[2 * i];
    SendRenderEvent([this, copy] {
        if (auto cb = newAudio_.load()) cb(vireo::api::arrayHandle(copy));
    });
}
