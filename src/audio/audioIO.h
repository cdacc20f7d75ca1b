#pragma once
// audioIO: the ring between a transceiver's demodulated audio and the sound
// card of its output device, with rate matching and the CW sidetone.
//
// The transceiver writes blocks at a nominal 48000 samples per second on its
// task group (write); the output device's callback pulls frames on the sound
// card's clock (AudioCallback). The two clocks drift and the blocks come in
// bursts, so the writer steers a resampling ratio (held within ±0.3 %) until
// the ring holds about `target` frames: enough to ride out bursts, little
// enough to keep the delay short.
//
// No counter is shared. The reader publishes where it is as a ring stamp
// (48 kHz tick count and read position in one 32-bit word); the writer
// estimates the fill from that stamp, its own position and the steady clock
// (audioClock). The reader zeroes what it has read, so an underrun plays
// silence. The sidetone is made in the callback, so it follows the key
// without the ring's delay.
//
// The ring holds 65536 frames of `channels` interleaved floats: positions
// wrap at 65536 frames, and the floats at 65536 × channels. Its floats are
// written and read as relaxed atomics: the writer keeps its place through
// short underruns, and then both sides may meet on the same frames.
//
// Threads: write and the writer-side fields on the transceiver's task group;
// AudioCallback and the reader-side fields on the sound-card thread of the
// device that holds the ring; the tone settings from any thread (atomics).
// The callback neither allocates nor locks.
//
// A stream moving to another device is detached from the old one and
// attached to the new one, each at that device's next callback; devices with
// threads of their own call back in any order. So a device plays a ring only
// while it holds it (claimFor): the old device lets go (letGo, release) when
// it detaches the ring, and the new one takes it (acquire) at its first
// callback after that, seeing every reader-side field as the old one left it.
// A device whose stream stalled without finishing (a JACK client the server
// dropped) never calls back to let go, and moving audio off it is how the
// user recovers: a holder silent for stallPeriods of its own buffers loses
// the ring to the next device that claims it. The ring counts as busy from
// claimFor until played, and a busy ring is never taken, so no two callbacks
// run its reader side at once; a stalled holder that wakes finds another
// device holding the ring and leaves it alone.
#include "audio/callbackWatch.h"
#include "dsp/blockLerp.h"
#include "dsp/buff.h"
#include "dsp/movingAverage.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

class audioIO {
public:
    static constexpr size_t ringFrames = 65536;
    static constexpr size_t ringFloats = 2 * ringFrames;
    static constexpr int warmUpBlocks = 32;
    /// Bounds of the resampling ratio (output frames per input frame).
    static constexpr double minRatio = 0.997;
    static constexpr double maxRatio = 1.003;

    /// Runs run().
    audioIO();
    audioIO(const audioIO&) = delete;
    audioIO& operator=(const audioIO&) = delete;

    /// (Re)starts: warm-up of 32 blocks, a new zeroed ring, write position 0.
    /// Writer side, before the io is attached.
    void run(int unused = 0);
    /// Starts a new warm-up, keeping the ring.
    void reset() { warmUp_ = warmUpBlocks; }
    void stop() {}

    /// Writer side: places a block of audio at 48000 samples per second (mono,
    /// or interleaved stereo pairs when stereo) in the ring. With sync the
    /// ratio is steered towards the target fill; without, it stays 1.
    /// balance 0 is left only, 0.5 both at full level, 1 right only.
    void write(buff<float> block, bool sync, bool stereo, float balance);

    /// Reader side: frames of `channels` interleaved floats into out; with add
    /// false they replace its content, with add true they are added. time is
    /// the moment the buffer reaches the converter, in seconds (0 = unknown);
    /// a gap of more than 2.5 buffers moves the read position on by the
    /// frames missed. Returns 0. Sound-card thread; never allocates or locks.
    int AudioCallback(void* out, unsigned long frames, double time, bool add, int channels);

    /// Buffers of silence after which a holder loses the ring to a claimant.
    static constexpr int stallPeriods = callbackWatch::stallPeriods;

    /// True when device holds the ring, taking it first when no device does
    /// or its holder has been silent for stallPeriods of its buffers; the
    /// ring is then busy, and that device alone may call AudioCallback,
    /// until it calls played. Sound-card thread.
    bool claimFor(const void* device) noexcept;
    /// Ends the busy stretch that claimFor began, after frames at 48 kHz:
    /// the holder's silence is counted from now. Sound-card thread.
    void played(const void* device, unsigned long frames) noexcept;
    /// device lets go of the ring, if it holds it: it calls back no more
    /// with it until it has claimed it again. Any thread of that device,
    /// outside its busy stretch.
    void letGo(const void* device) noexcept;

