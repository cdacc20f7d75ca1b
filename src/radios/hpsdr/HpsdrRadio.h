#pragma once
// HpsdrRadio: the host-visible object of a radio speaking HPSDR protocol 1
// (Hermes-Lite and kin): its properties, collections and filter-board
// settings, and the state its engine works on. The host supplies the
// board's address and identity (there is no discovery for protocol 1),
// configures it through properties and starts and stops it through the
// Radio functions.
//
// Threads: everything here runs on the radio's own task group (the
// constructor makes it): host requests, change hooks, the UDP endpoint's
// "handle_receive" tasks. No lock guards these members; only the
// properties' bind side and `running` are read from other threads.
//
// Lifetime: the destructor sends nothing to the board; it closes the UDP
// endpoint, whose pending I/O completions end on the I/O thread without
// touching the radio.
#include "core/Radio.h"
#include "dsp/movingAverage.h"
#include "framework/ValueLabelItem.h"
#include "framework/asyncCollection.h"
#include "framework/calibLine.h"
#include "radios/hpsdr/HpsdrCommand.h"
#include "radios/hpsdr/J16.h"
#include "radios/hpsdr/J16Filter.h"
#include "radios/hpsdr/asyncUdpServer.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

/// One drive level: the byte sent in register 9 (low 8 bits) and the scale
/// of the transmit IQ.
struct driveEntry {
    uint32_t driveByte = 0;
    double iqScale = 1.0;
};

class HpsdrRadio : public Radio {
public:
    static constexpr int receivePacketSize = 1032;
    static constexpr long long defaultFrequency = 14095600;
    static constexpr size_t transmitBlock = 126;

    /// Makes the radio on a task group of its own on group's scheduler.
    explicit HpsdrRadio(std::shared_ptr<syncTask> group);
    ~HpsdrRadio() override;

    /// Gains and the first start's defaults. Radio's task group.
    void startRadio() override;

    // ---- properties, in the order of the host interface ----
    asyncCollection<ValueLabelItem> SampleRates;
    asyncProperty<std::string> Mac;
    asyncProperty<std::string> ipAddress;
    asyncProperty<int> txGain{0};
    asyncProperty<int> rxGain{24};
    asyncProperty<int> maxTxRFGain{19};
    asyncProperty<int> minTxRFGain{-12};
    asyncProperty<int> maxRxRFGain{48};
    asyncProperty<int> minRxRFGain{-12};
    asyncProperty<bool> adcOvl{false};
    asyncProperty<int> ep6SeqErrors{0};
    asyncProperty<int> ep4SeqErrors{0};
    asyncProperty<double> adcPeak{0.0};
    asyncProperty<double> adcPeakDBFS{0.0};
    asyncProperty<int> maxAdcValue{2048};
    asyncProperty<int> clockFrequency{73728000};
    asyncPersistantCollection<J16> J16Set;
    asyncProperty<bool> UseJ16{true};
    asyncProperty<std::shared_ptr<J16Filter>> FilterSet;
    asyncCollection<ValueLabelItem> rfAgcModes;
    asyncProperty<int> rfAgcMode{0};
    asyncProperty<bool> autoFreqCalib{false};
    asyncProperty<bool> Dither{false};
    asyncProperty<bool> hasHL2PA{false};
    asyncProperty<bool> enablePA{false};
    asyncProperty<bool> disableTR{false};
    asyncProperty<bool> biasEnabled{false};
    asyncProperty<int> paBias0{0};
    asyncProperty<int> paBias1{0};
    asyncProperty<int> paExtBias0{0};
    asyncProperty<bool> HLiteGain{true};
    asyncProperty<bool> HLite2Gain{false};
    asyncProperty<bool> HLiteRxTxGain{false};
    asyncProperty<int> FwVersion{0};
    asyncProperty<int> TypeID{0};
    asyncProperty<double> Temp{0.0};
    asyncProperty<double> Current{0.0};
    asyncProperty<float> FwdPwr{0.0f};
    asyncProperty<float> RevPwr{0.0f};
    asyncProperty<float> Swr{0.0f};
    asyncProperty<int> MinTxBufferLevel{0};
    asyncProperty<int> TxBufferOverflow{0};
    asyncProperty<int> TxBufferUnderflow{0};
    asyncPersistantCollection<calibLine> FwdPwrCalibration;
    asyncProperty<bool> stopToAddReceiver{true};
    asyncProperty<int> MercurySerial{0};
    asyncProperty<int> PenelopeSerial{0};
    asyncProperty<bool> RXAntenna{false};
    asyncProperty<bool> DisableWatchdog{false};
    asyncProperty<int> TXBufferLatency{10};
    asyncProperty<int> PTTHangTime{22};
    asyncProperty<bool> ATUTune{false};
    asyncProperty<int> IOBoardRxMode{0};

    // ---- gains (radio's task group) ----
    /// gainBit, attenuation and rxScale from the gains, the PTT state and
    /// the board's gain form.
    void setHLGain();
    /// A PTT change: the receive scale follows only after the settle count.
    void pttChanged() { settleCount = 0; }
    /// The 256 drive levels for the board's gain form.
    void fillDriveTable();

    // ---- Hermes-Lite register writes: queue records, send nothing ----
    void sendBias0();
    void sendBias1();
    void writeBias();
    void sendExtBias0();
    void writeExtBias();
    void writeStatus(int value);
    void writeMac(int value);
    void writeIP(int value);
    void writeIOCardFreq(long long frequency);

    /// What the first start adds when it is still missing: the default band
    /// list and power calibration, a transceiver, the half clock, the drive
    /// table.
    void addFirstStartDefaults();
    /// Forgets the sample-clock estimate (a new rate or receiver set).
    void resetCalcClockError();

    // ---- engine state (radio's task group) ----
    bool connected = false;
    bool defaultsMade = false;
    std::atomic<bool> running{false};
    uint32_t ep2Sequence = 0;
    uint32_t expectedEp6Sequence = 0;
    std::chrono::system_clock::time_point lastEp6Time{};
    uint8_t ccIndex = 0;
    bool prevPtt = false;
    int txHold = 0;
    int settleCount = 0;
    bool latchedMox = false;
    uint8_t gainBit = 0;
    uint8_t attenuation = 26;
    double rxScale = 1.0;
    long long txFrequency = defaultFrequency;
    /// Filled as {i, 1.0} until the first start picks the board's form.
    std::array<driveEntry, 256> driveTable;
    uint16_t rampIndex = 0;
    int widePeak = 0;
    int agcPeak = 0;
    int peakCounter = 0;
    int overloadFrames = 0;
    int cleanFrames = 0;
    int minBufferLevel = 128;
    int wideBandPackets = 0;
    int skipCount = 0;
    double measuredSum = 0.0;
    double expectedSum = 0.0;
    int lastSlot = 0;
    int frameCounter = 0;
    int currentWait = 0;

    // Destroyed in reverse order: the averages first, the commands last.
    std::deque<HpsdrCommand> commands;
    asyncUdpServer endpoint{receivePacketSize};
    buff<cplx> emptyBlock{transmitBlock, cplx{}};
    buff<uint16_t> ramp{4096};
    movingAverage ratioAverage{180000, 1.0};
    movingAverage slowAverage{180000, 1.0};

private:
    /// Register-write device and bias form of the board's firmware.
    uint8_t i2cDevice() const;
    uint8_t biasValue(int v) const;
    void queueWrite(uint8_t device, uint8_t reg, int value, uint32_t wait);
};
