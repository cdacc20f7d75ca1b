#pragma once
// HpsdrRadio: the host-visible object of a radio speaking HPSDR protocol 1
// (Hermes-Lite and kin): its properties, collections and filter-board
// settings, and the state its engine works on. The host supplies the
// board's address and identity (there is no discovery for protocol 1),
// configures it through properties and starts and stops it through the
// Radio functions.
//
// The engine: the board streams receive packets (Ep6) and wide-band
// packets (Ep4); every receive packet is decoded into the receive blocks of
// the hardware receivers and clocks the transmit side, so that one
// host-to-board packet (Ep2, 126 transmit samples at 48000 per second)
// leaves per 126 samples of the board's own stream. Each Ep2 carries two
// command-and-control frames, rotating through register indices 0..45,
// or queued one-shot register writes in their place.
//
// Threads: everything here runs on the radio's own task group (the
// constructor makes it): host requests, change hooks, the UDP endpoint's
// "handle_receive" tasks, the transceivers' "radio.transmit". No lock
// guards these members; only the properties' bind side and `running` are
// read from other threads.
//
// Nothing the board sends keys the transmitter: MOX is the radio's `ptt`
// alone; the board's own PTT input only shows in `RadioPtt`. A press waits
// for the board's stream like every frame; a release does not: it is sent
// the moment `ptt` goes false, one frame out of the stream's pace, so that a
// board that stopped or fell silent is not left keyed.
//
// Lifetime: the destructor sends nothing to the board; it closes the UDP
// endpoint, whose pending I/O completions end on the I/O thread without
// touching the radio. Every release of the host's handle takes the radio off
// the air first (Radio::offAir), which sends the release frame.
//
// The process's end: a host may exit with the radio running, even keyed,
// and then nothing is left to unkey the board or stop its stream. While the
// radio runs, the exit (exitGate::driverStop) takes it off the air as an
// unkey does, through the ptt hook, and stops it as Radio_stop does; both go
// out from the exiting thread (asyncUdpServer::sendNow), as the I/O thread
// may already be stopped. A radio never started, or stopped, sends nothing
// then.
#include "core/Radio.h"
#include "dsp/movingAverage.h"
#include "framework/ValueLabelItem.h"
#include "framework/asyncCollection.h"
#include "framework/calibLine.h"
#include "framework/exitGate.h"
#include "radios/hpsdr/CommandControlFrame.h"
#include "radios/hpsdr/HpsdrCommand.h"
#include "radios/hpsdr/J16.h"
#include "radios/hpsdr/J16Filter.h"
#include "radios/hpsdr/asyncUdpServer.h"
#include "framework/throttledLog.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

