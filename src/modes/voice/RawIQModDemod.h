#pragma once
// RawIQModDemod: a mode that does nothing of its own: no receive audio, and
// a transmit block of silence that bypasses the transceiver's transmit
// filter.
#include "core/modDemod.h"

class RawIQModDemod : public modDemod {
public:
    explicit RawIQModDemod(std::shared_ptr<syncTask> taskGroup);
    ~RawIQModDemod() override = default;

    /// Clears out: in block mode the transceiver hands its filter's input
    /// block, which still holds what the previous mode wrote there.
    void modulate(buff<std::complex<float>> in, buff<std::complex<float>> out) override;
};
