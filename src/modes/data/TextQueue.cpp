#include "modes/data/TextQueue.h"

#include "core/modDemod.h"

#include <spdlog/spdlog.h>

TextQueue::Queued TextQueue::replace(std::string_view text, long long start, uint64_t at) {
    std::lock_guard<std::mutex> l(m_);
    Queued q;
    // 64-bit arithmetic: a start near INT_MIN must not wrap the position.
    const long long position = sent_ - start;
    // A refused text leaves the waiting one alone: its end character may be
    // what releases the transmitter.
    if (start > sent_ || position > (long long)text.size()) {
        q.refused = true;
        return q;
    }
    write_ = read_;
    queuedAt_ = at;
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

TextQueue::Queued TextQueue::hostReplace(const char* text, long long start, uint64_t at, const char* request) {
    if (!text) {
        spdlog::error("{} null text refused", request);
        return Queued{0, 0, true};
    }
    return hostReplace(std::string_view(text), start, at, request);
}

TextQueue::Queued TextQueue::hostReplace(std::string_view t, long long start, uint64_t at, const char* request) {
    const Queued q = replace(t, start, at);
    if (q.refused)
        spdlog::error("{} nothing queued: start {} with {} characters sent and a text of {}", request, start, sent(),
                      t.size());
    if (q.dropped > 0) spdlog::error("{} {} characters past the first {} unsent dropped", request, q.dropped, maxUnsent);
    return q;
}

int TextQueue::take() {
    // Past the transmission's end mark, or its end, what waits belongs to
    // the next transmission: a tail takes none of it.
    auto nothingFor = [this] { return endTaken_ || read_ == write_; };
    uint64_t looked = 0;
    {
        std::lock_guard<std::mutex> l(m_);
        if (nothingFor()) return -1;
        looked = queuedAt_;
    }
    // Asked only while text waits (an idle keyer asks often), and outside
    // the lock: the mode's owner has a lock of its own. An ending the host
    // made before it queued the text seen here was marked before that, so
    // the answer counts it; a text queued since is looked at next time.
    if (mode_.endingComing()) return -1;
    std::lock_guard<std::mutex> l(m_);
    if (nothingFor() || queuedAt_ != looked) return -1;
    const int c = ring_[read_];
    ring_[read_] = 0;
    read_ = (read_ + 1) % ringSize;
    ++sent_;
    if (endMarks_.find(char(c)) != std::string::npos) endTaken_ = true;
    return c;
}

int TextQueue::take(asyncEvent<std::string>& sentChars) {
    const int c = take();
    if (c >= 0) sentChars.send(std::string(1, char(c)));
    return c;
}

void TextQueue::transmissionBegins() {
    std::lock_guard<std::mutex> l(m_);
    endTaken_ = false;
}

void TextQueue::dropThroughMark() {
    while (read_ != write_) {
        const char c = char(ring_[read_]);
        ring_[read_] = 0;
        read_ = (read_ + 1) % ringSize;
        if (endMarks_.find(c) != std::string::npos) break;
    }
}

void TextQueue::dropUnkeyed(uint64_t asked) {
    std::lock_guard<std::mutex> l(m_);
    if (queuedAt_ <= asked) dropThroughMark();
}

bool TextQueue::dropTransmission(uint64_t before) {
    uint64_t looked = 0;
    {
        std::lock_guard<std::mutex> l(m_);
        looked = queuedAt_;
    }
    // Queued after an earlier ending of this transmission than the one that
    // carries it out here (the removal of the transceiver overtaken by the
    // mode's move): as good as queued after this one. Asked outside the
    // lock, as take() asks.
    const bool afterAnEnding = looked != 0 && mode_.endedBefore(looked);
    std::lock_guard<std::mutex> l(m_);
    if (endTaken_) return false; // what waits belongs to later transmissions
    // Queued after the ending was made: the next transmission's, whole.
    if (queuedAt_ < before && !(afterAnEnding && queuedAt_ == looked)) dropThroughMark();
    // Dropped through its mark, or kept for the next transmission: a second
    // call drops nothing, and nothing is taken before the next one begins.
    endTaken_ = true;
    return true;
}

long long TextQueue::sent() const {
    std::lock_guard<std::mutex> l(m_);
    return sent_;
}

size_t TextQueue::unsent() const {
    std::lock_guard<std::mutex> l(m_);
    return (write_ + ringSize - read_) % ringSize;
}
