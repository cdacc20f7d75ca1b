#include "framework/ValueLabelItem.h"
#include "framework/asyncProperty.h"

#include "objectFixture.h"

#include <atomic>
#include <cmath>
#include <latch>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Gadget : asyncObject {
    explicit Gadget(std::shared_ptr<syncTask> tg) : asyncObject(std::move(tg)) {
        Level.changeHook = [this] { ++levelHooks; };
        Name.changeHook = [this] { ++nameHooks; };
        Child.changeHook = [this] { ++childHooks; };
    }
    asyncProperty<double> Level{1.0};
    asyncProperty<std::string> Name{"init"};
    asyncProperty<std::shared_ptr<ValueLabelItem>> Child;
    asyncPersistantProperty<long long> Count{0};
    int levelHooks = 0, nameHooks = 0, childHooks = 0;
};

std::vector<double> levels;
std::vector<std::string> names;
std::vector<void*> children;
void onLevel(double v) { levels.push_back(v); }
void onName(const char* v) { names.emplace_back(v); }
void onChild(void* h) { children.push_back(h); }

class Property : public ObjectTest {
protected:
    void SetUp() override {
        levels.clear();
        names.clear();
        children.clear();
    }
    void TearDown() override {
        for (void* h : children) delete static_cast<objectHandle*>(h);
    }
    std::shared_ptr<Gadget> g = std::make_shared<Gadget>(group);
};

} // namespace

TEST_F(Property, BindAfterAnOwnerSetDeliversTheValueOnceAtTheNextPoll) {
    onGroup(g, [&] { g->Level.set(2.5, true); }); // unbound: nothing posted
    EXPECT_EQ(poll(), 0);
    g->Level.bind(onLevel, g.get());
    EXPECT_TRUE(levels.empty()); // only at the poll
    EXPECT_EQ(poll(), 1);
    EXPECT_EQ(levels, std::vector<double>{2.5});
    EXPECT_EQ(poll(), 0);
}

TEST_F(Property, HostSetsAreStoredAndHookedButNeverEchoedOrPublished) {
    g->Level.bind(onLevel, g.get());
    onGroup(g, [&] { g->Level.hostSet(3.0); });
    EXPECT_EQ(g->Level.get(), 3.0);
    EXPECT_EQ(g->levelHooks, 1);
    EXPECT_FALSE(g->Level.published());
    g->Level.bind(onLevel, g.get());
    EXPECT_EQ(poll(), 0);
    // The owner sets the same value: no event (unchanged), but published now.
    onGroup(g, [&] { g->Level.set(3.0, true); });
    EXPECT_EQ(poll(), 0);
    EXPECT_TRUE(g->Level.published());
    g->Level.bind(onLevel, g.get());
    EXPECT_EQ(poll(), 1);
    EXPECT_EQ(levels, std::vector<double>{3.0});
}

TEST_F(Property, OwnerChangesNotifyOnlyWhenAskedAndNaNAlwaysChanges) {
    g->Level.bind(onLevel, g.get());
    onGroup(g, [&] {
        g->Level.set(4.0, false); // stored, hooked, silent
        g->Level.set(5.0, true);
        g->Level.set(5.0, true); // unchanged: silent, no hook
        g->Level.set(-0.0 + 0.0, true);
        g->Level.set(-0.0, true); // 0.0 == -0.0: unchanged
    });
    EXPECT_EQ(poll(), 2);
    EXPECT_EQ(levels, (std::vector<double>{5.0, 0.0}));
    EXPECT_EQ(g->levelHooks, 3);
    onGroup(g, [&] {
        g->Level.hostSet(NAN);
        g->Level.hostSet(NAN);
        g->Level.set(NAN, false);
    });
    EXPECT_EQ(g->levelHooks, 6);
}

TEST_F(Property, TextIsReadAtDeliverySoTwoChangesDeliverTheNewerTwice) {
    g->Name.bind(onName, g.get());
    onGroup(g, [&] {
        g->Name.set("first", true);
        g->Name.set("second", true);
    });
    EXPECT_EQ(poll(), 2);
    EXPECT_EQ(names, (std::vector<std::string>{"second", "second"}));
    EXPECT_EQ(g->nameHooks, 2);
}

