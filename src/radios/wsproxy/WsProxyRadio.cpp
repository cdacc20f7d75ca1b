#include "radios/wsproxy/WsProxyRadio.h"

#include "framework/criticalErrorDump.h"
#include "radios/wsproxy/ProxyCommands.h"
#include "radios/wsproxy/WsProxyLink.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cstdio>

WsProxyRadio::WsProxyRadio(std::shared_ptr<syncTask> group) : Radio(std::move(group)) {
    hwReceiver r;
    r.frequency = startFrequency;
    r.sampleRate = sampleRate;
    r.remoteId = 0; // so that tune speaks for it from the start
    appendReceiver(r);
    // Whatever the host sets, the server's frames come at this rate.
    acceptSampleRates("WsProxyRadio", [](int rate) { return rate == sampleRate; }, [] {});
}

WsProxyRadio::~WsProxyRadio() {
    running = false;
    if (link) link->stop();
    if (!comms.joinable()) return;
    // The thread holds the radio only for a moment at a time; when that
    // moment held the last reference, this runs on the thread itself, which
    // then finds its stop posted and ends on its own.
    if (comms.get_id() == std::this_thread::get_id()) {
        commsEnd->letGo();
        comms.detach();
    } else
        comms.join();
}

void WsProxyRadio::queueCommand(std::string command) {
    // A full ring means no connection has taken commands for a while; the
    // newest is dropped, as the server would only see stale ones first.
    commands.push(command);
}

void WsProxyRadio::tune() {
    // Remote ids and the receivers' shape change only on this task group.
    for (const hwReceiver& r : receivers)
        if (r.remoteId >= 0) queueCommand(ProxyCommands::setFrequency(r.remoteId, r.frequency));
}

void WsProxyRadio::addHWReceiver(long long frequency) {
    queueCommand(ProxyCommands::addReceiver(RemoteID.get()));
    hwReceiver r;
    r.frequency = frequency;
    r.sampleRate = sampleRate;
    r.remoteId = -1;
    appendReceiver(r);
}

void WsProxyRadio::storeRemoteId(int id) {
    // The server answers add commands in the order they went out, and
    // receivers wait for their ids in the order they were appended.
    auto waiting = std::find_if(receivers.begin(), receivers.end(), [](const hwReceiver& r) { return r.remoteId < 0; });
    if (waiting != receivers.end())
        waiting->remoteId = id;
    else if (!receivers.empty())
        receivers.back().remoteId = id;
}

void WsProxyRadio::handleRx(buff<cplx> samples, long long centre) {
    {
        // Transceivers read the receivers' frequencies from their own groups.
        std::lock_guard<std::mutex> lock(listMutex);
        if (receivers.empty()) return;
        receivers[0].frequency = centre;
    }
    size_t taken = 0;
    write(
        [&](cplx* destination, size_t count) {
            std::copy_n(samples.data + taken, count, destination);
            taken += count;
        },
        samples.count, 0);
}

void WsProxyRadio::startRadio() {
    bool none;
    {
        std::lock_guard<std::mutex> lock(listMutex);
        none = vtrxList.empty();
    }
    if (none) {
        std::fputs("start ", stdout);
        std::fflush(stdout);
        addVtrx(startFrequency, 0, 0);
    }
    endConnection();
    // The thread gets copies: the host may change both while it runs.
    running = true;
    link = WsProxyLink::make(std::static_pointer_cast<WsProxyRadio>(shared_from_this()), URI.get(), RemoteID.get());
    commsEnd = std::make_shared<exitGate::threadEnd>();
    comms = std::thread(RunComms, link, commsEnd);
}

void WsProxyRadio::stopRadio() {
    running = false;
    endConnection();
}

void WsProxyRadio::endConnection() {
    if (link) link->stop();
    if (comms.joinable()) comms.join();
    link.reset();
}

void WsProxyRadio::RunComms(std::shared_ptr<WsProxyLink> link, std::shared_ptr<exitGate::threadEnd> end) {
    // Nothing may leave a thread's body: it would end the process.
    try {
        link->run();
    } catch (const std::exception& e) {
        std::printf("Error: %s\n", e.what());
        std::fflush(stdout);
        spdlog::error("ws proxy: {}", e.what());
    } catch (...) {
        criticalErrorDump::logException("WsProxyRadio::RunComms", "");
        spdlog::error("ws proxy: unknown exception");
    }
    link.reset(); // before the exit may go on
    end->ended();
}
