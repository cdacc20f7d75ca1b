#pragma once
// NoisyLoopRadio: a back-end for tests of modes over a noisy channel, run as
// fast as the chain allows. One receiver at `rate`. The test steps it from
// its own thread, block by block: while a transceiver transmits, a step asks
// it for one block and loops that block back into the receiver with complex
// white Gaussian noise added; otherwise a step writes noise alone, or noise
// and the next block of a signal the test plays (another station). A step
// returns only when the block has gone through the receiving transceivers,
// so nothing queues up and nothing is dropped, however slow the receiver.
//
// Noise is set as a signal-to-noise ratio in 2500 Hz: for a signal of power
// P (mean |s|^2), the noise power in 2500 Hz is P / 10^(snr/10), so the
// per-sample noise variance is that times rate / 2500.
//
// Threads: step() on the test's thread; everything that touches the radio's
// state (ptt, the noise generator, writes into the receiver) runs on the
// radio's task group.
#include "core/Radio.h"
#include "core/vtrx.h"

#include "core/drainTasks.h"
#include "core/testRadio.h"
#include "support/waitFor.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <deque>
#include <functional>
#include <latch>
#include <random>
#include <vector>

class NoisyLoopRadio : public Radio {
public:
    using cplx = std::complex<float>;

    explicit NoisyLoopRadio(std::shared_ptr<syncTask> group, int rate = 48000, long long frequency = 14000000,
                            unsigned seed = 1)
        : Radio(std::move(group)), rate_(rate), rng_(seed) {
        hwReceiver r;
        r.frequency = frequency;
        r.sampleRate = rate;
        appendReceiver(r);
        SampleRate.set(rate, true);
        canTransmit.set(true, true);
    }

    /// Noise for a signal of power `signalPower` at `snrDb` in 2500 Hz.
    void setSnr(double snrDb, double signalPower) {
        noiseVariance_ = signalPower / std::pow(10.0, snrDb / 10.0) * rate_ / 2500.0;
    }
    /// No noise at all.
    void setClean() { noiseVariance_ = 0.0; }
    /// Restarts the noise generator, so that a trial's noise does not depend
    /// on how many blocks the ones before it took. Radio's task group.
    void reseed(unsigned seed) { rng_.seed(seed); }

    /// Conjugates every looped-back block, as swapped I and Q would: the
    /// spectrum arrives mirrored about the receiver's centre.
    std::atomic<bool> conjugate{false};
    /// Puts the looped-back signal where the transmitting transceiver is
    /// tuned, as a real radio transmits, instead of at the receiver's centre
    /// (which the radio moves to cover every transceiver).
    std::atomic<bool> atTransmitter{false};
    /// Samples by which the looped-back signal arrives late, as a real
    /// radio's transmit and receive latency make it; the noise is not
    /// delayed. Change it only while nothing is sent: a change restarts the
    /// delay line with silence.
    std::atomic<size_t> loopDelay{0};
    /// Another station's signal, sent block by block in place of silence
    /// while no transceiver transmits, with the same noise; silence again
    /// after its end. Radio's task group.
    void play(std::vector<cplx> signal) {
        played_ = std::move(signal);
        playedAt_ = 0;
        playedLeft.store(played_.size());
    }
    /// Samples of the played signal not yet sent.
    std::atomic<size_t> playedLeft{0};
    /// Samples per step.
    size_t blockLength = 512;
    /// Called with every block as written into the receiver (radio's group).
    std::function<void(const buff<cplx>& sent, const buff<cplx>& written)> tap;

    std::atomic<long> transmitted{0};
    std::atomic<long> written{0};

    void startRadio() override {}
    void tune() override { pacedByTheTest(*this); }

    /// Radio's task group: the transmitting transceiver's block, looped back.
    void transmit(buff<cplx> samples) override {
        loopBack(samples);
        transmitted.fetch_add(1);
    }

