#pragma once
// fskModDemod: the place of a two-tone FSK mode. It holds its three
// settings for the host and processes nothing: receive audio and transmit
// IQ are silence, so a transceiver running it plays and sends nothing stale.
#include "core/modDemod.h"

class fskModDemod : public modDemod {
public:
    explicit fskModDemod(std::shared_ptr<syncTask> taskGroup) : modDemod(std::move(taskGroup)) {}
    ~fskModDemod() override = default;

    /// Silence as long as the block.
    buff<float> demodulate(buff<std::complex<float>> block) override;
    /// Silence.
    void modulate(buff<std::complex<float>> in, buff<std::complex<float>> out) override;

    asyncProperty<int> f0{1500};
    asyncProperty<int> f1{1800};
    asyncProperty<int> baud{300};
};
