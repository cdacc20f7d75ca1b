// Transmit side of the protocol 1 radio: one Ep2 packet per call, carrying
// 126 transmit samples and two command-and-control frames.
#include "radios/hpsdr/HpsdrRadio.h"

#include "core/vtrx.h"
#include "radios/hpsdr/Ep2Packet.h"
#include "radios/hpsdr/frequencyFolding.h"

#include <algorithm>
#include <cmath>

void HpsdrRadio::transmit(buff<cplx> block) { sendCommandControl(block); }

void HpsdrRadio::sendCommandControl(const buff<cplx>& block) {
    const bool mox = ptt.get();
    // The receive scale follows a PTT change only from the fifth packet on,
    // when the board has switched its gain.
    if (settleCount < 4) {
        ++settleCount;
    } else {
        latchedMox = mox;
        rxScale = std::pow(10.0, -double(mox ? txGain.get() : rxGain.get()) / 20.0);
    }

    Ep2Packet packet(ep2Sequence);
    const bool changed = mox != prevPtt;
    if (changed) {
        ccIndex = 0;
        prevPtt = mox;
        txHold = mox ? 0 : 50;
    }
    // On a press, and at the end of the hold after a release, rate, filter
    // outputs and receiver count (0) go together with the gain (10).
    int first, second;
    if ((changed && txHold == 0) || txHold == 1) {
        first = 0;
        second = 10;
    } else {
        first = ccIndex > 45 ? 0 : ccIndex;
        second = first == 45 ? 0 : first + 1;
    }
    setCommandControlBits(first, packet.frame(0));
    setCommandControlBits(second, packet.frame(1));
    ccIndex = uint8_t(second + 1 > 45 ? 0 : second + 1);

    transmitEncoding how;
    auto tx = txVtrx();
    how.iqScale = driveTable[size_t(driveIndex(tx.get()) & 0xFF)].iqScale;
    how.reversedZone = IsFrequencyReversed(txFrequency, clockFrequency.get()) != 0;
    how.cwInternal = cwInternal.get();
    how.ramp = TypeID.get() == 6 ? ramp.data : nullptr;
    packet.setSamples(block.data, std::min(block.count, transmitBlock), how, rampIndex);

    ++ep2Sequence;
    if (txHold > 0 && !mox) --txHold;
    sendPacket(packet.bytes);
}

void HpsdrRadio::sendPacket(const buff<char>& packet) {
    if (packetSink)
        packetSink(packet);
    else if (exiting_)
        endpoint.sendNow(packet);
    else
        endpoint.send(packet);
}