    /// Runs n blocks. False when the chain did not answer within 10 s.
    bool step(int n) {
        auto self = std::static_pointer_cast<NoisyLoopRadio>(shared_from_this());
        for (int i = 0; i < n; ++i) {
            const long before = transmitted.load();
            std::latch decided(1);
            bool asked = false;
            seqTask t;
            t.fn = [self, &asked, &decided] {
                asked = self->askOrWriteNoise();
                decided.count_down();
            };
            t.name = "test.step";
            asyncProcess(t);
            decided.wait();
            if (asked && !waitFor([&] { return transmitted.load() > before; })) return false;
            settle();
        }
        return true;
    }

    /// Waits until everything written so far went through the transceivers.
    void settle() {
        auto self = shared_from_this();
        drainDataTasks(self); // the deferred hand-out ("handleFullBuffer")
        std::vector<std::shared_ptr<vtrx>> list;
        {
            std::lock_guard<std::mutex> l(listMutex);
            list = vtrxList;
        }
        for (auto& v : list) drainDataTasks(v);
    }

private:
    /// Radio's task group. Asks the transmitting transceiver for a block, or
    /// writes a block of noise when none transmits; true when it asked.
    bool askOrWriteNoise() {
        if (ptt.get()) {
            if (auto v = txVtrx()) {
                txOffset_ = double(v->vfo.get() - receivers[0].frequency);
                const unsigned long n = blockLength;
                seqTask t;
                t.fn = [v, n] { v->modulate(n); };
                t.name = "modulate";
                v->asyncProcess(t);
                return true;
            }
        }
        buff<cplx> block(blockLength, cplx{});
        const size_t n = std::min(blockLength, played_.size() - playedAt_);
        std::copy_n(played_.begin() + std::ptrdiff_t(playedAt_), n, block.data);
        playedAt_ += n;
        playedLeft.store(played_.size() - playedAt_);
        loopBack(block);
        return false;
    }

    void loopBack(const buff<cplx>& samples) {
        const buff<cplx> arriving = delayed(samples);
        buff<cplx> out(samples.count);
        const float sigma = float(std::sqrt(noiseVariance_ / 2.0));
        const bool mirror = conjugate.load();
        const bool shift = atTransmitter.load() && txOffset_ != 0.0;
        const double step = 2.0 * M_PI * txOffset_ / rate_;
        for (size_t i = 0; i < samples.count; ++i) {
            cplx s = mirror ? std::conj(arriving[i]) : arriving[i];
            if (shift) {
                s *= cplx(std::polar(1.0, shiftPhase_));
                shiftPhase_ = std::remainder(shiftPhase_ + step, 2.0 * M_PI);
            }
            if (sigma > 0) s += cplx(sigma * gauss_(rng_), sigma * gauss_(rng_));
            out[i] = s;
        }
        if (tap) tap(samples, out);
        // The fill function is called once per stretch of a receive block:
        // each call takes the samples after those of the one before.
        size_t taken = 0;
        unlockedWrite(
            [&out, &taken](cplx* d, size_t k) {
                std::copy_n(out.data + taken, k, d);
                taken += k;
            },
            out.count, 0);
        written.fetch_add(1);
    }

    /// The samples that arrive now: what was sent loopDelay samples ago.
    buff<cplx> delayed(const buff<cplx>& samples) {
        const size_t d = loopDelay.load();
        if (d == 0) {
            line_.clear();
            lineDelay_ = 0;
            return samples;
        }
        if (lineDelay_ != d) {
            line_.assign(d, cplx{});
            lineDelay_ = d;
        }
        line_.insert(line_.end(), samples.begin(), samples.end());
        buff<cplx> out(samples.count);
        std::copy_n(line_.begin(), samples.count, out.data);
        line_.erase(line_.begin(), line_.begin() + std::ptrdiff_t(samples.count));
        return out;
    }

    const int rate_;
    std::vector<cplx> played_; // radio's task group
    size_t playedAt_ = 0;
    std::deque<cplx> line_; // the delay line, radio's task group
    size_t lineDelay_ = 0;
    std::atomic<double> noiseVariance_{0.0};
    double txOffset_ = 0.0;   // transmitter's frequency over the receiver's centre, Hz
    double shiftPhase_ = 0.0; // of that offset, carried from block to block
    std::mt19937 rng_;
    std::normal_distribution<float> gauss_{0.0f, 1.0f};
};
