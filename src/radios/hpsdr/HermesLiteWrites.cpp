// One-shot register writes to a Hermes-Lite board's I2C devices. Each only
// queues records; they go out in place of ordinary command-and-control
// frames of the next packets, spaced by their wait.
#include "radios/hpsdr/HpsdrRadio.h"

#include <algorithm>

namespace {
constexpr uint8_t ioBoard = 0x1D;
constexpr uint8_t externalPa = 0xAE;
constexpr uint32_t volatileWait = 4;
constexpr uint32_t storedWait = 40;
} // namespace

uint8_t HpsdrRadio::i2cDevice() const { return FwVersion.get() < 60 ? 0xA8 : 0xAC; }

uint8_t HpsdrRadio::biasValue(int v) const { return FwVersion.get() < 60 ? uint8_t(255 - v) : uint8_t(v); }

void HpsdrRadio::queueWrite(uint8_t device, uint8_t reg, int value, uint32_t wait) {
    commands.push_back({0xFA, 0x06, device, reg, uint8_t(value), wait});
}

void HpsdrRadio::sendBias0() {
    if (biasEnabled.get()) queueWrite(i2cDevice(), 0x00, biasValue(paBias0.get()), volatileWait);
}

void HpsdrRadio::sendBias1() {
    if (biasEnabled.get()) queueWrite(i2cDevice(), 0x10, biasValue(paBias1.get()), volatileWait);
}

void HpsdrRadio::writeBias() {
    if (!biasEnabled.get()) return;
    queueWrite(i2cDevice(), 0x20, biasValue(paBias0.get()), storedWait);
    queueWrite(i2cDevice(), 0x30, biasValue(paBias1.get()), storedWait);
}

void HpsdrRadio::sendExtBias0() {
    if (biasEnabled.get()) queueWrite(externalPa, 0x00, paExtBias0.get(), volatileWait);
}

void HpsdrRadio::writeExtBias() {
    if (biasEnabled.get()) queueWrite(externalPa, 0x20, paExtBias0.get(), storedWait);
}

void HpsdrRadio::writeStatus(int v) { queueWrite(i2cDevice(), 0x60, v, storedWait); }

void HpsdrRadio::writeMac(int v) {
    const unsigned u = unsigned(v);
    queueWrite(i2cDevice(), 0xC0, int(u >> 8), storedWait);
    queueWrite(i2cDevice(), 0xD0, int(u), storedWait);
}

void HpsdrRadio::writeIP(int v) {
    const unsigned u = unsigned(v);
    queueWrite(i2cDevice(), 0x80, int(u >> 24), storedWait);
    queueWrite(i2cDevice(), 0x90, int(u >> 16), storedWait);
    queueWrite(i2cDevice(), 0xA0, int(u >> 8), storedWait);
    queueWrite(i2cDevice(), 0xB0, int(u), storedWait);
}

bool HpsdrRadio::ioBoardWritePending() const {
    return std::any_of(commands.begin(), commands.end(), [](const HpsdrCommand& c) { return c.C2 == ioBoard; });
}

void HpsdrRadio::writeIOCardFreq(long long f) {
    const unsigned long long u = static_cast<unsigned long long>(f);
    queueWrite(ioBoard, 0x01, int(u >> 24 & 0xFF), volatileWait);
    queueWrite(ioBoard, 0x02, int(u >> 16 & 0xFF), volatileWait);
    queueWrite(ioBoard, 0x03, int(u >> 8 & 0xFF), volatileWait);
    queueWrite(ioBoard, 0x04, int(u & 0xFF), volatileWait);
    queueWrite(ioBoard, 0x00, int(u >> 32 & 0xFF), volatileWait);
    queueWrite(ioBoard, 0x0B, IOBoardRxMode.get(), volatileWait);
}
