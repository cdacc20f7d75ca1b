#include "radios/hpsdr/HpsdrRadio.h"

#include "radios/hpsdr/StartStopPacket.h"

#include <boost/asio/ip/address.hpp>
#include <spdlog/spdlog.h>

#include <stdexcept>
#include <thread>
#include <utility>

namespace {

/// Upper band edges (Hz) of the default filter-board band list.
constexpr int defaultBandEdges[10] = {2498270,  4282749,  5995849,  8565498,  11991698,
                                      16655136, 18737028, 23060958, 27253859, 42827494};

/// Default forward-power calibration: ADC reading to watts, as measured on
/// a Hermes-Lite 2 (single-precision values).
constexpr float defaultPowerCurve[15][2] = {
    {0.0f, 0.0f},            {25.865385f, 0.0025502539f}, {101.024536f, 0.012752045f},
    {265.29013f, 0.05060093f}, {647.9156f, 0.2164583f},     {1196.5935f, 0.6654805f},
    {1603.7032f, 1.155723f},   {2012.3271f, 1.8118922f},    {2616.7727f, 3.008585f},
    {3173.818f, 4.3927426f},   {3382.7922f, 4.9791327f},    {3721.0715f, 6.0247507f},
    {4093.1785f, 7.2899485f},  {4502.4966f, 8.820838f},     {4952.746f, 10.673214f}};

} // namespace

HpsdrRadio::HpsdrRadio(std::shared_ptr<syncTask> group) : Radio(std::move(group)) {
    // Valid from the start: a transmit packet before the first start must
    // not read an unset drive level.
    for (size_t i = 0; i < driveTable.size(); ++i) driveTable[i] = {uint32_t(i), 1.0};

    txGain.changeHook = [this] { setHLGain(); };
    rxGain.changeHook = [this] { setHLGain(); };
    ptt.changeHook = [this] {
        pttChanged();
        setHLGain();
        // The board keeps MOX as the last frame left it, and its own stream
        // clocks the next frame: a stopped, silent or released board would
        // stay keyed. The release goes out at once.
        if (!ptt.get() && connected) sendCommandControl(emptyBlock);
    };
    setHLGain();
    Dither.changeHook = [this] {
        if (!HLiteGain.get()) gainBit = Dither.get() ? 1 : 0;
    };
    maxHwReceivers.hostRange(1, maxReceivers);
    canTransmit.set(true, true);
    FilterSet.set(std::make_shared<J16Filter>(taskGroup()), true);

    for (size_t k = 0; k < ramp.count; ++k) ramp[k] = uint16_t(16 * k);
    appendReceiver(hwReceiver{});
    // The rates the protocol's rate code can name.
    acceptSampleRates(
        "HpsdrRadio", [](int rate) { return rate == 48000 || rate == 96000 || rate == 192000 || rate == 384000; },
        [this] {
            {
                std::lock_guard<std::mutex> lock(listMutex);
                for (auto& r : receivers) r.sampleRate = SampleRate.get();
            }
            resetCalcClockError();
        });
    {
        std::lock_guard<std::mutex> lock(listMutex);
        receivers[0].frequency = defaultFrequency;
    }

    SampleRates.add(std::make_shared<ValueLabelItem>(taskGroup(), 48000, "48k"));
    SampleRates.add(std::make_shared<ValueLabelItem>(taskGroup(), 96000, "96k"));
    SampleRates.add(std::make_shared<ValueLabelItem>(taskGroup(), 192000, "192k"));
    SampleRates.add(std::make_shared<ValueLabelItem>(taskGroup(), 384000, "384k"));
    rfAgcModes.add(std::make_shared<ValueLabelItem>(taskGroup(), 0, "off"));
    rfAgcModes.add(std::make_shared<ValueLabelItem>(taskGroup(), 2, "max"));

    paBias0.changeHook = [this] { sendBias0(); };
    paBias1.changeHook = [this] { sendBias1(); };
    paExtBias0.changeHook = [this] { sendExtBias0(); };

    wideBand = buff<float>(2048, 0.0f);
    wideBandFill = buff<float>(2048, 0.0f);
}

HpsdrRadio::~HpsdrRadio() = default;

