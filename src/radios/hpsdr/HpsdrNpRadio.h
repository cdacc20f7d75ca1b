#pragma once
// HpsdrNpRadio: a receive-only radio for boards that speak HPSDR protocol 2.
// It configures the board's DDCs and ADC attenuator, starts and stops it,
// writes every DDC IQ packet into the Radio base for its hardware receiver
// (DDC d is receiver d), assembles wide-band frames for the transceivers and
// reports ADC overload, ADC peak and lost packets. Nothing it receives, and
// nothing it sends, ever keys the board: the high-priority packet carries
// only the run bit, and the DUC IQ writer (silence with a running sequence
// number) is called by nothing, the radio having no transmit path.
//
// The host sets `ipAddress` (no discovery) and drives the radio through the
// Radio functions. The first start parses the address, adds a transceiver
// when there is none and opens the UDP endpoint (unconnected, port 0); every
// start sends General, DDC specific, Transmitter specific and High priority
// packets 4, 2 and 2 ms apart. While running, the board's microphone packets
// pace a DDC specific packet (the 16th of every 32) and a High priority
// packet (the 32nd), which carry the rate, receivers and frequencies in force.
//
// Untrusted input. Only datagrams from the board's address are read; a
// datagram shorter than its packet, or DDC IQ for a DDC without a receiver,
// is dropped and counted. Lines a peer can provoke that way are written once,
// then at most once a second with a count (throttledLog). Host values that
// the packets cannot hold are cut: DDC blocks and phase words past 80, a
// clock below 2 Hz (phase words 0, zone 0), each logged once.
//
// The process's end: a host may exit with the radio running, and the board
// would stream on at a host that is gone. While the radio runs, the exit
// (exitGate::driverStop) stops it as Radio_stop does, from the exiting
// thread (asyncUdpServer::sendToNow), as the I/O thread may already be
// stopped. A radio never started, or stopped, sends nothing then.
//
// Threads: everything here runs on the radio's own task group (host
// requests, "Radio.start()", the endpoint's "handle_receive_from" tasks),
// without locks of its own; the receiver list is touched under the base's
// listMutex, which the transceivers' lanes share. The drop counters are
// atomics so that other threads may read them.
#include "core/Radio.h"
#include "framework/ValueLabelItem.h"
#include "framework/asyncCollection.h"
#include "framework/exitGate.h"
#include "radios/hpsdr/asyncUdpServer.h"
#include "framework/throttledLog.h"

