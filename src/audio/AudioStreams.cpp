#include "audio/AudioStreams.h"

#include "audio/AudioProvider.h"

#include <spdlog/spdlog.h>

AudioInputStream::AudioInputStream(int id) : id_(id) {}

void AudioInputStream::setStreamId(int id) {
    spdlog::info("set inp stream id {} {}", id, static_cast<void*>(this));
    auto* provider = AudioProvider::getInstance();
    if (id < 0 || size_t(id) >= provider->inputs.size()) {
        spdlog::error("Invalid audio stream id {}", id);
        return;
    }
    if (id == id_) return;
    id_ = id;
}

void AudioInputStream::read(buff<float> out) {
    for (auto& s : out) s = 0.0f;
}

float AudioInputStream::getPeak() const { return 0.0f; }

void AudioOutputStream::setStreamId(int id) {
    spdlog::info("set op stream id {} {}", id, static_cast<void*>(this));
    auto* provider = AudioProvider::getInstance();
    if (id < 0 || size_t(id) >= provider->outputs.size()) {
        spdlog::error("Invalid op audio stream id {}", id);
        return;
    }
    if (id == id_) return;
    id_ = id;
}

void AudioOutputStream::write(buff<float> audio, bool useResampler, bool stereo, float balance) {
    if (id_ < 1) return; // no device attached
}
