// The PSK mode's receive path: decimation to 8000/s, the 66 channels, and
// the scanner that moves channels 0-59 onto the signals it finds.
#include "core/vtrx.h"
#include "dsp/fft/fft.h"
#include "modes/data/psk/PskModDemod.h"
#include "modes/data/psk/systemChange.h"

#include <algorithm>
#include <cmath>

buff<float> PskModDemod::demodulate(buff<std::complex<float>> block) {
    buff<float> audio(block.count);
    for (size_t i = 0; i < block.count; ++i) audio[i] = block[i].real();

    auto owner = lockOwner();
    if (owner && owner->transmitting()) return audio;

    std::lock_guard<std::mutex> l(rxLock_);
    // The transceiver's receive filter has already band-limited the signal
    // to well inside 4000 Hz, so plain decimation does not alias.
    size_t i = size_t(decimationPhase_);
    for (; i < block.count; i += decimation) {
        float x = audio[i];
        // A sample that is not a number is silence here: the level peak and
        // every channel's filters would otherwise keep it for good.
        if (!std::isfinite(x)) x = 0.0f;
        levelPeak_ = std::max({double(std::abs(x)), 0.999 * levelPeak_, levelPeakFloor});
        block_[size_t(fill_++)] = float(x * 30000.0 / levelPeak_);
        if (fill_ == blockLength) {
            processBlock();
            fill_ = 0;
        }
    }
    decimationPhase_ = int(i - block.count);
    return audio;
}

void PskModDemod::processBlock() {
    findPeaks();
    char text[10];
    psk::systemChange guard; // the updates below are the mode's own
    for (int i = 0; i < channelCount; ++i) {
        PskDetector& ch = *channels_[size_t(i)];
        const int n = ch.detector.ProcPSKDet(block_.data(), blockLength, 1, text, 10);
        const bool isPrimary = i == primary_;
        if (n > 0) {
            std::string s(text, size_t(n));
            if (isPrimary) newChars.send(s);
            ch.newChars.send(std::move(s));
            ch.busy = 200;
        } else if (ch.busy >= 1) {
            --ch.busy;
        }
        const int hz = ch.detector.frequency();
        if (isPrimary) {
            ch.busy = 200;
            rxFreqInUse_.store(hz);
            rxFreq.set(hz, true);
            txFreq.set(hz, true);
        }
        if (refresh_ == 0) ch.freq.set(hz, true);
    }
    refresh_ = refresh_ >= 10 ? 0 : refresh_ + 1;
}

void PskModDemod::findPeaks() {
    for (int n = 0; n < blockLength; ++n) windowed_[size_t(n)] = block_[size_t(n)] * window_[size_t(n)];
    fft::fwd(windowed_, spectrum_);
    for (size_t k = 0; k < spectrumSum_.size(); ++k)
        spectrumSum_[k] += float(std::log10(double(std::norm(spectrum_[k])) + 1e-37));

    if (spectrumBlocks_ < 2) {
        ++spectrumBlocks_;
        return;
    }
    spectrumBlocks_ = 0;
    const std::vector<psk::peak> peaks = psk::findPeakList(spectrumSum_);
    spectrumSum_.fill(0.0f);
    assignDetectors(peaks, 0, scannerCount);
    assignDetectors(peaks, scannerCount, scannerCount);
}

void PskModDemod::assignDetectors(const std::vector<psk::peak>& peaks, int first, int count) {
    int retuned = 0;
    for (const psk::peak& p : peaks) {
        int best = 200;
        PskDetector* candidate = nullptr;
        bool covered = false;
        for (int i = first; i < first + count; ++i) {
            PskDetector& ch = *channels_[size_t(i)];
            if (std::abs(ch.detector.frequency() - p.frequency) < 20 && ch.busy > 0) {
                ch.busy = std::max(ch.busy, 100);
                covered = true;
                break;
            }
            if (ch.busy < best) {
                best = ch.busy;
                candidate = &ch;
            }
        }
        if (best > 50) return;
        if (covered || !candidate) continue;
        retune(*candidate, p.frequency, 100);
        if (++retuned >= 4) return;
    }
}
