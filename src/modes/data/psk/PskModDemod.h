#pragma once
// PskModDemod: the PSK31/63/125 and QPSK mode of a transceiver.
//
// Receive: the transceiver's audio (48000/s) is reduced to 8000/s and fed,
// 512 samples at a time, to 66 channels: 60 scanners (PSK31 and PSK63 at
// 30 frequencies each) that a windowed-FFT peak search moves onto the
// strongest signals, and six at the operating frequency, one per variant.
// Each channel's text goes to its own newChars; the primary channel's also
// to the mode's.
//
// Transmit: a CPSKMod fed from a host-filled text queue; "~" in the text
// ends the transmission.
//
// Threads: host requests (property hooks, QueueText) run on the mode's task
// group, demodulate and modulate on the transceiver's. The channels and the
// scanner state are guarded by rxLock_, the modulator by txLock_, the text by
// the queue's own lock; no lock is held while another is taken.
#include "core/modDemod.h"
#include "core/transmission.h"
#include "framework/ValueLabelItem.h"
#include "framework/asyncCollection.h"
#include "framework/asyncEvent.h"
#include "modes/data/psk/CPSKMod.h"
#include "modes/data/psk/PskDetector.h"
#include "modes/data/psk/pskPeaks.h"
#include "modes/data/TextQueue.h"

#include <array>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

class PskModDemod : public modDemod {
public:
    static constexpr int channelCount = 66;
    static constexpr int scannerCount = 30; // per variant, PSK31 and PSK63
    static constexpr int blockLength = 512; // detector samples per block
    static constexpr int decimation = 6;    // 48000 to 8000
    static constexpr int startHoldSamples = 48000;
    /// Below this the level peak stops decaying: silence then feeds zeros
    /// instead of dividing by a vanishing peak.
    static constexpr double levelPeakFloor = 1e-9;

    explicit PskModDemod(std::shared_ptr<syncTask> taskGroup);
    ~PskModDemod() override = default;

    buff<float> demodulate(buff<std::complex<float>> block) override;
    void modulate(buff<std::complex<float>> in, buff<std::complex<float>> out) override;
    void pttChanged(bool on) override;
    void dropTransmission(uint64_t before) override;

    /// Host method: replaces the unsent text (see TextQueue::replace).
    /// `at`: the moment the host made the call.
    void QueueText(const std::string& text, int start, uint64_t at = transmission::now());

    asyncProperty<int> sigLevel{0};
    asyncProperty<int> primaryDetector{60};
    asyncCollection<ValueLabelItem> Modes;
    asyncProperty<int> mode{0};
    asyncCollection<PskDetector> dets;
    asyncEvent<std::string> newChars;
    asyncEvent<std::string> sentChars;

    /// The channel the mode works on (0-65), whatever the host did to dets.
    std::shared_ptr<PskDetector> channel(int index) const { return channels_[size_t(index)]; }
    int primary() const;
    int txMode() const;
    double txCarrier() const;
    long long sentCount() const { return text_.sent(); }

private:
    friend class PskModDemodTestAccess;

    void AddReceiver(int index, int mode, int hz);
    void processBlock();
    void findPeaks();
    void assignDetectors(const std::vector<psk::peak>& peaks, int first, int count);
    void retune(PskDetector& channel, int hz, int busy);

    void onRxFreq();
    void onMode();
    void onPrimaryDetector();
    int modeKept_ = 0; // mode's last value that was not refused; the hooks only

    static int getCharCallback(void* context);
    int getNextTxChar();

    // ---- receive, under rxLock_ ----
    mutable std::mutex rxLock_;
    std::array<std::shared_ptr<PskDetector>, channelCount> channels_;
    int primary_ = 60;
    std::array<float, blockLength> block_{};
    int fill_ = 0;
    int decimationPhase_ = 0;
    double levelPeak_ = 1.0;
    std::array<float, blockLength> window_{};
    std::array<float, blockLength / 2> spectrumSum_{};
    int spectrumBlocks_ = 0;
    int refresh_ = 0;
    buff<float> windowed_{blockLength};
    buff<std::complex<float>> spectrum_{blockLength};

    // ---- transmit ----
    mutable std::mutex txLock_; // the modulator
    CPSKMod modulator_;
    TextQueue text_{"~", *this};
    std::atomic<int> startHold_{0};
    bool ending_ = false; // "~" taken: only a steady carrier until PTT goes on again
    std::atomic<int> rxFreqInUse_{1500};
};
