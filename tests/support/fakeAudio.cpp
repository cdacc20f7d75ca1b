#include "support/fakeAudio.h"

#include "audio/audioClock.h"

#include <algorithm>
#include <stdexcept>

namespace {

FakeAudio* card = nullptr;

int64_t simulatedNow() { return card->now(); }

// What an output keeps of what it played: the last 10 s of stereo.
constexpr size_t keptFloats = 10 * 48000 * 2;

} // namespace

FakeAudio& FakeAudio::install() {
    static std::once_flag once;
    std::call_once(once, [] {
        auto* c = new FakeAudio(); // lives as long as the process, as the real back-end
        if (!AudioProvider::install(c)) throw std::logic_error("FakeAudio: a sound back-end exists already");
        card = c;
        audioClock::use(&simulatedNow);
    });
    if (!card) throw std::logic_error("FakeAudio: not installed");
    return *card;
}

FakeAudio::FakeAudio() {
    addNoneEntries();
    auto addOutput = [&](const char* name, int channels) {
        auto r = std::make_unique<AudioOutputChannel>();
        r->index = outputs.size();
        r->name = name;
        r->device = int(outputs.size());
        r->channels = channels;
        outputs.push_back(std::move(r));
    };
    auto addInput = [&](const char* name, int rate) {
        auto r = std::make_unique<AudioInputChannel>();
        r->index = inputs.size();
        r->name = name;
        r->device = int(inputs.size());
        r->rate = rate;
        r->channels = 1;
        inputs.push_back(std::move(r));
    };
    addOutput("Fake stereo", 2);
    addOutput("Fake mono", 1);
    addInput("Fake mic 48000", 48000);
    addInput("Fake mic 44100", 44100);
    defaultOutput = stereoOut;
    defaultInput = mic48000;
    for (size_t i = 1; i < outputs.size(); ++i) {
        stream s;
        s.output = true;
        s.index = int(i);
        s.channels = outputs[i]->channels;
        s.buffer.resize(framesPerBuffer * size_t(s.channels));
        streams_.push_back(std::move(s));
    }
    for (size_t i = 1; i < inputs.size(); ++i) {
        stream s;
        s.output = false;
        s.index = int(i);
        s.rate = inputs[i]->rate;
        s.buffer.resize(framesPerBuffer);
        streams_.push_back(std::move(s));
    }
}

FakeAudio::stream* FakeAudio::find(bool isOutput, int index) {
    for (auto& s : streams_)
        if (s.output == isOutput && s.index == index) return &s;
    return nullptr;
}

template <class F>
auto FakeAudio::read(bool isOutput, int index, F field) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    stream* s = find(isOutput, index);
    return s ? field(*s) : decltype(field(*s)){};
}

double FakeAudio::period(const stream& s) const {
    return double(framesPerBuffer) * 1e9 / (double(s.rate) * (1.0 + s.ppm * 1e-6));
}

void FakeAudio::advance(std::chrono::nanoseconds d) { advanceTo(now() + d.count()); }

void FakeAudio::advanceTo(int64_t t) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    for (;;) {
        stream* due = nullptr;
        for (auto& s : streams_)
            if (s.open && !s.stalled && s.nextNs <= double(t) && (!due || s.nextNs < due->nextNs)) due = &s;
        if (!due) break;
        const int64_t at = int64_t(due->nextNs);
        if (at > now()) now_.store(at, std::memory_order_release);
        runCallback(*due);
    }
    if (t > now()) now_.store(t, std::memory_order_release);
}

void FakeAudio::runCallback(stream& s) {
    const double time = double(int64_t(s.nextNs) - s.openedNs) * 1e-9;
    s.lastNs = int64_t(s.nextNs);
    ++s.count;
    ++s.callbacks;
    s.nextNs += period(s);
    int result = 0;
    if (s.output) {
        auto* owner = outputs[size_t(s.index)]->owner.load(std::memory_order_acquire);
        std::fill(s.buffer.begin(), s.buffer.end(), 0.0f);
        result = owner ? owner->Callback(s.buffer.data(), framesPerBuffer, time) : 2;
        s.played.insert(s.played.end(), s.buffer.begin(), s.buffer.end());
        if (s.played.size() > 2 * keptFloats) s.played.erase(s.played.begin(), s.played.end() - keptFloats);
    } else {
        auto* owner = inputs[size_t(s.index)]->owner.load(std::memory_order_acquire);
        for (auto& v : s.buffer) v = s.signal ? s.signal(s.micSample++) : 0.0f;
        result = owner ? owner->Callback(s.buffer.data(), framesPerBuffer, time) : 2;
    }
    if (result == 0) return;
    // The stream ends as PortAudio's does: no further callback, then the
    // owner hears that it finished.
    s.open = false;
    if (s.output) {
        if (auto* owner = outputs[size_t(s.index)]->owner.load(std::memory_order_acquire)) owner->StreamFinished();
    } else if (auto* owner = inputs[size_t(s.index)]->owner.load(std::memory_order_acquire)) {
        owner->StreamFinished();
    }
}

