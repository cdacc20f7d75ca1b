#include "audio/PortAudioAudioProvider.h"

#include "audio/audioClock.h"
#include "audio/jackMessages.h"
#include "audio/jackServer.h"
#include "framework/exitGate.h"

#include <alsa/asoundlib.h>
#include <pa_jack.h>
#include <portaudio.h>
#include <spdlog/spdlog.h>

#include <cstdio>
#include <cstring>
#include <exception>

namespace {

void trace(const char* line) {
    std::fputs(line, stdout);
    std::fflush(stdout);
}

PaStreamParameters parameters(int device, int channels, bool input) {
    PaStreamParameters p{};
    p.device = device;
    p.channelCount = channels;
    p.sampleFormat = paFloat32;
    const PaDeviceInfo* info = device >= 0 ? Pa_GetDeviceInfo(device) : nullptr;
    p.suggestedLatency = info ? (input ? info->defaultLowInputLatency : info->defaultLowOutputLatency) : 0.0;
    p.hostApiSpecificStreamInfo = nullptr;
    return p;
}

// ALSA prints every configuration it cannot resolve to standard error while
// PortAudio probes it (dozens of lines on a machine without a sound card).
// What matters reaches the log through PortAudio's own results.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

} // namespace

PortAudioAudioProvider::PortAudioAudioProvider() {
    worker_.start([this] { paWorkerLoop(); });
    addNoneEntries();
    // Enumeration may start only after Pa_Initialize, which the worker runs.
    // Its host goes on without sound devices rather than hang on a sound
    // server that does not answer.
    if (awaitStart())
        enumerate();
    else
        spdlog::error("PortAudio did not start within {} s: no sound devices", startLimit.count());
    // Before any job: the worker takes them over with the first.
    openOutputs_.resize(outputs.size());
    openInputs_.resize(inputs.size());
}

