#include "audio/Wireless.h"

#include "audio/AudioProvider.h"

#include <spdlog/spdlog.h>

#include <atomic>

namespace {

std::atomic<Wireless*> theInstance{nullptr};

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

void addDevice() {
    if (auto* w = Wireless::getInstance()) w->SendAudioDevices();
}
