#pragma once
// FakeAudio: a simulated sound card for tests. It stands in for the audio
// back-end (AudioProvider) and for the steady clock of the sound side
// (audioClock), so a test drives sound paths in simulated time: devices call
// back exactly when their simulated clock says, on the thread that advances
// the time.
//
//   FakeAudio& card = FakeAudio::install();  // before anything asks for the
//                                            // back-end; once per process
//   auto root = std::make_shared<Wireless>(group);   // lists the devices below
//   ... transceivers and streams as usual ...
//   card.advance(std::chrono::milliseconds(100));    // runs every callback
//                                                    // due, in time order
//   card.startPacing(); ... card.stopPacing();       // or let a thread move
//                                                    // simulated time along
//                                                    // with the real clock
//   card.closeAll();                          // before the devices go
//
// Devices, by list position (the stream ids):
//   outputs  0 "None", 1 "Fake stereo" (2 channels), 2 "Fake mono" (1 channel)
//   inputs   0 "None", 1 "Fake mic 48000" (48000 Hz), 2 "Fake mic 44100"
// Every device delivers buffers of 512 frames. A device's clock runs exact
// unless setPpm() makes it fast (+) or slow (-). An output passes the time
// since its stream opened as the buffer's converter time (0 at the first
// callback). Microphones play setMicrophone()'s signal, silence by default.
// Outputs keep the last 10 s they played (played()).
//
// The simulated clock starts at 1000 s. Opens and closes take effect at
// once (PortAudio's take a moment on its worker). Thread-safe: any thread
// may open, close or read while another advances the time; the callbacks
// run on the advancing thread, with the card's lock held.
#include "audio/AudioProvider.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class FakeAudio : public AudioProvider {
public:
    enum output : int { stereoOut = 1, monoOut = 2 };
    enum input : int { mic48000 = 1, mic44100 = 2 };
    static constexpr unsigned long framesPerBuffer = 512;
    static constexpr int64_t startNs = 1'000'000'000'000;

    /// Installs the card as the process-wide back-end and its clock as the
    /// sound side's clock; later calls return the same card. Throws when a
    /// real back-end was made first.
    static FakeAudio& install();

    // ---- simulated time ----
    /// Nanoseconds of the simulated steady clock.
    int64_t now() const { return now_.load(std::memory_order_acquire); }
    /// Moves the clock on by d (or to t), running every callback due on the
    /// way in time order; the clock shows each callback's time while it runs.
    void advance(std::chrono::nanoseconds d);
    void advanceTo(int64_t t);
    /// A thread moves the simulated time along with the real clock (times
    /// speed) until stopPacing().
    void startPacing(double speed = 1.0);
    void stopPacing();

    // ---- devices ----
    /// Clock error of one device, in parts per million (+ fast).
    void setPpm(bool isOutput, int index, double ppm);
    /// The signal of a microphone, as a function of its sample number.
    void setMicrophone(int index, std::function<float(int64_t sample)> signal);
    /// Frames an output played since the last clearPlayed() (interleaved).
    std::vector<float> played(int index);
    void clearPlayed(int index);
    /// A stalled stream stays open but calls back no more, as a JACK client
    /// the server dropped, until it is resumed (stalled false).
    void stall(bool isOutput, int index, bool stalled);
    /// Stops every stream without telling the owners (no StreamFinished):
    /// for the end of a test, before its device objects go.
    void closeAll();

    // Counters per list position.
    int opens(bool isOutput, int index);
    int closes(bool isOutput, int index);
    long callbacks(bool isOutput, int index);
    bool isOpen(bool isOutput, int index);
    /// Simulated time of the device's latest callback.
    int64_t lastCallbackAt(bool isOutput, int index);

    // ---- AudioProvider ----
    void Close() override;
    void OpenOutput(int index, AudioProducer* producer) override;
    void OpenInput(int index, AudioConsumer* consumer) override;
    void CloseInput(int index) override;
    void CloseOutput(int index) override;
    int defaultAudioInputDevice() override { return defaultInput; }
    int defaultAudioOutputDevice() override { return defaultOutput; }

private:
    struct stream {
        bool output = true;
        int index = 0;
        int channels = 1;
        int rate = 48000;
        double ppm = 0;
        bool open = false;
        bool stalled = false;
        int64_t openedNs = 0;
        double nextNs = 0; // time of the next callback
        int64_t lastNs = 0;
        long count = 0;    // callbacks since opened
        int opens = 0, closes = 0;
        long callbacks = 0;
        int64_t micSample = 0;
        std::function<float(int64_t)> signal;
        std::vector<float> buffer;
        std::vector<float> played;
    };

    FakeAudio();
    stream* find(bool isOutput, int index);
    /// field(stream) under the lock; a default value for no such stream.
    template <class F>
    auto read(bool isOutput, int index, F field);
    void open(stream& s);
    void runCallback(stream& s);
    double period(const stream& s) const;

    std::recursive_mutex m_;
    std::vector<stream> streams_;
    std::atomic<int64_t> now_{startNs};
    bool closed_ = false;
    std::thread pacer_;
    std::atomic<bool> pacing_{false};
};
