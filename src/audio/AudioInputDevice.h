#pragma once
// AudioInputDevice: one input sound device (a microphone). Its callback
// copies each captured block into a ring of 65536 samples at the device's
// rate, from which any number of transceivers' microphone streams read, each
// at its own position, a margin behind the writer.
//
// The writer publishes where it is as a ring stamp (48 kHz tick count and
// write position in one 32-bit word, release); readers take it with the ring
// from getBuffer (acquire) and read behind it. The device opens its sound
// stream on the first getBuffer and stops at the first callback that finds
// no user; the next getBuffer starts it again on a fresh ring.
//
// A stream that has delivered and then stops calling back without finishing
// (a JACK client whose server went away) is closed as failed at the first
// getBuffer after it has been silent long enough (callbackWatch::failed),
// which is logged; that getBuffer opens it again on a fresh ring, as after
// any stop. Readers hear silence from its first missed callback on (see
// AudioInputStream), never old samples again.
//
// The ring is replaced while the stream is closed, or once it failed; a late
// callback of a failed stream still writes the ring before, which is kept
// until the next replacement. Readers take the ring under a lock of their
// own; the callback never takes that lock: it reads the ring through an
// atomic pointer published before the stream is opened.
#include "audio/AudioProvider.h"
#include "audio/callbackWatch.h"
#include "dsp/buff.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

class AudioInputDevice : public AudioConsumer {
public:
    static constexpr size_t ringSize = 65536;

    /// A device at that position of the back-end's input list.
    AudioInputDevice(std::string name, int listIndex, int rate);
    ~AudioInputDevice() override = default;
    AudioInputDevice(const AudioInputDevice&) = delete;
    AudioInputDevice& operator=(const AudioInputDevice&) = delete;

    /// A microphone stream starts / stops using the device. Any thread.
    void registerStream() { users.fetch_add(1, std::memory_order_acq_rel); }
    void unregisterStream() { users.fetch_sub(1, std::memory_order_acq_rel); }

    /// The ring (a shared view) and, through stamp, the current ring stamp.
    /// Closes a stream that stopped delivering as failed ("audio input {}
    /// ({}) stopped delivering: closed as failed"), then opens the device,
    /// on a new zeroed ring, when it is closed. Any thread.
    buff<float> getBuffer(unsigned int* stamp);
    /// Whether the stream, having delivered, missed a callback: silent at
    /// now for more than one of its buffers. A reader that has run dry then
    /// waits for it rather than read old samples again. Any thread.
    bool overdue(int64_t now) const { return heard_.silentFor(now, 1); }
    /// A reader is done with the samples it took (release); the callback
    /// looks (acquire) before it writes over old samples.
    void readDone() { readsDone_.fetch_add(1, std::memory_order_release); }

    void start();
    void stop();
    /// Largest absolute sample of the last captured block.
    float getPeak() const { return peak_.load(std::memory_order_relaxed); }
    bool started() const { return started_.load(std::memory_order_acquire); }

    /// Copies count samples into a ring of ringSize samples from position,
    /// wrapping; returns the position after them. A sample that is not a
    /// finite number is stored as 0.
    static uint16_t copyToCircular(const float* source, size_t count, float* ring, uint16_t position);

    /// Stores the block (samples may be null), then publishes the stamp.
    /// Returns 2 (abort) when no stream uses the device. Sound-card thread;
    /// never allocates or locks.
    int Callback(const void* samples, unsigned long frames, double time) override;
    /// Closes the stream and marks the device closed; prints "sf".
    void StreamFinished() override;

    /// Bits 16-31: 48 kHz tick count at the end of the last callback, modulo
    /// 65536; bits 0-15: the write position after its block.
    std::atomic<uint32_t> ringStamp{0};
    std::atomic<int> users{0};

    const std::string name;
    const int listIndex;
    const int rate;

private:
    AudioProvider* provider_;
    std::atomic<bool> started_{false};

    std::mutex readers_;
    buff<float> ring_; // readers' view, under readers_
    buff<float> retired_; // the ring before, for a failed stream's late callback
    callbackWatch heard_; // blocks delivered

    std::atomic<float*> callbackRing_{nullptr};
    std::atomic<unsigned> readsDone_{0};
    uint16_t writePos_ = 0; // callback side
    std::atomic<float> peak_{0.0f};
};
