// What the protocol 1 radio learns from the board's status bytes and its
// stream timing: PTT and key, ADC overload, transmit-buffer health,
// temperature, power and SWR, the ADC peak, the RF gain control, and the
// estimate of the board's sample-clock error.
#include "radios/hpsdr/HpsdrRadio.h"

#include "core/vtrx.h"
#include "radios/hpsdr/Ep6Packet.h"
#include "radios/hpsdr/colLerp.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <limits>

namespace {

/// A power value as published: single precision, finite.
float finitePower(double w) {
    const float f = float(w);
    return std::isfinite(f) ? f : 0.0f;
}

} // namespace

void HpsdrRadio::decodeStatus(const Ep6Frame& frame, vtrx* tx) {
    if (frame.registerResponse()) return; // C1..C4 answer a register write
    RadioPtt.set(frame.ptt());
    if (tx) tx->outputStream.genToneHW(frame.key()); // the board's key input sounds the sidetone
    switch (frame.address()) {
    case 0: {
        adcOvl.set((frame.c(1) & 1) != 0);
        if (!ptt.get()) break;
        const uint8_t level = frame.c(3);
        if (level & 0x80) {
            countUp(level & 0x40 ? TxBufferUnderflow : TxBufferOverflow);
        } else {
            minBufferLevel = std::min(minBufferLevel, int(level));
            if (peakCounter == 0) {
                MinTxBufferLevel.set(minBufferLevel);
                minBufferLevel = 128;
            }
        }
        break;
    }
    case 1:
        temperatureReading = 0.9 * temperatureReading + 0.1 * frame.status16(0);
        forwardReading = 0.9 * forwardReading + 0.1 * frame.status16(1);
        break;
    case 2:
        reverseReading = 0.9 * reverseReading + 0.1 * frame.status16(0);
        currentReading = 0.9 * currentReading + 0.1 * frame.status16(1);
        break;
    case 3:
        aux1Reading = 0.9 * aux1Reading + 0.1 * frame.status16(0);
        aux2Reading = 0.9 * aux2Reading + 0.1 * frame.status16(1);
        break;
    default:
        break;
    }
}

void HpsdrRadio::doRfAgc(int receivers) {
    if (adcOvl.get())
        ++overloadFrames;
    else
        ++cleanFrames;
    const long long window = (long long)receivers * (SampleRate.get() / 48);
    if (overloadFrames + cleanFrames <= window) return;
    if (rfAgcMode.get() > 0) {
        // 6 dB steps, never above 30 dB; a full scale of 0 or less gives no
        // headroom to measure, so the gain never steps up then.
        const long long cap = std::min(maxRxRFGain.get(), 30);
        const long long g0 = std::min(6LL * (rxGain.get() / 6), cap);
        const double ratio = double(overloadFrames) / double(overloadFrames + cleanFrames);
        const int maxAdc = maxAdcValue.get();
        long long next = g0;
        if (ratio > 0.01)
            next = std::max<long long>(g0 - 6, minRxRFGain.get());
        else if (ratio < 0.002 && maxAdc > 0 && double(agcPeak) / maxAdc < 0.33)
            next = std::min(g0 + 6, cap);
        rxGain.set(int(next));
    }
    overloadFrames = cleanFrames = 0;
    agcPeak = 0;
}

void HpsdrRadio::publishTelemetry(int receivers) {
    const long long c = peakCounter++;
    if (c <= (long long)receivers * (SampleRate.get() / 600)) return;
    peakCounter = 0;

    const int maxAdc = maxAdcValue.get();
    if (maxAdc > 0) {
        const double peak = double(widePeak) / maxAdc;
        adcPeak.set(peak);
        adcPeakDBFS.set(widePeak == 0 ? -100.0 : 20.0 * std::log10(peak));
    } else {
        adcPeak.set(0.0);
        adcPeakDBFS.set(-100.0);
    }
    agcPeak = std::max(agcPeak, widePeak);
    widePeak = 0;

    const double fwdW = colLerp(FwdPwrCalibration, std::max(forwardReading, reverseReading));
    const double revW = colLerp(FwdPwrCalibration, std::min(forwardReading, reverseReading));
    Temp.set((temperatureReading / 4096 * 3.26 - 0.5) / 0.01);
    if (!ptt.get()) {
        Current.set(0.0);
        FwdPwr.set(0.0f);
        RevPwr.set(0.0f);
        Swr.set(0.0f);
        return;
    }
    const float f = finitePower(fwdW);
    const float r = finitePower(revW);
    // A curve that goes below 0 must not give a root of a negative ratio.
    const float p = std::sqrt(std::max(r, 0.0f) / std::max(f, 1e-38f));
    float swr = (1 + p) / std::max(1 - p, 1e-38f);
    if (!std::isfinite(swr)) swr = std::numeric_limits<float>::max();
    Current.set(currentReading / 4096 * 3.26 / 50 / 0.04 * 1000 * 1270 / 1000);
    FwdPwr.set(f);
    RevPwr.set(r);
    Swr.set(swr);
}

void HpsdrRadio::calcClockError(double measured, double expected, std::chrono::system_clock::time_point now) {
    if (skipCount < 3000) { // the stream settles first
        ++skipCount;
        return;
    }
    expectedSum += expected;
    measuredSum += measured;
    if (expectedSum >= 1.0 / 300) {
        ratioAverage.next(measuredSum / expectedSum);
        measuredSum = expectedSum = 0.0;
        if (ratioAverage.full()) slowAverage.next(ratioAverage.value());
    }
    if (!autoFreqCalib.get() || !slowAverage.full()) return;
    // At most one correction per two-minute slot of the hour (UTC).
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const int slot = int(((t / 60) % 60 + 60) % 60) / 2;
    if (slot == lastSlot) return;
    lastSlot = slot;
    const double v = slowAverage.value();
    if (v > 0.99999 && v < 1.00001) frequencyCalibration.set(v);
}

void HpsdrRadio::resetCalcClockError() {
    skipCount = 0;
    ratioAverage.reset();
    slowAverage.reset();
    measuredSum = 0.0;
    expectedSum = 0.0;
}
