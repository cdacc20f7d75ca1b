#include "dsp/blockLerp.h"

#include <spdlog/spdlog.h>

#include <cmath>

namespace {

// Ratios outside this range are refused: far below it one output would skip
// more input than a position can hold, far above it one block would write
// millions of outputs.
constexpr double minRatio = 1.0 / 1024;
constexpr double maxRatio = 1024;

bool ratioUsable(double ratio, const char* fn) {
    if (ratio >= minRatio && ratio <= maxRatio) return true; // false for NaN too
    spdlog::error("blockLerp {}: ratio {} refused", fn, ratio);
    return false;
}

/// A ring write position the ring holds; refused (logged) otherwise.
bool ringUsable(const buff<float>& out, size_t outIndex, const char* fn) {
    if (outIndex < out.count) return true;
    spdlog::error("blockLerp {}: output index {} outside a ring of {}", fn, outIndex, out.count);
    return false;
}

bool ringCallUsable(double ratio, const buff<float>& out, size_t outIndex, const char* fn) {
    return ratioUsable(ratio, fn) && ringUsable(out, outIndex, fn);
}

// Ring writer: stores one value and advances the index, back to the start
// after the ring's last slot, so every slot of the ring is used.
struct RingWriter {
    float* ring;
    size_t size;
    size_t k;
    void put(float v) {
        ring[k] = v;
        if (++k >= size) k = 0;
    }
};

} // namespace

// The shared walk of the VarOut family over `frames` input frames of
// `Channels` interleaved channels. emit(left, right) receives each output.
template <int Channels, class Emit>
size_t blockLerp::run(const float* in, size_t frames, double ratio, Emit emit) {
    const double step = 1.0 / ratio;
    const long n = long(frames);
    long i = long(position); // toward zero: a position in (-1, 0) reads sample 0
    if (n <= i + 1) {
        position -= double(n);
        previous = previousRight = 0;
        return 0;
    }
    size_t written = 0;
    do {
        const double f = position - double(i);
        const double aL = i < 0 ? previous : in[Channels * i];
        const double bL = in[Channels * (i + 1)];
        const float yL = float(f * bL + (1 - f) * aL);
        float yR = yL;
        if constexpr (Channels == 2) {
            const double aR = i < 0 ? previousRight : in[2 * i + 1];
            const double bR = in[2 * (i + 1) + 1];
            yR = float(f * bR + (1 - f) * aR);
        }
        emit(yL, yR);
        ++written;
        position += step;
        i = long(position);
    } while (n > i + 1);
    position -= double(n);
    // Carry the block's last frame: the next block's negative position lies
    // between it and the new first frame, whatever sample the walk last read.
    previous = in[Channels * (n - 1)];
    if constexpr (Channels == 2) previousRight = in[2 * (n - 1) + 1];
    return written;
}

size_t blockLerp::interpolateVarOut(buff<float> in, buff<float> out, size_t outIndex, double ratio) {
    if (!ringCallUsable(ratio, out, outIndex, "interpolateVarOut")) return 0;
    RingWriter w{out.data, out.count, outIndex};
    return run<1>(in.data, in.count, ratio, [&](float y, float) {
        w.put(y);
        w.put(y);
    });
}

size_t blockLerp::interpolateVarOutBalance(buff<float> in, buff<float> out, size_t outIndex, double ratio,
                                           float gainLeft, float gainRight) {
    if (!ringCallUsable(ratio, out, outIndex, "interpolateVarOutBalance")) return 0;
    RingWriter w{out.data, out.count, outIndex};
    return run<1>(in.data, in.count, ratio, [&](float y, float) {
        w.put(y * gainLeft);
        w.put(y * gainRight);
    });
}

size_t blockLerp::interpolateVarOutToMono(buff<float> in, buff<float> out, size_t outIndex, double ratio) {
    if (!ringCallUsable(ratio, out, outIndex, "interpolateVarOutToMono")) return 0;
    RingWriter w{out.data, out.count, outIndex};
    return run<1>(in.data, in.count, ratio, [&](float y, float) { w.put(y); });
}

size_t blockLerp::interpolateVarOutStereo(buff<float> in, buff<float> out, size_t outIndex, double ratio) {
    if (!ringCallUsable(ratio, out, outIndex, "interpolateVarOutStereo")) return 0;
    RingWriter w{out.data, out.count, outIndex};
    return run<2>(in.data, in.count / 2, ratio, [&](float l, float r) {
        w.put(l);
        w.put(r);
    });
}

size_t blockLerp::interpolateVarOutStereoToMono(buff<float> in, buff<float> out, size_t outIndex, double ratio) {
    if (!ringCallUsable(ratio, out, outIndex, "interpolateVarOutStereoToMono")) return 0;
    RingWriter w{out.data, out.count, outIndex};
    return run<2>(in.data, in.count / 2, ratio, [&](float l, float r) { w.put((l + r) * 0.5f); });
}

void blockLerp::interpolateVarIn(buff<float> in, buff<float> out, double ratio) {
    const double n = double(in.count);
    // Nothing to read from: an empty ring would never bring the position into
    // range.
    if (in.count == 0) return;
    if (!ratioUsable(ratio, "interpolateVarIn")) return;
    // fmod rather than repeated steps: one subtraction at a time would take
    // forever for a position far outside the ring.
    if (position < 0 || position >= n) {
        position = std::fmod(position, n);
        if (position < 0) position += n;
        if (position >= n) position = 0; // -tiny + n rounds to n
    }
    const double step = 1.0 / ratio;
    for (size_t k = 0; k < out.count; ++k) {
        size_t i = size_t(position);
        const double f = position - double(i);
        size_t j = i + 1;
        if (i >= in.count) i -= in.count;
        if (j >= in.count) j -= in.count;
        out.data[k] = float((1 - f) * in.data[i] + f * in.data[j]);
        position += step;
        if (position >= n) {
            position = std::fmod(position, n);
            if (position >= n) position = 0;
        }
    }
}