TEST_F(Property, TextPublishesOnlyWithNotify) {
    onGroup(g, [&] { g->Name.set("quiet", false); });
    EXPECT_FALSE(g->Name.published());
    g->Name.bind(onName, g.get());
    EXPECT_EQ(poll(), 0);
    onGroup(g, [&] { g->Name.set("quiet", true); }); // unchanged, but publishes
    EXPECT_EQ(poll(), 0);
    g->Name.bind(onName, g.get());
    EXPECT_EQ(poll(), 1);
    EXPECT_EQ(names, std::vector<std::string>{"quiet"});
}

TEST_F(Property, TextDeliveryWhileTheOwnerWritesIsConsistent) {
    g->Name.bind(onName, g.get());
    const std::string a(200, 'a'), b(300, 'b');
    std::atomic<bool> done{false};
    seqTask writer;
    auto self = g;
    writer.fn = [self, a, b, &done] {
        for (int i = 0; i < 2000; ++i) self->Name.set(i % 2 ? a : b, true);
        done = true;
    };
    writer.name = "test.writer";
    g->asyncProcess(writer);
    while (!done.load()) poll(); // deliveries overlap the writes
    poll();
    ASSERT_EQ(names.size(), 2000u);
    for (auto& n : names) ASSERT_TRUE(n == a || n == b);
    EXPECT_EQ(names.back(), a); // the last delivery reads the last text
}

// An owner-side set on the task group racing a bind on the host thread: one
// of them must deliver the value (before, the set could read the callback
// before the bind stored it, and the bind the flag before the set raised it).
TEST_F(Property, ASetRacingABindIsNeverLost) {
    struct Race : asyncObject {
        using asyncObject::asyncObject;
        asyncProperty<int> Value{0};
        asyncProperty<std::string> Text{""};
    };
    static std::atomic<int> values{0}, texts{0};
    for (int round = 0; round < 300; ++round) {
        values = texts = 0;
        auto r = std::make_shared<Race>(group);
        std::latch go(2);
        std::thread owner([&] {
            go.arrive_and_wait();
            r->Value.set(round + 1, true);
            r->Text.set("on", true);
        });
        go.arrive_and_wait();
        r->Value.bind([](int) { ++values; }, r.get());
        r->Text.bind([](const char*) { ++texts; }, r.get());
        owner.join();
        poll();
        ASSERT_GE(values.load(), 1) << round;
        ASSERT_GE(texts.load(), 1) << round;
    }
}

TEST_F(Property, ObjectFormHandsOutAFreshHandleEveryTime) {
    auto item = std::make_shared<ValueLabelItem>(group, 7, "seven");
    onGroup(g, [&] { g->Child.hostSet(item); }); // the host named it: published
    EXPECT_EQ(g->childHooks, 1);
    g->Child.bind(onChild, g.get());
    g->Child.bind(onChild, g.get());
    EXPECT_EQ(poll(), 2);
    ASSERT_EQ(children.size(), 2u);
    EXPECT_NE(children[0], children[1]);
    EXPECT_EQ(static_cast<objectHandle*>(children[0])->get(), item.get());
    onGroup(g, [&] { g->Child.hostSet(item); }); // same object: publishes only
    EXPECT_EQ(g->childHooks, 1);
    auto other = std::make_shared<ValueLabelItem>(group);
    onGroup(g, [&] { g->Child.set(other, true); });
    EXPECT_EQ(poll(), 1);
    EXPECT_EQ(static_cast<objectHandle*>(children[2])->get(), other.get());
}

TEST_F(Property, LibraryMadeItemsArePublishedAtConstruction) {
    auto item = std::make_shared<ValueLabelItem>(group, 96000, "96 kHz");
    static int value = 0;
    item->Value.bind([](int v) { value = v; }, item.get());
    item->Label.bind(onName, item.get());
    EXPECT_EQ(poll(), 2);
    EXPECT_EQ(value, 96000);
    EXPECT_EQ(names, std::vector<std::string>{"96 kHz"});
    auto hostMade = std::make_shared<ValueLabelItem>(group);
    hostMade->Label.bind(onName, hostMade.get());
    EXPECT_EQ(poll(), 0);
}

TEST_F(Property, EventsOfAReleasedOwnerKeepItAliveUntilDelivered) {
    g->Name.bind(onName, g.get());
    onGroup(g, [&] { g->Name.set("last words", true); });
    std::weak_ptr<Gadget> weak = g;
    g.reset();
    EXPECT_FALSE(weak.expired()); // the queued host task holds it
    EXPECT_EQ(poll(), 1);
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(names, std::vector<std::string>{"last words"});
}
