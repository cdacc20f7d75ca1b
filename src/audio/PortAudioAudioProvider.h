#pragma once
// The sound-card back-end over PortAudio.
//
// Every PortAudio call that opens, starts, aborts, closes or terminates runs
// on one worker thread that the back-end owns, fed by a job queue: callers
// post and return at once, and PortAudio, which is not thread-safe, sees one
// thread. Enumeration runs once, on the thread that makes the back-end, after
// the worker has initialised PortAudio and before any job can be posted.
//
// Jobs run in the order they were posted, from whichever threads: an open
// asked for after a close never runs before it.
//
// Stream callbacks arrive on PortAudio's threads with the stream's own
// record (a bound stream) as user data, and are handed to the endpoint given
// to the open that made that stream, never to one given to a later open of
// the position; they take no lock.
//
// A stream that ends by itself (its endpoint returned 2) is closed by the
// back-end, on the worker, soon after.
//
// A sound server that is stopped answers nothing: PortAudio's calls on its
// streams (a stop waits for a callback, an open registers ports) wait for as
// long as it is stopped, and a server that dies fails PortAudio's own
// assertions (the process aborts) in any call that then goes through it: an
// open, a close, the termination. So:
//  - Every PortAudio call of the worker that goes through a server (an
//    open, a start, a stop, a close, the termination) follows one rule
//    (serverCall): it is made only while the process is not exiting and, on
//    a JACK device, while the JACK server answered a request of the
//    library's own right before (audio/jackServer.h), whatever job the
//    worker is in. An open refused is logged, and its device stays silent;
//    a stream on which a call was refused is logged and kept for good among
//    those left open, never stopped or closed. The server may still die
//    while a call is on its way (PortAudio's opens and closes each wait a
//    cycle or two of the server, and its termination too): the clean-up
//    that then ends the call finds the stream's ports gone with the server,
//    and the termination its client, and the library, which PortAudio's
//    calls that it asserts pass through, counts them as done. A termination
//    that met the server's death says so in one line.
//  - A stream that has not called back for a few of its buffers (stalled),
//    or that its server has let go of (it died), is not stopped when it is
//    closed: it is left open, logged, and its next callback, should its
//    server go on, ends it without reaching its endpoint; it is then closed
//    as any stream that ended. A stream whose stop came back without its end
//    (its server died during the stop) is left open the same way. A stream
//    of a server that died is never stopped or cleaned up through it.
//  - The close never waits on the worker for longer than heldAfter once the
//    worker is inside one piece of work: the worker, held by a stopped
//    server, is left to finish the shut-down on its own when the server goes
//    on (or to stay where it is, if it never does), logged.
//  - The shut-down waits, on the worker, for the streams left open that may
//    still call back, closes them as they end, and terminates PortAudio only
//    when none is left and the rule allows it.
//  - The process's exit waits for the worker's jobs (serverWorker), and for
//    a shut-down that a close left to it, under the same bound as the close:
//    once the worker has been held inside one piece of work for more than
//    heldAfter, the exit leaves it, logged. Once the exit has begun the
//    worker makes no PortAudio call any more: it looks before each job and
//    after each call that a server may hold, and stops, dropping the job it
//    took and what is queued (the exit waits for none of them), to stay
//    idle until the process has gone. A server that goes on or dies while
//    the process ends then finds it doing nothing with what is going. A
//    close does not wait for the worker once the exit has begun.
#include "audio/AudioProvider.h"
#include "audio/callbackWatch.h"
#include "audio/serverWorker.h"
#include "framework/exitGate.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct PaStreamCallbackTimeInfo;

class PortAudioAudioProvider : public AudioProvider {
public:
    /// The longest the start waits for PortAudio to initialise.
    static constexpr std::chrono::seconds startLimit{5};
    /// How long the close waits on a worker inside one piece of work (a
    /// call that a stopped sound server holds) before it leaves the worker
    /// to finish the shut-down on its own.
    static constexpr std::chrono::milliseconds heldAfter = serverWorker::heldAfter;

    /// Starts the worker, waits until PortAudio is initialised and lists the
    /// devices. PortAudio's start asks the sound servers, and a JACK server
    /// that is stopped or starved never answers: after startLimit the lists
    /// hold "None" only, which is logged.
    PortAudioAudioProvider();
    /// Shuts down as Close() does. The process-wide back-end is never
    /// destroyed: a worker that Close or the exit left behind still uses it.
    ~PortAudioAudioProvider() override;

    /// Prints "ap close", lets the worker run what is queued, close every
    /// stream and terminate PortAudio, joins it and prints "ap closed". A
    /// worker held inside one piece of work for more than heldAfter (by a
    /// stopped sound server, or still inside PortAudio's start) is left
    /// behind, logged: it finishes the shut-down on its own should the
    /// server go on, unless the process is exiting by then. A later call
    /// returns at once; jobs posted afterwards are dropped. With a stream
    /// left open for good, or a JACK server that has gone, PortAudio is not
    /// terminated and "pa termed" not printed. Once the process's exit has
    /// begun it does not wait for the worker. Any thread; blocks for at most
    /// about heldAfter while the worker is held.
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

