// The PSK mode's transmit path: the modulator, fed one character at a time
// from the text queue, with the start hold after PTT on and the end of a
// transmission at "~".
#include "core/vtrx.h"
#include "modes/data/psk/PskModDemod.h"

#include <algorithm>

void PskModDemod::modulate(buff<std::complex<float>>, buff<std::complex<float>> out) {
    {
        std::lock_guard<std::mutex> l(txLock_);
        // std::complex<float> is two floats, I then Q.
        modulator_.CalcPSK(reinterpret_cast<float*>(out.data), int(2 * out.count), 1);
    }
    startHold_.store(std::max(startHold_.load() - int(out.count), 0));
    if (ending_ && !pttReleased()) {
        // "~" went out: the transceiver sends the tail and unkeys the radio.
        transmissionDone();
    }
}

void PskModDemod::pttChanged(bool on) {
    if (!on) return;
    startHold_.store(startHoldSamples);
    ending_ = false;
    text_.transmissionBegins();
}

void PskModDemod::dropTransmission(uint64_t before) { text_.dropTransmission(before); }

int PskModDemod::getCharCallback(void* context) { return static_cast<PskModDemod*>(context)->getNextTxChar(); }

int PskModDemod::getNextTxChar() {
    if (startHold_.load() > 0) return CPSKMod::sourceIdle;
    if (ending_ || pttReleased()) return CPSKMod::sourceEnd;
    const int c = text_.take();
    if (c < 0) return CPSKMod::sourceIdle;
    sentChars.send(std::string(1, char(c)));
    if (c == '~') {
        ending_ = true;
        return CPSKMod::sourceEnd;
    }
    return c;
}