bool PortAudioAudioProvider::awaitStart() const {
    const auto end = std::chrono::steady_clock::now() + startLimit;
    while (!initialised_.load(std::memory_order_acquire)) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

PortAudioAudioProvider::~PortAudioAudioProvider() { Close(); }

void PortAudioAudioProvider::enumerate() {
    const int count = Pa_GetDeviceCount();
    if (count < 0) spdlog::error("ERROR: Pa_CountDevices returned {}", count);
    spdlog::info("AudioProvider::enumerate {}", count);
    if (count < 1) return;
    const int defaultOut = Pa_GetDefaultOutputDevice();
    const int defaultIn = Pa_GetDefaultInputDevice();
    for (int i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (!info) continue;
        const std::string name = info->name ? info->name : "";
        if (info->maxOutputChannels >= 1) {
            PaStreamParameters out = parameters(i, 2, false);
            int channels = 0;
            if (Pa_IsFormatSupported(nullptr, &out, 48000) == paFormatIsSupported) {
                channels = 2;
                spdlog::info("Pa op format supported {} {}", i, name);
            } else {
                out.channelCount = 1;
                PaError mono = Pa_IsFormatSupported(nullptr, &out, 48000);
                if (mono == paFormatIsSupported) {
                    channels = 1;
                    spdlog::info("Pa op format supported - mono {} {}", i, name);
                } else {
                    spdlog::info("Pa op format not supported {} {} {}", i, name, Pa_GetErrorText(mono));
                }
            }
            if (channels) {
                auto r = std::make_unique<AudioOutputChannel>();
                r->index = outputs.size();
                r->name = name;
                r->device = i;
                r->rate = 48000;
                r->channels = channels;
                outputs.push_back(std::move(r));
                if (defaultOut == i) defaultOutput = int(outputs.size() - 1);
            }
        }
        if (info->maxInputChannels >= 1) {
            PaStreamParameters in = parameters(i, 1, true);
            int rate = 0;
            if (Pa_IsFormatSupported(&in, nullptr, 48000) == paFormatIsSupported)
                rate = 48000;
            else if (Pa_IsFormatSupported(&in, nullptr, 44100) == paFormatIsSupported)
                rate = 44100;
            if (!rate) {
                spdlog::info("Pa ip format not supported {} {}", i, name);
                continue;
            }
            auto r = std::make_unique<AudioInputChannel>();
            r->index = inputs.size();
            r->name = name;
            r->device = i;
            r->rate = rate;
            r->channels = 1;
            inputs.push_back(std::move(r));
            if (defaultIn == i) defaultInput = int(inputs.size() - 1);
            spdlog::info("Pa ip format supported {} {}", i, name);
        }
    }
}

void PortAudioAudioProvider::post(job j) { worker_.post(std::move(j)); }

void PortAudioAudioProvider::wake() { worker_.post([] {}, true); }

void PortAudioAudioProvider::paWorkerLoop() {
    snd_lib_error_set_handler(&quietAlsa);
    jackMessages::toLog();
    worker_.begin(); // the start asks the sound servers
    Pa_Initialize();
    jackApi_ = Pa_HostApiTypeIdToHostApiIndex(paJACK);
    // Beside PortAudio's own JACK client, on the server it has just met,
    // following it.
    const char* paClient = nullptr;
    if (jackApi_ >= 0 && PaJack_GetClientName(&paClient) == paNoError) jackServer::watch(paClient);
    initialised_.store(true, std::memory_order_release);
    auto run = [](const job& j) { serverWorker::run(j, "pa worker"); };
    // A job, and its exit hold, goes once what it leaves ended is closed;
    // the close's only once the shut-down is over.
    job j;
    do {
        // Once the process is exiting (PortAudio may be going with it), the
        // worker takes none, and stays until the process has gone.
        worker_.next(j);
        run(j);
        closeEnded();
    } while (running_);
    // Nothing is posted from now on but wakes; they run, so that their exit
    // holds are given back.
    for (job wake; worker_.tryNext(wake);) run(wake);
    shutDown();
    // The close's job, which held the exit through the shut-down, and the
    // wakes that came meanwhile: the shut-down ends early once the exit has
    // begun, and none of them runs.
    worker_.stopTakingJobs(j);
    worker_.finish();
}

void PortAudioAudioProvider::shutDown() {
    trace("pa close op\r\n");
    for (size_t i = 1; i < outputs.size(); ++i) {
        if (exitGate::closed()) return;
        worker_.begin();
        paCloseOutputStream(int(i));
    }
    trace("pa close ip\r\n");
    for (size_t i = 1; i < inputs.size(); ++i) {
        if (exitGate::closed()) return;
        worker_.begin();
        paCloseInputStream(int(i));
    }
    closeEnded();
    trace("pa term\r\n");
    // Held by the streams left open from here: by the server they wait for.
    worker_.begin();
    if (!awaitLeftOpen()) return; // the process is exiting: nothing more
    if (exitGate::closed()) return;
    if (const size_t leftOpen = leftOpenOutputs_.size() + leftOpenInputs_.size(); leftOpen > 0) {
        // PortAudio's termination stops every stream it still counts as
        // open, through a server that has gone or will never answer.
        spdlog::error("pa not terminated: {} stream(s) left open", leftOpen);
    } else if (serverCall(anyDevice)) {
        worker_.begin();
        Pa_Terminate();
        trace("pa termed\r\n");
        terminated_.store(1, std::memory_order_release);
        // The server answered right before; one that died while PortAudio
        // ended on it failed PortAudio's last calls, which count as done
        // (audio/jackServer.h): its client and threads are freed all the
        // same, and the library's own go now.
        if (jackServer::gone() && !exitGate::closed())
            spdlog::error("pa terminated: its JACK server went during the close");
        jackServer::close();
    } else if (!exitGate::closed()) {
        spdlog::error("pa not terminated: its JACK server has gone");
    }
}

bool PortAudioAudioProvider::awaitLeftOpen() {
    // A stream that its server let go of (it died) keeps counting as one
    // that may call back until PortAudio has marked it: twice in a row, a
    // step apart, before the worker gives up on it.
    int quiet = 0;
    while (leftOpenOutputs_.size() + leftOpenInputs_.size() > 0) {
        if (leftOpenThatMayCallBack() > 0)
            quiet = 0;
        else if (++quiet == 2)
            break;
        job j;
        if (worker_.next(j, std::chrono::milliseconds(100))) j = nullptr; // a wake: its hold goes back
        exitGate::pass pass;
        if (!pass) return false;
        closeEnded();
    }
    return true;
}

void PortAudioAudioProvider::Close() {
    // Told before the worker can take the close and print its own lines.
    // The jobs already queued run first; the close's holds the process's
    // exit through the shut-down as any job's does.
    const auto closing = worker_.close([this] { running_ = false; }, [] { trace("ap close\r\n"); });
    if (closing == serverWorker::closing::again) return;
    if (closing == serverWorker::closing::exiting)
        spdlog::error("pa worker: the process is exiting: the close does not wait for it");
    else if (closing == serverWorker::closing::held)
        // A stopped sound server holds it (or PortAudio's start still
        // does): it shuts down on its own should the server go on.
        spdlog::error("pa worker held by the sound server for over {} ms: the close does not wait for it",
                      heldAfter.count());
    trace("ap closed\r\n");
}

void PortAudioAudioProvider::OpenOutput(int index, AudioProducer* producer) {
    if (index < 0 || size_t(index) >= outputs.size()) {
        spdlog::error("OpenOutput: no output {}", index);
        return;
    }
    AudioOutputChannel* record = outputs[size_t(index)].get();
    record->owner.store(producer, std::memory_order_release);
    post([this, record, producer] { paOpenOutput(record, producer); });
}

void PortAudioAudioProvider::OpenInput(int index, AudioConsumer* consumer) {
    if (index < 0 || size_t(index) >= inputs.size()) {
        spdlog::error("OpenInput: no input {}", index);
        return;
    }
    AudioInputChannel* record = inputs[size_t(index)].get();
    record->owner.store(consumer, std::memory_order_release);
    post([this, record, consumer] { paOpenInput(record, consumer); });
}

void PortAudioAudioProvider::CloseOutput(int index) {
    if (index < 0 || size_t(index) >= outputs.size()) return;
    post([this, index] { paCloseOutputStream(index); });
}

void PortAudioAudioProvider::CloseInput(int index) {
    if (index < 0 || size_t(index) >= inputs.size()) return;
    post([this, index] { paCloseInputStream(index); });
}

void PortAudioAudioProvider::paOpenOutput(AudioOutputChannel* record, AudioProducer* producer) {
    spdlog::info("pa_start op {}", record->device);
    // A stream still open here would be lost with its handle.
    paCloseOutputStream(int(record->index));
    if (record->device < 0) return;
    PaStreamParameters out = parameters(record->device, record->channels, false);
    if (!serverCall(record->device)) {
        notMade("open", record->name, record->device);
        return;
    }
    auto bs = std::make_unique<bound<AudioProducer>>(record, producer, this);
    PaStream* stream = nullptr;
    PaError err = Pa_OpenStream(&stream, nullptr, &out, 48000, 0, 0, &paOutputCallback, bs.get());
    if (err != paNoError) {
        spdlog::error("pa_openstream output failed {} {}", record->device, Pa_GetErrorText(err));
        return;
    }
    bs->handle = stream;
    if (kept(leftOpenOutputs_, bs, "start")) return;
    err = Pa_SetStreamFinishedCallback(stream, &PaStreamOutputFinishedCallback);
    if (err != paNoError) spdlog::error("Pa_SetStreamFinishedCallback output failed {}", Pa_GetErrorText(err));
    err = Pa_StartStream(stream);
    if (err != paNoError) {
        spdlog::error("pa_startstream output failed {} {}", record->device, Pa_GetErrorText(err));
        // Opened but not started: close it, or the handle leaks.
        if (!kept(leftOpenOutputs_, bs, "close")) Pa_CloseStream(stream);
        return;
    }
    spdlog::info("pa_startstream output worked {}", record->device);
    record->stream = stream;
    openOutputs_[record->index] = std::move(bs);
}

void PortAudioAudioProvider::paOpenInput(AudioInputChannel* record, AudioConsumer* consumer) {
    spdlog::info("pa_start inp {}", record->device);
    paCloseInputStream(int(record->index));
    if (record->device < 0) return;
    PaStreamParameters in = parameters(record->device, 1, true);
    if (!serverCall(record->device)) {
        notMade("open", record->name, record->device);
        return;
    }
    auto bs = std::make_unique<bound<AudioConsumer>>(record, consumer, this);
    PaStream* stream = nullptr;
    PaError err = Pa_OpenStream(&stream, &in, nullptr, record->rate, 0, 0, &paInputCallback, bs.get());
    if (err != paNoError) {
        spdlog::error("pa_openstream input failed {} {} {}", record->name, record->device, Pa_GetErrorText(err));
        return;
    }
    bs->handle = stream;
    if (kept(leftOpenInputs_, bs, "start")) return;
    err = Pa_SetStreamFinishedCallback(stream, &PaStreamInputFinishedCallback);
    if (err != paNoError)
        spdlog::error("Pa_SetStreamFinishedCallback input failed {} {} {}", record->name, record->device,
                      Pa_GetErrorText(err));
    err = Pa_StartStream(stream);
    if (err != paNoError) {
        spdlog::error("pa_startstream input failed {} {} {}", record->name, record->device, Pa_GetErrorText(err));
        if (!kept(leftOpenInputs_, bs, "close")) Pa_CloseStream(stream);
        return;
    }
    spdlog::info("pa_startstream input started");
    record->stream = stream;
    openInputs_[record->index] = std::move(bs);
}

template <class Owner>
void PortAudioAudioProvider::closeBound(boundList<Owner>& open, boundList<Owner>& leftOpen, int index) {
    if (index < 0 || size_t(index) >= open.size() || !open[size_t(index)]) return;
    std::unique_ptr<bound<Owner>> s = std::move(open[size_t(index)]);
    s->record->stream = nullptr;
    if (!s->ended.load(std::memory_order_acquire)) {
        if (s->finishing.load(std::memory_order_acquire) || Pa_IsStreamActive(s->handle) != 1) {
            // It has stopped: by itself, and its end is told within
            // moments, or its server let go of it (the server died), and
            // no end ever comes. Such a stream must not be stopped or
            // cleaned up: that goes through the dead server, and
            // PortAudio's clean-up fails its own assertion.
            if (!awaitEnd(*s)) {
                leaveOpen(leftOpen, std::move(s));
                return;
            }
        } else if (s->heard.stalled(audioClock::now())) {
            // One that has stopped calling back (its JACK server was
            // stopped, or is going away) cannot be stopped: the stop waits
            // for a callback that may never come, and would hold the
            // worker, and every later open, close and shut-down.
            leaveOpen(leftOpen, std::move(s));
            return;
        } else {
            if (kept(leftOpen, s, "stop")) return;
            // Its end, which the stop makes, was asked for here: the owner
            // may already have opened the device again, and must not take
            // that end for the new stream's.
            s->stopping.store(true, std::memory_order_release);
            const PaError err = Pa_AbortStream(s->handle);
            if (err != paNoError) spdlog::error("pa_abortstream  failed {} ", Pa_GetErrorText(err));
            // A stop that went through the server ends the stream before it
            // returns. One that came back without that end was given up by
            // a server that died meanwhile.
            if (!awaitEnd(*s)) {
                leaveOpen(leftOpen, std::move(s));
                return;
            }
        }
    }
    if (kept(leftOpen, s, "close")) return; // the stop, if any, may have been held
    const PaError err = Pa_CloseStream(s->handle);
    if (err != paNoError) spdlog::error("pa_CloseStream  failed {} ", Pa_GetErrorText(err));
}

template <class Owner>
void PortAudioAudioProvider::leaveOpen(boundList<Owner>& leftOpen, std::unique_ptr<bound<Owner>> s) {
    spdlog::error("pa stream {} {} calls back no more: left open", s->record->name, s->record->device);
    // Its next callback, should its server go on, ends it; it is closed
    // then, as any stream that ended.
    s->retired.store(true, std::memory_order_release);
    leftOpen.push_back(std::move(s));
}

bool PortAudioAudioProvider::serverCall(int device) const {
    if (exitGate::closed()) return false;
    if (jackApi_ < 0) return true;
    if (device != anyDevice) {
        const PaDeviceInfo* info = device >= 0 ? Pa_GetDeviceInfo(device) : nullptr;
        if (!info || info->hostApi != jackApi_) return true;
    }
    // The ask waits while the server is stopped: the exit may have begun
    // meanwhile.
    return jackServer::answers() && !exitGate::closed();
}

template <class Owner>
bool PortAudioAudioProvider::mayCall(bound<Owner>& s, const char* call) const {
    if (serverCall(s.record->device)) return true;
    notMade(call, s.record->name, s.record->device);
    s.abandoned = true;
    return false;
}

void PortAudioAudioProvider::notMade(const char* call, const std::string& name, int device) {
    if (exitGate::closed()) return; // the log may be going
    spdlog::error("pa {} of {} {} not made: its JACK server has gone", call, name, device);
}

template <class Owner>
bool PortAudioAudioProvider::kept(boundList<Owner>& leftOpen, std::unique_ptr<bound<Owner>>& s, const char* call) {
    if (mayCall(*s, call)) return false;
    // For good: nothing may stop or close it. Its callbacks, refused at the
    // gate while the process ends, may still read it.
    leftOpen.push_back(std::move(s));
    return true;
}

template <class Owner>
bool PortAudioAudioProvider::mayCallBack(const bound<Owner>& s) {
    // A stream that its server let go of is no longer active, and has not
    // ended: nothing calls it back any more. Asking reads a flag; it waits
    // for nothing.
    if (s.ended.load(std::memory_order_acquire)) return false;
    return s.finishing.load(std::memory_order_acquire) || Pa_IsStreamActive(s.handle) == 1;
}

template <class Owner>
bool PortAudioAudioProvider::awaitEnd(const bound<Owner>& s) {
    // Its finish runs on PortAudio's thread as it stops, and tells the
    // owner first: moments, even on a loaded machine.
    for (int i = 0; i < 50 && !s.ended.load(std::memory_order_acquire); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return s.ended.load(std::memory_order_acquire);
}

size_t PortAudioAudioProvider::leftOpenThatMayCallBack() const {
    size_t n = 0;
    for (const auto& s : leftOpenOutputs_) n += mayCallBack(*s);
    for (const auto& s : leftOpenInputs_) n += mayCallBack(*s);
    return n;
}

void PortAudioAudioProvider::closeEnded() {
    // A close goes through the server too.
    if (exitGate::closed()) return;
    closeEnded(openOutputs_, leftOpenOutputs_);
    closeEnded(openInputs_, leftOpenInputs_);
}

template <class Owner>
void PortAudioAudioProvider::closeEnded(boundList<Owner>& open, boundList<Owner>& leftOpen) {
    for (auto& s : open) {
        if (!s || !s->ended.load(std::memory_order_acquire)) continue;
        s->record->stream = nullptr;
        if (kept(leftOpen, s, "close")) continue;
        const PaError err = Pa_CloseStream(s->handle);
        if (err != paNoError) spdlog::error("pa_CloseStream  failed {} ", Pa_GetErrorText(err));
        s.reset();
    }
    for (auto it = leftOpen.begin(); it != leftOpen.end();) {
        bound<Owner>& s = **it;
        if (!s.ended.load(std::memory_order_acquire) || s.abandoned || !mayCall(s, "close")) {
            ++it;
            continue;
        }
        // It woke and was ended at its first callback: stopped already, so
        // closing it waits for nothing.
        spdlog::info("pa stream {} {} left open has ended: closed", s.record->name, s.record->device);
        const PaError err = Pa_CloseStream(s.handle);
        if (err != paNoError) spdlog::error("pa_CloseStream  failed {} ", Pa_GetErrorText(err));
        it = leftOpen.erase(it);
    }
}

void PortAudioAudioProvider::paCloseOutputStream(int index) { closeBound(openOutputs_, leftOpenOutputs_, index); }

void PortAudioAudioProvider::paCloseInputStream(int index) { closeBound(openInputs_, leftOpenInputs_, index); }

int PortAudioAudioProvider::paOutputCallback(const void*, void* output, unsigned long frames,
                                             const PaStreamCallbackTimeInfo* time, unsigned long, void* user) {
    auto* s = static_cast<bound<AudioProducer>*>(user);
    AudioProducer* owner = s->owner.load(std::memory_order_acquire);
    const size_t floats = size_t(frames) * size_t(s->record->channels);
    exitGate::pass pass;
    if (!pass) {
        // The process is exiting: silence until it is gone.
        if (output) std::memset(output, 0, floats * sizeof(float));
        return paContinue;
    }
    // A stream the back-end has closed but left open ends here, as it
    // wakes, without reaching the owner, who may play on a newer one.
    if (!owner || s->retired.load(std::memory_order_acquire)) {
        if (output) std::memset(output, 0, floats * sizeof(float));
        return paAbort;
    }
    // Noted before the owner's own note: the stream counts as silent no
    // later than the owner counts it.
    s->heard.heard(audioClock::now(), frames, s->record->rate);
    return owner->Callback(output, frames, time ? time->outputBufferDacTime : 0.0);
}

int PortAudioAudioProvider::paInputCallback(const void* input, void*, unsigned long frames,
                                            const PaStreamCallbackTimeInfo* time, unsigned long, void* user) {
    auto* s = static_cast<bound<AudioConsumer>*>(user);
    AudioConsumer* owner = s->owner.load(std::memory_order_acquire);
    exitGate::pass pass;
    if (!pass) return paContinue; // the process is exiting
    if (!owner || s->retired.load(std::memory_order_acquire)) return paAbort;
    // Noted before the owner's own note: the stream counts as silent no
    // later than the owner counts it.
    s->heard.heard(audioClock::now(), frames, s->record->rate);
    return owner->Callback(input, frames, time ? time->inputBufferAdcTime : 0.0);
}

template <class Owner>
void PortAudioAudioProvider::streamFinished(void* user) {
    auto* s = static_cast<bound<Owner>*>(user);
    s->finishing.store(true, std::memory_order_release);
    Owner* owner = s->owner.load(std::memory_order_acquire);
    s->heard.forget(); // ended, not stalled
    const bool retired = s->retired.load(std::memory_order_acquire);
    const bool byItself = !retired && !s->stopping.load(std::memory_order_acquire);
    // An end that the back-end made (its stop, or the end of a stream it
    // left open) is not closed again, and reaches the owner only when a
    // later open of the position gave it another owner: the owner of the
    // device's current stream must not take it for that stream's end, and
    // an owner of this stream alone learns that it calls back no more.
    const bool replaced = s->record->owner.load(std::memory_order_acquire) != owner;
    PortAudioAudioProvider* provider = s->provider;
    if (byItself || replaced) {
        exitGate::pass pass;
        if (pass && owner) owner->StreamFinished();
    }
    // Last: from now on the worker may close the stream and free this.
    s->ended.store(true, std::memory_order_release);
    if (byItself)
        provider->post([provider] { provider->closeEnded(); });
    else if (retired)
        provider->wake(); // also while the shut-down waits for it
}

void PortAudioAudioProvider::PaStreamOutputFinishedCallback(void* user) { streamFinished<AudioProducer>(user); }

void PortAudioAudioProvider::PaStreamInputFinishedCallback(void* user) { streamFinished<AudioConsumer>(user); }
