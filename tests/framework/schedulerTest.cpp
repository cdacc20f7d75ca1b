#include "framework/asyncObject.h"
#include "framework/criticalErrorDump.h"
#include "framework/sothreadPool.h"
#include "framework/syncTask.h"

#include "support/externalTool.h"
#include "support/logCapture.h"
#include "support/waitFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <unistd.h>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace {

seqTask task(const char* name, std::function<void()> body) {
    seqTask t;
    // Requests hold their callable in place: keep the capture small.
    auto shared = std::make_shared<std::function<void()>>(std::move(body));
    t.fn = [shared] { (*shared)(); };
    t.name = name;
    return t;
}

struct Recorder {
    std::mutex m;
    std::vector<std::string> order;
    void add(std::string s) {
        std::lock_guard<std::mutex> l(m);
        order.push_back(std::move(s));
    }
    std::vector<std::string> get() {
        std::lock_guard<std::mutex> l(m);
        return order;
    }
};

class Scheduler : public ::testing::Test {
protected:
    sothreadPool pool{4};
    std::shared_ptr<syncTask> group = std::make_shared<syncTask>(pool);
    std::shared_ptr<asyncObject> obj = std::make_shared<asyncObject>(group);

    // Holds the task group inside a data task until release() so that work
    // can pile up while it cannot run.
    std::latch started{1}, gate{1};
    void block() {
        obj->asyncProcess(task("test.block", [this] {
            started.count_down();
            gate.wait();
        }));
        started.wait();
    }
    void release() { gate.count_down(); }
};

} // namespace

TEST_F(Scheduler, TurnRunsAllHostRequestsThenOneDataTaskThenRequeues) {
    Recorder rec;
    block();
    for (int i = 0; i < 10; ++i) {
        std::string name = "D" + std::to_string(i);
        obj->asyncProcess(task("test.data", [&rec, name] { rec.add(name); }));
    }
    obj->queueSetItem(task("test.H1.set", [&rec] { rec.add("H1"); }));
    obj->queueSetItem(task("test.H2.set", [&rec] { rec.add("H2"); }));
    release();
    ASSERT_TRUE(waitFor([&] { return rec.get().size() == 12; }));
    std::vector<std::string> want{"H1", "H2", "D0", "D1", "D2", "D3", "D4", "D5", "D6", "D7", "D8", "D9"};
    EXPECT_EQ(rec.get(), want);
    EXPECT_TRUE(waitFor([&] { return !group->scheduled(); }));
}

TEST_F(Scheduler, HostRequestQueuedByADataTaskRunsBeforeTheNextDataTask) {
    Recorder rec;
    block();
    obj->asyncProcess(task("test.data", [&] {
        rec.add("D0");
        // The host thread is idle meanwhile: this request is the ring's only producer.
        obj->queueSetItem(task("test.H.set", [&rec] { rec.add("H"); }));
    }));
    obj->asyncProcess(task("test.data", [&rec] { rec.add("D1"); }));
    release();
    ASSERT_TRUE(waitFor([&] { return rec.get().size() == 3; }));
    EXPECT_EQ(rec.get(), (std::vector<std::string>{"D0", "H", "D1"}));
}

// A data task that another thread queues once the host's request is queued
// (a transceiver passing its key on to its radio after the host's earlier
// unkey of that radio) never runs before the request, even when the two come
// while a turn is between its requests and its data task: each round starts
// a turn with a request of its own, and the host's request follows it after
// a wait that varies from round to round.
TEST_F(Scheduler, ADataTaskQueuedAfterAHostRequestNeverOvertakesIt) {
    constexpr int rounds = 20000;
    std::atomic<int> queued{-1}, ranData{-1}, overtaken{0};
    int ranRequest = -1; // the lane's own: its items never run at once
    std::thread relay([&] {
        for (int i = 0; i < rounds; ++i) {
            while (queued.load() < i) std::this_thread::yield();
            obj->asyncProcess(task("test.relayed", [&, i] {
                if (ranRequest < i) overtaken.fetch_add(1);
                ranData.store(i);
            }));
        }
    });
    std::minstd_rand spread(7);
    for (int i = 0; i < rounds; ++i) {
        while (ranData.load() < i - 1) std::this_thread::yield();
        obj->queueSetItem(task("test.turn.set", [] {}));
        for (volatile unsigned k = 0, n = spread() % 2000; k < n; k = k + 1) {
        }
        obj->queueSetItem(task("test.H.set", [&ranRequest, i] { ranRequest = i; }));
        queued.store(i);
    }
    relay.join();
    EXPECT_TRUE(waitFor([&] { return ranData.load() == rounds - 1; }));
    EXPECT_EQ(overtaken.load(), 0) << "of " << rounds;
}

