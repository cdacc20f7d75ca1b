#pragma once
// lockfreempscqueue: many producing threads, one consuming thread, no locks
// and no allocation per item.
//
// Each producing thread owns a single-producer ring (boost spsc_queue) in one
// of 32 slots; the ring is allocated on the thread's first push. Every push
// first takes a stamp from a global counter, so the consumer can restore the
// order of arrival across threads: it looks at the head of every ring and
// takes the one whose stamp is the next expected, or else the smallest.
//
// Guarantees:
//  - items of one thread come out in the order that thread pushed them;
//  - across threads, items come out in stamp order as long as each stamped
//    item is already in its ring when the consumer looks (an item still being
//    appended is overtaken by later stamps);
//  - stamps are compared with serial-number arithmetic, so the order holds
//    across the 2^32 wrap-around as long as fewer than 2^31 items are queued.
//
// A slot belongs to its thread until the thread ends; it is then given back
// (the items still in its ring stay and are delivered in order) and the next
// new producer takes it over together with its ring. At most 32 producing
// threads may be alive at once; a 33rd gets false and an error line.
#include <boost/lockfree/policies.hpp>
#include <boost/lockfree/spsc_queue.hpp>
#include <spdlog/spdlog.h>

#include <pthread.h>

#include <array>
#include <atomic>
#include <memory>
#include <new>
#include <utility>
#include <vector>

template <class T>
struct mpscqueueItem {
    int sequence;
    // The rings can only copy-construct their elements (placement new from a
    // const reference); this "copy" takes the item over, so that an item is
    // moved into its ring instead of copied, and a task's callable is never
    // duplicated on its way to the consumer. Only the ring copies an item.
    mutable T item;

    mpscqueueItem(int stamp, T&& value) : sequence(stamp), item(std::move(value)) {}
    mpscqueueItem(const mpscqueueItem& other) : sequence(other.sequence), item(std::move(other.item)) {}
    mpscqueueItem& operator=(const mpscqueueItem&) = delete;
};

namespace vireo::detail {

/// The producer-slot table of one queue. It is shared with the thread-exit
/// records of its producers so that a thread ending after its queue is gone
/// finds nothing to give back.
struct producerSlots {
    static constexpr int maxProducers = 32;
    std::array<std::atomic<pthread_t>, maxProducers> ids{};
    std::array<std::atomic<bool>, maxProducers> taken{};

    /// Called by the owning thread as it ends. The release store pairs with
    /// the acquire exchange in claim(): the next owner of the slot sees every
    /// write the old owner made to the ring.
    void release(int slot) noexcept {
        ids[slot].store(pthread_t{}, std::memory_order_relaxed);
        taken[slot].store(false, std::memory_order_release);
    }
};

/// Remembers, per thread, the slots it holds so they are released at exit.
void registerProducerSlot(const std::shared_ptr<producerSlots>& table, int slot);

} // namespace vireo::detail

template <class T, class Capacity>
class lockfreempscqueue;

template <class T, size_t N>
class lockfreempscqueue<T, boost::lockfree::capacity<N>> {
    using ring = boost::lockfree::spsc_queue<mpscqueueItem<T>, boost::lockfree::capacity<N>>;
    static constexpr int maxProducers = vireo::detail::producerSlots::maxProducers;

public:
    /// The counter starts at 1, so the first item gets stamp 2; tests start
    /// it elsewhere to cross the wrap-around.
    explicit lockfreempscqueue(unsigned counterStart = 1)
        : slots_(std::make_shared<vireo::detail::producerSlots>()), sequence_(counterStart) {
        for (auto& r : rings_) r.store(nullptr, std::memory_order_relaxed);
    }
    ~lockfreempscqueue() {
        for (auto& r : rings_) delete r.load(std::memory_order_acquire);
    }
    lockfreempscqueue(const lockfreempscqueue&) = delete;
    lockfreempscqueue& operator=(const lockfreempscqueue&) = delete;

    /// Queues a copy of item (see the moving form). Any thread.
    bool push(const T& item) { return push(T(item)); }

