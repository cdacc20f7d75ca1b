#include "audio/Wireless.h"

#include "audio/AudioProvider.h"
#include "audio/Midi.h"
#include "audio/eqCurve.h"
#include "framework/exitGate.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>

namespace {

std::atomic<Wireless*> theInstance{nullptr};
/// The process-wide root's own reference, never released (see create).
std::atomic<std::shared_ptr<Wireless>*> keptRoot{nullptr};

/// The default equaliser curve: frequencies in Hz, every gain 1.0.
constexpr std::array<double, 9> defaultMicEqHz{0, 64, 128, 300, 600, 1200, 2400, 4800, 24000};
/// The curve's points are those at these first positions of the list.
constexpr size_t micEqPoints = defaultMicEqHz.size();

std::shared_ptr<syncTask> ownTaskGroup(const std::shared_ptr<syncTask>& group) {
    return group ? std::make_shared<syncTask>(group->pool()) : nullptr;
}

} // namespace

Wireless::Wireless(std::shared_ptr<syncTask> group) : asyncObject(ownTaskGroup(group)) {
    Wireless* none = nullptr;
    if (!theInstance.compare_exchange_strong(none, this, std::memory_order_acq_rel))
        spdlog::error("Wireless ctor called again");
    AudioProvider::getInstance()->deviceChanged = &addDevice;
    SendAudioDevices();
}

Wireless::~Wireless() {
    Wireless* self = this;
    theInstance.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
    // Its clients close where they opened. Refused once the process exits:
    // then here.
    if (midi) Midi::worker().post([gone = std::shared_ptr<Midi>(std::move(midi))] {});
}

std::shared_ptr<Wireless> Wireless::create(std::shared_ptr<syncTask> group) {
    auto w = std::make_shared<Wireless>(std::move(group));
    if (getInstance() == w.get()) {
        // Never freed: streams, MIDI input and modes reach the root through
        // getInstance() until the process ends, whatever the host releases.
        // Only one root is ever kept, since the kept one never goes.
        keptRoot.store(new std::shared_ptr<Wireless>(w), std::memory_order_release);
    }
    return w;
}

Wireless* Wireless::getInstance() { return theInstance.load(std::memory_order_acquire); }

void Wireless::SendAudioDevices() {
    auto* provider = AudioProvider::getInstance();
    std::lock_guard<std::mutex> lock(devices_);
    for (size_t i = inputDevices.size(); i < provider->inputs.size(); ++i) {
        const auto& r = *provider->inputs[i];
        // Device object k must stay at position k, whatever the host did to
        // the list items.
        if (i == inputDeviceObjects.size())
            inputDeviceObjects.push_back(std::make_shared<AudioInputDevice>(r.name, int(r.index), r.rate));
        inputDevices.add(std::make_shared<ValueLabelItem>(taskGroup(), int(i), r.name));
    }
    for (size_t i = outputDevices.size(); i < provider->outputs.size(); ++i) {
        const auto& r = *provider->outputs[i];
        if (i == outputDeviceObjects.size())
            outputDeviceObjects.push_back(
                std::make_shared<AudioOutputDevice>(r.name, int(r.index), r.rate, r.channels));
        outputDevices.add(std::make_shared<ValueLabelItem>(taskGroup(), int(i), r.name));
    }
}

std::shared_ptr<AudioOutputDevice> Wireless::outputDevice(int id) const {
    std::lock_guard<std::mutex> lock(devices_);
    if (id < 0 || size_t(id) >= outputDeviceObjects.size()) return nullptr;
    return outputDeviceObjects[size_t(id)];
}

std::shared_ptr<AudioInputDevice> Wireless::inputDevice(int id) const {
    std::lock_guard<std::mutex> lock(devices_);
    if (id < 0 || size_t(id) >= inputDeviceObjects.size()) return nullptr;
    return inputDeviceObjects[size_t(id)];
}

