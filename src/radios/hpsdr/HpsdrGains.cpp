// Receive and transmit gain forms of the protocol 1 radio.
#include "radios/hpsdr/HpsdrRadio.h"

#include <cmath>

void HpsdrRadio::setHLGain() {
    const bool transmitting = ptt.get() || txHold >= 2;
    // 64-bit: the gains are host values and may be anything.
    const long long g = transmitting ? txGain.get() : rxGain.get();
    const long long floor = minRxRFGain.get();
    if (!HLite2Gain.get()) {
        // Attenuator steps below the top of the range, with the extra 32 dB
        // step in gainBit on boards that have it.
        const long long v = floor - g + 63;
        if (HLiteGain.get()) gainBit = v > 31 ? 1 : 0;
        attenuation = uint8_t(((v % 32) + 32) % 32);
    } else {
        attenuation = uint8_t(g - floor); // the LNA gain value
    }
    const int scaleGain = latchedMox ? txGain.get() : rxGain.get();
    rxScale = std::pow(10.0, -double(scaleGain) / 20.0);
}

void HpsdrRadio::fillDriveTable() {
    if (!HLite2Gain.get()) {
        for (size_t i = 0; i < driveTable.size(); ++i) driveTable[i] = {uint32_t(i), 1.0};
        return;
    }
    // From the top: the 4-bit drive level in five 0.1 dB fine steps each,
    // then level 0 falling by 0.1 dB per entry in the IQ scale alone.
    int level = 15, step = 0;
    for (int i = 255; i >= 1; --i) {
        driveTable[size_t(i)] = {uint32_t(level * 16), std::pow(10.0, -0.1 * step / 20.0)};
        if (level > 0 && step == 4) {
            --level;
            step = 0;
        } else {
            ++step;
        }
    }
    driveTable[0] = {0, 0.0};
}
