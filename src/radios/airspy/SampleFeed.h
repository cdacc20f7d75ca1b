#pragma once
// The last step of a USB receiver's samples before the radio's receive
// blocks: every sample is multiplied by the radio's gain scale, and the
// largest raw |I| is held for the adcPeak meter, which publishes once more
// than 0.2 s of samples have gone by.
//
// Threads: the driver's thread runs scaleAndPeak and account, while the
// radio's task group writes gainScale; the held peak carries over from one
// driver thread to the next across a restart. Both are atomics so that no
// pair of those threads ever races on them.
#include <atomic>
#include <complex>
#include <cstddef>

class SampleFeed {
public:
    /// Seconds of samples after which the held peak is published.
    static constexpr float peakInterval = 0.2f;

    /// out[i] = (I * scale, Q * scale) for the n interleaved pairs at iq;
    /// returns the larger of peak and the largest raw |I|. A NaN sample is
    /// scaled like any other but never becomes the peak. No allocation.
    static float scaleAndPeak(const float* iq, std::complex<float>* out, size_t n, float scale, float peak);

    /// After each transfer of `count` samples at `rate` samples per second:
    /// holds transferPeak, and once the transfers since the last publication
    /// span more than peakInterval, returns true with the held peak in
    /// `published` and starts holding again from 0. A rate of 0 or less
    /// counts no time. Driver thread.
    bool account(float transferPeak, size_t count, int rate, float& published);

    std::atomic<float> gainScale{1.0f};
    /// Starts at 1: the first value published is at least 1.
    std::atomic<float> heldPeak{1.0f};

private:
    float peakTime_ = 0.0f; // driver thread only
};
