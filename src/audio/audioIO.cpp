#include "audio/audioIO.h"

#include "audio/audioClock.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

/// A ring float, read and zeroed. Relaxed atomics: when the reader has
/// overtaken the writer (an underrun the writer rides out in place) both may
/// touch the same frames at once.
inline float takeSlot(float& f) {
    std::atomic_ref<float> slot(f);
    const float v = slot.load(std::memory_order_relaxed);
    slot.store(0.0f, std::memory_order_relaxed);
    return v;
}

inline float loadSlot(const float& f) {
    return std::atomic_ref<float>(const_cast<float&>(f)).load(std::memory_order_relaxed);
}

inline void storeSlot(float& f, float v) { std::atomic_ref<float>(f).store(v, std::memory_order_relaxed); }

/// each(ring index, linear index) for count floats of a ring of `size` from
/// index, wrapping; returns the index after them. Split into runs up to the
/// ring's end, so that the inner loop is plain.
template <class F>
inline size_t acrossRing(size_t size, size_t index, size_t count, F each) {
    size_t done = 0;
    while (done < count) {
        const size_t run = std::min(count - done, size - index);
        for (size_t i = 0; i < run; ++i) each(index + i, done + i);
        done += run;
        index = index + run == size ? 0 : index + run;
    }
    return index;
}

} // namespace

size_t audioIO::copyToCircular(const float* in, size_t count, float* ring, size_t size, size_t index) noexcept {
    return acrossRing(size, index, count, [&](size_t r, size_t i) { storeSlot(ring[r], in[i]); });
}

size_t audioIO::copyFromCircular(const float* ring, size_t size, size_t index, float* out, size_t count) noexcept {
    return acrossRing(size, index, count, [&](size_t r, size_t i) { out[i] = loadSlot(ring[r]); });
}

size_t audioIO::copyFromCircular(const buff<float>& ring, size_t index, buff<float> out) noexcept {
    return copyFromCircular(ring.data, ring.count, index, out.data, out.count);
}

size_t audioIO::copyFromCircularAndClear(float* ring, size_t size, size_t index, float* out, size_t count) noexcept {
    return acrossRing(size, index, count, [&](size_t r, size_t i) { out[i] = takeSlot(ring[r]); });
}

size_t audioIO::AddFromCircularAndClear(float* ring, size_t size, size_t index, float* out, size_t count) noexcept {
    return acrossRing(size, index, count, [&](size_t r, size_t i) { out[i] += takeSlot(ring[r]); });
}

audioIO::audioIO() { run(); }

void audioIO::run(int) {
    warmUp_ = warmUpBlocks;
    ring_ = buff<float>(ringFloats, 0.0f);
    writePos_ = 0;
}

void audioIO::reposition(uint16_t rp, uint16_t elapsed) {
    writePos_ = uint16_t(rp + elapsed + int(target_));
    repositions_.fetch_add(1, std::memory_order_relaxed);
}

void audioIO::write(buff<float> block, bool sync, bool stereo, float balance) {
    balance_ = std::isfinite(balance) ? std::clamp(balance, 0.0f, 1.0f) : 0.5f;
    if (warmUp_ >= 1) {
        --warmUp_;
        fillAverage_.next(target_);
        return;
    }
    // The first synchronised write only seeds the fill average. It comes
    // before priming, so that the write that primes also fills: priming and
    // then dropping the block would leave an empty ring at the next write.
    if (sync && warmUp_ == 0) {
        warmUp_ = -1;
        fillAverage_.next(seed_);
        return;
    }

    const uint16_t wt = uint16_t(audioClock::ticks48k(audioClock::now()));
    const uint32_t stamp = readerStamp_.load(std::memory_order_acquire);
    const uint16_t rt = uint16_t(stamp >> 16);
    const uint16_t rp = uint16_t(stamp);
    const uint16_t elapsed = circDiff(wt, rt); // frames the card used since its last callback
    int fill = int16_t(circDiff(circDiff(writePos_, rp), elapsed));

    if (!primed_) {
        // The reader ran on while the warm-up dropped blocks: its distance
        // from the writer's start says nothing about a late writer, so it
        // is neither an underrun nor a reason to grow the target.
        primed_ = true;
        if (fill < 0 || fill > 16384 || !sync) {
            reposition(rp, elapsed);
            fill = int(target_);
        }
    } else if (fill >= 0 && fill <= 16384) {
        underruns_ = 0;
    } else {
        if (fill < 0) {
            if (target_ < 8192.0) target_ *= 10.0 / 9.0;
            ++underruns_;
        }
        if (!(fill <= 16384 && sync && underruns_ < 4)) {
            reposition(rp, elapsed);
            fill = int(target_);
        }
    }

    if (!sync) {
        ratio_ = 1.0;
    } else {
        const double average = fillAverage_.next(double(fill));
        const double error = target_ - average;
        ratio_ = std::clamp(0.9 * ratio_ + 0.1 * (1.0 + 1e-6 * error), minRatio, maxRatio);
    }

    writePos_ = uint16_t(writePos_ + resample(block, stereo));

    ratioSeen_.store(ratio_, std::memory_order_relaxed);
    targetSeen_.store(target_, std::memory_order_relaxed);
    underrunsSeen_.store(underruns_, std::memory_order_relaxed);
    fillSeen_.store(fill, std::memory_order_relaxed);
}

