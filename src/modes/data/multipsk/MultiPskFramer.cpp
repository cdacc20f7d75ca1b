#include "modes/data/multipsk/MultiPskFramer.h"

#include "modes/data/multipsk/MultiPskPacket.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cstdio>

using multipsk::lengthBytes;
using multipsk::sampleHeaderBytes;

MultiPskFramer::MultiPskFramer(size_t bufferSize) : bufferSize_(std::max(bufferSize, sampleHeaderBytes)) { reset(); }

void MultiPskFramer::reset() {
    buffer_ = buff<char>(bufferSize_);
    phase_ = phase::length;
    received_ = 0;
    expected_ = lengthBytes;
    countApplied_ = false;
}

size_t MultiPskFramer::wanted() const {
    // The header of a body on its own: its count may shorten the body.
    if (phase_ == phase::body && !countApplied_ && received_ < sampleHeaderBytes && expected_ > sampleHeaderBytes)
        return sampleHeaderBytes - received_;
    return expected_ - received_;
}

std::optional<buff<char>> MultiPskFramer::arrived(size_t n) {
    received_ += std::min(n, wanted());
    if (phase_ == phase::body && !countApplied_ && received_ >= sampleHeaderBytes) {
        countApplied_ = true;
        if (multipsk::hasKeyword(buffer_.data, received_, "TXHWdata")) applySampleCount();
    }
    if (received_ < expected_) return std::nullopt;

    if (phase_ == phase::body) return deliver();

    const uint32_t length = uint32_t(multiReadLong(buffer_.data));
    expected_ = length;
    if (length > bufferSize_) {
        spdlog::error("tcp bad len {}", length);
        expected_ = bufferSize_;
    }
    received_ = 0;
    phase_ = phase::body;
    if (expected_ == 0) return deliver(); // nothing more to read for it
    return std::nullopt;
}

void MultiPskFramer::applySampleCount() {
    const uint32_t count = uint32_t(multiReadLong(buffer_.data + 8));
    const uint64_t wantedLength = uint64_t(sampleHeaderBytes) + count;
    if (wantedLength != expected_) {
        std::printf("%zu %u xxxx\r\n", expected_, count);
        std::fflush(stdout);
    }
    // A count past the buffer is cut like a length field; the header itself
    // is in already, so the body never ends before it.
    if (wantedLength > bufferSize_) spdlog::error("tcp bad len {}", wantedLength);
    expected_ = size_t(std::clamp<uint64_t>(wantedLength, received_, bufferSize_));
}

buff<char> MultiPskFramer::deliver() {
    buff<char> body(buffer_, 0, expected_);
    reset();
    return body;
}