    /// One stream PortAudio opened, from its open to its close: its
    /// callbacks' user data. The worker's, but for the atomics, which its
    /// callbacks write.
    template <class Owner>
    struct bound {
        bound(AudioChannel<Owner>* record, Owner* owner, PortAudioAudioProvider* provider)
            : record(record), provider(provider) {
            // Last, with release: the callbacks take it first (acquire), and
            // with it the rest of the record as the worker made it.
            this->owner.store(owner, std::memory_order_release);
        }
        AudioChannel<Owner>* const record;
        PortAudioAudioProvider* const provider;
        std::atomic<Owner*> owner{nullptr}; // given to the open that made it
        void* handle = nullptr;
        callbackWatch heard; // its callbacks
        /// Set while the back-end stops it on its owner's request: the end
        /// that the stop makes is the back-end's.
        std::atomic<bool> stopping{false};
        /// Set when it was closed but left open (it could not be stopped):
        /// its next callback, if any, ends it, and that end is the
        /// back-end's.
        std::atomic<bool> retired{false};
        /// Set first by its finish: it has stopped, and its end is being
        /// told.
        std::atomic<bool> finishing{false};
        /// It finished: it calls back no more, and closing it waits for
        /// nothing. Set last by its finish; the worker may free it then.
        std::atomic<bool> ended{false};
        /// Its server has gone (or the process is exiting): it is never
        /// closed. The worker's.
        bool abandoned = false;
    };
    template <class Owner>
    using boundList = std::vector<std::unique_ptr<bound<Owner>>>;

    void post(job j);
    /// Has the worker look at the streams left open at once, also while it
    /// waits for them at the shut-down. Any thread.
    void wake();
    /// Whether PortAudio is initialised, waiting for at most startLimit.
    bool awaitStart() const;
    void enumerate();
    void paWorkerLoop();
    /// The worker's last part but for dropping what is left: closes every
    /// stream, waits for those left open that may still call back, and
    /// terminates PortAudio. Returns early once the process's exit has
    /// begun.
    void shutDown();
    /// Until no stream left open may still call back: each is closed as it
    /// ends. False when the process began to exit meanwhile.
    bool awaitLeftOpen();
    void paOpenOutput(AudioOutputChannel* record, AudioProducer* producer);
    void paOpenInput(AudioInputChannel* record, AudioConsumer* consumer);
    void paCloseOutputStream(int index);
    void paCloseInputStream(int index);
    /// Closes the open stream of that position, or leaves it open when it
    /// cannot be stopped without waiting on its server.
    template <class Owner>
    void closeBound(boundList<Owner>& open, boundList<Owner>& leftOpen, int index);
    /// Leaves s open, logged; its next callback ends it.
    template <class Owner>
    static void leaveOpen(boundList<Owner>& leftOpen, std::unique_ptr<bound<Owner>> s);
    /// The one rule for the worker's PortAudio calls that go through a
    /// sound server: whether one may be made now on a stream of `device`
    /// (anyDevice: on them all, as PortAudio's termination goes). Not once
    /// the process's exit has begun; not on a JACK device once its server
    /// no longer answers a request of the library's own, asked right before
    /// (it waits while the server is stopped). Worker only.
    bool serverCall(int device) const;
    static constexpr int anyDevice = -2;
    /// Logs a call the rule refused, unless the process is exiting.
    static void notMade(const char* call, const std::string& name, int device);
    /// Whether `call` may be made on s (serverCall); if not, s is
    /// abandoned, logged: nothing is called on it any more. Worker only.
    template <class Owner>
    bool mayCall(bound<Owner>& s, const char* call) const;
    /// When `call` may not be made on s (mayCall): keeps s, as it stands,
    /// for good among the streams left open (its callbacks' user data), and
    /// answers true. Worker only.
    template <class Owner>
    bool kept(boundList<Owner>& leftOpen, std::unique_ptr<bound<Owner>>& s, const char* call);
    /// Whether s has not ended and PortAudio still runs it, or its end is
    /// being told: it may call back, or end.
    template <class Owner>
    static bool mayCallBack(const bound<Owner>& s);
    /// Whether s has ended, waiting a few moments for an end being told.
    template <class Owner>
    static bool awaitEnd(const bound<Owner>& s);
    /// Closes every stream that has ended, left open or not.
    void closeEnded();
    template <class Owner>
    void closeEnded(boundList<Owner>& open, boundList<Owner>& leftOpen);
    /// Streams left open that may still call back.
    size_t leftOpenThatMayCallBack() const;
    template <class Owner>
    static void streamFinished(void* stream);

    static int paOutputCallback(const void* input, void* output, unsigned long frames,
                                const PaStreamCallbackTimeInfo* time, unsigned long flags, void* record);
    static int paInputCallback(const void* input, void* output, unsigned long frames,
                               const PaStreamCallbackTimeInfo* time, unsigned long flags, void* record);
    static void PaStreamOutputFinishedCallback(void* record);
    static void PaStreamInputFinishedCallback(void* record);

    /// Cleared by the close job; the worker's own (every job runs on it).
    bool running_ = true;
    /// By list position: the open stream, or none. The worker's.
    boundList<AudioProducer> openOutputs_;
    boundList<AudioConsumer> openInputs_;
    /// Streams that stopped calling back and were left open; the worker's.
    boundList<AudioProducer> leftOpenOutputs_;
    boundList<AudioConsumer> leftOpenInputs_;
    std::atomic<uint8_t> terminated_{0};
    /// PortAudio's JACK back-end, or -1; set before the first job.
    int jackApi_ = -1;
    /// Set by the worker once Pa_Initialize has returned.
    std::atomic<bool> initialised_{false};
    /// Every PortAudio call that opens, starts, stops, closes or terminates
    /// goes through it. Its jobs hold the process's exit, and the close's
    /// holds it through the shut-down; the exit leaves it once it has been
    /// held for more than heldAfter.
    serverWorker worker_{"the sound back-end's worker", heldAfter};
};