class Ep4Packet;
class Ep6Frame;
class vtrx;

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
    /// Receivers a board can be told of: register 0 carries the count − 1
    /// in five bits, and there are frequency registers for receivers 0..31
    /// only. (A receive frame would hold samples of up to 83.) A larger
    /// maxHwReceivers is refused, and no receiver is added past it.
    static constexpr int maxReceivers = 32;

    /// Makes the radio on a task group of its own on group's scheduler.
    explicit HpsdrRadio(std::shared_ptr<syncTask> group);
    ~HpsdrRadio() override;

    // ---- Radio operations (radio's task group) ----
    /// The next frames carry the receiver frequencies first. Restarts the
    /// radio first when a receiver was added that needs it.
    void tune() override;
    /// Appends a receiver at the radio's rate (none past maxReceivers). A
    /// running radio with stopToAddReceiver is restarted for it by the
    /// tune() that ends every placement of the base (stop, start with the
    /// new count); otherwise the next frame carries the new count.
    void addHWReceiver(long long frequency) override;
    /// One Ep2 with these samples; a block shorter than 126 is padded with
    /// zeros, samples past 126 are not sent.
    void transmit(buff<cplx> block) override;
    /// Gains, the first start's defaults and the connection, the ten
    /// configuration packets, then the start packet. Sleeps about 130 ms on
    /// the first start, 30 ms on later ones.
    void startRadio() override;
    /// The stop packet; the endpoint stays connected.
    void stopRadio() override;

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

    // ---- receive (radio's task group) ----
    /// One datagram from the board: Ep6 (samples and status, clocks the
    /// transmit side) or Ep4 (wide band); anything else is ignored, and a
    /// datagram shorter than a whole packet is dropped and counted.
    void handleRxPacket(buff<char> packet);
    /// Status, samples and the telemetry steps of one Ep6 frame; tx is the
    /// transmitting transceiver, if any.
    void handleEp6(const Ep6Frame& frame, vtrx* tx);
    /// 512 wide-band samples into the frame being filled.
    void handleEp4(const Ep4Packet& packet);

    // ---- transmit (radio's task group) ----
    /// Sends one Ep2 carrying block (126 samples; fewer are padded with
    /// zeros): gain latch, PTT hold and the forced 0/10 pair on a press and
    /// at the end of the hold, two register frames.
    void sendCommandControl(const buff<cplx>& block);
    /// Transmitting for the registers: ptt, or the hold after a release.
    bool transmitting() const { return ptt.get() || txHold > 1; }

    // ---- control registers (radio's task group) ----
    /// Writes the header of one frame: a queued command when one is due,
    /// else register `index` (0..45).
    void setCommandControlBits(int index, CommandControlFrame frame);
    /// The filter-board output for a frequency, transmitting or not.
    int j16GetOutput(long long frequency, bool tx);
    /// Frequency code of an I/O board: 0 for 0 Hz, else
    /// max(1, trunc(ln(f / 18748.1) * 15.47 + 0.5)).
    static int hertz2fcode(unsigned long long f);

    // ---- telemetry (radio's task group) ----
    /// The status bytes of a frame (skipped for register-write responses).
    void decodeStatus(const Ep6Frame& frame, vtrx* tx);
    /// Counts the frame as overloaded or clean; at the end of a window steps
    /// rxGain when the RF AGC is on.
    void doRfAgc(int receivers);
    /// Every n × SampleRate / 600 frames: ADC peak, temperature, power, SWR.
    void publishTelemetry(int receivers);
    /// One in-sequence packet's measured and expected interval (seconds);
    /// now picks the two-minute slot in which a correction may be applied.
    void calcClockError(double measured, double expected, std::chrono::system_clock::time_point now);

    // ---- engine state (radio's task group) ----
    bool connected = false;
    bool defaultsMade = false;
    /// A receiver was added while running: the board must be restarted.
    bool restartPending = false;
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
    // 64-bit: the windows grow with the host's rate and receiver count.
    long long peakCounter = 0;
    long long overloadFrames = 0;
    long long cleanFrames = 0;
    int minBufferLevel = 128;
    int wideBandPackets = 0;
    int skipCount = 0;
    double measuredSum = 0.0;
    double expectedSum = 0.0;
    int lastSlot = 0;
    int frameCounter = 0;
    int currentWait = 0;
    // Smoothed status readings (ADC counts).
    double temperatureReading = 0.0;
    double forwardReading = 0.0;
    double reverseReading = 0.0;
    double currentReading = 0.0;
    double aux1Reading = 0.0;
    double aux2Reading = 0.0;
    /// Datagrams dropped for being shorter than a whole packet.
    uint64_t shortDatagrams = 0;
    /// Modulate requests sent to the transmitting transceiver.
    uint64_t modulateRequests = 0;
    /// Test seam: with a sink, every packet for the board goes to it instead
    /// of the endpoint.
    std::function<void(const buff<char>&)> packetSink;

    // Destroyed in reverse order: the averages first, the commands last.
    std::deque<HpsdrCommand> commands;
    asyncUdpServer endpoint{receivePacketSize};
    buff<cplx> emptyBlock{transmitBlock, cplx{}};
    buff<uint16_t> ramp{4096};
    movingAverage ratioAverage{180000, 1.0};
    movingAverage slowAverage{180000, 1.0};

private:
    /// To the board through the endpoint (or the test sink); from the
    /// exiting thread at once while the exit takes the radio off the air.
    void sendPacket(const buff<char>& packet);
    /// The exit's stop of a running radio: the ptt hook's release frame when
    /// keyed, then the stop packet. Exiting thread, the radio's task group
    /// parked.
    void offAirAtExit();
    void sendConfiguration();
    void restartForReceiver();
    void requestModulate(const std::shared_ptr<vtrx>& tx);
    void setFrequencyRegister(unsigned char* c, long long frequency);
    long long receiverFrequency(int k) const;
    int driveIndex(vtrx* tx) const;
    /// max(0, vfo − TransceiverOffset) of a transceiver, without overflow.
    long long transmitBase(const vtrx& tx) const;
    /// One more of a count the board drives, stopping at the largest int.
    static void countUp(asyncProperty<int>& count);
    /// I/O-board records still waiting in the command queue.
    bool ioBoardWritePending() const;

    throttledLog shortDatagramLog;
    throttledLog nonFiniteScaleLog;

    /// Register-write device and bias form of the board's firmware.
    uint8_t i2cDevice() const;
    uint8_t biasValue(int v) const;
    void queueWrite(uint8_t device, uint8_t reg, int value, uint32_t wait);

    bool exiting_ = false;
    // Set while the radio runs. Last: cleared, or waited for when the exit
    // has taken it, before the rest of the radio goes.
    exitGate::driverStop exitStop_;
};
