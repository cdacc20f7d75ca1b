#pragma once
// A transceiver's two audio endpoints, chosen by stream id: the position of
// a device in the audio back-end's lists, 0 for no device. The device
// objects at those positions belong to the root object (Wireless).
//
// Threads: every call runs on the owning transceiver's task group, except
// the tone setters, which only store atomics and may come from any thread.
#include "audio/AudioInputDevice.h"
#include "audio/AudioOutputDevice.h"
#include "audio/audioIO.h"
#include "dsp/blockLerp.h"
#include "dsp/buff.h"

#include <atomic>
#include <cstdint>
#include <memory>

/// A transceiver's microphone reader. It reads the ring of its input device
/// at its own position, a margin behind the device's writer, resampled to
/// 48000 samples per second, and resynchronises when it has fallen out of
/// step (after a pause, or when it ran dry). Out of step while the writer
/// is late (a device that missed a callback, or stopped), it reads silence
/// instead, and keeps its place; while the device's stream has not yet
/// delivered, it reads silence and starts over once it does.
class AudioInputStream {
public:
    /// Reads that come further apart than this start over behind the writer.
    static constexpr int64_t resyncAfterNs = 100'999'999;
    static constexpr int initialMargin = -2048;
    static constexpr int widestMargin = -8192;

    explicit AudioInputStream(int id = 0);
    /// Leaves the device's users when attached.
    ~AudioInputStream();
    AudioInputStream(const AudioInputStream&) = delete;
    AudioInputStream& operator=(const AudioInputStream&) = delete;

    /// Selects the input device (logs "set inp stream id {new} {current}");
    /// an id outside the back-end's input list is logged ("Invalid audio
    /// stream id {}") and changes nothing. Attaching opens the device.
    void setStreamId(int id);
    int streamId() const { return id_; }

    /// Fills all of out with microphone samples at 48000 per second; zeros
    /// without a device or before the device has delivered.
    void read(buff<float> out);

    /// Peak of the device's latest input block; 0 without a device.
    float getPeak() const;

    /// Where a resynchronisation places the reader relative to the writer,
    /// in device samples (negative: behind). Grows from -2048 to -8192.
    int margin() const { return margin_; }
    /// The read position in the device ring, in device samples.
    double readPosition() const { return resampler_.readPosition(); }
    /// How often the reader has been placed anew behind the writer: each
    /// time, the microphone audio jumps. Any thread.
    uint64_t resyncs() const { return resyncs_.load(std::memory_order_relaxed); }
    /// How many reads ran dry while the writer was late and gave silence
    /// instead: each, a gap in the microphone audio (the reader keeps its
    /// place, so no jump follows). Any thread.
    uint64_t gaps() const { return gaps_.load(std::memory_order_relaxed); }

private:
    std::shared_ptr<AudioInputDevice> device_;
    int id_ = 0;
    blockLerp resampler_;
    int64_t lastRead_ = 0;
    int margin_ = initialMargin;
    std::atomic<uint64_t> resyncs_{0};
    std::atomic<uint64_t> gaps_{0};
};

/// A transceiver's audio writer: owns the ring (audioIO) that its output
/// device mixes, and the sidetone switches.
class AudioOutputStream {
public:
    explicit AudioOutputStream(int id = 0);
    /// Releases its share of the io only: an attached io keeps playing until
    /// it is detached (setStreamId(0)).
    ~AudioOutputStream() = default;
    AudioOutputStream(const AudioOutputStream&) = delete;
    AudioOutputStream& operator=(const AudioOutputStream&) = delete;

    /// Selects the output device (logs "set op stream id {new} {current}");
    /// an id outside the back-end's output list is logged ("Invalid op audio
    /// stream id {}") and changes nothing. The io moves with its warm-up,
    /// target and ratio; only its channel count follows the new device.
    void setStreamId(int id);
    int streamId() const { return id_; }

    /// Hands a block at 48000 samples per second to the ring; dropped
    /// without a device. stereo: interleaved pairs; sync: rate matching on.
    void write(buff<float> audio, bool useResampler, bool stereo, float balance);

    // Sidetone: acted on at the next sound-card callback. Any thread.
    void genTone(bool on) { io->toneOn.store(on, std::memory_order_release); }
    void genToneHW(bool on) { io->toneHardware.store(on, std::memory_order_release); }
    /// A volume that is not a finite number is refused.
    void genVolume(float volume);
    void genToneFrequency(int hz) { io->toneFrequency.store(hz, std::memory_order_relaxed); }

    const std::shared_ptr<audioIO> io = std::make_shared<audioIO>();

private:
    std::shared_ptr<AudioOutputDevice> device_;
    int id_ = 0;
};