void HpsdrRadio::startRadio() {
    using namespace std::chrono_literals;
    setHLGain();
    if (!connected) {
        if (!defaultsMade) {
            addFirstStartDefaults();
            defaultsMade = true;
        }
        boost::system::error_code ec;
        const std::string text = ipAddress.get();
        const auto address = boost::asio::ip::make_address(text, ec);
        // Ends the start request; the task group logs it, and the next
        // start tries again.
        if (ec) throw std::runtime_error("ipAddress \"" + text + "\" is not a numeric IPv4 or IPv6 address");
        endpoint.connect([this](buff<char> packet) { handleRxPacket(std::move(packet)); }, weak_from_this(),
                         asyncUdpServer::udp::endpoint(address, 1024));
        connected = true;
        std::this_thread::sleep_for(100ms);
    }
    restartPending = false; // the configuration carries the count in force
    sendConfiguration();
    expectedEp6Sequence = 0;
    std::this_thread::sleep_for(20ms);
    sendPacket(StartStopPacket::start(DisableWatchdog.get()));
    ccIndex = 0;
    running = true;
    // No static is built for it here (the socket is the radio's own, sent
    // on without asio), so the exit handler needs no new registration.
    exitStop_.set([this] { offAirAtExit(); });
}

void HpsdrRadio::sendConfiguration() {
    // Registers 0..9 twice, so that the board knows rate, receivers and
    // frequencies before it streams.
    ep2Sequence = 0;
    for (int round = 0; round < 2; ++round) {
        ccIndex = 0;
        for (int k = 0; k < 5; ++k) {
            sendCommandControl(emptyBlock);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

void HpsdrRadio::stopRadio() {
    exitStop_.clear();
    if (connected) sendPacket(StartStopPacket::stop());
    running = false;
}

void HpsdrRadio::offAirAtExit() {
    exiting_ = true;
    // Through the radio's one way off the air for a host that is gone: the
    // ptt hook sends the release frame.
    Radio::offAirAtExit();
    stopRadio();
}

void HpsdrRadio::tune() {
    if (restartPending) restartForReceiver();
    ccIndex = 2;
}

void HpsdrRadio::addHWReceiver(long long frequency) {
    if (receivers.size() >= size_t(maxReceivers)) {
        spdlog::error("HpsdrRadio receiver {} refused: a board is told of {} at most", receivers.size() + 1,
                      maxReceivers);
        return;
    }
    hwReceiver r;
    r.frequency = frequency;
    r.sampleRate = SampleRate.get();
    appendReceiver(r);
    if (stopToAddReceiver.get() && running) {
        // The restart sleeps and sends: it must not run inside the base's
        // placement, which keeps other threads off the receivers meanwhile.
        // Nor may it wait in the data queue, where a full queue would drop
        // it and leave the board on the old count while the frames are read
        // for the new one. The placement ends with tune() in this same task,
        // before another packet is read: the restart goes there. The board
        // sees stop, the configuration with the new count, start.
        restartPending = true;
        return;
    }
    ccIndex = 0;
}

void HpsdrRadio::restartForReceiver() {
    restartPending = false;
    if (!running) return;
    stopRadio();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    startRadio();
    resetCalcClockError();
}

void HpsdrRadio::addFirstStartDefaults() {
    // Only into empty lists: what the host put there before stays.
    if (J16Set.size() == 0) {
        for (int edge : defaultBandEdges) {
            auto band = std::make_shared<J16>(taskGroup());
            band->maxfrequency.set(edge, true);
            band->rx.set(0, true);
            band->tx.set(0, true);
            J16Set.add(std::move(band));
        }
    }
    if (FwdPwrCalibration.size() == 0) {
        for (auto& point : defaultPowerCurve) {
            auto line = std::make_shared<calibLine>(taskGroup());
            line->inp.set(double(point[0]), true);
            line->outp.set(double(point[1]), true);
            FwdPwrCalibration.add(std::move(line));
        }
    }
    bool none;
    {
        std::lock_guard<std::mutex> lock(listMutex);
        none = vtrxList.empty();
    }
    if (none) addVtrx(defaultFrequency, 0, 0);
    wideBandValue = double(clockFrequency.get() / 2);
    fillDriveTable();
}