    /// Moves item into the queue. False when this thread's ring is full or no
    /// producer slot is free (or its ring cannot be allocated); the item is
    /// then dropped. Any thread; never blocks, never throws for want of
    /// memory; allocates only the ring on a thread's first push.
    bool push(T&& item) {
        // The stamp is taken before anything can fail: a failed push leaves a
        // gap, which the consumer steps over by taking the smallest head.
        int stamp = int(sequence_.fetch_add(1, std::memory_order_seq_cst) + 1);
        int slot = ownSlot();
        if (slot < 0) {
            slot = claimSlot();
            if (slot == noSlotFree) spdlog::error("Too many threads accessing mpsc queue");
            if (slot < 0) return false;
        }
        return rings_[slot].load(std::memory_order_relaxed)->push(mpscqueueItem<T>(stamp, std::move(item)));
    }

    /// The form used for host tasks: takes the item and moves it in.
    bool enqueue(T item) { return push(std::move(item)); }

    /// Takes the next item in arrival order into out. False (out untouched)
    /// when every ring is empty. One consuming thread at a time.
    bool pop(T& out) {
        ring* chosen = nullptr;
        int best = 0;
        for (auto& slot : rings_) {
            ring* r = slot.load(std::memory_order_acquire);
            if (!r || r->read_available() == 0) continue;
            int s = r->front().sequence;
            if (s == expected_) {
                chosen = r;
                break;
            }
            if (!chosen || serialLess(s, best)) {
                chosen = r;
                best = s;
            }
        }
        if (!chosen) return false;
        chosen->consume_one([&](mpscqueueItem<T>& it) {
            out = std::move(it.item);
            expected_ = int(unsigned(it.sequence) + 1u);
        });
        return true;
    }

    /// True when some ring holds an item. Consumer side.
    bool hasItems() const {
        for (auto& slot : rings_) {
            ring* r = slot.load(std::memory_order_acquire);
            if (r && r->read_available() > 0) return true;
        }
        return false;
    }

    /// Number of producer slots currently held by live threads.
    int producerCount() const {
        int n = 0;
        for (auto& t : slots_->taken) n += t.load(std::memory_order_relaxed) ? 1 : 0;
        return n;
    }

private:
    static bool serialLess(int a, int b) { return int(unsigned(a) - unsigned(b)) < 0; }

    int ownSlot() const {
        pthread_t self = pthread_self();
        for (int i = 0; i < maxProducers; ++i)
            if (pthread_equal(slots_->ids[i].load(std::memory_order_relaxed), self)) return i;
        return -1;
    }

    int claimSlot() {
        // A slot given back by an ended thread keeps its ring and whatever is
        // still queued in it. Prefer slots whose ring is unused or drained, so
        // that a new thread does not inherit another's backlog and find its
        // ring full; take a backlogged one only when nothing else is free.
        for (int pass = 0; pass < 2; ++pass) {
            for (int i = 0; i < maxProducers; ++i) {
                if (slots_->taken[i].load(std::memory_order_relaxed)) continue;
                ring* r = rings_[i].load(std::memory_order_acquire);
                if (pass == 0 && r && r->read_available() > 0) continue;
                bool expected = false;
                if (!slots_->taken[i].compare_exchange_strong(expected, true, std::memory_order_acquire))
                    continue;
                if (!r) {
                    try {
                        r = new ring;
                    } catch (const std::bad_alloc&) {
                        // Give the slot back: a later push may find memory.
                        slots_->taken[i].store(false, std::memory_order_release);
                        spdlog::error("mpsc queue: no memory for the ring of a new producer");
                        return noMemory;
                    }
                    // Published with release: the consumer's acquire load of
                    // the pointer sees a fully built ring.
                    rings_[i].store(r, std::memory_order_release);
                }
                slots_->ids[i].store(pthread_self(), std::memory_order_relaxed);
                try {
                    vireo::detail::registerProducerSlot(slots_, i);
                } catch (...) {
                    // Without a thread-exit record the slot simply stays owned.
                }
                return i;
            }
        }
        return noSlotFree;
    }

    static constexpr int noSlotFree = -1;
    static constexpr int noMemory = -2;

    std::shared_ptr<vireo::detail::producerSlots> slots_;
    std::array<std::atomic<ring*>, maxProducers> rings_;
    std::atomic<unsigned> sequence_;
    int expected_ = 0; // consumer only
};