    // Sidetone switches, read at the next callback. Any thread.
    std::atomic<bool> toneOn{false};
    std::atomic<bool> toneHardware{false};
    std::atomic<int> toneFrequency{650};
    std::atomic<float> toneVolume{1.0f};

    // Ring copies: a run of count floats between a linear buffer and a ring
    // of `size` floats from `index`, wrapping at `size` (index < size); each
    // returns the index after the run. The ring's floats are relaxed atomics,
    // as above.
    static size_t copyToCircular(const float* in, size_t count, float* ring, size_t size, size_t index) noexcept;
    static size_t copyFromCircular(const float* ring, size_t size, size_t index, float* out, size_t count) noexcept;
    /// All of out, from a ring held in a buffer.
    static size_t copyFromCircular(const buff<float>& ring, size_t index, buff<float> out) noexcept;
    /// copyFromCircular that zeroes the ring floats it reads.
    static size_t copyFromCircularAndClear(float* ring, size_t size, size_t index, float* out, size_t count) noexcept;
    /// copyFromCircularAndClear that adds to out.
    static size_t AddFromCircularAndClear(float* ring, size_t size, size_t index, float* out, size_t count) noexcept;
    /// Frames from b on to a, on a ring of 65536 frames.
    static constexpr uint16_t circDiff(uint16_t a, uint16_t b) noexcept { return uint16_t(a - b); }

    /// Channel count of the attached device. Writer side; set before the io
    /// is attached to a device of that many channels.
    int channels = 2;

    // Observation, for tests and tools. Any thread.
    double ratio() const { return ratioSeen_.load(std::memory_order_relaxed); }
    double target() const { return targetSeen_.load(std::memory_order_relaxed); }
    int underruns() const { return underrunsSeen_.load(std::memory_order_relaxed); }
    /// Times the writer was moved to `target` frames ahead of the reader.
    long repositions() const { return repositions_.load(std::memory_order_relaxed); }
    /// The fill estimate of the latest write, in frames.
    int lastFill() const { return fillSeen_.load(std::memory_order_relaxed); }
    uint32_t readerStamp() const { return readerStamp_.load(std::memory_order_acquire); }
    /// Writer side.
    uint16_t writePosition() const { return writePos_; }
    /// Reader side.
    uint16_t readPosition() const { return readPos_; }

private:
    void reposition(uint16_t rp, uint16_t elapsed);
    size_t resample(const buff<float>& block, bool stereo);
    void sidetone(float* out, unsigned long frames, bool add, int channels);

    buff<float> ring_;

    // Writer side.
    uint16_t writePos_ = 0;
    double ratio_ = 1.0;
    int underruns_ = 0;
    /// 32 .. 1 warming up, 0 once warm, -1 once the rate matching started.
    int warmUp_ = warmUpBlocks;
    bool primed_ = false;
    double target_ = 512.0;
    double seed_ = 96.0;
    movingAverage fillAverage_{1000};
    blockLerp resampler_;
    buff<float> scratch_; // the resampled block on its way into the ring
    float balance_ = 0.5f;

    // Reader side.
    uint16_t readPos_ = 0;
    double lastCallbackTime_ = 0;
    bool keyed_ = false;
    float phase_ = 0;
    int ramp_ = 255;

    /// The address of the device that plays the ring, with busyBit set
    /// while its callback plays it; 0 while none holds it. Taken with
    /// acquire (claimFor), handed on with release (played, letGo).
    std::atomic<uintptr_t> holder_{0};
    static constexpr uintptr_t busyBit = 1;
    /// When the holder last played and its buffer length; published by the
    /// release of played.
    callbackWatch holderHeard_;

    /// The reader's ring stamp after each callback. Release store in the
    /// callback, acquire load in write: the writer then sees the zeros the
    /// reader left before it writes over them.
    std::atomic<uint32_t> readerStamp_{0};

    std::atomic<double> ratioSeen_{1.0};
    std::atomic<double> targetSeen_{512.0};
    std::atomic<int> underrunsSeen_{0};
    std::atomic<long> repositions_{0};
    std::atomic<int> fillSeen_{0};
};
