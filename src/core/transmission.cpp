#include "core/transmission.h"

#include "core/Radio.h"
#include "core/modDemod.h"
#include "core/vtrx.h"
#include "core/vtrxToRadio.h"
#include "framework/delayedTask.h"

#include <spdlog/spdlog.h>

#include <algorithm>

// ---- the way in ----

void transmission::keyFor(const modDemod& mode) {
    // A mode detached since it asked keys nothing: nothing would end it.
    if (v_.mode.get() == &mode) keyBy(&mode);
}

void transmission::keyForVoice() {
    if (!voiceWaits_) keyBy(&v_);
}

bool transmission::keyedByVoice() const { return phase_ == phase::keyed && keyer_ == &v_; }

void transmission::keyBy(const void* keyer) {
    if (v_.ptt.get()) return; // the first keyer keeps it
    pending_ = keyer;
    v_.ptt.set(true, true);
    pending_ = nullptr;
}

void transmission::pttChanged() {
    if (v_.ptt.get())
        begin();
    else
        released();
}

void transmission::begin() {
    keyer_ = pending_;
    phase_ = phase::keyed;
    asked(); // the radio has had no chance to ask yet
    v_.rampUpPending = true;
    v_.rampUpLeft = v_.txLeadSilence + v_.rampUpLength;
    v_.pttReleasing = false;
    // Transmission starts from silence, with a fresh filter block.
    v_.txFir.clearState();
    v_.txFirPos = v_.txFir.blockLength();
    if (auto& mode = v_.mode) {
        if (!mode->txBlockMode) v_.rampUpLeft = v_.rampUpLength;
        mode->pttReleased = false;
        mode->pttChanged(true);
    }
    v_.transmitting = true;
    if (v_.owner.expired()) {
        // Refused, and told back once this change has been told: a set of
        // ptt inside its own hook would reach the host before it.
        postEnd("its radio is gone");
        return;
    }
    tellRadio();
    watch();
}

// ---- endings ----

void transmission::release() {
    if (v_.ptt.get()) v_.ptt.set(false, true);
}

void transmission::releaseBy(const modDemod& mode) {
    if (v_.mode.get() == &mode) release();
}

void transmission::releaseIfKeyedBy(const modDemod& keyer) {
    if (phase_ == phase::keyed && keyer_ == &keyer) release();
}

void transmission::releaseByVoice() {
    voiceReleasing_ = true;
    release();
    voiceReleasing_ = false;
}

void transmission::end(const char* why) {
    if (phase_ == phase::off) return;
    spdlog::info("vtrx transmission ends: {}", why);
    ending_ = true;
    if (v_.ptt.get())
        v_.ptt.set(false, true); // released() takes the way out, without the tail
    else
        finish(); // in its tail
    ending_ = false;
}

void transmission::postEnd(const char* why) {
    auto self = std::static_pointer_cast<vtrx>(v_.weak_from_this().lock());
    if (!self) return;
    seqTask t;
    t.fn = [self, why] { self->tx.end(why); };
    t.name = "vtrx.endTransmission";
    self->asyncProcess(t);
}

void transmission::released() {
    if (phase_ == phase::off) return;
    if (keyer_ == &v_ && !voiceReleasing_) voiceWaits_ = true;
    auto& mode = v_.mode;
    if (mode) {
        mode->pttChanged(false);
        mode->dropTransmission();
    }
    v_.rampUpPending = false;
    if (ending_ || !mode) {
        finish();
        return;
    }
    // The radio is told once the transmit chain has run out the tail, which
    // only the radio's requests run out.
    phase_ = phase::tail;
    v_.pttReleasing = true;
    v_.tailLeft = mode->txTailLength;
    mode->pttReleased = true;
    watch();
}

void transmission::finish() {
    if (phase_ == phase::off) return;
    phase_ = phase::off;
    keyer_ = nullptr;
    v_.pttReleasing = false;
    v_.rampUpPending = false;
    v_.transmitting = false;
    tellRadio();
}

void transmission::tellRadio() {
    // The radio takes the transceiver's requests in order: it ends as the
    // last one left it.
    v_.toRadio("radio.setPtt", [on = v_.ptt.get()](Radio& r, vtrx& v) { r.setPtt(on, &v); });
}

// ---- the radio's silence ----

bool transmission::watched() const { return phase_ != phase::off; }

void transmission::watch() {
    if (!watched()) return;
    const uint64_t serial = ++checkSerial_;
    using namespace std::chrono;
    // One millisecond past the limit, so that the check never comes early.
    const auto due = duration_cast<milliseconds>(lastAsked() + stallLimit() - clock::now()) + milliseconds(1);
    seqTask t;
    t.fn = [weak = v_.weak_from_this(), serial] {
        if (auto v = std::static_pointer_cast<vtrx>(weak.lock())) v->tx.check(serial);
    };
    t.name = "vtrx.checkTransmission";
    postDelayed(v_.weak_from_this(), std::max(due, milliseconds(0)), t);
}

void transmission::check(uint64_t serial) {
    if (serial != checkSerial_ || !watched()) return;
    if (clock::now() - lastAsked() < stallLimit()) {
        watch(); // the radio still asks
        return;
    }
    spdlog::warn("vtrx: the radio asked for no transmit samples for {} ms; the transmission ends without its tail",
                 stallLimit().count());
    end("its radio stopped asking for samples");
}
