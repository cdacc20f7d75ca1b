#include "modes/data/hell/hellschreiberModDemod.h"

#include "core/realAudio.h"

#include <cmath>

hellschreiberModDemod::hellschreiberModDemod(std::shared_ptr<syncTask> taskGroup) : modDemod(std::move(taskGroup)) {
    // 0 or less has no pixel length (48000 / 0); above 48000 a pixel would
    // be shorter than two samples; below minStep its length (48000 / step
    // samples) does not fit an int.
    stepInUse_.guard(frequencyStep, "hellschreiberModDemod frequencyStep",
                     [](double v) { return std::isfinite(v) && v >= minStep && v <= maxStep; });
}

void hellschreiberModDemod::QueueText(const char* text, int base, uint64_t at) {
    text_.hostReplace(text, base, at, "hellschreiberModDemod.QueueText()");
}

void hellschreiberModDemod::QueueText(std::string_view text, int base, uint64_t at) {
    text_.hostReplace(text, base, at, "hellschreiberModDemod.QueueText()");
}

void hellschreiberModDemod::modulate(buff<std::complex<float>>, buff<std::complex<float>> out) {
    raster_.modulate(out, stepInUse_.get(), [this] { return getNextTxChar(); });
}

int hellschreiberModDemod::getNextTxChar() {
    const int c = text_.take(sentChars);
    if (c < 0) return ' ';
    if (c == '~') {
        transmissionDone();
        return ' ';
    }
    return c;
}

void hellschreiberModDemod::pttChanged(bool on) {
    if (on) text_.transmissionBegins();
}

void hellschreiberModDemod::dropTransmission(uint64_t before) {
    // Cut short outside modulate (its own end mark comes from inside): the
    // glyph under way goes no further either.
    if (text_.dropTransmission(before)) raster_ = hell::hellRaster{};
}

buff<float> hellschreiberModDemod::demodulate(buff<std::complex<float>> block) {
    return realAudio(block);
}
