// Receive side of the protocol 1 radio: datagrams from the board, their
// sequence check, the samples into the hardware receivers' blocks, the wide
// band, and the clock of the transmit side.
#include "radios/hpsdr/HpsdrRadio.h"

#include "core/vtrx.h"
#include "radios/hpsdr/Ep4Packet.h"
#include "radios/hpsdr/Ep6Packet.h"
#include "radios/hpsdr/frequencyFolding.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

void HpsdrRadio::countUp(asyncProperty<int>& count) {
    if (count.get() < INT_MAX) count.set(count.get() + 1);
}

void HpsdrRadio::handleRxPacket(buff<char> packet) {
    const auto now = std::chrono::system_clock::now();
    const auto* data = reinterpret_cast<const unsigned char*>(packet.data);
    if (packet.count < Ep6Packet::size) {
        // What the board sends is always a whole packet; anything shorter
        // would leave part of a frame undefined.
        ++shortDatagrams;
        if (shortDatagramLog.note())
            spdlog::error("datagram of {} bytes from the board dropped ({} short ones so far)", packet.count,
                          shortDatagrams);
        return;
    }
    if (auto wide = Ep4Packet::parse(data, packet.count)) {
        handleEp4(*wide);
        return;
    }
    auto p = Ep6Packet::parse(data, packet.count);
    if (!p) return;

    const uint32_t s = p->sequence();
    // 64-bit throughout: SampleRate × 126 leaves 32 bits above 17 MHz.
    const long long rate = SampleRate.get();
    const unsigned long long spp = 2 * Ep6Frame::samplesPerFrame(int(receivers.size()));
    const long long pd = rate * 126 / 48000;
    if (s == expectedEp6Sequence) {
        // Without a usable rate there is no expected interval to compare.
        if (pd > 0) calcClockError(std::chrono::duration<double>(now - lastEp6Time).count(), double(spp) / double(rate), now);
    } else {
        countUp(ep6SeqErrors);
    }
    expectedEp6Sequence = s + 1;
    lastEp6Time = now;

    // One Ep2 per 126 samples at 48000 per second of the board's stream.
    auto tx = txVtrx();
    if (pd > 0) {
        const unsigned long long u = static_cast<unsigned long long>(pd);
        if (spp * s / u != spp * (uint64_t(s) + 1) / u) {
            // A radio the host keyed alone sends silence: only a
            // transceiver's transmission has samples for it.
            auto keying = ptt.get() ? keyingVtrx() : nullptr;
            if (keying)
                requestModulate(keying);
            else
                sendCommandControl(emptyBlock);
        }
    }
    handleEp6(p->frame(0), tx.get());
    handleEp6(p->frame(1), tx.get());
}

void HpsdrRadio::requestModulate(const std::shared_ptr<vtrx>& tx) {
    ++modulateRequests;
    tx->askToModulate(transmitBlock, "txVtrx.modulate");
}

void HpsdrRadio::handleEp6(const Ep6Frame& frame, vtrx* tx) {
    decodeStatus(frame, tx);
    const int hw = int(receivers.size());
    const int n = frame.receivers(hw);
    const size_t m = Ep6Frame::samplesPerFrame(n);
    const int maxAdc = maxAdcValue.get();
    const double k = maxAdc == 0 ? 0.0 : double(32768 / maxAdc);
    float scale = float(rxScale * std::ldexp(1.0, -31) * rxLevelCalibration.get() * k);
    if (!std::isfinite(scale)) {
        // Gains or calibration far outside any board's range.
        if (nonFiniteScaleLog.note())
            spdlog::error("receive scale not finite (rxGain {}, rxLevelCalibration {}): samples set to 0 ({} frames)",
                          rxGain.get(), rxLevelCalibration.get(), nonFiniteScaleLog.total());
        scale = 0.0f;
    }
    const int clock = clockFrequency.get();
    // The base may ask for the frame's samples in several pieces: the fill
    // carries on where the previous piece stopped.
    struct fillState {
        const Ep6Frame& frame;
        int r, n;
        float scale;
        bool odd;
        size_t done;
    };
    for (int r = 0; r < n && m > 0; ++r) {
        fillState st{frame, r, n, scale, IsFrequencyReversed(receivers[size_t(r)].frequency, clock) != 0, 0};
        write(
            [&st](cplx* dst, size_t count) {
                const size_t got = st.frame.samples(st.r, st.n, st.done, count, dst, st.scale, st.odd);
                std::fill(dst + got, dst + count, cplx{});
                st.done += got;
            },
            m, r);
    }
    doRfAgc(hw);
    publishTelemetry(hw);
}

void HpsdrRadio::handleEp4(const Ep4Packet& packet) {
    double k = rxScale * 0.0004886962890625;
    if (maxAdcValue.get() == 32768) k *= 0.0625;
    const float scale = std::isfinite(float(k)) ? float(k) : 0.0f;
    const size_t base = packet.position();
    int peak = widePeak;
    for (size_t i = 0; i < Ep4Packet::samplesPerPacket; ++i) {
        const int v = packet.sample(i);
        wideBandFill[base + i] = float(v) * scale;
        peak = std::max(peak, std::abs(v));
    }
    widePeak = peak;
    if (packet.completesFrame()) {
        wideBand = wideBandFill;
        // Zeroed: a part whose packet is lost shows as silence, not as
        // whatever the pool held.
        wideBandFill = buff<float>(Ep4Packet::frameLength, 0.0f);
    }

    if (!HLite2Gain.get()) return;
    // The I/O board follows the transmit frequency every 100 packets; not
    // while its last records still wait (a board sending only wide band
    // drains nothing), so the queue cannot grow without end.
    if (wideBandPackets <= 0) {
        if (auto tx = txVtrx()) {
            txFrequency = transmitBase(*tx);
            if (!ioBoardWritePending()) writeIOCardFreq(txFrequency);
        }
        wideBandPackets = 100;
    }
    --wideBandPackets;
}
