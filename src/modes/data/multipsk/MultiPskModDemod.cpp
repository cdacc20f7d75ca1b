#include "modes/data/multipsk/MultiPskModDemod.h"

#include "core/Radio.h"
#include "core/vtrx.h"
#include "modes/data/multipsk/MultiPskPacket.h"
#include "modes/data/multipsk/MultiPskPortRegistry.h"
#include "modes/data/multipsk/asyncTcpIpPacketServer.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

using multipsk::hasKeyword;
using multipsk::makeFrame;

namespace {

/// A body as the log shows it: its last byte dropped, up to the first NUL.
std::string bodyText(const buff<char>& body) {
    const size_t n = body.count - 1;
    return std::string(body.data, strnlen(body.data, n));
}

void needsTransceiver(const char* keyword) { spdlog::error("multipsk {} without a transceiver ignored", keyword); }

void writeShort(char* dst, int v) {
    dst[0] = char(uint8_t(v));
    dst[1] = char(uint8_t(v >> 8));
}

/// part × gain, truncated toward zero into 16 bits; 0 for a non-finite part.
int toShort(float part, double gain) {
    if (!std::isfinite(part)) return 0;
    return int(std::clamp(part * gain, -32768.0, 32767.0));
}

} // namespace

MultiPskModDemod::MultiPskModDemod(std::shared_ptr<syncTask> taskGroup) : modDemod(std::move(taskGroup)) {
}

MultiPskModDemod::~MultiPskModDemod() {
    std::shared_ptr<asyncTcpIpPacketServer> s;
    int served = 0;
    {
        std::lock_guard<std::mutex> l(serverLock_);
        s = std::move(server_);
        served = servedPort_;
        servedPort_ = 0;
    }
    // The port this instance really served, whatever `port` says by now.
    if (served) multipsk::releasePort(served);
    s.reset();
}

int MultiPskModDemod::servedPort() const {
    std::lock_guard<std::mutex> l(serverLock_);
    return servedPort_;
}

std::shared_ptr<asyncTcpIpPacketServer> MultiPskModDemod::server() const {
    std::lock_guard<std::mutex> l(serverLock_);
    return server_;
}

void MultiPskModDemod::hostSetPort(int value) {
    if (value < 1 || value > 65535) {
        spdlog::error("MultiPskModDemod port {} refused, keeping {}", value, port.get());
        port.tellHost();
        return;
    }
    port.hostSet(value);
}

// ---- serving ----

void MultiPskModDemod::init() {
    std::lock_guard<std::mutex> l(serverLock_);
    if (server_) return;
    const std::weak_ptr<asyncObject> self = weak_from_this();
    std::shared_ptr<asyncTcpIpPacketServer> s;
    auto found = multipsk::claimPort(port.get(), portAttempts, [&](int p) {
        try {
            s = std::make_shared<asyncTcpIpPacketServer>(p, bufferSize);
        } catch (const std::exception&) {
            return false; // in use: the next port
        }
        s->setOwner(self);
        // The callbacks only run in this mode's own tasks, which keep it.
        return s->start([this](buff<char> body) { multiPskMsg(body); }, [this](bool flag) { connectChanged(flag); });
    });
    if (found.found) {
        server_ = std::move(s);
        servedPort_ = found.port;
    }
    port.set(found.port, true);
}

void MultiPskModDemod::reply(buff<char> frame) const {
    // No server, no client: the packet goes nowhere.
    if (auto s = server()) s->send(std::move(frame));
}

template <class Body>
void MultiPskModDemod::onTransceiver(const char* name, Body body) {
    auto self = std::static_pointer_cast<MultiPskModDemod>(weak_from_this().lock());
    if (!self) return;
    forTransceiver(name, [self, body](const std::shared_ptr<vtrx>& v) { body(*self, v); });
}

void MultiPskModDemod::multiPskMsg(buff<char> body) {
    onTransceiver("MultiPskModDemod.packet",
                  [body](MultiPskModDemod& m, const std::shared_ptr<vtrx>& v) { m.handle(body, v); });
}

void MultiPskModDemod::connectChanged(bool flag) {
    onTransceiver("MultiPskModDemod.connect",
                  [flag](MultiPskModDemod& m, const std::shared_ptr<vtrx>& v) { m.onConnect(flag, v); });
}

void MultiPskModDemod::onConnect(bool flag, const std::shared_ptr<vtrx>& v) {
    connected.set(flag, true);
    if (flag) return;
    sending.set(false, true);
    // A client that vanished mid-transmission must not leave the
    // transmitter keyed: nobody is left to send "SwitchRX".
    if (v) endOver(*v);
}

void MultiPskModDemod::endOver(vtrx& v) {
    transmission::serial key = 0;
    {
        std::lock_guard<std::mutex> l(txLock_);
        key = peerKey_;
    }
    v.tx.releaseKey(*this, key);
}

// ---- packets from MultiPSK, on the transceiver's group ----

