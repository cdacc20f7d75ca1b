// Every function family of the export pattern, driven through C functions
// made with the same macros as the library's, by a host that only holds
// handles and callbacks.
#include "framework/ValueLabelItem.h"
#include "framework/exportPattern.h"
#include "vireocore.h"

#include "support/hostHarness.h"
#include "support/logCapture.h"

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <unistd.h>

#include <fstream>
#include <sstream>

class widget : public asyncObject {
public:
    explicit widget(std::shared_ptr<syncTask> tg) : asyncObject(std::move(tg)) {
        Gain.changeHook = [this] { gainHooks++; };
    }
    asyncProperty<double> Gain{1.0};
    asyncProperty<bool> On{false};
    asyncProperty<int> Mode{0};
    asyncProperty<float> Level{0.0f};
    asyncProperty<long long> Frequency{0};
    asyncProperty<unsigned long long> Mask{0};
    asyncProperty<std::string> Name;
    asyncProperty<std::shared_ptr<ValueLabelItem>> Choice;
    asyncCollection<ValueLabelItem> Items;
    asyncEvent<std::string> Decoded;

    // A method that changes properties the owner's way, as real ones do.
    void Tune(long long f, int mode) {
        Frequency.set(f, true);
        Mode.set(mode, true);
        Decoded.send("tuned");
    }
    void Publish() {
        Items.add(std::make_shared<ValueLabelItem>(taskGroup(), 8000, "8k"));
        Name.set("published", true);
    }
    std::atomic<int> gainHooks{0};
};

extern "C" {
VC_CLASS(widget)
VC_PROPERTY(widget, Gain)
VC_PROPERTY(widget, On)
VC_PROPERTY(widget, Mode)
VC_PROPERTY(widget, Level)
VC_PROPERTY(widget, Frequency)
VC_PROPERTY(widget, Mask)
VC_PROPERTY(widget, Name)
VC_PROPERTY(widget, Choice)
VC_COLLECTION(widget, Items)
VC_EVENT(widget, Decoded)
VC_METHOD(widget, Tune, (long long f, int mode), (f, mode))
VC_METHOD(widget, Publish, (), ())
VC_CLASS(ValueLabelItem)
VC_PROPERTY(ValueLabelItem, Value)
VC_PROPERTY(ValueLabelItem, Label)
}

namespace {

void poll() { vireo::getUpdates(); }

std::string logPath() {
    static std::string p = ::testing::TempDir() + "vireo_pattern_" + std::to_string(getpid()) + ".log";
    return p;
}

class ExportPattern : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static bool started = false;
        if (!started) {
            vireo::init(logPath().c_str(), 1);
            LogCapture::tapLibrary(); // for the binary's other tests that read the log
        }
        started = true;
    }
    void TearDown() override {
        poll();
        host::Log::get().clear();
    }
    // Waits until every request queued so far on the global task group ran.
    void settle() {
        void* probe = widget_create();
        widget_bindDecoded(probe, host::onText<"settled">);
        widget_Tune(probe, 0, 0);
        ASSERT_TRUE(host::pollUntil(poll, [&] { return !log.of("settled").empty(); }));
        widget_release(probe);
        poll();
        log.forget("settled");
    }
    host::Log& log = host::Log::get();
};

std::string logText() {
    spdlog::default_logger()->flush();
    std::ifstream f(logPath());
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

} // namespace

TEST_F(ExportPattern, SettersQueueNamedRequestsThatStoreWithoutEcho) {
    void* w = widget_create();
    widget_bindGain(w, host::on<"gain", double>);
    widget_setGain(w, 0.5);
    widget_setOn(w, true);
    widget_setMode(w, 3);
    widget_setLevel(w, 0.25f);
    widget_setFrequency(w, 14074000LL);
    widget_setMask(w, 0xffffffffffULL);
    widget_setName(w, "rx1");
    settle();
    auto x = vireo::api::target<widget>(w, "test");
    EXPECT_EQ(x->Gain.get(), 0.5);
    EXPECT_EQ(x->gainHooks.load(), 1);
    EXPECT_TRUE(x->On.get());
    EXPECT_EQ(x->Mode.get(), 3);
    EXPECT_EQ(x->Level.get(), 0.25f);
    EXPECT_EQ(x->Frequency.get(), 14074000LL);
    EXPECT_EQ(x->Mask.get(), 0xffffffffffULL);
    EXPECT_EQ(x->Name.get(), "rx1");
    EXPECT_TRUE(log.of("gain").empty());
    widget_release(w);
}

