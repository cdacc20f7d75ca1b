// What the protocol 1 radio writes into the C1..C4 bytes of each
// command-and-control frame, and the filter-board output it selects.
#include "radios/hpsdr/HpsdrRadio.h"

#include "core/vtrx.h"
#include "radios/hpsdr/frequencyFolding.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

uint8_t rateCode(int rate) {
    switch (rate) {
    case 96000: return 1;
    case 192000: return 2;
    case 384000: return 3;
    default: return 0;
    }
}

long long saturatedSum(long long a, long long b) {
    long long r;
    if (!__builtin_add_overflow(a, b, &r)) return r;
    return b > 0 ? LLONG_MAX : LLONG_MIN;
}

} // namespace

long long HpsdrRadio::transmitBase(const vtrx& tx) const {
    long long d;
    if (__builtin_sub_overflow(tx.vfo.get(), TransceiverOffset.get(), &d)) d = TransceiverOffset.get() < 0 ? LLONG_MAX : 0;
    return std::max(0LL, d);
}

long long HpsdrRadio::receiverFrequency(int k) const {
    return size_t(k) < receivers.size() ? receivers[size_t(k)].frequency : 10000000LL;
}

int HpsdrRadio::driveIndex(vtrx* tx) const {
    if (!tx) return drive.get();
    return tx->tune.get() ? TuneDrive.get() : tx->drive.get();
}

void HpsdrRadio::setFrequencyRegister(unsigned char* c, long long frequency) {
    // A calibration that leaves the range of a frequency is not applied.
    const double x = double(frequency) * frequencyCalibration.get();
    const long long f = std::isfinite(x) && std::fabs(x) < 9.0e18 ? std::llround(x) : frequency;
    const uint32_t v = uint32_t(getFoldedFrequency(f, clockFrequency.get()));
    c[0] = uint8_t(v >> 24);
    c[1] = uint8_t(v >> 16);
    c[2] = uint8_t(v >> 8);
    c[3] = uint8_t(v);
}

void HpsdrRadio::setCommandControlBits(int index, CommandControlFrame frame) {
    const uint8_t mox = ptt.get() ? 1 : 0;
    const int c = frameCounter;
    if (frameCounter < INT_MAX) ++frameCounter; // idle for ever: stays "long enough"
    if (!commands.empty() && c >= currentWait) {
        const HpsdrCommand cmd = commands.front();
        commands.pop_front();
        frameCounter = 0;
        currentWait = int(std::min<uint32_t>(cmd.wait, INT_MAX));
        frame.setHeader(uint8_t(mox | cmd.C0), cmd.C1, cmd.C2, cmd.C3, cmd.C4);
        return;
    }

    uint8_t r[4] = {0, 0, 0, 0};
    if (index == 0) {
        const bool tx = transmitting();
        const long long f = tx ? txFrequency : receivers.empty() ? 0 : receivers[0].frequency;
        r[0] = rateCode(SampleRate.get());
        r[1] = uint8_t(unsigned(j16GetOutput(f, tx)) * 2u);
        r[2] = uint8_t(gainBit * 8 | (RXAntenna.get() ? 1 : 0) * 32);
        r[3] = uint8_t((receivers.size() - 1) * 8 + 4);
    } else if (index == 1) {
        if (auto tx = txVtrx()) txFrequency = saturatedSum(transmitBase(*tx), tx->TxOffset.get());
        setFrequencyRegister(r, txFrequency);
    } else if (index >= 2 && index <= 8) {
        setFrequencyRegister(r, receiverFrequency(index - 2));
    } else if (index == 9) {
        auto tx = txVtrx();
        r[0] = uint8_t(driveTable[size_t(driveIndex(tx.get()) & 0xFF)].driveByte);
        const int type = TypeID.get();
        if (type == 6 || type == 7) {
            const bool atu = ATUTune.get() && tx && tx->tune.get();
            r[1] = uint8_t((disableTR.get() ? 4 : 0) | (enablePA.get() ? 8 : 0) | (atu ? 16 : 0));
        }
    } else if (index == 10) {
        long long v;
        if (HLiteRxTxGain.get())
            v = (long long)rxGain.get() - minRxRFGain.get() + 0x40;
        else
            v = attenuation + (HLite2Gain.get() ? 0x40 : 0x20);
        r[3] = uint8_t(v);
    } else if (index == 14) {
        // The ADC feeding each receiver, two bits each, receivers 0..7.
        for (size_t k = 0; k < std::min<size_t>(receivers.size(), 8); ++k)
            r[k / 4] |= uint8_t((receivers[k].slot & 3) << (2 * (k % 4)));
        if (HLiteRxTxGain.get()) r[2] = uint8_t((long long)txGain.get() - minRxRFGain.get() - 64);
    } else if (index == 15) {
        r[0] = cwInternal.get() ? 1 : 0;
    } else if (index == 16) {
        const int hang = cwHangTime.get();
        r[0] = uint8_t(hang >> 2);
        r[1] = uint8_t(hang & 3);
    } else if ((index >= 18 && index <= 22) || (index >= 24 && index <= 42)) {
        setFrequencyRegister(r, receiverFrequency(index - 11));
    } else if (index == 23) {
        if (maxHwReceivers.get() < 13) {
            r[2] = uint8_t(PTTHangTime.get());
            r[3] = uint8_t(TXBufferLatency.get());
        } else {
            setFrequencyRegister(r, receiverFrequency(12));
        }
    }
    frame.setHeader(CommandControlFrame::c0(mox, index), r[0], r[1], r[2], r[3]);
}

int HpsdrRadio::j16GetOutput(long long frequency, bool tx) {
    if (UseJ16.get()) {
        for (auto& band : J16Set.items())
            if (band && frequency <= band->maxfrequency.get()) return tx ? band->tx.get() : band->rx.get();
        return 0;
    }
    auto set = FilterSet.get();
    if (!set) return 0;
    const auto bands = set->FilterBands.items();
    auto bandOf = [&](long long f) -> long long {
        for (size_t b = 0; b < bands.size(); ++b)
            if (bands[b] && f <= bands[b]->maxfrequency.get()) return (long long)b;
        return -1;
    };
    if (tx) {
        const long long b = bandOf(frequency);
        return b < 0 ? 0 : bands[size_t(b)]->tx.get();
    }
    // Receive: the row for the combination of bands the receivers are in.
    uint64_t mask = 0;
    for (auto& rx : receivers) {
        const long long b = bandOf(rx.frequency);
        if (b < 0) continue;   // above every band
        if (b >= 64) return 0; // no table has a row for such a mask
        mask |= uint64_t(1) << b;
    }
    const auto rows = set->FilterRx.items();
    if (mask >= rows.size() || !rows[size_t(mask)]) return 0;
    return rows[size_t(mask)]->rx.get();
}

int HpsdrRadio::hertz2fcode(unsigned long long f) {
    if (f == 0) return 0;
    const double code = std::log(double(f) / 18748.1) * 15.47 + 0.5;
    return code < 1.0 ? 1 : code > double(INT_MAX) ? INT_MAX : int(code);
}
