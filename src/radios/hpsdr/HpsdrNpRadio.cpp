#include "radios/hpsdr/HpsdrNpRadio.h"

#include "radios/hpsdr/NpBoardPackets.h"
#include "radios/hpsdr/NpHostPackets.h"
#include "radios/hpsdr/frequencyFolding.h"

#include <boost/asio/ip/address.hpp>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace {

hwReceiver receiverAt(long long frequency, int rate) {
    hwReceiver r;
    r.frequency = frequency;
    r.sampleRate = rate;
    return r;
}

void pause2ms() { std::this_thread::sleep_for(std::chrono::milliseconds(2)); }

} // namespace

HpsdrNpRadio::HpsdrNpRadio(std::shared_ptr<syncTask> group) : Radio(std::move(group)) {
    constexpr const char* labels[] = {"48k", "96k", "192k", "384k", "768k", "1536k"};
    static_assert(std::size(labels) == std::size(ddcRates));
    for (size_t k = 0; k < std::size(ddcRates); ++k)
        SampleRates.add(std::make_shared<ValueLabelItem>(taskGroup(), ddcRates[k], labels[k]));

    // The board learns the rate from the next DDC specific packet, which
    // names it in kHz: only the DDC rates of the protocol are taken.
    acceptSampleRates(
        "HpsdrNpRadio",
        [](int rate) { return std::find(std::begin(ddcRates), std::end(ddcRates), rate) != std::end(ddcRates); },
        [this] {
            std::lock_guard<std::mutex> lock(listMutex);
            for (auto& r : receivers) r.sampleRate = SampleRate.get();
        });
    wideBand = buff<float>(WideBandPacket::frameLength, 0.0f);
    wideBandFill = buff<float>(WideBandPacket::frameLength, 0.0f);
    if (receivers.empty()) appendReceiver(receiverAt(firstReceiverFrequency, SampleRate.get()));
}

HpsdrNpRadio::~HpsdrNpRadio() = default;

void HpsdrNpRadio::addHWReceiver(long long frequency) { appendReceiver(receiverAt(frequency, SampleRate.get())); }

void HpsdrNpRadio::setup() {
    const std::string text = ipAddress.get();
    boost::system::error_code ec;
    auto address = boost::asio::ip::make_address_v4(text, ec);
    if (ec) throw std::invalid_argument("ipAddress \"" + text + "\" is not an IPv4 address");
    boardAddress = address;
    if (receivers.empty()) appendReceiver(receiverAt(firstReceiverFrequency, SampleRate.get()));
    bool none;
    {
        std::lock_guard<std::mutex> lock(listMutex);
        none = vtrxList.empty();
    }
    if (none) addVtrx(firstTransceiverFrequency, 0, 0);
    wideBandValue = double(clockFrequency.get() / 2);
}

void HpsdrNpRadio::startRadio() {
    if (!started) {
        setup(); // a bad address ends the start here; the next start tries again
        endpoint.connect([this](buff<char> datagram, udp::endpoint from) { handleRxPacket(datagram, from); },
                         weak_from_this());
    }
    // The board needs the pauses to take each packet in before the next.
    sendGeneralPacket();
    pause2ms();
    pause2ms();
    sendDDCPacket();
    pause2ms();
    sendTransmitterPacket();
    pause2ms();
    run = true;
    sendHighPriorityPacket();
    started = true;
    exitStop_.set([this] {
        exiting_ = true;
        stopRadio();
    });
}

void HpsdrNpRadio::stopRadio() {
    exitStop_.clear();
    run = false;
    sendHighPriorityPacket();
}

// ---- sending ----

void HpsdrNpRadio::send(buff<char> packet, uint16_t port) {
    if (packetSink) {
        packetSink(std::move(packet), port);
        return;
    }
    if (exiting_)
        endpoint.sendToNow(packet, udp::endpoint(boardAddress, port));
    else
        endpoint.sendTo(std::move(packet), udp::endpoint(boardAddress, port));
}

void HpsdrNpRadio::sendGeneralPacket() { send(NpHostPackets::general(), NpHostPackets::generalPort); }

void HpsdrNpRadio::sendTransmitterPacket() { send(NpHostPackets::transmitter(), NpHostPackets::transmitterPort); }

void HpsdrNpRadio::sendDUCPacket() { send(NpHostPackets::duc(ducSequence++), NpHostPackets::ducPort); }

void HpsdrNpRadio::sendDDCPacket() {
    int n;
    {
        std::lock_guard<std::mutex> lock(listMutex);
        n = int(receivers.size());
    }
    const int m = maxHwReceivers.get();
    if ((n > NpHostPackets::maxDdcs || m > NpHostPackets::maxDdcs) && !std::exchange(ddcCountLogged_, true))
        spdlog::error("maxHwReceivers {} with {} receivers: the board is configured for the first {} DDCs", m, n,
                      NpHostPackets::maxDdcs);
    send(NpHostPackets::ddc(n, m, SampleRate.get()), NpHostPackets::ddcPort);
}

void HpsdrNpRadio::sendHighPriorityPacket() {
    std::vector<long long> frequencies;
    {
        std::lock_guard<std::mutex> lock(listMutex);
        const size_t n = std::min(receivers.size(), size_t(NpHostPackets::maxDdcs));
        frequencies.reserve(n);
        for (size_t d = 0; d < n; ++d) frequencies.push_back(receivers[d].frequency);
    }
    const int clock = clockFrequency.get();
    clockUsable(clock);
    const long long attenuation = (long long)maxRxRFGain.get() - rxGain.get();
    send(NpHostPackets::highPriority(run, frequencies, maxHwReceivers.get(), clock, attenuation),
         NpHostPackets::highPriorityPort);
}

// ---- host values the packets cannot carry ----

bool HpsdrNpRadio::clockUsable(int clock) {
    if (clock >= 2) return true;
    if (!std::exchange(clockLogged_, true))
        spdlog::error("clockFrequency {} below 2 Hz: phase words 0, every DDC in zone 0", clock);
    return false;
}

bool HpsdrNpRadio::IsFrequencyReversed(long long frequency) {
    const int clock = clockFrequency.get();
    if (!clockUsable(clock)) return false;
    return ::IsFrequencyReversed(frequency, clock) != 0;
}
