#include "framework/mpscQueue.h"

#include "support/allocationCounter.h"
#include "support/logCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <thread>
#include <vector>

using smallQueue = lockfreempscqueue<int, boost::lockfree::capacity<4>>;
using bigQueue = lockfreempscqueue<int, boost::lockfree::capacity<4096>>;

namespace {
// Two threads push 0 .. n-1 strictly in turn (a handshake orders the
// pushes), so the stamps give one global order the consumer must restore.
void pushAlternatingAndCheck(bigQueue& q, int n) {
    std::atomic<int> turn{0};
    auto producer = [&](int me) {
        for (int i = me; i < n; i += 2) {
            while (turn.load() != i) std::this_thread::yield();
            EXPECT_TRUE(q.push(i));
            turn.store(i + 1);
        }
    };
    std::thread a(producer, 0), b(producer, 1);
    a.join();
    b.join();
    int out;
    for (int i = 0; i < n; ++i) {
        ASSERT_TRUE(q.pop(out));
        EXPECT_EQ(out, i);
    }
}
} // namespace

TEST(MpscQueue, OneProducerKeepsItsOrderAndEmptyPopLeavesOutput) {
    smallQueue q;
    int out = -7;
    EXPECT_FALSE(q.pop(out));
    EXPECT_EQ(out, -7);
    ASSERT_TRUE(q.push(1));
    ASSERT_TRUE(q.push(2));
    ASSERT_TRUE(q.push(3));
    for (int want : {1, 2, 3}) {
        ASSERT_TRUE(q.pop(out));
        EXPECT_EQ(out, want);
    }
    EXPECT_FALSE(q.pop(out));
    EXPECT_EQ(out, 3);
}

TEST(MpscQueue, FullRingRefusesTheExtraItemAndKeepsTheOthers) {
    smallQueue q;
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(q.push(i));
    EXPECT_FALSE(q.push(99));
    int out;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(q.pop(out));
        EXPECT_EQ(out, i);
    }
    // The failed push left a gap in the stamps; the order still holds after it.
    EXPECT_TRUE(q.push(5));
    EXPECT_TRUE(q.push(6));
    ASSERT_TRUE(q.pop(out));
    EXPECT_EQ(out, 5);
    ASSERT_TRUE(q.pop(out));
    EXPECT_EQ(out, 6);
}

TEST(MpscQueue, AlternatingProducersComeOutInPushOrder) {
    bigQueue q;
    pushAlternatingAndCheck(q, 200);
}

TEST(MpscQueue, ManyProducersEachKeepTheirOrderWhileConsumed) {
    bigQueue q;
    constexpr int producers = 8, perThread = 3000;
    std::atomic<bool> done{false};
    std::vector<int> last(producers, -1);
    std::atomic<int> received{0};
    bool inOrder = true;
    std::thread consumer([&] {
        int v = 0;
        while (!done.load() || received.load() < producers * perThread) {
            if (!q.pop(v)) continue;
            int p = v / perThread, seq = v % perThread;
            if (seq != last[p] + 1) inOrder = false;
            last[p] = seq;
            received.fetch_add(1);
        }
    });
    std::vector<std::thread> ts;
    for (int p = 0; p < producers; ++p)
        ts.emplace_back([&, p] {
            for (int i = 0; i < perThread; ++i)
                while (!q.push(p * perThread + i)) std::this_thread::yield();
        });
    for (auto& t : ts) t.join();
    done.store(true);
    consumer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(received.load(), producers * perThread);
}

TEST(MpscQueue, ThirtyThirdLiveProducerIsRefusedWithTheErrorLine) {
    LogCapture log;
    bigQueue q;
    constexpr int live = 32;
    std::barrier pushed(live + 1), release(live + 1);
    std::vector<std::thread> ts;
    for (int i = 0; i < live; ++i)
        ts.emplace_back([&, i] {
            EXPECT_TRUE(q.push(i));
            pushed.arrive_and_wait();
            release.arrive_and_wait(); // stay alive: the slot stays taken
            EXPECT_TRUE(q.push(100 + i)); // the first 32 keep working
        });
    pushed.arrive_and_wait();
    EXPECT_EQ(q.producerCount(), live);
    std::thread extra([&] {
        EXPECT_FALSE(q.push(-1));
        EXPECT_FALSE(q.push(-2));
    });
    extra.join();
    EXPECT_EQ(log.count("error|Too many threads accessing mpsc queue"), 2u);
    release.arrive_and_wait();
    for (auto& t : ts) t.join();
    int out, n = 0;
    while (q.pop(out)) {
        EXPECT_GE(out, 0);
        ++n;
    }
    EXPECT_EQ(n, 2 * live);
}

