#pragma once
// proxyModDemod: a mode whose work the host program does. Each receive block
// is handed to the host's rxChunk callback and its real parts are returned
// as audio; each transmit chunk is handed to getTxChunk, which fills the
// output block. Both are called synchronously on the transceiver's worker
// (see directCallback.h); the host frees every array handle it is given.
// While a callback is unbound, receive audio is the block's real parts and
// the transmit block is left untouched.
#include "core/directCallback.h"
#include "core/modDemod.h"

class proxyModDemod : public modDemod {
public:
    explicit proxyModDemod(std::shared_ptr<syncTask> taskGroup);
    ~proxyModDemod() override = default;

    buff<float> demodulate(buff<std::complex<float>> block) override;
    void modulate(buff<std::complex<float>> in, buff<std::complex<float>> out) override;

    directCallback<void*> rxChunk;              // complex-array handle sharing the block
    directCallback<void*, void*> getTxChunk;    // handles sharing in and out
};
