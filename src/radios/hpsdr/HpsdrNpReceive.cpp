// What the protocol 2 board sends, on the radio's task group: DDC IQ into
// the receivers, wide-band frames and the ADC peak, overload, and the
// microphone packets that pace the re-sent configuration.
#include "radios/hpsdr/HpsdrNpRadio.h"

#include "radios/hpsdr/NpBoardPackets.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

void HpsdrNpRadio::handleRxPacket(buff<char> datagram, const udp::endpoint& from) {
    const auto address = from.address();
    // The socket listens on every address: only the board may feed it.
    if (boardAddress.is_unspecified() || !address.is_v4() || address.to_v4() != boardAddress) {
        received.foreign.fetch_add(1, std::memory_order_relaxed);
        if (foreignLog_.note())
            spdlog::error("datagram from {} dropped: the board is {} ({} dropped)", address.to_string(),
                          boardAddress.to_string(), foreignLog_.total());
        return;
    }
    const auto* data = reinterpret_cast<const unsigned char*>(datagram.data);
    const size_t length = datagram.count;
    const unsigned port = from.port();
    if (port >= NpBoardPorts::firstDdc && port <= NpBoardPorts::lastDdc) {
        decodeRxPacket(datagram, int(port - NpBoardPorts::firstDdc));
    } else if (port == NpBoardPorts::wideBand) {
        if (auto packet = WideBandPacket::parse(data, length))
            handleWideBand(packet->sampleBytes(), packet->sequence());
        else
            dropShort("wide-band", length, shortWideBandLog_);
    } else if (port == NpBoardPorts::microphone) {
        micPacket();
    } else if (port == NpBoardPorts::status) {
        status(data, length);
    }
}

void HpsdrNpRadio::dropShort(const char* what, size_t length, throttledLog& log) {
    received.tooShort.fetch_add(1, std::memory_order_relaxed);
    if (log.note()) spdlog::error("short {} packet of {} bytes dropped ({} dropped)", what, length, log.total());
}

float HpsdrNpRadio::gainScale(double fullScale) {
    const int g = rxGain.get();
    const float s = float(1.0 / fullScale / std::pow(10.0, g / 20.0));
    if (std::isfinite(s)) return s;
    // Only a gain near -1000 dB gets here; its samples would be infinite.
    if (!std::exchange(gainLogged_, true)) spdlog::error("rxGain {} out of range: received samples silenced", g);
    return 0.0f;
}

void HpsdrNpRadio::decodeRxPacket(buff<char> datagram, int d) {
    bool known;
    {
        std::lock_guard<std::mutex> lock(listMutex);
        known = d >= 0 && size_t(d) < receivers.size();
    }
    if (!known) {
        received.noReceiver.fetch_add(1, std::memory_order_relaxed);
        auto& log = noReceiverLog_[size_t(d) % noReceiverLog_.size()];
        if (log.note())
            spdlog::error("DDC IQ from port {} dropped: no receiver {} ({} dropped)", NpBoardPorts::firstDdc + d, d,
                          log.total());
        return;
    }
    auto packet = DDCIQPacket::parse(reinterpret_cast<const unsigned char*>(datagram.data), datagram.count);
    if (!packet) {
        dropShort("DDC IQ", datagram.count, shortDdcLog_);
        return;
    }

    // One gap counts once, however many packets it lost.
    const uint32_t q = packet->sequence();
    bool missed;
    long long frequency;
    {
        std::lock_guard<std::mutex> lock(listMutex);
        hwReceiver& R = receivers[size_t(d)];
        missed = q != R.expectedSequence;
        R.expectedSequence = q + 1;
        frequency = R.frequency;
    }
    if (missed) ep6SeqErrors.set(int(unsigned(ep6SeqErrors.get()) + 1u), true);

    const float scale = gainScale(2147483647.0);
    const bool odd = IsFrequencyReversed(frequency);
    size_t done = 0;
    // Straight from the datagram into the receive block, piece by piece.
    write([&](cplx* dst, size_t k) { done += packet->convert(dst, done, k, scale, odd); }, DDCIQPacket::samples, d);
    received.ddcPackets.fetch_add(1, std::memory_order_relaxed);
}

void HpsdrNpRadio::handleWideBand(const unsigned char* samples, unsigned int sequence) {
    const float scale = gainScale(8388607.0);
    const size_t at = WideBandPacket::samples * (sequence % 4);
    float* out = wideBandFill.data + at;
    int peak = widePeak;
    for (size_t i = 0; i < WideBandPacket::samples; ++i) {
        const int v = int16_t(uint16_t(samples[2 * i] << 8 | samples[2 * i + 1]));
        peak = std::max(peak, std::abs(v));
        out[i] = float(v) * scale;
    }
    widePeak = peak;
    if (at + WideBandPacket::samples >= wideBandFill.count) {
        // Handed over by sharing; the next frame starts silent, so a lost
        // packet leaves zeros rather than an older frame's samples.
        std::lock_guard<std::mutex> lock(listMutex);
        wideBand = wideBandFill;
        wideBandFill = buff<float>(WideBandPacket::frameLength, 0.0f);
    }

    const int c = wideBandPackets++;
    if (c < 201) return;
    wideBandPackets = 0;
    const double p = widePeak / 32768.0;
    adcPeak.set(p, true);
    adcPeakDBFS.set(widePeak > 0 ? 20.0 * std::log10(p) : -100.0, true);
    widePeak = 0;
}

void HpsdrNpRadio::micPacket() {
    const int c = micPackets;
    if (c == 15) sendDDCPacket();
    micPackets = c + 1;
    if (c >= 31) {
        micPackets = 0;
        sendHighPriorityPacket();
    }
}

void HpsdrNpRadio::status(const unsigned char* data, size_t length) {
    auto packet = HighPriorityStatusPacket::parse(data, length);
    if (!packet) {
        dropShort("status", length, shortStatusLog_);
        return;
    }
    adcOvl.set(packet->adcOverload(), true);
}