size_t audioIO::resample(const buff<float>& block, bool stereo) {
    const size_t ch = channels == 1 ? 1 : 2;
    // Resampled into a scratch block first: the ring itself is written and
    // read only element by element as atomics (below).
    const size_t inFrames = stereo ? block.count / 2 : block.count;
    const size_t room = (inFrames + inFrames / 64 + 8) * ch; // up to 1/0.997 frames out per frame in
    if (scratch_.count < room) scratch_ = buff<float>(room);
    size_t frames = 0;
    if (ch == 2) {
        if (stereo) {
            frames = resampler_.interpolateVarOutStereo(block, scratch_, 0, ratio_);
        } else if (balance_ == 0.5f) {
            frames = resampler_.interpolateVarOut(block, scratch_, 0, ratio_);
        } else {
            const float left = balance_ < 0.5f ? 1.0f : 2.0f * (1.0f - balance_);
            const float right = balance_ > 0.5f ? 1.0f : 2.0f * balance_;
            frames = resampler_.interpolateVarOutBalance(block, scratch_, 0, ratio_, left, right);
        }
    } else {
        frames = stereo ? resampler_.interpolateVarOutStereoToMono(block, scratch_, 0, ratio_)
                        : resampler_.interpolateVarOutToMono(block, scratch_, 0, ratio_);
    }
    // Into the ring as this device's layout sees it: 65536 frames of ch
    // floats.
    copyToCircular(scratch_.data, frames * ch, ring_.data, ringFrames * ch, size_t(writePos_) * ch);
    return frames;
}

int audioIO::AudioCallback(void* out, unsigned long frames, double time, bool add, int channels) {
    if (out && (channels == 1 || channels == 2)) {
        // Gap skip: the card skipped buffers (a pause, an xrun), so the
        // frames meant for that time are stale. Reduced modulo the ring
        // before it becomes an integer: after a long pause the count is huge.
        if (time != 0 && std::isfinite(time)) {
            if (frames > 0) {
                const double n = (time - lastCallbackTime_) * 48000.0 / double(frames);
                if (n > 2.5) {
                    const double skip = std::fmod((n - 1.0) * double(frames), double(ringFrames));
                    if (std::isfinite(skip)) readPos_ = uint16_t(readPos_ + uint32_t(skip));
                }
            }
            lastCallbackTime_ = time;
        }

        float* o = static_cast<float*>(out);
        const size_t size = ringFrames * size_t(channels);
        const size_t index = size_t(readPos_) * size_t(channels);
        const size_t count = size_t(frames) * size_t(channels);
        if (add)
            AddFromCircularAndClear(ring_.data, size, index, o, count);
        else
            copyFromCircularAndClear(ring_.data, size, index, o, count);
        readPos_ = uint16_t(readPos_ + frames);

        sidetone(static_cast<float*>(out), frames, add, channels);
    }
    readerStamp_.store(audioClock::stamp(audioClock::now(), readPos_), std::memory_order_release);
    return 0;
}

bool audioIO::claimFor(const void* device) noexcept {
    const uintptr_t me = uintptr_t(device);
    uintptr_t held = holder_.load(std::memory_order_acquire);
    for (;;) {
        if (held != 0 && held != me) {
            // Another device's callback plays it now, or did lately.
            if (held & busyBit) return false;
            if (!holderHeard_.stalled(audioClock::now())) return false;
        }
        // Acquire pairs with the release of played and letGo: the reader
        // side as the last holder left it. A holder that played between the
        // load and here changed nothing the swap relies on.
        if (holder_.compare_exchange_weak(held, me | busyBit, std::memory_order_acquire, std::memory_order_acquire))
            return true;
    }
}

void audioIO::played(const void* device, unsigned long frames) noexcept {
    const uintptr_t me = uintptr_t(device);
    holderHeard_.heard(audioClock::now(), frames, 48000);
    uintptr_t busy = me | busyBit;
    holder_.compare_exchange_strong(busy, me, std::memory_order_release, std::memory_order_relaxed);
}

void audioIO::letGo(const void* device) noexcept {
    uintptr_t held = uintptr_t(device);
    holder_.compare_exchange_strong(held, 0, std::memory_order_release, std::memory_order_relaxed);
}

void audioIO::sidetone(float* out, unsigned long frames, bool add, int channels) {
    const bool keyed = toneOn.load(std::memory_order_acquire) || toneHardware.load(std::memory_order_acquire);
    if (keyed != keyed_) {
        ramp_ = 0;
        keyed_ = keyed;
    }
    if (!keyed && ramp_ > 254) return;
    constexpr double twoPi = 2.0 * std::numbers::pi;
    const float volume = toneVolume.load(std::memory_order_relaxed);
    const float amplitude = std::isfinite(volume) ? volume * 0.99f : 0.0f;
    // One turn at most per frame, so one subtraction keeps the phase in range
    // whatever frequency was set.
    double turn = std::fmod(twoPi * toneFrequency.load(std::memory_order_relaxed) / 48000.0, twoPi);
    if (turn < 0) turn += twoPi;
    const float step = float(turn);
    for (unsigned long f = 0; f < frames; ++f) {
        // After key-up the tone ends with the ramp; the rest of the buffer
        // is the audio again.
        if (!keyed && ramp_ > 254) break;
        float g = 1.0f;
        if (ramp_ <= 254) {
            g = float(0.5 * std::cos((255 - ramp_) * std::numbers::pi / 255.0) + 0.5);
            ++ramp_;
        }
        const float envelope = keyed ? g : 1.0f - g;
        if (amplitude != 0.0f) {
            const float v = amplitude * envelope * std::sin(phase_);
            float* frame = out + size_t(f) * size_t(channels);
            for (int c = 0; c < channels; ++c) frame[c] = add ? frame[c] + v : v;
        }
        phase_ += step;
        if (phase_ > float(twoPi)) phase_ -= float(twoPi);
    }
}
