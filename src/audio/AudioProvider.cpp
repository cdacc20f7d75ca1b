#include "audio/AudioProvider.h"

#include <spdlog/spdlog.h>

#include <cstdio>

AudioProvider* AudioProvider::getInstance() {
    // Built once, thread-safely, and never destroyed: sound-card threads may
    // still call into it while the process ends.
    static AudioProvider* instance = new NullAudioProvider();
    return instance;
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

NullAudioProvider::NullAudioProvider() { addNoneEntries(); }

void NullAudioProvider::Close() {
    std::fputs("ap close\r\n", stdout);
    std::fputs("ap closed\r\n", stdout);
    std::fflush(stdout);
}

void NullAudioProvider::OpenOutput(int index, AudioProducer* producer) {
    spdlog::info("pa_start op {}", -1);
}

void NullAudioProvider::OpenInput(int index, AudioConsumer* consumer) {
    spdlog::info("pa_start inp {}", -1);
}
