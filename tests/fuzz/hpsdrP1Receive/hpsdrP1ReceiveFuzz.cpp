// The protocol 1 radio's receive handling on arbitrary datagrams under
// arbitrary settings, on the radio's own task group, its packets for the
// board captured. Two radios, one with a transmitting transceiver, serve
// every input (making one per input would cost more than the input); each
// input starts them from the engine state of a fresh start.
//
// Input: byte 0 = receivers − 1 (bits 0..2), ptt (bit 3), HLite2Gain
// (bit 4), a transmitting transceiver (bit 5), RF AGC on (bit 6); byte 1
// picks SampleRate, byte 2 clockFrequency, byte 3 maxAdcValue (0
// included); the rest is cut into datagrams of 1032 bytes, the last one
// shorter. Checked: with ptt clear no Ep2 carries MOX and no transceiver is
// asked for samples, with ptt set every Ep2 does; Ep2 packets are numbered
// one after another; every published reading is finite.
#include "core/vtrx.h"
#include "framework/library.h"
#include "radios/hpsdr/HpsdrRadio.h"
#include "support/runOnLane.h"

#include <spdlog/spdlog.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

const int rates[8] = {48000, 96000, 192000, 384000, 0, -48000, 17043522, 20000000};
const int clocks[8] = {73728000, 61440000, 122880000, 0, 1, 2, -100, 3};
const int fullScales[8] = {2048, 32768, 0, 1, -1, 8192, 65536, INT_MIN};

struct fuzzRadio {
    std::shared_ptr<HpsdrRadio> r;
    std::shared_ptr<vtrx> tx;
};
// Kept to the end of the process: their teardown would race the library's.
fuzzRadio* const radios = new fuzzRadio[2];

/// The engine state a start leaves, and the counters and readings of a new
/// radio.
void fresh(HpsdrRadio& r) {
    r.ep2Sequence = 0;
    r.expectedEp6Sequence = 0;
    r.ccIndex = 0;
    r.prevPtt = r.latchedMox = false;
    r.txHold = r.settleCount = 0;
    r.commands.clear();
    r.frameCounter = r.currentWait = 0;
    r.widePeak = r.agcPeak = 0;
    r.peakCounter = r.overloadFrames = r.cleanFrames = 0;
    r.minBufferLevel = 128;
    r.wideBandPackets = 0;
    r.temperatureReading = r.forwardReading = r.reverseReading = r.currentReading = 0;
    r.modulateRequests = 0;
    r.resetCalcClockError();
    r.rxGain.hostSet(24);
    r.txGain.hostSet(0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vireo::init("/dev/null", 0);
    spdlog::set_level(spdlog::level::off);
    for (int k = 0; k < 2; ++k) {
        auto r = std::make_shared<HpsdrRadio>(globalTaskGroup);
        radios[k].r = r;
        if (k == 1) runOnLane(r, [&] {
            r->addFirstStartDefaults(); // a transceiver, the power curve
            radios[k].tx = r->txVtrx();
        });
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 || size > 16 * 1032 + 4) return 0;
    const int n = 1 + (data[0] & 7);
    const bool ptt = data[0] & 0x08, withTx = data[0] & 0x20;

    const auto& r = radios[withTx ? 1 : 0].r;
    const auto& tx = radios[withTx ? 1 : 0].tx;
    std::mutex m;
    std::vector<std::vector<uint8_t>> sent;
    runOnLane(r, [&] {
        fresh(*r);
        r->SampleRate.hostSet(rates[data[1] & 7]);
        r->clockFrequency.hostSet(clocks[data[2] & 7]);
        r->maxAdcValue.hostSet(fullScales[data[3] & 7]);
        r->HLite2Gain.hostSet(data[0] & 0x10);
        r->rfAgcMode.hostSet(data[0] & 0x40 ? 2 : 0);
        {
            std::lock_guard<std::mutex> lock(r->listMutex);
            r->receivers.assign(size_t(n), hwReceiver{});
            for (int k = 0; k < n; ++k) r->receivers[size_t(k)].frequency = 7000000LL * (k + 1);
        }
        r->ptt.set(ptt);
        r->packetSink = [&](const buff<char>& p) {
            std::lock_guard<std::mutex> lock(m);
            sent.emplace_back(p.data, p.data + p.count);
        };
        for (size_t at = 4; at < size; at += 1032) {
            const size_t len = std::min<size_t>(1032, size - at);
            buff<char> d(len);
            std::memcpy(d.data, data + at, len);
            r->handleRxPacket(d);
        }
    });
    // Samples asked of the transceiver come back as "radio.transmit".
    if (tx) runOnLane(tx, [] {});
    runOnLane(r, [&] {
        check(ptt || r->modulateRequests == 0);
        for (double v : {r->adcPeak.get(), r->adcPeakDBFS.get(), r->Temp.get(), r->Current.get(),
                         double(r->FwdPwr.get()), double(r->RevPwr.get()), double(r->Swr.get())})
            check(std::isfinite(v));
        r->packetSink = nullptr;
    });

    uint32_t expected = 0;
    for (auto& p : sent) {
        check(p.size() == 1032 && p[0] == 0xEF && p[1] == 0xFE && p[2] == 0x01 && p[3] == 0x02);
        check((uint32_t(p[4]) << 24 | uint32_t(p[5]) << 16 | uint32_t(p[6]) << 8 | p[7]) == expected++);
        for (size_t f : {size_t(8), size_t(520)}) check(bool(p[f + 3] & 1) == ptt);
    }
    return 0;
}
