#include "audio/AudioInputDevice.h"

#include "audio/audioClock.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

AudioInputDevice::AudioInputDevice(std::string name, int listIndex, int rate)
    : name(std::move(name)), listIndex(listIndex), rate(rate), provider_(AudioProvider::getInstance()) {}

buff<float> AudioInputDevice::getBuffer(unsigned int* stamp) {
    std::lock_guard<std::mutex> lock(readers_);
    capture* c = live_.load(std::memory_order_relaxed);
    if (c && c->heard.failed(audioClock::now()) &&
        life_.end(c->generation.load(std::memory_order_relaxed), streamLife::phase::failed)) {
        // No finish will be reported: the stream is closed here, and opened
        // again below as after any stop. Should it wake, its capture keeps
        // it from writing.
        spdlog::error("audio input {} ({}) stopped delivering: closed as failed", listIndex, name);
        provider_->CloseInput(listIndex);
    }
    openLocked();
    c = live_.load(std::memory_order_relaxed);
    if (stamp) *stamp = c->stamp.load(std::memory_order_acquire);
    return c->ring;
}

void AudioInputDevice::openLocked() {
    const uint32_t g = life_.open();
    if (g == 0) return; // one is open
    capture& c = spareLocked();
    c.ring = buff<float>(ringSize, 0.0f);
    c.generation.store(g, std::memory_order_release);
    c.samples.store(c.ring.data, std::memory_order_release);
    c.writePos.store(0, std::memory_order_release);
    c.stamp.store(0, std::memory_order_release);
    c.peak.store(0.0f, std::memory_order_relaxed); // nothing captured yet
    c.heard.forget();
    c.done.store(false, std::memory_order_relaxed);
    live_.store(&c, std::memory_order_release);
    provider_->OpenInput(listIndex, &c);
}

AudioInputDevice::capture& AudioInputDevice::spareLocked() {
    for (auto& c : captures_)
        if (c->done.load(std::memory_order_acquire)) return *c;
    captures_.push_back(std::make_unique<capture>(*this));
    return *captures_.back();
}

bool AudioInputDevice::overdue(int64_t now) const {
    const capture* c = live_.load(std::memory_order_acquire);
    return c && c->heard.silentFor(now, 1);
}

bool AudioInputDevice::delivering() const {
    const capture* c = live_.load(std::memory_order_acquire);
    return c && c->heard.heardOnce();
}

float AudioInputDevice::getPeak() const {
    const capture* c = live_.load(std::memory_order_acquire);
    return c ? c->peak.load(std::memory_order_relaxed) : 0.0f;
}

uint32_t AudioInputDevice::ringStamp() const {
    const capture* c = live_.load(std::memory_order_acquire);
    return c ? c->stamp.load(std::memory_order_acquire) : 0;
}

void AudioInputDevice::start() {
    std::lock_guard<std::mutex> lock(readers_);
    openLocked();
}

void AudioInputDevice::stop() {
    std::lock_guard<std::mutex> lock(readers_);
    const capture* c = live_.load(std::memory_order_relaxed);
    if (c && life_.end(c->generation.load(std::memory_order_relaxed), streamLife::phase::closed))
        provider_->CloseInput(listIndex);
}

uint16_t AudioInputDevice::copyToCircular(const float* source, size_t count, float* ring, uint16_t position) {
    for (size_t i = 0; i < count; ++i) {
        const float v = source[i];
        ring[position] = std::isfinite(v) ? v : 0.0f;
        position = uint16_t(position + 1);
    }
    return position;
}

int AudioInputDevice::deliver(capture& c, const void* samples, unsigned long frames) {
    // A stream the device has ended, woken from a stall: not its writer any
    // more. It stops here, and its end reaches only its own capture.
    if (!life_.current(c.generation.load(std::memory_order_acquire))) return 2;
    const int64_t now = audioClock::now();
    float* ring = c.samples.load(std::memory_order_acquire);
    uint16_t at = c.writePos.load(std::memory_order_relaxed);
    if (samples && ring) {
        readsDone_.load(std::memory_order_acquire);
        const float* in = static_cast<const float*>(samples);
        at = copyToCircular(in, frames, ring, at);
        c.writePos.store(at, std::memory_order_relaxed);
        float peak = 0.0f;
        for (unsigned long i = 0; i < frames; ++i)
            if (std::isfinite(in[i])) peak = std::max(peak, std::fabs(in[i]));
        c.peak.store(peak, std::memory_order_relaxed);
        c.heard.heard(now, frames, rate);
    }
    c.stamp.store(audioClock::stamp(now, at), std::memory_order_release);
    return users.load(std::memory_order_acquire) == 0 ? 2 : 0;
}

int AudioInputDevice::Callback(const void* samples, unsigned long frames, double) {
    if (capture* c = live_.load(std::memory_order_acquire)) return deliver(*c, samples, frames);
    return users.load(std::memory_order_acquire) == 0 ? 2 : 0;
}

void AudioInputDevice::finished(capture& c) {
    c.heard.forget(); // ended, not stalled
    // No close is asked for here: one posted now could come after the open
    // that a reader makes as soon as the device is closed, and close that
    // stream instead. The back-end closes a stream that ended by itself.
    if (life_.end(c.generation.load(std::memory_order_acquire), streamLife::phase::closed)) {
        std::fputs("sf\r\n", stdout);
        std::fflush(stdout);
    }
    // Ended, or woken after it failed and ended: it calls back no more.
    c.done.store(true, std::memory_order_release);
}

void AudioInputDevice::StreamFinished() {
    if (capture* c = live_.load(std::memory_order_acquire)) finished(*c);
}
