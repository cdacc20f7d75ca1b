// The receive chain of a transceiver: one receive block at a time, on the
// transceiver's task group.
#include "core/vtrx.h"

#include "framework/hostArrays.h"

void vtrx::processRxChunk(buff<cplx> block, long long frequency, int rate, buff<float> wideBand,
                          double wideBandValue, int slot) {
    if (!running) return;
    if (slot >= 0 && slot < 4) arrivedSlots |= 1 << slot;

    if (SendIQ.get()) sendIQ(block, frequency, rate);
    if (OwnerID.get() > 0 || !mode) return; // an IQ source only
}

void vtrx::sendIQ(const buff<cplx>& block, long long frequency, int rate) {
    if (!newIQ_.load()) return;
    // The host gets its own copy; the task frees it if nobody is bound when
    // it runs, and a refused post takes the copy with it.
    buff<cplx> copy(block.count);
    copy.copy(block);
    SendRenderEvent([this, copy, frequency, rate] {
        if (auto cb = newIQ_.load()) cb(vireo::api::arrayHandle(copy), double(frequency), rate);
    });
}
