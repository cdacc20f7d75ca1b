#include "framework/mpscQueue.h"

#include <algorithm>

namespace vireo::detail {
namespace {

// One per thread that ever produced into a queue: gives the thread's slots
// back when the thread ends, for every queue that still exists.
struct threadSlotRecord {
    std::vector<std::pair<std::weak_ptr<producerSlots>, int>> held;
    ~threadSlotRecord() {
        for (auto& [table, slot] : held)
            if (auto t = table.lock()) t->release(slot);
    }
};

thread_local threadSlotRecord slotRecord;

} // namespace

void registerProducerSlot(const std::shared_ptr<producerSlots>& table, int slot) {
    auto& held = slotRecord.held;
    // Queues die with their objects; forget their tables so a long-lived
    // thread does not collect records without bound.
    std::erase_if(held, [](auto& e) { return e.first.expired(); });
    held.emplace_back(table, slot);
}

} // namespace vireo::detail
