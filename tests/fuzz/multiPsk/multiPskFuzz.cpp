// What a MultiPSK client sends, as the bridge takes it: the first byte seeds
// how the stream is cut into reads, the rest is the stream. Every body the
// framer delivers goes to the mode (no transceiver, no server), and a
// transmit block is taken after each.
//
// Beyond memory faults it checks that no body exceeds the buffer, that a
// "TXHWdata" body has the length its count gives (cut to the buffer), and
// that the transmit ring only ever yields finite samples.
#include "modes/data/multipsk/MultiPskFramer.h"
#include "modes/data/multipsk/MultiPskModDemod.h"
#include "modes/data/multipsk/MultiPskPacket.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The framing and rate traces and the error log would drown the run.
    spdlog::set_level(spdlog::level::off);
    if (!std::freopen("/dev/null", "w", stdout)) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static auto mode = std::make_shared<MultiPskModDemod>(nullptr);
    constexpr size_t bufferSize = MultiPskModDemod::bufferSize;
    MultiPskFramer framer(bufferSize);
    uint32_t cut = data[0] * 2654435761u + 1;
    const uint8_t* p = data + 1;
    size_t left = size - 1;
    buff<std::complex<float>> in(512, std::complex<float>{}), out(512);
    while (left > 0) {
        const size_t want = framer.wanted();
        check(want > 0 && want <= bufferSize);
        cut = cut * 1664525u + 1013904223u;
        const size_t n = std::min({want, left, size_t(1 + (cut >> 24) % 64 * (cut >> 31 ? want : 1))});
        std::memcpy(framer.readPointer(), p, n);
        p += n;
        left -= n;
        auto body = framer.arrived(n);
        if (!body) continue;
        check(body->count <= bufferSize);
        if (body->count >= multipsk::sampleHeaderBytes && multipsk::hasKeyword(body->data, body->count, "TXHWdata")) {
            const uint64_t count = uint32_t(multiReadLong(body->data + 8));
            check(body->count == std::min<uint64_t>(12 + count, bufferSize));
        }
        mode->multiPskMsg(*body);
        mode->modulate(in, out);
        for (auto s : out) check(std::isfinite(s.real()) && std::isfinite(s.imag()));
    }
    return 0;
}
