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
// (a JACK client whose server stopped or went away) is closed as failed at
// the first getBuffer after it has been silent long enough
// (callbackWatch::failed), which is logged; that getBuffer opens it again on
// a fresh ring, as after any stop. Readers hear silence from its first
// missed callback on (see AudioInputStream), never old samples again.
//
// One writer at a time. The back-end cannot stop a stream that calls back no
// more, so one closed as failed may wake (a server that was only stopped)
// beside the stream opened after it; the back-end ends it at its first
// callback once it has taken the close, and one that wakes before calls
// back. Each stream therefore calls back through an endpoint of its own (a
// capture) that holds its generation (streamLife), its ring and its write
// position: a capture whose generation is over writes nothing, publishes
// nothing and asks its stream to end. A capture serves again once its
// stream has ended (the back-end tells an endpoint that a later open
// replaced). The device's state has one owner, streamLife, with one way in
// (getBuffer and start open) and one way out (end) that every ending takes.
//
// Readers take the ring under a lock of their own; the callback never takes
// that lock: a capture's ring is set before its stream is opened.
#include "audio/AudioProvider.h"
#include "audio/callbackWatch.h"
#include "audio/streamLife.h"
#include "dsp/buff.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class AudioInputDevice : public AudioConsumer {
public:
    static constexpr size_t ringSize = 65536;

    /// A device at that position of the back-end's input list.
    AudioInputDevice(std::string name, int listIndex, int rate);
    /// Does not close the stream: the back-end must call back no more.
    ~AudioInputDevice() override = default;
    AudioInputDevice(const AudioInputDevice&) = delete;
    AudioInputDevice& operator=(const AudioInputDevice&) = delete;

    /// A microphone stream starts / stops using the device. Any thread.
    void registerStream() { users.fetch_add(1, std::memory_order_acq_rel); }
    void unregisterStream() { users.fetch_sub(1, std::memory_order_acq_rel); }

    /// The ring (a shared view) and, through stamp, its current ring stamp.
    /// Closes a stream that stopped delivering as failed ("audio input {}
    /// ({}) stopped delivering: closed as failed"), then opens the device,
    /// on a new zeroed ring, when it is closed. Any thread.
    buff<float> getBuffer(unsigned int* stamp);
    /// Whether the stream, having delivered, missed a callback: silent at
    /// now for more than one of its buffers. A reader that has run dry then
    /// waits for it rather than read old samples again. Any thread.
    bool overdue(int64_t now) const;
    /// Whether the current stream has delivered samples: before, its ring
    /// holds nothing and its writer stands nowhere. Any thread.
    bool delivering() const;
    /// A reader is done with the samples it took (release); the callback
    /// looks (acquire) before it writes over old samples. Any thread.
    void readDone() { readsDone_.fetch_add(1, std::memory_order_release); }

    /// Opens the stream, on a new zeroed ring, when none is open. Any thread.
    void start();
    /// Ends the stream; the next getBuffer or start opens another. Any
    /// thread.
    void stop();
    /// Largest absolute sample of the current stream's last block; 0 before
    /// it delivered. Any thread.
    float getPeak() const;
    /// A stream is opening or running. Any thread.
    bool started() const { return life_.live(); }
    /// Where the stream is: opening, running, closed or failed. Any thread.
    streamLife::phase state() const { return life_.state(); }
    /// Bits 16-31: 48 kHz tick count at the end of the current stream's
    /// last callback, modulo 65536; bits 0-15: the write position after its
    /// block. 0 before it called back. Any thread.
    uint32_t ringStamp() const;

    /// Copies count samples into a ring of ringSize samples from position,
    /// wrapping; returns the position after them. A sample that is not a
    /// finite number is stored as 0. Any thread.
    static uint16_t copyToCircular(const float* source, size_t count, float* ring, uint16_t position);

    /// A callback of the current stream: stores the block (samples may be
    /// null), then publishes the stamp. Returns 2 (abort) when no stream
    /// uses the device. Sound-card thread; never allocates or locks.
    int Callback(const void* samples, unsigned long frames, double time) override;
    /// The current stream finished: the device is closed (the back-end
    /// closes a stream that ended by itself); prints "sf". After the
    /// stream's last callback; takes no lock.
    void StreamFinished() override;

    std::atomic<int> users{0};

    const std::string name;
    const int listIndex;
    const int rate;

private:
    /// One stream of the device, from its open on: the endpoint the back-end
    /// calls back, with the ring that stream writes and where.
    struct capture final : AudioConsumer {
        explicit capture(AudioInputDevice& device) : device(device) {}
        int Callback(const void* samples, unsigned long frames, double) override {
            return device.deliver(*this, samples, frames);
        }
        void StreamFinished() override { device.finished(*this); }

        AudioInputDevice& device;
        buff<float> ring; // under readers_
        // Set under readers_ before the stream is opened, and read by its
        // callbacks; atomics, since the sound library's hand-over between
        // threads is not one every checker sees.
        std::atomic<uint32_t> generation{0};
        std::atomic<float*> samples{nullptr};
        std::atomic<uint16_t> writePos{0}; // the sound-card thread's once open
        std::atomic<uint32_t> stamp{0};
        std::atomic<float> peak{0.0f};
        callbackWatch heard; // blocks delivered
        /// Its stream finished and calls back no more (release), so the
        /// capture may serve the next open (acquire, under readers_).
        std::atomic<bool> done{false};
    };

    int deliver(capture& c, const void* samples, unsigned long frames);
    void finished(capture& c);
    /// The way in, under readers_: a new generation on a new ring, opened.
    void openLocked();
    /// A capture for the next stream: one whose stream finished, else a
    /// new one. Under readers_.
    capture& spareLocked();

    AudioProvider* provider_;
    streamLife life_;

    std::mutex readers_;
    /// Every capture made, under readers_: one whose stream may still call
    /// back is kept as long as the device, and a finished one serves again.
    std::vector<std::unique_ptr<capture>> captures_;
    /// The current stream's capture; set under readers_ (release).
    std::atomic<capture*> live_{nullptr};

    std::atomic<unsigned> readsDone_{0};
};
