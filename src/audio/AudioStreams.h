#pragma once
// A transceiver's two audio endpoints, chosen by stream id: the position of
// a device in the audio back-end's lists, 0 for no device.
#include "dsp/buff.h"

#include <atomic>

/// A transceiver's microphone reader.
class AudioInputStream {
public:
    explicit AudioInputStream(int id = 0);
    AudioInputStream(const AudioInputStream&) = delete;
    AudioInputStream& operator=(const AudioInputStream&) = delete;

    /// Selects the input device; an id outside the back-end's input list is
    /// logged ("Invalid audio stream id {}") and changes nothing.
    void setStreamId(int id);
    int streamId() const { return id_; }

    /// Fills all of out with microphone samples at 48000 per second; zeros
    /// without a device.
    void read(buff<float> out);

    /// Peak of the device's latest input block; 0 without a device.
    float getPeak() const;

private:
    int id_ = 0;
};

/// A transceiver's audio writer.
class AudioOutputStream {
public:
    AudioOutputStream() = default;
    AudioOutputStream(const AudioOutputStream&) = delete;
    AudioOutputStream& operator=(const AudioOutputStream&) = delete;

    /// Selects the output device; an id outside the back-end's output list
    /// is logged ("Invalid op audio stream id {}") and changes nothing.
    void setStreamId(int id);
    int streamId() const { return id_; }

    /// Hands a block at 48000 samples per second to the output device; does
    /// nothing without one.
    void write(buff<float> audio, bool useResampler, bool stereo, float balance);

private:
    int id_ = 0;
};