TEST(MpscQueue, SlotsOfEndedThreadsAreGivenBackWithoutLosingItems) {
    LogCapture log;
    bigQueue q;
    // Far more thread lifetimes than slots, one after another: each must be
    // able to push, and every item must arrive in order.
    for (int i = 0; i < 100; ++i) {
        std::thread t([&, i] { EXPECT_TRUE(q.push(i)); });
        t.join();
    }
    EXPECT_EQ(q.producerCount(), 0);
    EXPECT_EQ(log.count("error|Too many threads accessing mpsc queue"), 0u);
    int out;
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(q.pop(out));
        EXPECT_EQ(out, i);
    }
    EXPECT_FALSE(q.pop(out));
}

TEST(MpscQueue, ThreadOutlivingItsQueueEndsCleanly) {
    std::atomic<bool> pushed{false}, go{false};
    auto q = std::make_unique<bigQueue>();
    std::thread t([&] {
        q->push(1);
        pushed.store(true);
        while (!go.load()) std::this_thread::yield();
    });
    while (!pushed.load()) std::this_thread::yield();
    q.reset(); // the thread's exit record must not touch the freed queue
    go.store(true);
    t.join();
}

TEST(MpscQueue, OrderHoldsAcrossStampWrapAround) {
    // Starts just below the signed 32-bit overflow of the stamps, where a plain
    // signed comparison would put the newest items first.
    bigQueue q(0x7FFFFFF0u);
    pushAlternatingAndCheck(q, 64);
}

TEST(MpscQueue, NewThreadDoesNotInheritTheBacklogOfAnEndedOne) {
    lockfreempscqueue<int, boost::lockfree::capacity<1024>> q;
    // Three threads one after another, each filling most of a ring while
    // nothing is consumed: each must get a ring of its own.
    for (int t = 0; t < 3; ++t) {
        std::thread th([&, t] {
            for (int i = 0; i < 600; ++i) ASSERT_TRUE(q.push(t * 600 + i)) << "thread " << t << " item " << i;
        });
        th.join();
    }
    int out;
    for (int i = 0; i < 1800; ++i) {
        ASSERT_TRUE(q.pop(out));
        EXPECT_EQ(out, i);
    }
}

// A thread whose ring cannot be allocated gets false and an error line, not
// an exception, and its slot is not lost: a later push of the same thread,
// with memory again, takes it. Items pushed as rvalues are moved all the way
// to the consumer, never copied.
namespace {
struct Counted {
    static inline std::atomic<int> copies{0};
    int value = 0;
    Counted() = default;
    explicit Counted(int v) : value(v) {}
    Counted(const Counted& o) : value(o.value) { ++copies; }
    Counted(Counted&& o) noexcept : value(o.value) {}
    Counted& operator=(const Counted& o) {
        value = o.value;
        ++copies;
        return *this;
    }
    Counted& operator=(Counted&& o) noexcept {
        value = o.value;
        return *this;
    }
};
} // namespace

TEST(MpscQueue, NoMemoryForARingRefusesThePushAndKeepsTheSlot) {
    LogCapture log;
    lockfreempscqueue<Counted, boost::lockfree::capacity<4096>> q;
    std::thread producer([&] {
        {
            failAllocationsFrom big(4096); // the ring, not the log line
            EXPECT_FALSE(q.push(Counted(1)));
            EXPECT_FALSE(q.push(Counted(2)));
        }
        EXPECT_EQ(q.producerCount(), 0);
        for (int i = 3; i < 8; ++i) EXPECT_TRUE(q.push(Counted(i)));
        EXPECT_EQ(q.producerCount(), 1);
    });
    producer.join();
    EXPECT_EQ(log.count("error|mpsc queue: no memory for the ring of a new producer"), 2u);
    EXPECT_EQ(log.count("error|Too many threads accessing mpsc queue"), 0u);
    Counted out;
    for (int i = 3; i < 8; ++i) {
        ASSERT_TRUE(q.pop(out));
        EXPECT_EQ(out.value, i);
    }
    EXPECT_EQ(Counted::copies.load(), 0);
    Counted lvalue(9);
    EXPECT_TRUE(q.push(lvalue)); // an lvalue is copied once, into the push
    EXPECT_EQ(Counted::copies.load(), 1);
}
