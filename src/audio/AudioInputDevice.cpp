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
    if (started_.load(std::memory_order_acquire) && heard_.failed(audioClock::now())) {
        // No finish will be reported: the stream is closed here, and opened
        // again below as after any stop.
        spdlog::error("audio input {} ({}) stopped delivering: closed as failed", listIndex, name);
        provider_->CloseInput(listIndex);
        started_.store(false, std::memory_order_release);
    }
    if (!started_.exchange(true, std::memory_order_acq_rel)) {
        // The old stream has finished, or failed and is being closed: a late
        // callback of it writes the ring kept here, and readers still
        // holding it keep it alive as well.
        retired_ = ring_;
        ring_ = buff<float>(ringSize, 0.0f);
        heard_.forget();
        peak_.store(0.0f, std::memory_order_relaxed); // nothing captured yet
        callbackRing_.store(ring_.data, std::memory_order_release);
        provider_->OpenInput(listIndex, this);
    }
    if (stamp) *stamp = ringStamp.load(std::memory_order_acquire);
    return ring_;
}

void AudioInputDevice::start() { provider_->OpenInput(listIndex, this); }

void AudioInputDevice::stop() { provider_->CloseInput(listIndex); }

uint16_t AudioInputDevice::copyToCircular(const float* source, size_t count, float* ring, uint16_t position) {
    for (size_t i = 0; i < count; ++i) {
        const float v = source[i];
        ring[position] = std::isfinite(v) ? v : 0.0f;
        position = uint16_t(position + 1);
    }
    return position;
}

int AudioInputDevice::Callback(const void* samples, unsigned long frames, double) {
    float* ring = callbackRing_.load(std::memory_order_acquire);
    const int64_t now = audioClock::now();
    if (samples && ring) {
        readsDone_.load(std::memory_order_acquire);
        const float* in = static_cast<const float*>(samples);
        writePos_ = copyToCircular(in, frames, ring, writePos_);
        float peak = 0.0f;
        for (unsigned long i = 0; i < frames; ++i)
            if (std::isfinite(in[i])) peak = std::max(peak, std::fabs(in[i]));
        peak_.store(peak, std::memory_order_relaxed);
        heard_.heard(now, frames, rate);
    }
    ringStamp.store(audioClock::stamp(now, writePos_), std::memory_order_release);
    return users.load(std::memory_order_acquire) == 0 ? 2 : 0;
}

void AudioInputDevice::StreamFinished() {
    provider_->CloseInput(listIndex);
    started_.store(false, std::memory_order_release);
    std::fputs("sf\r\n", stdout);
    std::fflush(stdout);
}
