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
    // transmitter stays keyed for both, silent through the delay. A delay
    // below zero would start a message part of the way through.
    samplesPerSymbol_.guard(samplesPerSymbol, "JTModDemod samplesPerSymbol", [this](int v) {
        return v > 0 && symbolFits(v, startDelay_.get(), period_.get());
    });
    startDelay_.guard(StartDelaySamples, "JTModDemod StartDelaySamples", [this](int v) {
        return v >= 0 && symbolFits(samplesPerSymbol_.get(), v, period_.get());
    });
    // The highest tone must stay inside the transmit stream's band; beyond
    // it the tones fold back, and far beyond every sample is NaN.
    toneSpacing_.guard(toneSpacing, "JTModDemod toneSpacing", [this](double v) {
        return std::isfinite(v) && std::abs(txFreq.get() + highestTone * v) <= maxToneHz;
    });
    // A recording that does not end within its period takes the next one's
    // time: the next period is not recorded, and the messages queued for it
    // never start. Whichever of its settings changes last is checked with
    // the others in force.
    samplesPerBlock_.guard(samplesPerBlock, "JTModDemod samplesPerBlock", [this](int v) {
        return v > 0 && v <= maxSamplesPerBlock && recordingEndsInPeriodWith(&Settings::samplesPerBlock, v);
    });
    endPadding_.guard(endPadding, "JTModDemod endPadding",
                      [this](int v) { return v >= 0 && recordingEndsInPeriodWith(&Settings::endPadding, v); });
    // Periods start on whole half seconds counted from the start of the
    // hour, so a period must be a whole number of them and divide the hour;
    // any other length would start periods off their time.
    period_.guard(period, "JTModDemod period", [this](int v) {
        return v >= 500 && v % 500 == 0 && 3600000 % v == 0 &&
               symbolFits(samplesPerSymbol_.get(), startDelay_.get(), v) &&
               recordingEndsInPeriodWith(&Settings::period, v);
    });
    decimation_.guard(Decimation, "JTModDemod Decimation",
                      [this](int v) { return recordingEndsInPeriodWith(&Settings::decimation, v); });
    saveMode_.guard(SaveMode, "JTModDemod SaveMode",
                    [this](int v) { return recordingEndsInPeriodWith(&Settings::saveMode, v); });
    Enabled.changeHook = [this] { onEnabled(); };
}

JTModDemod::Settings JTModDemod::inForce() const {
    Settings s;
    s.saveMode = saveMode_.get();
    s.samplesPerBlock = samplesPerBlock_.get();
    s.endPadding = endPadding_.get();
    s.decimation = decimation_.get();
    s.period = period_.get();
    return s;
}

bool JTModDemod::recordingEndsInPeriod(const Settings& s) const {
    // Every receive block is decimated from its first sample: a block of B
    // keeps B / D samples, a step longer than the block keeps nothing.
    const long long B = blockLength_.load(), D = s.decimation;
    if (D <= 0 || D > B) return false;
    const long long slotsPerSample = s.saveMode == 1 ? 2 : 1;
    const long long slots = s.period * samplesPerMs * (B / D) / B * slotsPerSample;
    if (slots >= s.samplesPerBlock - s.endPadding) return true;
    spdlog::error("JTModDemod a period of {} ms keeps {} slots (Decimation {}, SaveMode {}), fewer than "
                  "samplesPerBlock {} less endPadding {}",
                  s.period, slots, D, s.saveMode, s.samplesPerBlock, s.endPadding);
    return false;
}

bool JTModDemod::symbolFits(long long samplesPerSymbol, long long startDelay, long long periodMs) {
    return samplesPerSymbol + startDelay <= periodMs * samplesPerMs;
}

bool JTModDemod::messageFits(size_t symbols, long long sps, long long delay, long long periodMs,
                             const char* what) {
    if ((long long)symbols * sps + delay <= periodMs * samplesPerMs) return true;
    spdlog::error("{} {} symbols of {} samples after a start delay of {} refused: a period of {} ms holds {} samples",
                  what, symbols, sps, delay, periodMs, periodMs * samplesPerMs);
    return false;
}

JTModDemod::~JTModDemod() = default; // each pending future waits for its writer

void JTModDemod::onEnabled() {
    if (Enabled.get()) return;
    // demodulate sees the count change and abandons the period it records.
    disabled_.fetch_add(1);
    auto self = std::static_pointer_cast<JTModDemod>(weak_from_this().lock());
    if (!self) return;
    // modulate sends nothing more: what the mode keyed until now ends, and
    // nothing it keys later (enabled again) by this request. The message on
    // the air goes whoever holds the key: a host key over it stands, on
    // silence, and the message never resumes.
    forTransceiver("JTModDemod.transmissionDone",
                   [self, before = transmission::now()](const std::shared_ptr<vtrx>& v) {
                       if (!v) return;
                       v->tx.releaseIfKeyedBy(*self, before);
                       // Its message is this transceiver's to touch only while attached here.
                       if (self->lockOwner() == v) self->dropTransmission(before);
                   });
}

void JTModDemod::queueMsg(buff<float> tones, int mode, int startTime, uint64_t at) {
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
    if (!messageFits(tones.count, samplesPerSymbol_.get(), startDelay_.get(), period_.get(), "JTModDemod.queueMsg()"))
        return;
    std::lock_guard<std::mutex> l(queueLock_);
    // Queued before a let-go that came first: it went with that transceiver.
    if (at < letGoAt_) {
        spdlog::info("JTModDemod.queueMsg() dropped: the host let go of its transceiver after queuing it");
        return;
    }
    queued_ = Message{std::move(tones), mode, startTime, at};
}
