#include "modes/data/rtty/RTTYModDemod.h"

#include "core/realAudio.h"
#include "core/vtrx.h"
#include "framework/hostArrays.h"
#include "modes/data/rtty/ITA2.h"

#include <cstdio>

RTTYModDemod::RTTYModDemod(std::shared_ptr<syncTask> taskGroup) : modDemod(std::move(taskGroup)) {
    rtty::ITA2Table(); // built here if no mode has built it yet
}

void RTTYModDemod::QueueText(const char* text, int base, uint64_t at) {
    text_.hostReplace(text, base, at, "RTTYModDemod.QueueText()");
}

void RTTYModDemod::QueueText(std::string_view text, int base, uint64_t at) {
    text_.hostReplace(text, base, at, "RTTYModDemod.QueueText()");
}

void RTTYModDemod::modulate(buff<std::complex<float>>, buff<std::complex<float>> out) {
    transmitter_.modulate(out, [this] { return getNextTxChar(); });
}

void RTTYModDemod::pttChanged(bool on) {
    if (!on) return;
    auto owner = lockOwner();
    transmitter_.begin(owner ? owner->fadeInLeft() : 0);
    text_.transmissionBegins();
}

void RTTYModDemod::dropTransmission(uint64_t before) { text_.dropTransmission(before); }

int RTTYModDemod::getNextTxChar() {
    const int c = text_.take(sentChars);
    if (c < 0) return 0;
    if (c == '~') {
        transmissionDone();
        return 0;
    }
    return c;
}

buff<float> RTTYModDemod::demodulate(buff<std::complex<float>> block) {
    std::vector<buff<float>> traces;
    printed_.clear();
    decoded_.clear();
    receiver_.process(block, rxFreq.get(), printed_, decoded_, traces);
    if (!printed_.empty()) {
        std::fwrite(printed_.data(), 1, printed_.size(), stdout);
        std::fflush(stdout);
    }
    if (!decoded_.empty()) newChars.send(decoded_);
    for (auto& trace : traces) {
        if (!newDebug.get()) break;
        // The handle is made as the host is called, so a task that never
        // runs leaves nothing behind.
        SendEvent([this, trace] {
            if (auto cb = newDebug.get()) cb(vireo::api::arrayHandle(trace), 0, 0.0, 0.0);
        });
    }
    return realAudio(block);
}
