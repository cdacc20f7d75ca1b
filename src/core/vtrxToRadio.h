#pragma once
// How a transceiver hands work to its radio: a data task on the radio's task
// group, holding both, posted only while the radio still exists.
#include "core/Radio.h"
#include "core/vtrx.h"

template <class F>
void vtrx::toRadio(const char* name, F body) {
    auto radio = owner.lock();
    if (!radio) return; // made by the host alone, or its radio is gone
    auto self = std::static_pointer_cast<vtrx>(weak_from_this().lock());
    if (!self) return;
    seqTask t;
    t.fn = [radio, self, body] { body(*radio, *self); };
    t.name = name;
    radio->asyncProcess(t);
}