void MultiPskModDemod::handle(const buff<char>& body, const std::shared_ptr<vtrx>& v) {
    const char* b = body.data;
    const size_t n = body.count;
    if (n < multipsk::keywordBytes) return;
    auto is = [&](const char* keyword) { return hasKeyword(b, n, keyword); };

    if (is("Pversion")) {
        if (n >= 12 && b[11] == '1') version_.store(1);
        auto frame = makeFrame("Pversion", 1);
        frame[12] = char(version_.load());
        reply(frame);
    } else if (is("HWMPcapa")) {
        reply(capabilities());
    } else if (is("InitHWMP") && n >= 18) {
        if (!v) return needsTransceiver("InitHWMP");
        v->vfo.set(multiReadLong(b + 13), true);
        sending.set(true, true);
    } else if (is("Received")) {
        if (n != multipsk::keywordBytes) {
            std::printf("mlr\r\n");
            std::fflush(stdout);
        }
    } else if (is("Set_HWLO") && n >= 12) {
        if (!v) return needsTransceiver("Set_HWLO");
        v->vfo.set(multiReadLong(b + 8), true);
    } else if (is("SwitchRX")) {
        if (!v) return needsTransceiver("SwitchRX");
        endOver(*v);
    } else if (is("SwitchTX")) {
        if (!v) return needsTransceiver("SwitchTX");
        {
            std::lock_guard<std::mutex> l(txLock_);
            ring_.restart();
        }
        // A refused key takes none of the samples that follow. The over goes
        // out in the transmission on, whoever keyed it; its end ends only
        // what the peer keyed.
        const bool keyed = v->tx.keyFor(*this);
        {
            std::lock_guard<std::mutex> l(txLock_);
            peerOver_ = keyed ? v->tx.began() : 0;
            peerKey_ = keyed && v->tx.keyedBy(*this) ? v->tx.current() : 0;
        }
        setSpeed(MultiPskTxRing::fastRate);
    } else if (is("TXHWdata")) {
        takeSamples(body, v.get());
    } else if (is("Bug_on_P")) {
        spdlog::error("multipsk Bug_on_P {}", bodyText(body));
        sending.set(false, true);
    } else {
        spdlog::error("multipsk unknown msg {}", bodyText(body));
    }
}

void MultiPskModDemod::takeSamples(const buff<char>& body, const vtrx* v) {
    const size_t header = multipsk::sampleHeaderBytes;
    if (body.count < header) {
        spdlog::error("multipsk TXHWdata of {} bytes ignored", body.count);
        return;
    }
    const int count = multiReadLong(body.data + 8);
    if (count < 0) {
        spdlog::error("multipsk TXHWdata count {} ignored", count);
        return;
    }
    // Only the pairs the body really holds, whatever the count claims.
    const size_t pairs = std::min(size_t(count / 4), (body.count - header) / 4);
    int rate = 0;
    {
        std::lock_guard<std::mutex> l(txLock_);
        rate = ring_.put(body.data + header, pairs); // paced and announced all the same
        // Samples of an over that was cut short, or that come before the
        // peer's SwitchTX, wait for nothing: the peer keys again first.
        const bool inItsOver = v && v->tx.where() == transmission::phase::keyed && v->tx.began() == peerOver_;
        if (v && !inItsOver) ring_.restart();
    }
    reply(makeFrame("Received", 0));
    if (rate) setSpeed(rate);
}

buff<char> MultiPskModDemod::capabilities() const {
    bool canTransmit = false;
    if (auto v = lockOwner())
        if (auto r = v->owner.lock()) canTransmit = r->canTransmit.get();
    auto frame = makeFrame("HWMPcapa", 44);
    char* p = frame.data + 12;
    p += multiWriteShortString(p, "VireoSDR");
    p += multiWriteShortString(p, "2.0");
    p += multiWriteShortString(p, "Hello");
    p += multiWriteShortString(p, canTransmit && version_.load() == 1 ? "5" : "3");
    p += multiWriteShortString(p, "48000");
    p += multiWriteShortString(p, "24000..40000000");
    *p = 0;
    return frame;
}

// ---- packets to MultiPSK ----

void MultiPskModDemod::setSpeed(int rate) {
    auto frame = makeFrame("ADJUrate", 1);
    frame[12] = char(uint8_t(rate));
    reply(frame);
}

void MultiPskModDemod::vfoChanged(long long hz) {
    if (!sending.get()) return;
    auto frame = makeFrame("Set_HWLO", 4);
    multiWriteLong(frame.data + 12, int(uint32_t(uint64_t(hz))));
    reply(frame);
}

void MultiPskModDemod::sendMultiPsk(buff<cplx> chunk) {
    auto frame = makeFrame("TXHWdata", 4 + 4 * chunk.count);
    multiWriteLong(frame.data + 12, int(4 * chunk.count));
    double gain = gain_.load(std::memory_order_relaxed);
    char* p = frame.data + 16;
    for (const cplx s : chunk) {
        for (const float part : {s.real(), s.imag()}) {
            if (!std::isfinite(part)) continue; // sent as 0, the gain kept
            const float magnitude = std::fabs(part);
            if (gain * magnitude > double(fullScale)) gain = double(fullScale / magnitude);
        }
        writeShort(p, toShort(s.real(), gain));
        writeShort(p + 2, toShort(s.imag(), gain));
        p += 4;
    }
    gain_.store(gain, std::memory_order_relaxed);
    reply(frame);
}

// ---- the transceiver's chain ----

buff<float> MultiPskModDemod::demodulate(buff<cplx> chunk) {
    if (sending.get()) sendMultiPsk(chunk);
    buff<float> audio(chunk.count);
    for (size_t i = 0; i < chunk.count; ++i) audio[i] = chunk[i].real();
    return audio;
}

void MultiPskModDemod::modulate(buff<cplx>, buff<cplx> out) {
    bool underrun = false;
    {
        std::lock_guard<std::mutex> l(txLock_);
        underrun = ring_.take(out);
    }
    // MultiPSK stopped sending: its over ends.
    if (underrun)
        if (auto v = lockOwner()) endOver(*v);
}

void MultiPskModDemod::dropTransmission(uint64_t) {
    // Samples of the peer that did not go out never will, whenever they
    // came: a later transmission starts from its next SwitchTX.
    std::lock_guard<std::mutex> l(txLock_);
    ring_.restart();
    peerOver_ = 0;
    peerKey_ = 0;
}
