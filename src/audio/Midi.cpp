#include "audio/Midi.h"

#include "framework/immortal.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <exception>

namespace {

/// Marks every device unseen, walks the client's ports (a name and "\r\n"
/// each into the text; the first device of that name seen, or a new one
/// appended), then drops the devices left unseen.
///
/// Each step may wait on a stopped server (the count connects the client,
/// each new device opens a client of its own, each device dropped closes
/// one): once the process's exit has begun meanwhile, it stops there and
/// leaves the lists as they are.
template <class Device, class Client>
std::string refresh(Client& client, std::vector<std::unique_ptr<Device>>& devices, RtMidi::Api api) {
    std::string text;
    if (exitGate::closed()) return text;
    const unsigned n = client.getPortCount();
    for (auto& d : devices) d->seen = false;
    for (unsigned i = 0; i < n; ++i) {
        if (exitGate::closed()) return text;
        try {
            const std::string name = client.getPortName(i);
            // A port gone between the count and the name has no name: RtMidi
            // warns and returns an empty one.
            if (name.empty()) continue;
            text += name + "\r\n";
            auto same = std::find_if(devices.begin(), devices.end(), [&](const auto& d) { return d->name == name; });
            if (same != devices.end())
                (*same)->seen = true;
            else
                devices.push_back(std::make_unique<Device>(name, int(i), api));
        } catch (const RtMidiError& e) {
            spdlog::error("midi enumerate {}", e.getMessage());
        }
    }
    if (!exitGate::closed()) std::erase_if(devices, [](const auto& d) { return !d->seen; });
    return text;
}

} // namespace

serverWorker& Midi::worker() {
    static serverWorker& w = []() -> serverWorker& {
        auto& made = immortal<serverWorker>("the MIDI worker", serverWorker::heldAfter);
        made.start([&made] {
            for (serverWorker::job j;;) {
                made.next(j);
                serverWorker::run(j, "midi worker");
            }
        });
        return made;
    }();
    return w;
}

Midi::Midi() {
    std::string defaultFailed;
    try {
        inClient_ = std::make_unique<RtMidiIn>(RtMidi::UNSPECIFIED, "RtMidi Input Client", 100);
        outClient_ = std::make_unique<RtMidiOut>(RtMidi::UNSPECIFIED, "RtMidi Output Client");
        api_ = inClient_->getCurrentApi();
        return;
    } catch (const RtMidiError& e) {
        inClient_.reset();
        outClient_.reset();
        defaultFailed = e.getMessage();
    }
    try {
        inClient_ = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, "RtMidi Input Client", 100);
        // Its open waits while the server is stopped: once the process has
        // begun to exit meanwhile, no more clients.
        if (exitGate::closed()) return;
        outClient_ = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, "RtMidi Output Client");
        api_ = RtMidi::UNIX_JACK;
        spdlog::info("midi: {}; using JACK", defaultFailed);
    } catch (const RtMidiError& e) {
        inClient_.reset();
        outClient_.reset();
        spdlog::error("midi unavailable: {}; JACK: {}", defaultFailed, e.getMessage());
    }
}

Midi::~Midi() = default;

std::string Midi::Enumerate() {
    if (!inClient_) return {};
    std::string text = refresh(*inClient_, inputs_, api_);
    EnumerateOp();
    return text;
}

std::string Midi::EnumerateOp() {
    if (!outClient_) return {};
    return refresh(*outClient_, outputs_, api_);
}

void Midi::closeInputs() { inputs_.clear(); }

void Midi::send(int dev, int size, int b0, int b1, int b2) {
    if (dev < 0 || size_t(dev) >= outputs_.size()) return;
    outputs_[size_t(dev)]->Send(size, b0, b1, b2);
}
