#pragma once
// Shared by the FreeDV tests: the speech recording, and a reference decoder
// that links codec2 itself to tell whether on-air IQ is a FreeDV signal it
// can sync to.
#include <codec2/freedv_api.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace freedvtest {

/// codec2-examples' 10-second recording, 8000 samples per second, as floats
/// of full scale 1; empty when the package is not installed.
inline std::vector<float> recording8k() {
    std::ifstream f("/usr/share/codec2/raw/ve9qrp_10s.raw", std::ios::binary);
    std::vector<float> out;
    int16_t s;
    while (f.read(reinterpret_cast<char*>(&s), sizeof s)) out.push_back(float(s) / 32768.0f);
    return out;
}

/// The recording at 48000 per second (linear interpolation), scaled to a
/// peak of `peak`.
inline std::vector<float> recording48k(float peak = 0.9f) {
    const auto x = recording8k();
    std::vector<float> y;
    if (x.empty()) return y;
    float top = 0;
    for (float v : x) top = std::max(top, std::abs(v));
    y.reserve(x.size() * 6);
    for (size_t i = 0; i + 1 < x.size(); ++i)
        for (int k = 0; k < 6; ++k) y.push_back(peak / top * (x[i] + (x[i + 1] - x[i]) * float(k) / 6.0f));
    return y;
}

inline double rms(const std::vector<float>& x, size_t from, size_t to) {
    to = std::min(to, x.size());
    if (from >= to) return 0.0;
    double sum = 0;
    for (size_t i = from; i < to; ++i) sum += double(x[i]) * x[i];
    return std::sqrt(sum / double(to - from));
}

// Speech at the microphone from 3 s to 7 s reaches the speaker the ring's
// delay later, plus the codec's own (up to 1.3 s: 700D, 2020). Decoded
// silence is measured from 2.3 to 2.9 s after the ring's delay, speech from
// 4.5 to 7 s.
inline size_t loudTo(size_t ringDelay) { return ringDelay + 7 * 48000; }
inline double speechOverSilenceDb(const std::vector<float>& heard, size_t ringDelay) {
    const double quiet = rms(heard, ringDelay + 110400, ringDelay + 139200);
    const double loud = rms(heard, ringDelay + 216000, loudTo(ringDelay));
    return 20 * std::log10((loud + 1e-12) / (quiet + 1e-12));
}

/// codec2's own receiver on on-air IQ at 48000: decimates to the modem rate,
/// scales to the level the modems expect and counts the decoder calls made
/// in sync.
class ReferenceDecoder {
public:
    explicit ReferenceDecoder(int mode) : f_(freedv_open(mode)) {
        if (!f_) return;
        step_ = 48000 / freedv_get_modem_sample_rate(f_);
        modem_.resize(size_t(freedv_get_n_max_modem_samples(f_)));
        speech_.resize(size_t(freedv_get_n_max_speech_samples(f_)));
    }
    ~ReferenceDecoder() {
        if (f_) freedv_close(f_);
    }
    ReferenceDecoder(const ReferenceDecoder&) = delete;
    ReferenceDecoder& operator=(const ReferenceDecoder&) = delete;

    bool opened() const { return f_ != nullptr; }

    /// On-air samples at 48000; `mirror` undoes the conjugation below 10 MHz.
    void feed(const std::vector<std::complex<float>>& iq, float scale, bool mirror) {
        for (; pos_ < iq.size(); pos_ += size_t(step_)) {
            const auto s = mirror ? std::conj(iq[pos_]) : iq[pos_];
            modem_[fill_++] = COMP{s.real() * scale, s.imag() * scale};
            if (fill_ == size_t(freedv_nin(f_))) {
                freedv_comprx(f_, speech_.data(), modem_.data());
                fill_ = 0;
                ++calls;
                if (freedv_get_sync(f_)) ++synced;
            }
        }
    }

    int calls = 0;
    int synced = 0;

private:
    struct freedv* f_;
    int step_ = 1;
    size_t pos_ = 0;
    size_t fill_ = 0;
    std::vector<COMP> modem_;
    std::vector<short> speech_;
};

/// A scale that puts the RMS of iq at `target`.
inline float scaleTo(const std::vector<std::complex<float>>& iq, float target) {
    double sum = 0;
    size_t n = 0;
    for (auto s : iq)
        if (std::norm(s) > 0) sum += std::norm(s), ++n;
    return n ? float(target / std::sqrt(sum / double(n))) : 1.0f;
}

} // namespace freedvtest
