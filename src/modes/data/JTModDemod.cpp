// Construction, the host hooks and the message queue of the JT mode; the
// receive half is in JTModDemodReceive.cpp, the transmit half in
// JTModDemodTransmit.cpp, the file formats in JTModDemodRecording.cpp.
#include "modes/data/JTModDemod.h"

#include "core/vtrx.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>

JTModDemod::JTModDemod(std::shared_ptr<syncTask> taskGroup) : modDemod(std::move(taskGroup)) {
    // A symbol, and the start delay before it, must fit in a period: the
    // transmitter stays keyed for both, silent through the delay.
    samplesPerSymbol_.guard(samplesPerSymbol, "JTModDemod samplesPerSymbol", [this](int v) {
        return v > 0 && v + std::max<long long>(startDelay_.get(), 0) <= period_.get() * samplesPerMs;
    });
    startDelay_.guard(StartDelaySamples, "JTModDemod StartDelaySamples", [this](int v) {
        return (long long)v + samplesPerSymbol_.get() <= period_.get() * samplesPerMs;
    });
    // The highest tone must stay inside the transmit stream's band; beyond
    // it the tones fold back, and far beyond every sample is NaN.
    toneSpacing_.guard(toneSpacing, "JTModDemod toneSpacing", [this](double v) {
        return std::isfinite(v) && std::abs(txFreq.get() + highestTone * v) <= maxToneHz;
    });
    samplesPerBlock_.guard(samplesPerBlock, "JTModDemod samplesPerBlock",
                           [](int v) { return v > 0 && v <= maxSamplesPerBlock; });
    endPadding_.guard(endPadding, "JTModDemod endPadding", [](int v) { return v >= 0; });
    // Periods start on whole half seconds counted from the start of the
    // hour, so a period must be a whole number of them and divide the hour;
    // any other length would start periods off their time.
    period_.guard(period, "JTModDemod period", [](int v) { return v >= 500 && v % 500 == 0 && 3600000 % v == 0; });
    // A recording that does not end within its period takes the next one's
    // time, and the next period is not recorded at all.
    decimation_.guard(Decimation, "JTModDemod Decimation", [this](int v) { return recordingEndsInPeriod(v); });
    Enabled.changeHook = [this] { onEnabled(); };
}

bool JTModDemod::recordingEndsInPeriod(int D) const {
    // Every receive block is decimated from its first sample: a block of B
    // keeps B / D samples, a step longer than the block keeps nothing.
    const long long B = blockLength_.load();
    if (D <= 0 || D > B) return false;
    const long long slotsPerSample = SaveMode.get() == 1 ? 2 : 1;
    const long long slots = period_.get() * samplesPerMs * (B / D) / B * slotsPerSample;
    return slots >= (long long)samplesPerBlock_.get() - endPadding_.get();
}

bool JTModDemod::messageFits(size_t symbols, const char* what) const {
    const long long sps = samplesPerSymbol_.get(), delay = startDelay_.get(), periodMs = period_.get();
    if ((long long)symbols * sps + std::max(delay, 0LL) <= periodMs * samplesPerMs) return true;
    spdlog::error("{} {} symbols of {} samples after a start delay of {} refused: a period of {} ms holds {} samples",
                  what, symbols, sps, delay, periodMs, periodMs * samplesPerMs);
    return false;
}

JTModDemod::~JTModDemod() = default; // each pending future waits for its writer

void JTModDemod::onEnabled() {
    if (Enabled.get()) return;
    // demodulate sees the count change and abandons the period it records.
    disabled_.fetch_add(1);
    auto v = lockOwner();
    auto self = std::static_pointer_cast<JTModDemod>(weak_from_this().lock());
    if (!v || !self) return;
    seqTask t;
    t.fn = [self, v] { self->dropTransmission(*v); };
    t.name = "JTModDemod.dropTransmission";
    v->asyncProcess(t);
}

void JTModDemod::queueMsg(buff<float> tones, int mode, int startTime) {
    if (tones.empty()) {
        spdlog::error("JTModDemod.queueMsg() empty tone buffer refused");
        return;
    }
    for (float t : tones) {
        if (!std::isfinite(t)) {
            spdlog::error("JTModDemod.queueMsg() tone buffer with a value that is not finite refused");
            return;
        }
    }
    if (!messageFits(tones.count, "JTModDemod.queueMsg()")) return;
    std::lock_guard<std::mutex> l(queueLock_);
    queued_ = Message{std::move(tones), mode, startTime};
}
