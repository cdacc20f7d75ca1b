#include "core/proxyModDemod.h"

#include "framework/hostArrays.h"

#include <memory>

proxyModDemod::proxyModDemod(std::shared_ptr<syncTask> taskGroup) : modDemod(std::move(taskGroup)) {}

buff<float> proxyModDemod::demodulate(buff<std::complex<float>> block) {
    // The handle shares the samples, so whatever the host writes during the
    // call is what the real parts below are taken from.
    if (auto cb = rxChunk.get()) cb(vireo::api::arrayHandle(block));
    buff<float> audio(block.size());
    for (size_t i = 0; i < block.size(); ++i) audio[i] = block[i].real();
    return audio;
}

void proxyModDemod::modulate(buff<std::complex<float>> in, buff<std::complex<float>> out) {
    auto cb = getTxChunk.get();
    if (!cb) return;
    // Both handles are made before the call so that a failed allocation
    // leaves nothing behind; from the call on they are the host's.
    std::unique_ptr<buff<std::complex<float>>> inHandle(new buff<std::complex<float>>(in));
    std::unique_ptr<buff<std::complex<float>>> outHandle(new buff<std::complex<float>>(out));
    cb(inHandle.release(), outHandle.release());
}
