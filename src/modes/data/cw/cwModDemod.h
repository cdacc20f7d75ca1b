#pragma once
// cwModDemod: Morse telegraphy on a transceiver, both ways at 48000 samples
// per second.
//
// Receive: the envelope decoder (cwDecoder) publishes characters on
// newChars and the speed it measures on rxwpm, while the transceiver is not
// transmitting; the block itself becomes audio as a beat note at freq.
//
// Transmit: a hand key (KeyDown/KeyUp) ramps a carrier up and down; with the
// key up, the text keyer (cwKeyer) sends the queued text at wpm. At a line
// feed, carriage return or backquote in the text the mode releases the
// transceiver's ptt; after swHangTime ms without an element it releases what
// it keyed itself (unless the radio's own PTT input holds it): a key the host
// made stands until the host unkeys. The sidetone follows on the
// transceiver's audio output stream; with a radio that keys CW itself
// (cwInternal) the output is 1.0 for mark and 0.0 for space.
//
// Threads: demodulate and modulate run on the transceiver's task group, the
// host's requests (setters, QueueText, KeyDown, KeyUp) on the mode's. The
// text queue has its own lock; the key state and its ramp count share
// keyLock_; host values are read through their checked copies. Every change
// of the transceiver's ptt runs on the transceiver's task group: the host's
// requests post theirs there.
#include "core/modDemod.h"
#include "core/transmission.h"
#include "framework/asyncEvent.h"
#include "modes/data/TextQueue.h"
#include "modes/data/checkedValue.h"
#include "modes/data/cw/SignalGenerator.h"
#include "modes/data/cw/cwDecoder.h"
#include "modes/data/cw/cwKeyer.h"
#include "modes/data/debugCallback.h"

#include <mutex>
#include <string_view>

class cwModDemod : public modDemod {
public:
    static constexpr int keyRampLength = 256;
    static constexpr float keyLevel = 0.99f;
    /// Farthest beat note and sidetone, Hz: the edge of the 48000 band.
    static constexpr double maxFreq = 24000.0;

    explicit cwModDemod(std::shared_ptr<syncTask> taskGroup);
    ~cwModDemod() override = default;

    buff<float> demodulate(buff<std::complex<float>> block) override;
    void modulate(buff<std::complex<float>> in, buff<std::complex<float>> out) override;
    void pttChanged(bool on) override;
    void dropTransmission(uint64_t before) override;
    void keyRefused(uint64_t asked) override;

    // ---- host methods, on the mode's task group ----
    /// Drops the unsent text and queues text from position (sent - offset)
    /// on; keys the transmitter when something was queued. A null text, or
    /// an offset above the count sent, is refused (logged): the unsent text
    /// stays as it was. `at`: the moment the host made the call, which the
    /// key takes. `order`: the host's key, marked where the host had the
    /// mode then, as the call made it; a host's call that had the mode on no
    /// transceiver (`keys` false) keys none, and the text waits for a key.
    void QueueText(const char* text, int offset, uint64_t at = transmission::now(), bool keys = true,
                   std::shared_ptr<askedKey> order = nullptr);
    void QueueText(std::string_view text, int offset, uint64_t at = transmission::now(), bool keys = true,
                   std::shared_ptr<askedKey> order = nullptr);
    /// Hand key: down keys the transmitter (as QueueText's key) and sounds
    /// the sidetone. A press while down and a release while up change
    /// nothing.
    void KeyDown(long long, uint64_t at = transmission::now(), bool keys = true,
                 std::shared_ptr<askedKey> order = nullptr);
    void KeyUp(long long);

    asyncProperty<double> freq{650.0};
    asyncProperty<double> wpm{20.0};
    asyncProperty<int> swHangTime{200};
    asyncProperty<double> sidetoneVolume{1.0};
    asyncProperty<double> rxwpm{20.0};
    asyncProperty<double> dbg1{0.0};
    asyncProperty<double> dbg2{0.0};
    asyncEvent<std::string> sentChars;
    asyncEvent<std::string> newChars;
    debugCallback newDebug; // never called

    long long sentCount() const { return text_.sent(); }

private:
    /// The hand key's part of modulate; true when it made the block.
    bool processKeyer(bool keyedByRadio, buff<std::complex<float>> out);
    int getNextTxChar();
    /// Keys the transceiver for the mode, from the mode's task group, for
    /// the host's call made at `asked` (see transmission::keyFor).
    void postKey(uint64_t asked, std::shared_ptr<askedKey> order);
    /// Sounds the sidetone or stops it, in the order of the host's calls.
    void sidetone(bool on);

    checkedValue<double> freqInUse_;
    checkedValue<double> wpmInUse_;
    checkedValue<double> volumeInUse_;

    TextQueue text_{"\n\r`", *this};

    std::mutex keyLock_;
    bool keyDown_ = false;
    int keyRamp_ = keyRampLength; // settled: the key's last edge has been ramped

    // ---- transmit, transceiver's task group ----
    cw::cwKeyer keyer_;
    double lastToneFrequency_ = 0.0;

    // ---- receive, transceiver's task group ----
    cw::cwDecoder decoder_;
    SignalGenerator<float> beat_{48000.0f, 650.0f};
};
