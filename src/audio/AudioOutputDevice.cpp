#include "audio/AudioOutputDevice.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

AudioOutputDevice::AudioOutputDevice(std::string name, int listIndex, int rate, int channels)
    : name(std::move(name)), listIndex(listIndex), rate(rate), channels(channels),
      provider_(AudioProvider::getInstance()) {
    active_.reserve(reservedStreams);
}

AudioOutputDevice::~AudioOutputDevice() {
    for (auto& io : active_) io->letGo(this);
    freeChain(pending_.exchange(nullptr));
    freeChain(spent_.exchange(nullptr));
}

void AudioOutputDevice::freeChain(request* r) {
    while (r) {
        request* next = r->next;
        delete r;
        r = next;
    }
}

void AudioOutputDevice::push(bool attach, std::shared_ptr<audioIO> io) {
    // Nodes handed back by the callback are freed here, off the sound-card
    // thread, together with the last references to detached ios.
    freeChain(spent_.exchange(nullptr, std::memory_order_acquire));
    auto* r = new request{attach, std::move(io), pending_.load(std::memory_order_relaxed)};
    while (!pending_.compare_exchange_weak(r->next, r, std::memory_order_release, std::memory_order_relaxed)) {
    }
}

void AudioOutputDevice::registerStream(std::shared_ptr<audioIO> io) {
    if (!io) return;
    {
        std::lock_guard<std::mutex> lock(producers_);
        if (std::find(attachedIos_.begin(), attachedIos_.end(), io.get()) != attachedIos_.end()) return;
        attachedIos_.push_back(io.get());
        attached_.store(int(attachedIos_.size()), std::memory_order_release);
        push(true, std::move(io));
    }
    if (!started_.exchange(true, std::memory_order_acq_rel)) provider_->OpenOutput(listIndex, this);
}

void AudioOutputDevice::unregisterStream(std::shared_ptr<audioIO> io) {
    std::lock_guard<std::mutex> lock(producers_);
    auto it = std::find(attachedIos_.begin(), attachedIos_.end(), io.get());
    if (it == attachedIos_.end()) return;
    attachedIos_.erase(it);
    attached_.store(int(attachedIos_.size()), std::memory_order_release);
    push(false, std::move(io));
}

void AudioOutputDevice::stop() { provider_->CloseOutput(listIndex); }

void AudioOutputDevice::applyRequests() {
    request* list = pending_.exchange(nullptr, std::memory_order_acquire);
    if (!list) return;
    // The list is newest first: reverse it into the order of the requests.
    request* ordered = nullptr;
    request* last = list;
    while (list) {
        request* next = list->next;
        list->next = ordered;
        ordered = list;
        list = next;
    }
    for (request* r = ordered; r; r = r->next) {
        auto it = std::find(active_.begin(), active_.end(), r->io);
        if (r->attach) {
            if (it == active_.end()) active_.push_back(r->io);
        } else if (it != active_.end()) {
            // The request still holds the io, so nothing is freed here.
            (*it)->letGo(this);
            active_.erase(it);
        }
    }
    last->next = spent_.load(std::memory_order_relaxed);
    while (!spent_.compare_exchange_weak(last->next, ordered, std::memory_order_release, std::memory_order_relaxed)) {
    }
}

int AudioOutputDevice::Callback(void* samples, unsigned long frames, double time) {
    if (!samples) return 0;
    applyRequests();
    if (active_.empty()) {
        std::memset(samples, 0, size_t(frames) * size_t(channels) * sizeof(float));
        return 2;
    }
    // A ring that moved here is played once its old device has let go of it
    // (at that device's next callback) or has fallen silent, never by both
    // at once.
    bool add = false;
    for (auto& io : active_) {
        if (!io->claimFor(this)) continue;
        io->AudioCallback(samples, frames, time, add, channels);
        io->played(this, frames);
        add = true;
    }
    if (!add) std::memset(samples, 0, size_t(frames) * size_t(channels) * sizeof(float));
    return 0;
}

void AudioOutputDevice::StreamFinished() {
    std::fputs("op sf\r\n", stdout);
    std::fflush(stdout);
    // No callback follows until the stream is opened again: a ring moved
    // elsewhere meanwhile must not wait for one. The rings still attached
    // are taken again at the next callback.
    for (auto& io : active_) io->letGo(this);
    provider_->CloseOutput(listIndex);
    started_.store(false, std::memory_order_release);
    // A stream attached after the callback that ended the stream found the
    // device still started and did not open it: open it now.
    if (attached_.load(std::memory_order_acquire) > 0 && !started_.exchange(true, std::memory_order_acq_rel))
        provider_->OpenOutput(listIndex, this);
}
