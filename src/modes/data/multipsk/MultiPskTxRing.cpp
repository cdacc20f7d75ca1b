#include "modes/data/multipsk/MultiPskTxRing.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

MultiPskTxRing::MultiPskTxRing() = default;

void MultiPskTxRing::restart() {
    std::fill(ring_.begin(), ring_.end(), cplx{});
    read_ = write_ = 0;
    consumed_ = received_ = waited_ = 0;
    waiting_ = true;
}

namespace {
int16_t readShort(const char* p) { return int16_t(uint16_t(uint8_t(p[0]) | uint16_t(uint8_t(p[1])) << 8)); }
} // namespace

int MultiPskTxRing::put(const char* bytes, size_t pairs) {
    received_ += (long long)pairs;
    // Unread samples are overwritten when MultiPSK runs a whole ring ahead.
    for (size_t k = 0; k < pairs; ++k) {
        const char* p = bytes + 4 * k;
        ring_[size_t(write_)] = cplx(float(readShort(p)), float(readShort(p + 2))) * sampleScale;
        if (++write_ == ringSize) write_ = 0;
    }
    const int rate = received_ - consumed_ > ringSize / 2 ? slowRate : fastRate;
    if (rate == lastRate_) return 0;
    lastRate_ = rate;
    std::printf("%d adj\r\n", rate);
    std::fflush(stdout);
    return rate;
}

bool MultiPskTxRing::take(buff<cplx> out) {
    if (received_ <= startAfter) {
        std::fill(out.begin(), out.end(), cplx{});
        if (!waiting_) return false;
        waited_ += (long long)out.count;
        if (waited_ - received_ <= startAfter - underrunLimit) return false;
        waiting_ = false;
        std::printf("#####TO\r\n");
        std::fflush(stdout);
        return true;
    }
    waiting_ = false;
    for (auto& s : out) {
        s = ring_[size_t(read_)];
        ring_[size_t(read_)] = cplx{};
        if (++read_ == ringSize) read_ = 0;
    }
    consumed_ += (long long)out.count;
    const long long backlog = received_ - consumed_;
    bool underrun = false;
    if (backlog < 0) {
        std::printf("%lld\r\n", backlog);
        if (backlog < underrunLimit) {
            std::printf("#####TO\r\n");
            underrun = true;
        }
        std::fflush(stdout);
    }
    // Plain loop on purpose: each sample depends on the estimate before it.
    for (auto& s : out) {
        dc_ += (s - dc_) * dcRate;
        s -= dc_;
    }
    return underrun;
}