TEST_F(Scheduler, OneTaskGroupNeverRunsTwoItemsAtOnce) {
    sothreadPool wide(8);
    auto shared = std::make_shared<syncTask>(wide);
    std::vector<std::shared_ptr<asyncObject>> objs;
    for (int i = 0; i < 4; ++i) objs.push_back(std::make_shared<asyncObject>(shared));
    std::atomic<int> inside{0}, overlap{0}, done{0};
    long plain = 0; // deliberately unsynchronised: serial lanes need no lock
    auto body = [&] {
        if (inside.fetch_add(1) != 0) overlap.fetch_add(1);
        ++plain;
        inside.fetch_sub(1);
        done.fetch_add(1);
    };
    constexpr int producers = 6, each = 500;
    std::vector<std::thread> ts;
    for (int p = 0; p < producers; ++p)
        ts.emplace_back([&, p] {
            for (int i = 0; i < each; ++i)
                objs[(p + i) % 4]->asyncProcess(task("test.data", body));
        });
    for (int i = 0; i < 300; ++i) objs[i % 4]->queueSetItem(task("test.H.set", body));
    for (auto& t : ts) t.join();
    ASSERT_TRUE(waitFor([&] { return done.load() == producers * each + 300; }));
    EXPECT_EQ(overlap.load(), 0);
    EXPECT_EQ(plain, producers * each + 300);
}

