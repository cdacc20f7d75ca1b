// Writes seed inputs for the protocol 1 fuzz targets from the board
// simulator's builders:
//   hpsdr_p1_fuzz_seeds <corpus folder>          the packet target: its 7
//                                                choice bytes and a datagram
//   hpsdr_p1_fuzz_seeds <corpus folder> receive  the receive target: its 4
//                                                choice bytes and datagrams
#include "sim/hpsdrP1Sim.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

void write(const std::string& dir, const std::string& name, std::vector<uint8_t> prefix,
           const std::vector<uint8_t>& datagram) {
    prefix.insert(prefix.end(), datagram.begin(), datagram.end());
    std::ofstream(dir + "/" + name, std::ios::binary).write(reinterpret_cast<const char*>(prefix.data()),
                                                             std::streamsize(prefix.size()));
}

} // namespace

/// Seeds of the receive target: runs of consecutive Ep6 packets with status
/// frames, a gap, wide band, and a short datagram.
void writeReceiveSeeds(const std::string& dir) {
    for (int n = 1; n <= 8; ++n) {
        std::vector<std::vector<simTone>> tones(static_cast<size_t>(n));
        for (int r = 0; r < n; ++r) tones[size_t(r)] = {{0.7, 0.011 * (r + 1), 0.0}};
        ep6Stream stream(n, tones);
        std::vector<uint8_t> run;
        for (uint32_t s = 0; s < 4; ++s) {
            // Status addresses 0..3 in turn, PTT and key, transmit-buffer events.
            simStatus a{uint8_t(0x08 * s | (s & 1)), 1, 0x0F, uint8_t(0x80 | 0x40 * (s & 1)), 0xA0, uint8_t(n - 1)};
            simStatus b{uint8_t(0x08 * ((s + 1) % 4) | 4), 0x03, 0xE8, 0x12, 0x34};
            auto p = stream.next(s == 3 ? 9 : s, a, b);
            run.insert(run.end(), p.begin(), p.end());
        }
        std::vector<int16_t> wide(512, int16_t(-1000 * n));
        auto w = ep4Packet(uint32_t(n + 2), wide);
        run.insert(run.end(), w.begin(), w.end());
        const uint8_t flags = uint8_t((n - 1) | (n % 2 ? 0x08 : 0) | (n % 3 ? 0x20 : 0x10) | (n > 4 ? 0x40 : 0));
        write(dir, "run_" + std::to_string(n), {flags, uint8_t(n % 8), uint8_t((n * 3) % 8), uint8_t(n % 8)}, run);
    }
    write(dir, "short", {0x28, 0, 0, 2}, std::vector<uint8_t>(100, 0xEF));
}

int main(int argc, char** argv) {
    if (argc != 2 && !(argc == 3 && std::string(argv[2]) == "receive")) {
        std::fprintf(stderr, "usage: %s <corpus folder> [receive]\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    if (argc == 3) {
        writeReceiveSeeds(dir);
        return 0;
    }
    const uint8_t clocks[] = {0, 1, 4, 6};
    for (int n = 1; n <= 8; ++n) {
        std::vector<std::vector<simTone>> tones(static_cast<size_t>(n));
        for (int r = 0; r < n; ++r) tones[size_t(r)] = {{0.9, 0.013 * (r + 1), 0.0}};
        ep6Stream stream(n, tones);
        simStatus a{uint8_t(0x08 * (n % 4) | 1), 1, 2, 0x80, 4, uint8_t(n - 1)}, b{0x80};
        // Base frequency 7 MHz or 40 MHz: even and odd zones.
        const uint8_t f7[4] = {0x00, 0x6A, 0xCF, 0xC0}, f40[4] = {0x02, 0x62, 0x5A, 0x00};
        const uint8_t* f = n % 2 ? f7 : f40;
        write(dir, "ep6_" + std::to_string(n), {uint8_t(n - 1), clocks[n % 4], f[0], f[1], f[2], f[3], uint8_t(n)},
              stream.next(uint32_t(n), a, b));
    }
    std::vector<int16_t> wide(512);
    for (int i = 0; i < 512; ++i) wide[size_t(i)] = int16_t(i % 2 ? -32768 : 32767);
    write(dir, "ep4_7", {3, 4, 0, 0, 0, 1, 0}, ep4Packet(7, wide));
    // A transmit block: 126 samples as floats, the ramp and a drive scale.
    std::vector<uint8_t> tx(1032);
    for (size_t i = 0; i < 252; ++i) {
        float v = float(i) / 100.0f - 1.2f;
        std::memcpy(tx.data() + 4 * i, &v, 4);
    }
    write(dir, "tx_ramp", {0, 4, 0x02, 0x62, 0x5A, 0x00, 0x82}, tx);
    write(dir, "short", {1, 0, 0, 0, 0, 0, 1}, std::vector<uint8_t>(40, 0x7F));
    return 0;
}
