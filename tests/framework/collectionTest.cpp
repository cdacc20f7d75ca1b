#include "framework/ValueLabelItem.h"
#include "framework/asyncCollection.h"
#include "framework/asyncEvent.h"

#include "support/logCapture.h"
#include "objectFixture.h"

#include <string>
#include <vector>

namespace {

struct Lister : asyncObject {
    explicit Lister(std::shared_ptr<syncTask> tg) : asyncObject(std::move(tg)) {
        Items.changeHook = [this] { ++hooks; };
    }
    asyncCollection<ValueLabelItem> Items;
    asyncEvent<std::string> Text;
    asyncEvent<int, double> Pair;
    int hooks = 0;
};

struct Received {
    unsigned long op, index;
    asyncObject* object; // what the handle refers to (null for an empty entry)
};
std::vector<Received> received;
std::vector<std::string> texts;
void onItem(unsigned long op, unsigned long index, void* h) {
    auto* ref = static_cast<objectHandle*>(h);
    received.push_back({op, index, ref->get()});
    delete ref; // the host frees each handle once
}
void onText(const char* t) { texts.emplace_back(t); }

class Collection : public ObjectTest {
protected:
    void SetUp() override {
        received.clear();
        texts.clear();
    }
    std::shared_ptr<Lister> l = std::make_shared<Lister>(group);
    std::shared_ptr<ValueLabelItem> item(int v) { return std::make_shared<ValueLabelItem>(group, v, std::to_string(v)); }
};

} // namespace

TEST_F(Collection, BindReplaysTheListAsAdditionsInOrder) {
    l->Items.bind(onItem, l.get());
    EXPECT_EQ(poll(), 0); // empty list: nothing
    auto a = item(1), b = item(2), c = item(3);
    onGroup(l, [&] {
        l->Items.add(a);
        l->Items.add(b);
    });
    EXPECT_EQ(poll(), 2); // additions after the bind, one by one
    onGroup(l, [&] { l->Items.add(c); });
    poll();
    received.clear();
    l->Items.bind(onItem, l.get());
    EXPECT_EQ(poll(), 3);
    ASSERT_EQ(received.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(received[i].op, 3u);
        EXPECT_EQ(received[i].index, 0u);
    }
    EXPECT_EQ(received[0].object, a.get());
    EXPECT_EQ(received[1].object, b.get());
    EXPECT_EQ(received[2].object, c.get());
    EXPECT_EQ(l->hooks, 0); // add never runs the hook
}

TEST_F(Collection, HostOpsEditSilentlyWithTheHookOnlyOnReplace) {
    l->Items.bind(onItem, l.get());
    auto a = item(1), b = item(2);
    onGroup(l, [&] {
        l->Items.set(3, 0, a); // add
        l->Items.set(0, 1, b); // grows to two entries, stores at 1
    });
    EXPECT_EQ(l->Items.size(), 2u);
    EXPECT_EQ(l->hooks, 1);
    onGroup(l, [&] { l->Items.set(0, 1, b); }); // same object: no hook
    EXPECT_EQ(l->hooks, 1);
    onGroup(l, [&] { l->Items.set(0, 2, a); }); // index 2 of 2: grows to 4
    EXPECT_EQ(l->Items.size(), 4u);
    auto list = l->Items.items();
    EXPECT_EQ(list[2], a);
    EXPECT_EQ(list[3], nullptr);
    onGroup(l, [&] {
        l->Items.set(1, 0, b);
        l->Items.set(2, 0, b);
        l->Items.set(5, 0, b);
    });
    EXPECT_EQ(l->Items.size(), 4u);
    onGroup(l, [&] { l->Items.set(4, 0, nullptr); });
    EXPECT_EQ(l->Items.size(), 0u);
    onGroup(l, [&] { l->Items.set(0, 0, a); }); // index 0 on an empty list
    EXPECT_EQ(l->Items.size(), 1u);
    onGroup(l, [&] { l->Items.reset(); });
    EXPECT_EQ(l->Items.size(), 0u);
    EXPECT_EQ(poll(), 0); // nothing of the host's own edits comes back
}

TEST_F(Collection, AbsurdOrNegativeIndexIsRefusedWithoutGrowth) {
    LogCapture log;
    auto a = item(1);
    onGroup(l, [&] {
        l->Items.set(0, -1, a);
        l->Items.set(0, 0x7fffffff, a);
        l->Items.set(0, 1 << 16, a);
    });
    EXPECT_EQ(l->Items.size(), 0u);
    EXPECT_EQ(log.count("error|collection index -1 refused"), 1u);
    EXPECT_EQ(log.count("error|collection index 2147483647 refused"), 1u);
    EXPECT_EQ(log.count("error|collection index 65536 refused"), 1u);
}

TEST_F(Collection, EmptyEntriesReachTheHostAsHandlesOnEmptyReferences) {
    auto a = item(1);
    onGroup(l, [&] { l->Items.set(0, 2, a); }); // entries 0, 1 and 3 empty
    l->Items.bind(onItem, l.get());
    EXPECT_EQ(poll(), 4);
    ASSERT_EQ(received.size(), 4u);
    EXPECT_EQ(received[0].object, nullptr);
    EXPECT_EQ(received[2].object, a.get());
}

TEST_F(Collection, NoCallbackMeansNoHandleAndNoEvent) {
    onGroup(l, [&] { l->Items.add(item(1)); });
    l->Items.bind(nullptr, l.get());
    EXPECT_EQ(poll(), 0);
}

TEST_F(Collection, EventsReachTheCallbackBoundAtDeliveryAndAreNotReplayed) {
    onGroup(l, [&] { l->Text.send("lost"); }); // unbound: lost
    l->Text.bind(onText, l.get());
    EXPECT_EQ(poll(), 0);
    onGroup(l, [&] { l->Text.send("CQ CQ"); });
    EXPECT_EQ(poll(), 1);
    EXPECT_EQ(texts, std::vector<std::string>{"CQ CQ"});
    onGroup(l, [&] { l->Text.send("dropped"); });
    l->Text.bind(nullptr, l.get()); // unbound before delivery: not called
    EXPECT_EQ(poll(), 1);
    EXPECT_EQ(texts.size(), 1u);

    static int gotInt = 0;
    static double gotDouble = 0;
    l->Pair.bind([](int i, double d) { gotInt = i, gotDouble = d; }, l.get());
    onGroup(l, [&] { l->Pair.send(4, 0.25); });
    EXPECT_EQ(poll(), 1);
    EXPECT_EQ(gotInt, 4);
    EXPECT_EQ(gotDouble, 0.25);
}