TEST_F(Scheduler, FullPropertySetRingDropsThe1025thRequest) {
    LogCapture log;
    std::atomic<int> ran{0};
    block();
    for (int i = 0; i < 1025; ++i) obj->queueSetItem(task("test.H.set", [&ran] { ran.fetch_add(1); }));
    EXPECT_EQ(log.count("error|Can't queue property set"), 1u);
    release();
    ASSERT_TRUE(waitFor([&] { return ran.load() == 1024; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(ran.load(), 1024);
}

TEST_F(Scheduler, FullSeqQueueDropsTheDataTaskWithItsLine) {
    LogCapture log;
    std::atomic<int> ran{0};
    block();
    for (int i = 0; i < 1025; ++i) obj->asyncProcess(task("test.data", [&ran] { ran.fetch_add(1); }));
    EXPECT_EQ(log.count("error|Can't queue seq process"), 1u);
    release();
    ASSERT_TRUE(waitFor([&] { return ran.load() == 1024; }));
}

TEST_F(Scheduler, ExceptionsAreLoggedWithTheRequestNameAndWorkGoesOn) {
    LogCapture log;
    std::string dump = ::testing::TempDir() + "scheduler" + std::to_string(getpid()) + ".dump.txt";
    criticalErrorDump::init(dump);
    std::atomic<int> after{0};
    block();
    obj->queueSetItem(task("test.Boom.set", [] { throw std::runtime_error("boom"); }));
    obj->queueSetItem(task("test.After.set", [&after] { after.fetch_add(1); }));
    obj->queueSetItem(task("test.Odd.set", [] { throw 42; }));
    obj->asyncProcess(task("test.crash", [] { throw 7; }));
    obj->asyncProcess(task("test.std", [] { throw std::logic_error("bad data"); }));
    obj->asyncProcess(task("test.after", [&after] { after.fetch_add(1); }));
    release();
    ASSERT_TRUE(waitFor([&] { return after.load() == 2; }));
    EXPECT_TRUE(log.contains("error|processPropertySetQueue boom test.Boom.set"));
    EXPECT_TRUE(log.contains("error|processPropertySetQueue test.Odd.set"));
    EXPECT_TRUE(log.contains("error|processSeqSetQueue test.crash"));
    EXPECT_TRUE(log.contains("error|procesSeqQueue bad data test.std"));
    // The dump holds only the last entry of an unexpected kind, without a line end.
    EXPECT_EQ(tool::readFile(dump), "TryProcess test.crash");
    criticalErrorDump::init("dump.txt");
}

TEST_F(Scheduler, RenderQueueDropsThe65thItemSilently) {
    LogCapture log;
    std::atomic<int> n{0};
    for (int i = 0; i < 65; ++i) {
        asTask t;
        t.fn = [&n] { n.fetch_add(1); };
        group->SendRenderEvent(t);
    }
    asTask t;
    while (pool.renderQueue.pop(t)) t.fn();
    EXPECT_EQ(n.load(), 64);
    EXPECT_TRUE(log.lines().empty());
}

// A host task's callable goes from the poster to the host without a copy:
// a copy of a std::function copies every capture (and may allocate).
TEST_F(Scheduler, HostTasksAreMovedNotCopied) {
    struct CopyCounter {
        std::atomic<int>* copies;
        explicit CopyCounter(std::atomic<int>* c) : copies(c) {}
        CopyCounter(const CopyCounter& o) : copies(o.copies) { ++*copies; }
        CopyCounter(CopyCounter&& o) noexcept : copies(o.copies) {}
    };
    std::atomic<int> copies{0}, ran{0};
    auto post = [&](bool render) {
        CopyCounter c(&copies);
        auto fn = [c = std::move(c), &ran] { ++ran; };
        if (render)
            obj->SendRenderEvent(std::move(fn));
        else
            obj->SendEvent(std::move(fn));
    };
    copies = 0;
    post(false);
    post(true);
    // Wrapping the lambda into std::function moves it; nothing after that may copy.
    asTask t;
    while (pool.updateQueue.pop(t)) t.fn();
    while (pool.renderQueue.pop(t)) t.fn();
    EXPECT_EQ(ran.load(), 2);
    EXPECT_EQ(copies.load(), 0);
}

TEST_F(Scheduler, FullUpdateQueueLogsAndDrops) {
    LogCapture log;
    asTask t;
    t.fn = [] {};
    for (int i = 0; i < 65537; ++i) group->SendEvent(t);
    EXPECT_EQ(log.count("error|Can't queue property"), 1u);
    int n = 0;
    while (pool.updateQueue.pop(t)) ++n;
    EXPECT_EQ(n, 65536);
}

namespace {
// Posts work to itself while being destroyed, as a back-end thread might
// when its object is released under it.
struct Dying : asyncObject {
    using asyncObject::asyncObject;
    ~Dying() override {
        asyncProcess(seqTask{});
        SendEvent([] {});
        SendRenderEvent([] {});
    }
};
} // namespace

TEST_F(Scheduler, WorkPostedForAnObjectBeingDestroyedIsDroppedQuietly) {
    LogCapture log;
    auto d = std::make_shared<Dying>(group);
    EXPECT_NO_THROW(d.reset());
    std::atomic<int> ran{0};
    obj->asyncProcess(task("test.after", [&ran] { ran.fetch_add(1); }));
    ASSERT_TRUE(waitFor([&] { return ran.load() == 1; }));
    asTask t;
    EXPECT_FALSE(pool.updateQueue.pop(t));
    EXPECT_FALSE(pool.renderQueue.pop(t));
}

TEST_F(Scheduler, ObjectWithoutTaskGroupLogsAndDrops) {
    LogCapture log;
    auto lone = std::make_shared<asyncObject>(nullptr);
    lone->queueSetItem(task("asyncObject.Ping()", [] {}));
    lone->asyncProcess(task("test.data", [] {}));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"error|queueSetItem null taskgroup asyncObject.Ping()"}));
}

TEST_F(Scheduler, RequestKeepsItsObjectAliveAndDeletedFollowsIt) {
    static std::atomic<int> deletedWith{0};
    deletedWith = 0;
    std::atomic<bool> ranOnLiveObject{false};
    block();
    auto victim = std::make_shared<asyncObject>(group);
    victim->Deleted = [](int v) { deletedWith = v; };
    std::weak_ptr<asyncObject> weak = victim;
    // Like every exported request, the body holds its own reference.
    victim->queueSetItem(task("test.Late.set", [&, keep = victim] { ranOnLiveObject = keep.use_count() > 0; }));
    victim.reset(); // the host releases its handle while the request is queued
    EXPECT_FALSE(weak.expired());
    release();
    ASSERT_TRUE(waitFor([&] { return weak.expired(); }));
    EXPECT_TRUE(ranOnLiveObject.load());
    asTask t;
    ASSERT_TRUE(waitFor([&] { return pool.updateQueue.pop(t); }));
    EXPECT_EQ(t.keepAlive, nullptr);
    t.fn();
    EXPECT_EQ(deletedWith.load(), 1);
}
