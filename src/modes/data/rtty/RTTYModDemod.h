#pragma once
// RTTYModDemod: radio teletype, ITA2 at 45.45 baud with a 170 Hz shift.
//
// Receive: rttyReceiver decodes with mark at rxFreq and space 170 Hz above
// it, and writes what it decodes to standard output (nothing on newChars);
// its detector trace goes to the host through newDebug when bound. The
// block is played as it came.
//
// Transmit: rttyTransmitter sends the queued text with mark at +2170 Hz and
// space at +2000 Hz; "~" in the text releases the transceiver's ptt. The
// two senses differ: the transmitter's mark is the upper tone, the
// receiver's the lower, so reading this mode's own signal takes a mirrored
// spectrum (swapped I and Q) and rxFreq at -2170.
//
// Threads: demodulate and modulate run on the transceiver's task group,
// QueueText and the setters on the mode's; the text queue is the only state
// both reach, and it has its own lock.
#include "core/modDemod.h"
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

    /// Host method: drops the unsent text and queues text from position
    /// (sent - base) on. A null text, or a base above the count sent,
    /// queues nothing (logged).
    void QueueText(const char* text, int base);
    void QueueText(std::string_view text, int base);

    asyncEvent<std::string> sentChars;
    asyncEvent<std::string> newChars; // never sent: decoded text goes to standard output
    asyncProperty<float> dbg1{0.0f};
    asyncProperty<float> dbg2{0.0f};
    debugCallback newDebug;

    long long sentCount() const { return text_.sent(); }

private:
    int getNextTxChar();

    TextQueue text_;
    rtty::rttyTransmitter transmitter_; // transceiver's task group
    rtty::rttyReceiver receiver_;       // transceiver's task group
    std::string printed_;               // receiver_'s output of one block
};