TEST_F(ExportPattern, MethodsRunInOrderAndTheirOwnerSetsReachTheHost) {
    void* w = widget_create();
    widget_bindFrequency(w, host::on<"freq", long long>);
    widget_bindMode(w, host::on<"mode", int>);
    widget_bindDecoded(w, host::onText<"decoded">);
    widget_Tune(w, 7074000, 2);
    widget_Tune(w, 7074000, 5);
    widget_release(w); // requests keep it alive
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("decoded").size() == 2; }));
    auto all = log.all();
    std::vector<std::string> order;
    for (auto& c : all) order.push_back(c.what + "=" + (c.args.empty() ? "" : c.args[0]));
    EXPECT_EQ(order, (std::vector<std::string>{"freq=7074000", "mode=2", "decoded=tuned", "mode=5", "decoded=tuned"}));
}

TEST_F(ExportPattern, ObjectPropertySetByTheHostIsPublishedWithFreshHandles) {
    void* w = widget_create();
    void* item = ValueLabelItem_create();
    widget_setChoice(w, item);
    ValueLabelItem_release(item); // the request holds its own reference
    settle();
    widget_bindChoice(w, host::onObject<"choice", widget_release>);
    widget_bindChoice(w, host::onObject<"choice", widget_release>);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("choice").size() == 2; }));
    auto calls = log.of("choice");
    EXPECT_NE(calls[0].handle, calls[1].handle);
    // Each handle works with the item's own functions.
    ValueLabelItem_bindValue(calls[0].handle, host::on<"value", int>);
    widget_setChoice(w, nullptr); // refused: no object named
    widget_setChoice(w, w);       // refused: not a ValueLabelItem
    widget_release(w);
}

TEST_F(ExportPattern, CollectionFamiliesReplayEditAndReset) {
    void* w = widget_create();
    widget_Publish(w);
    settle();
    widget_bindItems(w, host::onCollection<"items", ValueLabelItem_release>);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("items").size() == 1; }));
    void* item = log.of("items")[0].handle;
    EXPECT_EQ(log.of("items")[0].args, (std::vector<std::string>{"3", "0"}));
    // A library-made item is published: binding it delivers value and label.
    ValueLabelItem_bindValue(item, host::on<"value", int>);
    ValueLabelItem_bindLabel(item, host::onText<"label">);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("label").size() == 1; }));
    EXPECT_EQ(log.of("value")[0].args[0], "8000");
    EXPECT_EQ(log.of("label")[0].args[0], "8k");

    void* mine = ValueLabelItem_create();
    widget_setItems(w, 3, 0, mine);
    widget_setItems(w, 0, 3, mine);
    ValueLabelItem_release(mine);
    settle();
    auto x = vireo::api::target<widget>(w, "test");
    EXPECT_EQ(x->Items.size(), 6u);
    widget_setItems(w, 0, -4, nullptr);
    widget_resetItems(w);
    settle();
    EXPECT_EQ(x->Items.size(), 0u);
    EXPECT_EQ(log.of("items").size(), 1u); // host edits are not echoed
    EXPECT_NE(logText().find("collection index -4 refused"), std::string::npos);
    widget_release(w);
}

TEST_F(ExportPattern, EmptyEntryHandlesAreRefusedByEveryFunction) {
    void* w = widget_create();
    void* mine = ValueLabelItem_create();
    widget_setItems(w, 0, 1, mine); // entry 0 stays empty
    ValueLabelItem_release(mine);
    settle();
    widget_bindItems(w, host::onCollection<"items", ValueLabelItem_release>);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("items").size() == 2; }));
    void* empty = log.of("items")[0].handle;
    ValueLabelItem_setValue(empty, 1);
    ValueLabelItem_bindValue(empty, host::on<"value", int>);
    widget_setGain(empty, 1.0);
    widget_Tune(empty, 1, 1);
    EXPECT_NE(logText().find("ValueLabelItem.Value.set empty handle"), std::string::npos);
    EXPECT_NE(logText().find("widget.Tune() empty handle"), std::string::npos);
    widget_release(w);
}

TEST_F(ExportPattern, NullCallbackBindsPostNothing) {
    void* w = widget_create();
    widget_Publish(w);
    settle();
    widget_bindItems(w, nullptr);
    widget_bindName(w, nullptr);
    host::pollFor(poll, std::chrono::milliseconds(30));
    EXPECT_TRUE(log.all().empty());
    widget_release(w);
}
