// Construction, the host hooks and the message queue of the JT mode; the
// receive half is in JTModDemodReceive.cpp, the transmit half in
// JTModDemodTransmit.cpp, the file formats in JTModDemodRecording.cpp.
#include "modes/data/JTModDemod.h"

#include "core/vtrx.h"

#include <spdlog/spdlog.h>

#include <cmath>

namespace {

/// Makes p's hook keep inUse at p's last acceptable value; a refused value
/// is logged and p set back, which tells the host.
template <class T, class Valid>
void checkSetting(asyncProperty<T>& p, std::atomic<T>& inUse, const char* name, Valid valid) {
    p.changeHook = [&p, &inUse, name, valid] {
        const T v = p.get();
        if (valid(v)) {
            inUse.store(v);
            return;
        }
        spdlog::error("JTModDemod {} {} refused, keeping {}", name, v, inUse.load());
        p.set(inUse.load(), true); // the hook runs again, on the kept value
    };
}

} // namespace

JTModDemod::JTModDemod(std::shared_ptr<syncTask> taskGroup) : modDemod(std::move(taskGroup)) {
    checkSetting(samplesPerSymbol, samplesPerSymbol_, "samplesPerSymbol", [](int v) { return v > 0; });
    // The highest tone must stay inside the transmit stream's band; beyond
    // it the tones fold back, and far beyond every sample is NaN.
    checkSetting(toneSpacing, toneSpacing_, "toneSpacing", [this](double v) {
        return std::isfinite(v) && std::abs(txFreq.get() + highestTone * v) <= maxToneHz;
    });
    checkSetting(samplesPerBlock, samplesPerBlock_, "samplesPerBlock",
                 [](int v) { return v > 0 && v <= maxSamplesPerBlock; });
    checkSetting(endPadding, endPadding_, "endPadding", [](int v) { return v >= 0; });
    // Periods start on whole half seconds counted from the start of the
    // hour, so a period must be a whole number of them and divide the hour;
    // any other length would start periods off their time.
    checkSetting(period, period_, "period", [](int v) { return v >= 500 && v % 500 == 0 && 3600000 % v == 0; });
    // The transceiver hands over maxDecimation samples at a time, and every
    // block is decimated from its first sample: a larger step keeps nothing.
    checkSetting(Decimation, decimation_, "Decimation", [](int v) { return v > 0 && v <= maxDecimation; });
    Enabled.changeHook = [this] { onEnabled(); };
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
    std::lock_guard<std::mutex> l(queueLock_);
    queued_ = Message{std::move(tones), mode, startTime};
}