std::string Wireless::getInitPath() const {
    std::lock_guard<std::mutex> lock(initPathMutex_);
    return initPath;
}

void Wireless::setInitPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(initPathMutex_);
    initPath = path;
}

void addDevice() {
    if (auto* w = Wireless::getInstance()) w->SendAudioDevices();
}

void Wireless::Init(const char* path) {
    if (path)
        setInitPath(path);
    else
        spdlog::error("Wireless.Init() null path refused");
    if (DefaultMicEQ.size() == 0) {
        for (double hz : defaultMicEqHz) {
            auto point = std::make_shared<calibLine>(taskGroup());
            point->inp.set(hz);
            point->outp.set(1.0);
            DefaultMicEQ.add(point);
        }
    }
    hookMicEq();
    MidiEnabled.changeHook = [this] { midiSwitch(); };
}

void Wireless::hookMicEq() {
    const std::weak_ptr<Wireless> root = std::static_pointer_cast<Wireless>(shared_from_this());
    auto points = DefaultMicEQ.items();
    points.resize(std::min(points.size(), micEqPoints));
    for (auto& point : points) {
        if (!point) continue; // an empty entry left by an op 0 set past the end
        // Release: the value was stored before the hook runs; a reader that
        // acquires the new count sees it.
        auto install = [point, root] {
            auto count = [root] {
                if (auto w = root.lock()) w->micEqVersion.fetch_add(1, std::memory_order_release);
            };
            point->inp.changeHook = count;
            point->outp.changeHook = count;
        };
        // A point's hooks are read by its own task group when it changes:
        // a point on another lane (one the host made) gets them there.
        if (point->taskGroup() == taskGroup()) {
            install();
        } else {
            seqTask t;
            t.fn = std::move(install);
            t.name = "Wireless.hookMicEq";
            point->asyncProcess(t);
        }
    }
}

buff<float> Wireless::Calc(int n) const {
    if (n <= 0) return {};
    auto items = DefaultMicEQ.items();
    std::vector<eqPoint> points;
    for (size_t k = 0; k < items.size() && k < micEqPoints; ++k) {
        if (!items[k]) continue;
        const eqPoint p{float(items[k]->inp.get()), float(items[k]->outp.get())};
        if (std::isfinite(p.hz) && std::isfinite(p.gain)) points.push_back(p);
    }
    return sampleEqCurve(points, n);
}

void Wireless::midiSwitch() {
    // The clients open and close on the MIDI worker, which a stopped sound
    // server may hold: never here, where the process's exit would wait.
    const bool on = MidiEnabled.get();
    midiJob([this, on] {
        try {
            if (!on) {
                if (midi) midi->closeInputs();
                return;
            }
            if (!midi) midi = std::make_unique<Midi>();
            std::string text = midi->Enumerate();
            // Held by a server until the process began to exit: nothing
            // more of the library's.
            if (exitGate::closed()) return;
            // The property is the root's, set on its task group.
            seqTask t;
            t.fn = [root = std::static_pointer_cast<Wireless>(shared_from_this()), text = std::move(text)] {
                root->MidiDevices.set(text, true);
            };
            t.name = "Wireless.MidiDevices";
            asyncProcess(t);
        } catch (const std::exception& e) {
            spdlog::error("midi enable {}", e.what());
        } catch (...) {
            spdlog::error("midi enable ");
        }
    });
}

void Wireless::SendMidi(int dev, int size, int b0, int b1, int b2) {
    if (dev < 0) return;
    midiJob([this, dev, size, b0, b1, b2] {
        if (midi) midi->send(dev, size, b0, b1, b2);
    });
}

void Wireless::midiJob(std::function<void()> job) {
    // The root stays until its job has run.
    Midi::worker().post(
        [root = std::static_pointer_cast<Wireless>(shared_from_this()), job = std::move(job)] { job(); });
}

void Wireless::Close() { AudioProvider::getInstance()->Close(); }
