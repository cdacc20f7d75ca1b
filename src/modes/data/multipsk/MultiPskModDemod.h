#pragma once
// MultiPskModDemod: lets the digital-modes program MultiPSK use a
// transceiver as its radio, over a local TCP port.
//
// Once MultiPSK has initialised the link ("InitHWMP", `sending` true) every
// receive chunk goes to it as 16-bit IQ ("TXHWdata") and every change of the
// transceiver's frequency is reported ("Set_HWLO"). MultiPSK tunes the
// transceiver, switches it between receive and transmit, and sends the IQ
// to transmit, which waits in a ring until the transmit chain takes it;
// "ADJUrate" asks MultiPSK to slow down (80) or speed up (120) as the ring
// fills or empties.
//
// Ports: `port` is where the search starts; init serves the first free one
// of up to 20, skipping those other instances hold, and writes it back.
//
// Threads. The server's callbacks arrive as data tasks on the mode's own
// task group; each is handed on to the transceiver's task group, where
// demodulate, modulate and vfoChanged run, so every packet, every change of
// the transceiver's `vfo` and `ptt`, and every reply happen there, in the
// order the packets came. A packet that comes before an attach the host has
// asked for waits for it; without a transceiver at all it is handled on the
// mode's group, and those that would tune or key it are logged and ignored.
// The ring is guarded by txLock_ all the same (a mode can be moved to
// another transceiver while a block of the old one is being made); the
// server pointer by serverLock_; the flags read across groups are atomics.
#include "core/modDemod.h"
#include "core/transmission.h"
#include "modes/data/multipsk/MultiPskTxRing.h"

#include <atomic>
#include <complex>
#include <memory>
#include <mutex>

class asyncTcpIpPacketServer;
class vtrx;

class MultiPskModDemod : public modDemod {
public:
    using cplx = std::complex<float>;
    static constexpr unsigned long bufferSize = 16384;
    static constexpr int portAttempts = 20;
    static constexpr double initialGain = 20000000.0;
    static constexpr float fullScale = 32000.0f;

    explicit MultiPskModDemod(std::shared_ptr<syncTask> taskGroup);
    /// Frees the served port, then closes the server.
    ~MultiPskModDemod() override;

    /// Streams the chunk while `sending`; returns its real parts as audio.
    buff<float> demodulate(buff<cplx> chunk) override;
    /// Transmit IQ from the ring (the microphone is not used).
    void modulate(buff<cplx> in, buff<cplx> out) override;
    void dropTransmission(uint64_t before) override;
    /// Reports the new frequency while `sending`.
    void vfoChanged(long long hz) override;
    /// Picks the port and starts serving it; a second call keeps the server.
    void init() override;

    /// One packet body from MultiPSK (the server's packet callback).
    void multiPskMsg(buff<char> body);
    /// A client came (true) or went (false) (the server's connect callback).
    void connectChanged(bool flag);
    /// Sends "ADJUrate" with rate.
    void setSpeed(int rate);
    /// Sends one receive chunk as "TXHWdata", lowering the gain so that no
    /// part exceeds 32000. Non-finite parts go out as 0.
    void sendMultiPsk(buff<cplx> chunk);
    /// The host's port request: 1-65535, anything else is refused (logged,
    /// the old value kept).
    void hostSetPort(int value);

    asyncProperty<bool> connected{false};
    asyncProperty<bool> sending{false};
    asyncProperty<int> port{50001};

    double iqGain() const { return gain_.load(std::memory_order_relaxed); }
    int versionFlag() const { return version_.load(); }
    /// The port served, 0 when none.
    int servedPort() const;
    std::shared_ptr<asyncTcpIpPacketServer> server() const;

private:
    void handle(const buff<char>& body, const std::shared_ptr<vtrx>& transceiver);
    void onConnect(bool flag, const std::shared_ptr<vtrx>& transceiver);
    /// Samples for the ring; dropped once paced and acknowledged unless the
    /// transceiver's transmission is keyed: they belong to one that was
    /// released or ended, and the next one starts from its SwitchTX.
    void takeSamples(const buff<char>& body, const vtrx* v);
    /// Runs body(transceiver) on the transceiver's group, or here with none
    /// (forTransceiver).
    template <class Body>
    void onTransceiver(const char* name, Body body);
    /// The peer's over ends: releases the key it made. Transceiver's group.
    void endOver(vtrx& v);
    void reply(buff<char> frame) const;
    buff<char> capabilities() const;

    mutable std::mutex serverLock_;
    std::shared_ptr<asyncTcpIpPacketServer> server_;
    int servedPort_ = 0;

    std::mutex txLock_;
    MultiPskTxRing ring_;
    // The transmission the peer's SwitchTX went out in (its beginning): its
    // samples are taken only while that one is keyed, whoever keys it now.
    // And the key the SwitchTX made itself, 0 when it found the transmission
    // keyed: the peer's SwitchRX, its silence and its departure end only
    // that. Under txLock_.
    transmission::serial peerOver_ = 0;
    transmission::serial peerKey_ = 0;

    std::atomic<int> version_{0};
    std::atomic<double> gain_{initialGain};
};
