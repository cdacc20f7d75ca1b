#pragma once
// hellschreiberModDemod: sends text as Hellschreiber pictures (hellRaster)
// that a waterfall display shows; frequencyStep is the spacing of the eight
// row tones. There is no decoder: received blocks are played as they came.
// An idle transmitter draws blank space glyphs; "~" in the text releases
// the transceiver's ptt.
//
// Threads: demodulate and modulate run on the transceiver's task group,
// QueueText and the setter on the mode's; the text queue has its own lock
// and frequencyStep is read through its checked copy at the start of every
// modulate call.
#include "core/modDemod.h"
#include "core/transmission.h"
#include "framework/asyncEvent.h"
#include "modes/data/TextQueue.h"
#include "modes/data/checkedValue.h"
#include "modes/data/hell/hellRaster.h"

#include <string_view>

class hellschreiberModDemod : public modDemod {
public:
    /// Widest row spacing, Hz: a pixel of two samples.
    static constexpr double maxStep = 48000.0;
    /// Narrowest row spacing, Hz: a pixel of INT_MAX + 1 samples.
    static constexpr double minStep = 48000.0 / 2147483647.0;

    explicit hellschreiberModDemod(std::shared_ptr<syncTask> taskGroup);
    ~hellschreiberModDemod() override = default;

    buff<float> demodulate(buff<std::complex<float>> block) override;
    void modulate(buff<std::complex<float>> in, buff<std::complex<float>> out) override;
    void pttChanged(bool on) override;
    void dropTransmission(uint64_t before) override;

    /// Host method: drops the unsent text and queues text from position
    /// (sent - base) on. A null text, or a base above the count sent, is
    /// refused (logged): the unsent text stays as it was.
    void QueueText(const char* text, int base, uint64_t at = transmission::now());
    void QueueText(std::string_view text, int base, uint64_t at = transmission::now());

    asyncProperty<double> frequencyStep{30.0};
    asyncEvent<std::string> sentChars;

    long long sentCount() const { return text_.sent(); }

private:
    int getNextTxChar();

    checkedValue<double> stepInUse_;
    TextQueue text_{"~", *this};
    hell::hellRaster raster_; // transceiver's task group
};
