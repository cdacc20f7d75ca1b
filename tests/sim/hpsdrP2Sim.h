#pragma once
// hpsdrP2Sim: an HPSDR protocol 2 board on loopback, for tests and
// benchmarks. It listens on address:1024-1027 and :1029 and records every
// datagram the host sends there with its arrival time (udpPeer); it learns
// the host's port from the General packet (the newest datagram on 1024) and
// answers from the ports a board uses: status from 1025, microphone from
// 1026, wide band from 1027 and DDC d IQ from 1035 + d (those sockets are
// opened on first use).
//
// ddcIqStream builds consecutive DDC IQ packets carrying tones, continuous
// across packets, with the fields ordered as the board sends them for the
// DDC's Nyquist zone, so that a host that orders them correctly sees each
// tone at its own frequency and one that does not sees its mirror image.
//
// Tests binding these ports share the ctest RESOURCE_LOCK hpsdr_port_1024
// with protocol 1.
#include "sim/hpsdrP1Sim.h" // simTone
#include "sim/udpPeer.h"

#include <complex>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class ddcIqStream {
public:
    /// oddZone: the DDC's centre lies in an odd Nyquist zone of the clock.
    ddcIqStream(std::vector<simTone> tones, bool oddZone);

    /// The next 1444-byte packet; the tones go on where the last one stopped.
    std::vector<uint8_t> next(uint32_t sequence);
    /// The signal at absolute sample k, amplitude 1 = full scale.
    std::complex<double> signal(size_t k) const;

    static constexpr size_t samplesPerPacket = 238;

private:
    std::vector<simTone> tones_;
    bool odd_;
    size_t sampleIndex_ = 0;
};

class hpsdrP2Sim {
public:
    using endpoint = udpPeer::endpoint;
    static constexpr uint16_t listenPorts[] = {1024, 1025, 1026, 1027, 1029};
    static constexpr uint16_t statusPort = 1025, micPort = 1026, wideBandPort = 1027;
    static uint16_t ddcPort(int d) { return uint16_t(1035 + d); }

    /// Binds the listening ports on address. False, with the reason, when
    /// one cannot be bound.
    bool open(const std::string& address = "127.0.0.1", std::string* why = nullptr);

    /// The socket of a listening port (1024-1027, 1029).
    udpPeer& at(uint16_t port);
    /// The host's endpoint, once a General packet arrived.
    std::optional<endpoint> host();
    /// Sends a datagram to the host from sourcePort (a listening port, or
    /// any other, opened on first use). False before the host is known or
    /// when the port cannot be bound.
    bool send(uint16_t sourcePort, const std::vector<uint8_t>& bytes);
    /// Forgets everything recorded on the listening ports.
    void clear();

    // ---- board packets ----
    static std::vector<uint8_t> statusPacket(uint8_t byte5, size_t length = 60);
    static std::vector<uint8_t> micPacket(uint32_t sequence);
    /// 512 samples (big-endian 16-bit) after the sequence number.
    static std::vector<uint8_t> wideBandPacket(uint32_t sequence, const std::vector<int16_t>& samples);

    // ---- reading what the host sent ----
    static uint32_t be32(const std::vector<uint8_t>& bytes, size_t at);
    /// DDC d's phase word in a High priority packet, as a frequency.
    static long long ddcFrequency(const std::vector<uint8_t>& highPriority, int d, int clockFrequency);

private:
    udpPeer* peer(uint16_t port, std::string* why);

    std::string address_;
    std::mutex m_;
    std::map<uint16_t, std::unique_ptr<udpPeer>> peers_;
};
