#include "audio/AudioStreams.h"

#include "audio/AudioProvider.h"
#include "audio/Wireless.h"
#include "audio/audioClock.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>

AudioInputStream::AudioInputStream(int id) { setStreamId(id); }

AudioInputStream::~AudioInputStream() {
    if (device_ && id_ >= 1) device_->unregisterStream();
}

void AudioInputStream::setStreamId(int id) {
    spdlog::info("set inp stream id {} {}", id, id_);
    auto* provider = AudioProvider::getInstance();
    if (id < 0 || size_t(id) >= provider->inputs.size()) {
        spdlog::error("Invalid audio stream id {}", id);
        return;
    }
    if (id == id_) return;
    std::shared_ptr<AudioInputDevice> next;
    if (id >= 1) {
        auto* root = Wireless::getInstance();
        next = root ? root->inputDevice(id) : nullptr;
        if (!next) {
            spdlog::error("audio stream id {}: no root object with that device", id);
            return;
        }
    }
    if (id_ >= 1 && device_) device_->unregisterStream();
    id_ = id;
    if (next) {
        device_ = std::move(next);
        lastRead_ = 0; // another writer: start over behind it
        device_->registerStream();
        unsigned int stamp = 0;
        device_->getBuffer(&stamp); // opens the device when it is closed
    }
}

void AudioInputStream::read(buff<float> out) {
    if (id_ == 0 || !device_ || device_->rate <= 0) {
        std::fill(out.begin(), out.end(), 0.0f);
        return;
    }
    unsigned int stamp = 0;
    buff<float> ring = device_->getBuffer(&stamp);
    if (ring.count != AudioInputDevice::ringSize) {
        std::fill(out.begin(), out.end(), 0.0f);
        return;
    }
    const int64_t now = audioClock::now();
    if (!device_->delivering()) {
        // Opening (at first, or again after a stop or a failure): nothing
        // to read, and no writer to keep behind. The first read once it
        // delivers starts over behind it, and reads meanwhile do not count
        // as running dry.
        std::fill(out.begin(), out.end(), 0.0f);
        lastRead_ = 0;
        return;
    }
    const uint16_t w = uint16_t(stamp);
    const bool steady = now - lastRead_ <= resyncAfterNs;
    const int d = int16_t(uint16_t(int(resampler_.readPosition()) - w)); // negative: behind the writer
    const int available = -d;
    const int n = int(std::min<size_t>(out.count, 1u << 20));
    // Input the block consumes at the device's rate, plus the sample after
    // the last position that the interpolation also reads: the slot the
    // writer fills next must never be read.
    const int needed = int(std::ceil(double(n) * double(device_->rate) / 48000.0)) + 2;
    const bool inStep = steady && d >= -16384 && available >= needed;
    if (!inStep && device_->overdue(now)) {
        // Out of step because the writer is late (a reader running dry while
        // in step does not run fast): the newest samples are old, and going
        // behind them would play them, or play them again. Silence until it
        // delivers, or the device counts it as failed; a steady reader keeps
        // its place.
        std::fill(out.begin(), out.end(), 0.0f);
        if (steady) lastRead_ = now;
        gaps_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    if (!inStep) {
        // Ran dry while reading steadily: keep further behind from now on.
        if (steady && available < needed) margin_ = std::max(margin_ * 3 / 2, widestMargin);
        resampler_.setReadPosition(double(uint16_t(margin_ + w)));
        resyncs_.fetch_add(1, std::memory_order_relaxed);
    }
    resampler_.interpolateVarIn(ring, out, 48000.0 / double(device_->rate));
    device_->readDone();
    lastRead_ = now;
}

float AudioInputStream::getPeak() const { return id_ >= 1 && device_ ? device_->getPeak() : 0.0f; }

AudioOutputStream::AudioOutputStream(int id) { setStreamId(id); }

void AudioOutputStream::setStreamId(int id) {
    spdlog::info("set op stream id {} {}", id, id_);
    auto* provider = AudioProvider::getInstance();
    if (id < 0 || size_t(id) >= provider->outputs.size()) {
        spdlog::error("Invalid op audio stream id {}", id);
        return;
    }
    if (id == id_) return;
    std::shared_ptr<AudioOutputDevice> next;
    if (id >= 1) {
        auto* root = Wireless::getInstance();
        next = root ? root->outputDevice(id) : nullptr;
        if (!next) {
            spdlog::error("op audio stream id {}: no root object with that device", id);
            return;
        }
    }
    if (device_) device_->unregisterStream(io);
    device_ = std::move(next);
    id_ = id;
    if (device_) {
        io->channels = device_->channels;
        device_->registerStream(io);
    }
}

void AudioOutputStream::write(buff<float> audio, bool useResampler, bool stereo, float balance) {
    if (id_ < 1) return; // no device attached
    io->write(audio, useResampler, stereo, balance);
}

void AudioOutputStream::genVolume(float volume) {
    if (!std::isfinite(volume)) {
        spdlog::error("sidetone volume {} refused", volume);
        return;
    }
    io->toneVolume.store(volume, std::memory_order_relaxed);
}
