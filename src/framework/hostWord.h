#pragma once
// The host's last word on a property is the object's value.
//
// The rule, for every property: once the host has polled, the last value it
// heard of a property is the value the object holds. A value the host set
// itself counts as heard:
//  - a value the host set and the object took is stored and acted on, never
//    echoed back;
//  - a value the object refuses (out of range, one its chain cannot carry)
//    is told back: the host hears the value kept;
//  - a change the object makes itself is told.
// The one departure from "never echoed" is ptt, whose host set may not take:
// a key refused, or an unkey of a transmission keyed after it, is told back
// with the value that holds.
//
// A value is told from the object's task group and heard on the host's
// thread, so a value told before the host's latest set of that property had
// run may reach the host after the set: it was true before the set, and the
// set either holds or is told back itself. Such a told value is stale and
// never delivered. hostWord counts the host's sets as the host makes them
// and as their requests run; every told value carries the count that had run
// when it was told (toldAfter), and the host thread compares it with the
// count made when it delivers.
#include <atomic>
#include <cstdint>

/// A told value's stamp: the host's sets of its property that had run when
/// it was told.
struct toldAfter {
    const std::atomic<uint64_t>* made = nullptr; // null: not a property's value
    uint64_t ran = 0;
    /// A later host set of the property has been made since. Host thread.
    bool stale() const { return made && ran < made->load(); }
};

class hostWord {
public:
    /// The host makes a set: its number, for the request to carry. Host
    /// thread (the host's calls come from one thread at a time).
    uint64_t made() { return made_.fetch_add(1) + 1; }
    /// The request of set `n` could not be queued: it never runs. Host
    /// thread, right after made().
    void dropped() { made_.fetch_sub(1); }
    /// The request of set `n` runs. Owner's task group.
    void runs(uint64_t n) { ran_.store(n); }
    /// The stamp of a value told now. Owner's task group, or the host thread
    /// (a bind).
    toldAfter stamp() const { return {&made_, ran_.load()}; }

private:
    // made_ is written and compared on the host thread only; ran_ is written
    // on the owner's task group and read there or by a bind on the host
    // thread. Sequentially consistent: they are rare.
    std::atomic<uint64_t> made_{0};
    std::atomic<uint64_t> ran_{0};
};
