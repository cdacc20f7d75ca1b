#pragma once
// clientModDemod: hands every receive block to the host, as a complex array
// with a sequence number, so that a host program can demodulate it itself;
// plays the real part meanwhile and transmits silence.
//
// Each block is copied into an array handle that travels in a host task to
// rxChunk, on the host thread inside getUpdates. Every handle is freed
// exactly once: by the host when rxChunk received it, else by the task (no
// callback bound when it ran) or by the task's destruction (never queued,
// or dropped unrun). Numbers run 0, 1, 2 ... in receive order, wrapping at
// 2^32; a gap means chunks that could not be queued.
#include "core/directCallback.h"
#include "core/modDemod.h"

#include <cstdint>

class clientModDemod : public modDemod {
public:
    explicit clientModDemod(std::shared_ptr<syncTask> taskGroup);
    ~clientModDemod() override = default;

    // ---- the owning transceiver's task group ----
    buff<float> demodulate(buff<std::complex<float>> block) override;
    /// Clears out: this mode sends nothing of its own.
    void modulate(buff<std::complex<float>> in, buff<std::complex<float>> out) override;

    /// (complexArray handle, sequence number); stored at once by the bind,
    /// read on the host thread when a chunk is delivered.
    directCallback<void*, uint32_t> rxChunk;
    uint32_t sequence = 0; // transceiver's task group only
};
