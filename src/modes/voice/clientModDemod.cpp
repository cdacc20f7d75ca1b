#include "modes/voice/clientModDemod.h"

#include "framework/hostArrays.h"
#include "modes/voice/realAudio.h"

#include <algorithm>
#include <memory>

namespace {

/// A chunk on its way to the host: frees its handle unless handed over.
class pendingChunk {
public:
    explicit pendingChunk(const buff<std::complex<float>>& samples)
        : handle_(vireo::api::arrayHandle(samples)) {}
    ~pendingChunk() { vireo::api::arrayDelete<std::complex<float>>(handle_); }
    pendingChunk(const pendingChunk&) = delete;
    pendingChunk& operator=(const pendingChunk&) = delete;

    /// The handle, now the caller's.
    void* release() { return std::exchange(handle_, nullptr); }

private:
    void* handle_;
};

} // namespace

clientModDemod::clientModDemod(std::shared_ptr<syncTask> taskGroup) : modDemod(std::move(taskGroup)) {}

buff<float> clientModDemod::demodulate(buff<std::complex<float>> block) {
    // The host gets a copy of its own: the block's storage goes back to the
    // receive chain.
    buff<std::complex<float>> copy(block.size());
    copy.copy(block);
    auto chunk = std::make_shared<pendingChunk>(copy);
    const uint32_t s = sequence++;
    SendEvent([this, chunk, s] {
        if (auto cb = rxChunk.get()) cb(chunk->release(), s);
    });

    return realAudio(block);
}

void clientModDemod::modulate(buff<std::complex<float>>, buff<std::complex<float>> out) {
    std::fill(out.begin(), out.end(), std::complex<float>{});
}
