#include "modes/data/cw/cwModDemod.h"

#include "core/Radio.h"
#include "core/vtrx.h"

#include <climits>
#include <cmath>
#include <limits>

namespace {
constexpr double pi = 3.1415927;
} // namespace

cwModDemod::cwModDemod(std::shared_ptr<syncTask> taskGroup) : modDemod(std::move(taskGroup)) {
    freqInUse_.guard(freq, "cwModDemod freq", [](double v) { return std::isfinite(v) && std::abs(v) <= maxFreq; });
    // 0 or less never ends an element; a speed so low that a dash overflows
    // an int, or so high that a dot is shorter than a sample, keys nothing.
    wpmInUse_.guard(wpm, "cwModDemod wpm", [](double v) {
        return std::isfinite(v) && v > 0 && 172800.0 / v <= double(INT_MAX) && 57600.0 / v >= 1.0;
    });
    volumeInUse_.guard(sidetoneVolume, "cwModDemod sidetoneVolume", [](double v) {
        return std::isfinite(v) && std::abs(v) <= double(std::numeric_limits<float>::max());
    });
}

// ---- host requests ----

void cwModDemod::QueueText(const char* text, int offset, uint64_t at, bool keys, std::shared_ptr<askedKey> order) {
    if (text_.hostReplace(text, offset, at, "cwModDemod.QueueText()").queued > 0 && keys)
        postKey(at, std::move(order));
}

void cwModDemod::QueueText(std::string_view text, int offset, uint64_t at, bool keys,
                           std::shared_ptr<askedKey> order) {
    if (text_.hostReplace(text, offset, at, "cwModDemod.QueueText()").queued > 0 && keys)
        postKey(at, std::move(order));
}

void cwModDemod::KeyDown(long long, uint64_t at, bool keys, std::shared_ptr<askedKey> order) {
    sidetone(true);
    if (keys) postKey(at, std::move(order));
    std::lock_guard<std::mutex> l(keyLock_);
    if (keyDown_) return; // a repeated press must not restart the rise
    keyDown_ = true;
    keyRamp_ = 0;
}

void cwModDemod::KeyUp(long long) {
    {
        std::lock_guard<std::mutex> l(keyLock_);
        if (keyDown_) {
            keyDown_ = false;
            keyRamp_ = 0;
        }
    }
    sidetone(false);
}

void cwModDemod::sidetone(bool on) {
    forTransceiver("cwModDemod.sidetone", [on](const std::shared_ptr<vtrx>& v) {
        if (v) v->outputStream.genTone(on);
    });
}

void cwModDemod::postKey(uint64_t asked, std::shared_ptr<askedKey> order) {
    auto self = std::static_pointer_cast<cwModDemod>(weak_from_this().lock());
    if (!self) return;
    // Once asked for, a key that never reaches the transceiver the host had
    // the mode on still takes the transmitter there (askedKey).
    if (order) order->sent();
    forTransceiver(
        "cwModDemod.ptt",
        [self, asked, order](const std::shared_ptr<vtrx>& v) {
            if (!v) {
                // The host took the mode off that transceiver after the call,
                // which drops the text the key was for.
                if (order) self->keyRefused(asked);
                return;
            }
            // A call made without a host's key (tests that drive the mode
            // directly) keys the transceiver the mode is on now.
            auto key = order ? order : std::make_shared<askedKey>(v, asked);
            v->tx.keyFor(*self, *key);
        },
        onNone::runs);
}

// ---- transmit ----

void cwModDemod::modulate(buff<std::complex<float>>, buff<std::complex<float>> out) {
    auto owner = lockOwner();
    std::shared_ptr<Radio> radio = owner ? owner->owner.lock() : nullptr;
    const bool keyedByRadio = radio && radio->cwInternal.get();
    if (owner) {
        owner->outputStream.genVolume(float(volumeInUse_.get()));
        const double f = freqInUse_.get();
        if (f != lastToneFrequency_) {
            lastToneFrequency_ = f;
            owner->outputStream.genToneFrequency(int(f));
        }
    }
    if (processKeyer(keyedByRadio, out)) return;

    if (!owner || !owner->ptt.get()) {
        std::fill(out.begin(), out.end(), std::complex<float>{});
        return;
    }
    const cw::cwKeyer::settings s{wpmInUse_.get(), swHangTime.get(), keyedByRadio};
    const size_t end = keyer_.run(out, s, [this] { return getNextTxChar(); });
    if (end < out.count) {
        // The hang time ran out: what the keyer keyed ends here. A key the
        // host made stands until the host unkeys. While an ending is on its
        // way the queue holds the text back, which is no silence: the ending
        // ends what it ends, and a key made after it (a text queued since)
        // goes on past it with that text.
        if (!(radio && radio->RadioPtt.get()) && !endingComing()) owner->tx.releaseIfKeyedBy(*this);
        std::fill(out.begin() + long(end), out.end(), std::complex<float>{});
        owner->outputStream.genTone(false);
        return;
    }
    // The sound card reads the switch once per callback: the state at the
    // block's end is the one it will meet.
    if (out.count > 0) owner->outputStream.genTone(out[out.count - 1].real() > 0.0f);
}

bool cwModDemod::processKeyer(bool keyedByRadio, buff<std::complex<float>> out) {
    std::lock_guard<std::mutex> l(keyLock_);
    if (keyedByRadio) {
        if (!keyDown_) return false;
        std::fill(out.begin(), out.end(), std::complex<float>{1.0f, 0.0f});
        keyer_.keyActive();
        return true;
    }
    if (!keyDown_ && keyRamp_ >= keyRampLength) return false;
    for (auto& s : out) {
        float v = keyLevel;
        if (keyRamp_ < keyRampLength) {
            ++keyRamp_;
            v = float((0.5 + 0.5 * std::cos((keyRampLength - keyRamp_) * pi / keyRampLength)) * keyLevel);
        }
        s = {keyDown_ ? v : keyLevel - v, 0.0f};
    }
    if (keyDown_) keyer_.keyActive();
    return true;
}

int cwModDemod::getNextTxChar() {
    const int c = text_.take(sentChars);
    if (c < 0) return '@';
    if (c == '\n' || c == '\r' || c == '`') {
        transmissionDone();
        return ' ';
    }
    return c;
}

void cwModDemod::pttChanged(bool on) {
    if (on) text_.transmissionBegins();
}

void cwModDemod::dropTransmission(uint64_t before) {
    // Cut short, never from inside the keyer's run (the mode's own ends come
    // from there only with the end mark taken, or after it returned).
    if (text_.dropTransmission(before)) keyer_.dropCharacter();
}

void cwModDemod::keyRefused(uint64_t asked) { text_.dropUnkeyed(asked); }

// ---- receive ----

buff<float> cwModDemod::demodulate(buff<std::complex<float>> block) {
    auto owner = lockOwner();
    if (!(owner && owner->transmitting())) {
        for (char c : decoder_.process(block)) newChars.send(std::string(1, c));
        rxwpm.set(double(decoder_.wpm()), true);
    }
    beat_.setFrequency(freqInUse_.get());
    return beat_.MulToRealF(block);
}
