#include "audio/AudioProvider.h"

#include "audio/PortAudioAudioProvider.h"

#include <mutex>

namespace {

// Read without a lock on every call; the mutex only orders the one
// creation against an install.
std::atomic<AudioProvider*> instance{nullptr};
std::mutex creation;

} // namespace

AudioProvider* AudioProvider::getInstance() {
    if (auto* p = instance.load(std::memory_order_acquire)) return p;
    std::lock_guard<std::mutex> lock(creation);
    if (auto* p = instance.load(std::memory_order_acquire)) return p;
    auto* p = new PortAudioAudioProvider();
    instance.store(p, std::memory_order_release);
    return p;
}

bool AudioProvider::install(AudioProvider* p) {
    std::lock_guard<std::mutex> lock(creation);
    if (!p || instance.load(std::memory_order_acquire)) return false;
    instance.store(p, std::memory_order_release);
    return true;
}

void AudioProvider::addNoneEntries() {
    outputs.clear();
    inputs.clear();
    auto op = std::make_unique<AudioOutputChannel>();
    op->name = "None";
    op->channels = 2;
    outputs.push_back(std::move(op));
    auto ip = std::make_unique<AudioInputChannel>();
    ip->name = "None";
    ip->channels = 1;
    inputs.push_back(std::move(ip));
}
