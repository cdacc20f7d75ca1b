#pragma once
// The sound-card back-end over PortAudio.
//
// Every PortAudio call that opens, starts, aborts, closes or terminates runs
// on one worker thread that the back-end owns, fed by a job queue: callers
// post and return at once, and PortAudio, which is not thread-safe, sees one
// thread. Enumeration runs once, on the thread that makes the back-end, after
// the worker has initialised PortAudio and before any job can be posted.
//
// Stream callbacks arrive on PortAudio's threads and are handed to the
// channel record's owner; they read only that atomic pointer and take no lock.
//
// A stream that stopped calling back without ending (its JACK server went
// away) cannot be stopped: PortAudio's stop waits for a callback for good.
// Such a stream is left open when it is closed, and PortAudio is then not
// terminated at the shut-down, which would stop it; both are logged.
#include "audio/AudioProvider.h"

#include <concurrentqueue/blockingconcurrentqueue.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

struct PaStreamCallbackTimeInfo;

class PortAudioAudioProvider : public AudioProvider {
public:
    /// The longest the start waits for PortAudio to initialise.
    static constexpr std::chrono::seconds startLimit{5};

    /// Starts the worker, waits until PortAudio is initialised and lists the
    /// devices. PortAudio's start asks the sound servers, and a JACK server
    /// that is stopped or starved never answers: after startLimit the lists
    /// hold "None" only, which is logged.
    PortAudioAudioProvider();
    /// Shuts down as Close() does.
    ~PortAudioAudioProvider() override;

    /// Prints "ap close", lets the worker run what is queued, close every
    /// stream and terminate PortAudio, joins it and prints "ap closed". A
    /// later call returns at once; jobs posted afterwards are dropped. A
    /// worker still inside PortAudio's start after startLimit is left
    /// behind; it runs the close should that start ever end. With a stream
    /// left open, PortAudio is not terminated and "pa termed" not printed.
    void Close() override;
    void OpenOutput(int index, AudioProducer* producer) override;
    void OpenInput(int index, AudioConsumer* consumer) override;
    void CloseInput(int index) override;
    void CloseOutput(int index) override;
    int defaultAudioInputDevice() override { return defaultInput; }
    int defaultAudioOutputDevice() override { return defaultOutput; }

    /// True once the worker has terminated PortAudio.
    bool terminated() const { return terminated_.load(std::memory_order_acquire) != 0; }

private:
    using job = std::function<void()>;

    void post(job j);
    /// Whether PortAudio is initialised, waiting for at most startLimit.
    bool awaitStart() const;
    /// Detaches a worker that PortAudio's start still holds after
    /// startLimit, so that Close does not join it. Before the close job.
    void leaveAStuckWorker();
    void enumerate();
    void paWorkerLoop();
    void paOpenOutput(AudioOutputChannel* record);
    void paOpenInput(AudioInputChannel* record);
    void paCloseOutputStream(int index);
    void paCloseInputStream(int index);

    static int paOutputCallback(const void* input, void* output, unsigned long frames,
                                const PaStreamCallbackTimeInfo* time, unsigned long flags, void* record);
    static int paInputCallback(const void* input, void* output, unsigned long frames,
                               const PaStreamCallbackTimeInfo* time, unsigned long flags, void* record);
    static void PaStreamOutputFinishedCallback(void* record);
    static void PaStreamInputFinishedCallback(void* record);

    std::thread worker_;
    /// Cleared by the close job; the worker's own (every job runs on it).
    bool running_ = true;
    /// Streams that stopped calling back and were left open; the worker's.
    int leftOpen_ = 0;
    std::atomic<uint8_t> terminated_{0};
    /// Set by the worker once Pa_Initialize has returned.
    std::atomic<bool> initialised_{false};
    /// Set by the first Close(); later calls and posts see it and return.
    std::atomic<bool> closing_{false};
    // Orders post() against Close(): a job is queued either before the
    // worker's last job, and runs, or not at all. One queued after it would
    // never run and keep its exit hold for ever.
    std::mutex postMutex_;
    moodycamel::BlockingConcurrentQueue<job> jobs_{192};
};
