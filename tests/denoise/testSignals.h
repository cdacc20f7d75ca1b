#pragma once
// Signals for the noise-suppressor tests, made here so that the tests need
// no recordings: white noise, tones, and a voice-like signal (a glottal pulse
// train through formant resonators, cut into syllables).
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace denoise_test {

constexpr int kRate = 48000;
constexpr int kFrame = 512;

/// Uniform white noise of the given RMS; the generator is fully specified
/// by the standard, so the same seed gives the same samples everywhere.
inline std::vector<float> whiteNoise(size_t n, float rms, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<float> v(n);
    const double scale = rms * std::sqrt(3.0);
    for (auto& s : v) s = static_cast<float>(scale * (2.0 * (rng() / 4294967296.0) - 1.0));
    return v;
}

inline std::vector<float> tone(size_t n, double hz, float amplitude) {
    std::vector<float> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * hz * i / kRate));
    return v;
}

/// Two-pole resonator at hz with bandwidth bw, unity gain at its peak.
class Resonator {
public:
    Resonator(double hz, double bw) {
        const double r = std::exp(-std::numbers::pi * bw / kRate);
        const double theta = 2 * std::numbers::pi * hz / kRate;
        a1_ = 2 * r * std::cos(theta);
        a2_ = -r * r;
        gain_ = (1 - r) * std::sqrt(1 - 2 * r * std::cos(2 * theta) + r * r);
    }
    double operator()(double x) {
        const double y = gain_ * x + a1_ * y1_ + a2_ * y2_;
        y2_ = y1_;
        y1_ = y;
        return y;
    }

private:
    double a1_, a2_, gain_;
    double y1_ = 0, y2_ = 0;
};

/// A voice-like signal of syllables separated by pauses: every syllable is a
/// pulse train (pitch gliding down by a fifth of its start) through three
/// formant resonators of one of four vowels, with 20 ms raised-cosine edges.
/// voiced[i] is true inside syllables (edges included).
struct VoicedSignal {
    std::vector<float> samples;
    std::vector<bool> voiced;
};

inline VoicedSignal voicedSyllables(int syllables, double syllableSec, double pauseSec, float rms) {
    struct Vowel { double f1, f2, f3; };
    static constexpr Vowel vowels[4] = {{730, 1090, 2440}, {270, 2290, 3010}, {530, 1840, 2480}, {300, 870, 2240}};
    const size_t syl = static_cast<size_t>(syllableSec * kRate);
    const size_t pause = static_cast<size_t>(pauseSec * kRate);
    const size_t edge = kRate / 50;
    VoicedSignal s;
    s.samples.assign(pause, 0.f);
    s.voiced.assign(pause, false);
    for (int k = 0; k < syllables; ++k) {
        const Vowel& v = vowels[k % 4];
        Resonator r1(v.f1, 90), r2(v.f2, 110), r3(v.f3, 170);
        const double f0Start = 120.0 + 15.0 * (k % 5);
        double phase = 0, glottal = 0;
        for (size_t i = 0; i < syl; ++i) {
            const double f0 = f0Start * (1.0 - 0.2 * i / syl);
            phase += f0 / kRate;
            double pulse = 0;
            if (phase >= 1.0) {
                phase -= 1.0;
                pulse = 1.0;
            }
            // A one-pole low-pass turns the impulses into a glottal-like
            // spectrum falling with frequency.
            glottal = 0.97 * glottal + pulse;
            const double y = r1(glottal) + 0.6 * r2(glottal) + 0.3 * r3(glottal);
            double env = 1.0;
            if (i < edge) env = 0.5 - 0.5 * std::cos(std::numbers::pi * i / edge);
            if (i >= syl - edge) env = 0.5 - 0.5 * std::cos(std::numbers::pi * (syl - i) / edge);
            s.samples.push_back(static_cast<float>(y * env));
            s.voiced.push_back(true);
        }
        s.samples.insert(s.samples.end(), pause, 0.f);
        s.voiced.insert(s.voiced.end(), pause, false);
    }
    // Scale to the wanted RMS over the syllables.
    double e = 0;
    size_t n = 0;
    for (size_t i = 0; i < s.samples.size(); ++i)
        if (s.voiced[i]) e += double(s.samples[i]) * s.samples[i], ++n;
    const double scale = rms / std::sqrt(e / n);
    for (auto& x : s.samples) x = static_cast<float>(x * scale);
    // Whole frames only.
    const size_t frames = s.samples.size() / kFrame;
    s.samples.resize(frames * kFrame);
    s.voiced.resize(frames * kFrame);
    return s;
}

inline double energy(const float* x, size_t n) {
    double e = 0;
    for (size_t i = 0; i < n; ++i) e += double(x[i]) * x[i];
    return e;
}

inline double db(double powerRatio) { return 10.0 * std::log10(powerRatio); }

} // namespace denoise_test
