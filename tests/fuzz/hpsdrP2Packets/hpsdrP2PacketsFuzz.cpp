// The protocol 2 radio's receive dispatcher on arbitrary datagrams, then its
// packet builders into a capturing sink.
//
// Input: byte 0 picks the source port (1020..1060), byte 1 the sender (bit
// 0: the board or another host) and how often the datagram arrives (bits
// 1..5: 1..32 times, so that the microphone cadence and the wide-band frame
// are reached), byte 2 the receivers (1..20), bytes 3..4 maxHwReceivers
// (0..400), byte 5 the clock (0 and 1 included, or bytes 7..10), byte 6
// rxGain (signed), bytes 7..10 the first receiver's frequency; the rest is
// the datagram. Every packet the radio then sends must keep its length, its
// control word and a byte 4 without PTT; no DUC IQ packet may leave; the
// samples written to the receivers must be finite.
#include "framework/ASIORunner.h"
#include "radios/hpsdr/HpsdrNpRadio.h"
#include "radios/hpsdr/NpHostPackets.h"

#include <boost/asio/post.hpp>

#include <spdlog/spdlog.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <latch>
#include <vector>

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

/// Returns once the I/O thread has run what was posted to it before, such
/// as a released endpoint's close: everything an input allocated is then
/// freed, so the fuzzer's leak check finds nothing pending.
void drainIoThread() {
    std::latch done(1);
    boost::asio::post(ASIORunner::getInstance().context(), [&done] { done.count_down(); });
    done.wait();
}

bool zero(const std::vector<uint8_t>& b, size_t from, size_t to) {
    static const uint8_t zeros[1444] = {};
    return std::memcmp(b.data() + from, zeros, to - from) == 0;
}

struct sent {
    uint16_t port;
    std::vector<uint8_t> bytes;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    spdlog::set_level(spdlog::level::off); // the refusals would flood the output
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 11) return 0;
    static const int clocks[] = {0, 1, 2, 3, 122880000, 61440000, 73728000, -100, INT_MIN, INT_MAX};
    const uint16_t port = uint16_t(1020 + data[0] % 41);
    const bool fromBoard = data[1] & 1;
    const int arrivals = 1 + (data[1] >> 1) % 32;
    const int receivers = 1 + data[2] % 20;
    const int ddcs = (data[3] << 8 | data[4]) % 401;
    const int clock = data[5] < 200 ? clocks[data[5] % 10] : int(be32(data + 7));
    const int gain = int8_t(data[6]);
    const long long base = be32(data + 7);
    const uint8_t* d = data + 11;
    const size_t n = size - 11;

    auto radio = std::make_shared<HpsdrNpRadio>(nullptr);
    std::vector<sent> out;
    radio->packetSink = [&out](buff<char> p, uint16_t to) {
        out.push_back({to, std::vector<uint8_t>(p.data, p.data + p.count)});
    };
    radio->boardAddress = boost::asio::ip::make_address_v4("127.0.0.1");
    radio->maxHwReceivers.set(ddcs, false);
    radio->clockFrequency.set(clock, false);
    radio->rxGain.set(gain, false);
    {
        std::lock_guard<std::mutex> lock(radio->listMutex);
        radio->receivers[0].frequency = base;
    }
    // Takes the list lock itself.
    for (int r = 1; r < receivers; ++r) radio->addHWReceiver(base * (r + 1) % 200000000);

    const auto from = boost::asio::ip::udp::endpoint(
        boost::asio::ip::make_address_v4(fromBoard ? "127.0.0.1" : "127.0.0.2"), port);
    for (int k = 0; k < arrivals; ++k) {
        buff<char> datagram(n);
        if (n) std::memcpy(datagram.data, d, n);
        radio->handleRxPacket(datagram, from);
    }

    // What arrived left the radio consistent.
    const auto& c = radio->received;
    check(c.ddcPackets + c.foreign + c.tooShort + c.noReceiver <= uint64_t(arrivals));
    if (!fromBoard) check(c.foreign == uint64_t(arrivals));
    check(radio->micPackets >= 0 && radio->micPackets < 32);
    check(radio->wideBandPackets >= 0 && radio->wideBandPackets <= 201);
    check(radio->widePeak >= 0 && radio->widePeak <= 32768);
    check(radio->adcPeak.get() >= 0.0 && radio->adcPeak.get() <= 1.0);
    check(radio->wideBand.count == 2048 && radio->wideBandFill.count == 2048);
    {
        // x * 0 is 0 for every finite x: one check per buffer, not per sample.
        std::lock_guard<std::mutex> lock(radio->listMutex);
        check(radio->receivers.size() == size_t(receivers));
        float sum = 0.0f;
        for (auto& r : radio->receivers)
            for (size_t i = 0; i < r.fill; ++i) sum += (r.block.data[i].real() + r.block.data[i].imag()) * 0.0f;
        for (size_t i = 0; i < radio->wideBand.count; ++i) sum += radio->wideBand.data[i] * 0.0f;
        check(sum == 0.0f);
    }

    // Then everything the radio can send.
    radio->sendGeneralPacket();
    radio->sendDDCPacket();
    radio->sendTransmitterPacket();
    radio->run = true;
    radio->sendHighPriorityPacket();
    radio->stopRadio();
    for (auto& p : out) {
        check(p.port != NpHostPackets::ducPort);
        switch (p.port) {
        case NpHostPackets::generalPort:
        case NpHostPackets::transmitterPort:
            check(p.bytes.size() == 60);
            break;
        case NpHostPackets::ddcPort:
            check(p.bytes.size() == 1444 && p.bytes[4] == 2);
            check(zero(p.bytes, 17 + 6 * 80, p.bytes.size()));
            break;
        case NpHostPackets::highPriorityPort:
            check(p.bytes.size() == 1444 && p.bytes[4] <= 1);
            check(be32(p.bytes.data() + 1432) == 0x21001000u);
            check(zero(p.bytes, 333, 1432));
            if (clock < 2) check(zero(p.bytes, 9, 333));
            break;
        default:
            check(false);
        }
    }
    radio.reset();
    drainIoThread();
    return 0;
}
