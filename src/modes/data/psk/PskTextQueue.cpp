#include "modes/data/psk/PskTextQueue.h"

PskTextQueue::Queued PskTextQueue::replace(std::string_view text, long long start) {
    std::lock_guard<std::mutex> l(m_);
    write_ = read_;
    Queued q;
    // 64-bit arithmetic: a start near INT_MIN must not wrap the position.
    const long long position = sent_ - start;
    if (start > sent_ || position > (long long)text.size()) {
        q.refused = true;
        return q;
    }
    size_t n = text.size() - size_t(position);
    if (n > maxUnsent) {
        q.dropped = n - maxUnsent;
        n = maxUnsent;
    }
    for (size_t i = 0; i < n; ++i) {
        ring_[write_] = uint8_t(text[size_t(position) + i]);
        write_ = (write_ + 1) % ringSize;
    }
    q.queued = n;
    return q;
}

int PskTextQueue::take() {
    std::lock_guard<std::mutex> l(m_);
    if (read_ == write_) return -1;
    const int c = ring_[read_];
    ring_[read_] = 0;
    read_ = (read_ + 1) % ringSize;
    ++sent_;
    return c;
}

long long PskTextQueue::sent() const {
    std::lock_guard<std::mutex> l(m_);
    return sent_;
}

size_t PskTextQueue::unsent() const {
    std::lock_guard<std::mutex> l(m_);
    return (write_ + ringSize - read_) % ringSize;
}
