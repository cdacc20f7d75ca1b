#pragma once
// RTTYModDemod: radio teletype, ITA2 at 45.45 baud with a 170 Hz shift.
//
// Receive: rttyReceiver decodes with space at rxFreq and mark 170 Hz above
// it, as standard stations send (this mode's own transmission at rxFreq
// 2000), and writes what it decodes to standard output, with its phase-jump
// marks and scores; the characters alone also go to the host on newChars.
// Its detector trace goes to the host through newDebug when bound. The
// block is played as it came.
//
// Transmit: rttyTransmitter sends the queued text with mark at +2170 Hz and
// space at +2000 Hz; "~" in the text releases the transceiver's ptt. Every
// transmission begins with idle letters-shift frames until a few whole
// frames have gone out after the transceiver's lead silence and rise, so
// that a receiver locks on the character timing, and is in letters, before
// the text starts, and text queued before ptt loses nothing to the rise.
//
// Threads: demodulate, modulate and pttChanged run on the transceiver's
// task group, QueueText and the setters on the mode's; the text queue is the
// only state both reach, and it has its own lock.
#include "core/modDemod.h"
#include "core/transmission.h"
#include "framework/asyncEvent.h"
#include "modes/data/TextQueue.h"
#include "modes/data/debugCallback.h"
#include "modes/data/rtty/rttyReceiver.h"
#include "modes/data/rtty/rttyTransmitter.h"

#include <string_view>

class RTTYModDemod : public modDemod {
public:
    explicit RTTYModDemod(std::shared_ptr<syncTask> taskGroup);
    ~RTTYModDemod() override = default;

    buff<float> demodulate(buff<std::complex<float>> block) override;
    void modulate(buff<std::complex<float>> in, buff<std::complex<float>> out) override;
    void pttChanged(bool on) override;
    void dropTransmission(uint64_t before) override;

    /// Host method: drops the unsent text and queues text from position
    /// (sent - base) on. A null text, or a base above the count sent, is
    /// refused (logged): the unsent text stays as it was.
    void QueueText(const char* text, int base, uint64_t at = transmission::now());
    void QueueText(std::string_view text, int base, uint64_t at = transmission::now());

    asyncEvent<std::string> sentChars;
    asyncEvent<std::string> newChars; // the characters each receive block completed
    asyncProperty<float> dbg1{0.0f};
    asyncProperty<float> dbg2{0.0f};
    debugCallback newDebug;

    long long sentCount() const { return text_.sent(); }

private:
    int getNextTxChar();

    TextQueue text_{"~", *this};
    rtty::rttyTransmitter transmitter_; // transceiver's task group
    rtty::rttyReceiver receiver_;       // transceiver's task group
    std::string printed_;               // receiver_'s output of one block
    std::string decoded_;               // and its characters alone
};
