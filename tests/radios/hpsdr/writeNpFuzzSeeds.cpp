// Writes seed inputs for the protocol 2 fuzz target from the board
// simulator's builders:  hpsdr_np_fuzz_seeds <corpus folder>
// Each seed is the target's 11 leading choice bytes and one datagram.
#include "sim/hpsdrP2Sim.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace {

struct choices {
    uint16_t port;
    bool board = true;
    int arrivals = 1;
    int receivers = 1;
    int ddcs = 1;
    uint8_t clock = 4; // 122880000
    int8_t gain = 0;
    uint32_t frequency = 7000000;
};

void write(const std::string& dir, const std::string& name, const choices& c, const std::vector<uint8_t>& datagram) {
    std::vector<uint8_t> s = {uint8_t(c.port - 1020),
                              uint8_t((c.board ? 1 : 0) | (c.arrivals - 1) << 1),
                              uint8_t(c.receivers - 1),
                              uint8_t(c.ddcs >> 8),
                              uint8_t(c.ddcs),
                              c.clock,
                              uint8_t(c.gain),
                              uint8_t(c.frequency >> 24),
                              uint8_t(c.frequency >> 16),
                              uint8_t(c.frequency >> 8),
                              uint8_t(c.frequency)};
    s.insert(s.end(), datagram.begin(), datagram.end());
    std::ofstream(dir + "/" + name, std::ios::binary).write(reinterpret_cast<const char*>(s.data()), std::streamsize(s.size()));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    // DDC IQ in both zones, on receivers that exist and one that does not.
    for (int d : {0, 3, 15}) {
        ddcIqStream tone({{0.9, 0.02 * (d + 1), 0.0}}, d == 3);
        choices c{hpsdrP2Sim::ddcPort(d)};
        c.receivers = d == 15 ? 2 : 4;
        c.ddcs = 4;
        c.arrivals = 3;
        c.frequency = d == 3 ? 70000000 : 7000000;
        c.gain = int8_t(-20 * d);
        write(dir, "ddc_" + std::to_string(d), c, tone.next(uint32_t(d)));
    }
    auto shortDdc = ddcIqStream({{0.5, 0.1, 0.0}}, false).next(0);
    shortDdc.resize(1443);
    write(dir, "ddc_short", {1035}, shortDdc);

    std::vector<int16_t> wide(512);
    for (size_t i = 0; i < wide.size(); ++i) wide[i] = int16_t(i % 2 ? -32768 : 16384);
    choices w{1027};
    w.arrivals = 32;
    write(dir, "wide", w, hpsdrP2Sim::wideBandPacket(3, wide));
    write(dir, "wide_short", {1027}, std::vector<uint8_t>(1027, 0x80));

    write(dir, "status", {1025}, hpsdrP2Sim::statusPacket(0x01));
    write(dir, "status_short", {1025}, hpsdrP2Sim::statusPacket(0x01, 5));

    // The microphone cadence with counts and clocks the packets cannot hold.
    choices mic{1026};
    mic.arrivals = 32;
    mic.receivers = 20;
    mic.ddcs = 400;
    write(dir, "mic_400", mic, hpsdrP2Sim::micPacket(0));
    mic.clock = 0;
    mic.ddcs = 81;
    write(dir, "mic_clock0", mic, hpsdrP2Sim::micPacket(1));
    mic.clock = 1;
    write(dir, "mic_clock1", mic, hpsdrP2Sim::micPacket(2));

    choices foreign{1035};
    foreign.board = false;
    write(dir, "foreign", foreign, ddcIqStream({{0.5, 0.1, 0.0}}, true).next(0));
    return 0;
}