void FakeAudio::open(stream& s) {
    if (closed_) return;
    s.open = true;
    s.stalled = false;
    s.openedNs = now();
    s.nextNs = double(s.openedNs);
    s.count = 0;
    ++s.opens;
}

void FakeAudio::OpenOutput(int index, AudioProducer* producer) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    if (stream* s = find(true, index)) {
        outputs[size_t(index)]->owner.store(producer, std::memory_order_release);
        open(*s);
    }
}

void FakeAudio::OpenInput(int index, AudioConsumer* consumer) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    if (stream* s = find(false, index)) {
        inputs[size_t(index)]->owner.store(consumer, std::memory_order_release);
        open(*s);
    }
}

void FakeAudio::CloseOutput(int index) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    if (stream* s = find(true, index)) {
        if (s->open || s->count > 0) ++s->closes;
        s->open = false;
        s->count = 0;
    }
}

void FakeAudio::CloseInput(int index) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    if (stream* s = find(false, index)) {
        if (s->open || s->count > 0) ++s->closes;
        s->open = false;
        s->count = 0;
    }
}

void FakeAudio::Close() {
    stopPacing();
    std::lock_guard<std::recursive_mutex> lock(m_);
    closed_ = true;
    for (auto& s : streams_) s.open = false;
}

void FakeAudio::closeAll() {
    std::lock_guard<std::recursive_mutex> lock(m_);
    for (auto& s : streams_) {
        s.open = false;
        s.count = 0;
    }
}

void FakeAudio::setPpm(bool isOutput, int index, double ppm) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    if (stream* s = find(isOutput, index)) s->ppm = ppm;
}

void FakeAudio::setMicrophone(int index, std::function<float(int64_t)> signal) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    if (stream* s = find(false, index)) s->signal = std::move(signal);
}

std::vector<float> FakeAudio::played(int index) {
    return read(true, index, [](stream& s) { return s.played; });
}

void FakeAudio::clearPlayed(int index) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    if (stream* s = find(true, index)) s->played.clear();
}

int FakeAudio::opens(bool isOutput, int index) {
    return read(isOutput, index, [](stream& s) { return s.opens; });
}
int FakeAudio::closes(bool isOutput, int index) {
    return read(isOutput, index, [](stream& s) { return s.closes; });
}
long FakeAudio::callbacks(bool isOutput, int index) {
    return read(isOutput, index, [](stream& s) { return s.callbacks; });
}
void FakeAudio::stall(bool isOutput, int index, bool stalled) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    if (stream* s = find(isOutput, index)) {
        s->stalled = stalled;
        s->nextNs = std::max(s->nextNs, double(now())); // no burst of the callbacks missed
    }
}

bool FakeAudio::isOpen(bool isOutput, int index) {
    return read(isOutput, index, [](stream& s) { return s.open; });
}
int64_t FakeAudio::lastCallbackAt(bool isOutput, int index) {
    return read(isOutput, index, [](stream& s) { return s.lastNs; });
}

void FakeAudio::startPacing(double speed) {
    if (pacing_.exchange(true)) return;
    pacer_ = std::thread([this, speed] {
        const auto realStart = std::chrono::steady_clock::now();
        const int64_t simStart = now();
        while (pacing_.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const auto real = std::chrono::steady_clock::now() - realStart;
            advanceTo(simStart + int64_t(double(std::chrono::nanoseconds(real).count()) * speed));
        }
    });
}

void FakeAudio::stopPacing() {
    if (!pacing_.exchange(false)) return;
    if (pacer_.joinable()) pacer_.join();
}
