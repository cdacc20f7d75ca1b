// The transmit half of the JT mode: the start of a queued message inside
// its period, and continuous-phase FSK of its tones, plain or with the
// frequency steps smoothed by a Gaussian shape.
#include "modes/data/JTModDemod.h"
#include "modes/data/ftgauss.h"

#include "core/vtrx.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// The protocol's signal is defined with pi in single precision.
constexpr float piF = 3.1415927f;
constexpr double twoPi = double(2.0f * piF);
constexpr double level = 0.98;
constexpr double rate = 48000.0;

const ft8::gaussTable& shapeFor(int table) {
    switch (table) {
    case 2: return ft8::ftgauss_2;
    case 10: return ft8::ftgauss_10;
    case 50: return ft8::ftgauss_50;
    default: return ft8::ftgauss_1;
    }
}

/// The table at x of a symbol N samples long, linearly interpolated.
double shape(const ft8::gaussTable& g, int x, int N) {
    const double y = double(x) * 1024.0 / double(N);
    const size_t k = std::min(size_t(y), size_t(1023));
    return g[k] + (y - double(k)) * (g[k + 1] - g[k]);
}

} // namespace

void JTModDemod::startTest() {
    auto v = lockOwner();
    // A transceiver the host let go of takes no key: a message waiting now
    // was queued after the let-go, for the mode's next transceiver.
    if (!v || v->ptt.get() || v->tx.letGo()) return;
    Message m;
    {
        std::lock_guard<std::mutex> l(queueLock_);
        if (queued_.tones.empty()) return;
        const long long start = queued_.startTime;
        if (start < periodStart_ || start >= (long long)periodStart_ + rec_.period) return;
        // Past half the period the message waits for its next period. The
        // time is the input the recording has taken, whatever it kept of it:
        // with a coarser decimation, or blocks it does not divide, the kept
        // samples run slow.
        if (taken_ >= uint64_t(rec_.period / 2 * samplesPerMs)) {
            active_ = buff<float>(); // too late in this period; stays queued
            return;
        }
        m = std::move(queued_);
        queued_ = Message{};
    }
    // Settings changed since the message was queued may no longer let it end
    // within the period. The symbol length is taken once: a change while
    // the message goes out must not stretch it past its period.
    const long long sps = samplesPerSymbol_.get(), delay = startDelay_.get();
    if (!messageFits(m.tones.count, sps, delay, rec_.period, "JTModDemod transmission of")) return;
    const long long due = (long long)taken_ / sps - delay / sps - 1;
    symbolIndex_ = int(std::clamp(due, (long long)INT_MIN + 1, (long long)INT_MAX - 1));
    symbolLength_ = int(sps);
    samplesLeft_ = 0;
    active_ = std::move(m.tones);
    activeSince_ = transmission::now();
    decodeMode_ = m.mode;
    emitted_ = 0;
    // A transceiver that takes no key (the host let go of it) never sends
    // the message: it belongs to this period.
    if (!v->tx.keyFor(*this)) dropMessage();
}

void JTModDemod::beginSymbol() {
    const int L = int(active_.count);
    samplesLeft_ = symbolLength_;
    const double spacing = toneSpacing_.get();
    const double base = txFreq.get();
    auto F = [&](int j) { return double(active_[size_t(j)]) * spacing + base; };
    curHz_ = F(std::max(symbolIndex_, 0));
    prevHz_ = F(std::max(symbolIndex_ - 1, 0));
    nextHz_ = F(std::max(std::min(symbolIndex_ + 1, L - 1), 0));
    phaseStep_ = std::polar(1.0, twoPi * curHz_ / rate);
}

float JTModDemod::taperGain(int q, int T) const {
    const int N = symbolLength_;
    if (symbolIndex_ == int(active_.count) - 1) {
        const long long r = (long long)T - (N - q); // any host T, INT_MIN too
        if (r == 0 || T < N - q) return float(level);
        return float(level * (0.5 + 0.5 * std::cos(piF * double(r) / T)));
    }
    const long long r = T - emitted_;
    if (r != 0 && emitted_ <= T) return float(level * (0.5 + 0.5 * std::cos(piF * double(r) / T)));
    return float(level);
}

void JTModDemod::modulate(buff<cplx>, buff<cplx> out) {
    if (!Enabled.get() || active_.empty()) {
        std::fill(out.begin(), out.end(), cplx{});
        return;
    }
    const double magnitude = std::abs(oscillator_);
    oscillator_ = magnitude > 0 && std::isfinite(magnitude) ? oscillator_ / magnitude : std::complex<double>(1.0);

    const int table = FreqDevTable.get();
    const int taper = TaperSamples.get();
    const ft8::gaussTable& g = shapeFor(table);
    size_t pos = 0;
    while (pos < out.count) {
        if (samplesLeft_ == 0) {
            ++symbolIndex_;
            if (symbolIndex_ >= int(active_.count)) {
                std::fill(out.begin() + pos, out.end(), cplx{});
                endMessage();
                return;
            }
            beginSymbol();
        }
        const int N = symbolLength_;
        const int h = N / 2;
        const size_t n = std::min(size_t(samplesLeft_), out.count - pos);
        const bool silent = symbolIndex_ < 0; // the start delay: the clock runs, nothing is sent
        for (size_t i = 0; i < n; ++i) {
            const int q = N - samplesLeft_ + int(i);
            float gain = float(level);
            if (table < 1) {
                oscillator_ *= phaseStep_;
            } else {
                const double f = q < h ? prevHz_ * shape(g, h - 1 - q, N) + curHz_ * shape(g, q + h, N)
                                       : curHz_ * shape(g, N - 1 - (q - h), N) + nextHz_ * shape(g, q - h, N);
                oscillator_ *= std::polar(1.0, twoPi * f / rate);
                gain = taperGain(q, taper);
            }
            out[pos + i] = silent ? cplx{} : cplx(std::complex<double>(gain) * oscillator_);
            ++emitted_;
        }
        pos += n;
        samplesLeft_ -= int(n);
    }
}

void JTModDemod::endMessage() {
    dropMessage();
    transmissionDone();
}

void JTModDemod::transceiverLetGo(uint64_t at) {
    {
        std::lock_guard<std::mutex> l(queueLock_);
        letGoAt_ = std::max(letGoAt_, at);
        if (queued_.queuedAt < at) queued_ = Message{};
    }
    dropMessage();
}

void JTModDemod::dropTransmission(uint64_t before) {
    if (activeSince_ < before) dropMessage();
}

void JTModDemod::dropMessage() {
    active_ = buff<float>();
    samplesLeft_ = 0;
}