#include <boost/asio/ip/address_v4.hpp>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class HpsdrNpRadio : public Radio {
public:
    using udp = boost::asio::ip::udp;
    static constexpr long long firstReceiverFrequency = 1000000;
    static constexpr long long firstTransceiverFrequency = 14095600;
    /// The DDC output rates the board runs at; SampleRate takes no other.
    static constexpr int ddcRates[] = {48000, 96000, 192000, 384000, 768000, 1536000};

    /// Makes the radio on a task group of its own on group's scheduler.
    explicit HpsdrNpRadio(std::shared_ptr<syncTask> group);
    ~HpsdrNpRadio() override;

    /// Appends a receiver at frequency and the radio's SampleRate; the next
    /// DDC specific packet enables it. The base calls it on the radio's task
    /// group, without listMutex, while it keeps other threads off the
    /// receivers.
    void addHWReceiver(long long frequency) override;
    void startRadio() override;
    void stopRadio() override;
    /// Receive-only: every key is refused, whatever canTransmit says.
    bool hasTransmitter() const override { return false; }

    // ---- properties, in the order of the host interface ----
    asyncCollection<ValueLabelItem> SampleRates;
    asyncProperty<std::string> Mac;
    asyncProperty<std::string> ipAddress;
    asyncProperty<int> txGain{0};
    asyncProperty<int> rxGain{0};
    asyncProperty<int> maxTxRFGain{0};
    asyncProperty<int> minTxRFGain{-31};
    asyncProperty<int> maxRxRFGain{0};
    asyncProperty<int> minRxRFGain{-31};
    asyncProperty<int> clockFrequency{122880000};
    asyncProperty<bool> autoFreqCalib{false};
    asyncProperty<int> FwVersion{0};
    asyncProperty<double> Temp{0.0};
    asyncProperty<double> Current{0.0};
    asyncProperty<float> FwdPwr{0.0f};
    asyncProperty<float> RevPwr{0.0f};
    asyncProperty<float> Swr{0.0f};
    asyncProperty<bool> adcOvl{false};
    asyncProperty<int> ep6SeqErrors{0};
    asyncProperty<int> ep4SeqErrors{0};
    asyncProperty<double> adcPeak{0.0};
    asyncProperty<double> adcPeakDBFS{0.0};

    // ---- radio's task group ----
    /// First start: board address from ipAddress (throws when it is not
    /// dotted-decimal IPv4), a receiver and a transceiver if missing, the
    /// half clock.
    void setup();
    /// Every datagram: dispatched by source port, from the board only.
    void handleRxPacket(buff<char> datagram, const udp::endpoint& from);
    /// One DDC IQ packet for receiver d.
    void decodeRxPacket(buff<char> datagram, int d);
    /// One wide-band packet: its 512 samples (big-endian 16-bit) and
    /// sequence number.
    void handleWideBand(const unsigned char* samples, unsigned int sequence);
    void sendGeneralPacket();
    void sendDDCPacket();
    void sendTransmitterPacket();
    void sendHighPriorityPacket();
    /// One DUC IQ packet of silence numbered ducSequence, which then counts
    /// on (wrapping at 2^32).
    void sendDUCPacket();
    /// Whether frequency lies in an odd (mirrored) Nyquist zone of
    /// clockFrequency; false for a clock below 2 Hz.
    bool IsFrequencyReversed(long long frequency);

    // ---- state (radio's task group) ----
    bool run = false;     ///< byte 4 of every High priority packet
    bool started = false; ///< setup done and endpoint open
    boost::asio::ip::address_v4 boardAddress;
    uint32_t ducSequence = 0; ///< number of the next DUC IQ packet
    int widePeak = 0;
    int wideBandPackets = 0;
    int micPackets = 0;
    asyncUdpServer endpoint{1444};

    /// Test seam: when set, packets go here (with their destination port)
    /// instead of to the board.
    std::function<void(buff<char>, uint16_t)> packetSink;

    /// What arrived, for tests and measurements. Any thread may read.
    struct counts {
        std::atomic<uint64_t> ddcPackets{0}; ///< DDC IQ packets written to receivers
        std::atomic<uint64_t> foreign{0};    ///< datagrams from another address
        std::atomic<uint64_t> tooShort{0};   ///< shorter than their packet
        std::atomic<uint64_t> noReceiver{0}; ///< DDC IQ for a DDC without a receiver
    } received;

private:
    void send(buff<char> packet, uint16_t port);
    void micPacket();
    void status(const unsigned char* data, size_t length);
    /// The clock, or nothing usable (below 2 Hz: logged once).
    bool clockUsable(int clock);
    /// 1 / (fullScale · 10^(rxGain / 20)) as float; 0 (logged once) when
    /// the gain is so far out that it would not be finite.
    float gainScale(double fullScale);
    void dropShort(const char* what, size_t length, throttledLog& log);

    throttledLog foreignLog_;
    throttledLog shortDdcLog_, shortWideBandLog_, shortStatusLog_;
    std::array<throttledLog, 16> noReceiverLog_;
    bool clockLogged_ = false;
    bool ddcCountLogged_ = false;
    bool gainLogged_ = false;
    bool exiting_ = false; // packets go out from the exiting thread at once
    // Set while the radio runs. Last: cleared, or waited for when the exit
    // has taken it, before the rest of the radio goes.
    exitGate::driverStop exitStop_;
};
