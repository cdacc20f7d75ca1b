// The framework's objects as a host sees them: only the public header and
// the shared library.
#include "vireocore.h"

#include "support/hostHarness.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

std::string logPath() {
    static std::string p = ::testing::TempDir() + "vireo_host_" + std::to_string(getpid()) + ".log";
    return p;
}

std::string logText() {
    std::ifstream f(logPath());
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class Host : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static bool started = false;
        if (!started) init(logPath().c_str(), 1);
        started = true;
    }
    void TearDown() override {
        getUpdates();
        host::Log::get().clear();
    }
    host::Log& log = host::Log::get();
};

} // namespace

TEST_F(Host, PingTravelsToEchoAndNothingWithoutEcho) {
    void* obj = asyncObject_create();
    ASSERT_NE(obj, nullptr);
    asyncObject_Ping(obj, 3); // no Echo bound yet: nothing at all
    host::pollFor(getUpdates, std::chrono::milliseconds(50));
    EXPECT_TRUE(log.all().empty());

    asyncObject_bindEcho(obj, host::on<"echo", int>);
    asyncObject_Ping(obj, 7);
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("echo").size() == 1; }));
    EXPECT_EQ(log.of("echo")[0].args[0], "7");
    host::pollFor(getUpdates, std::chrono::milliseconds(20));
    EXPECT_EQ(log.of("echo").size(), 1u);
    asyncObject_release(obj);
}

TEST_F(Host, ReleaseWhileAPingIsQueuedAnswersThenReportsDeleted) {
    void* obj = asyncObject_create();
    asyncObject_bindEcho(obj, host::on<"echo", int>);
    asyncObject_bindDeleted(obj, host::on<"deleted", int>);
    asyncObject_Ping(obj, 11);
    asyncObject_release(obj); // the request holds the object until it has run
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("deleted").size() == 1; }));
    auto calls = log.all();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].what, "echo");
    EXPECT_EQ(calls[0].args[0], "11");
    EXPECT_EQ(calls[1].what, "deleted");
    EXPECT_EQ(calls[1].args[0], "1");
    asyncObject_release(nullptr); // ignored
}

TEST_F(Host, ValuesTheHostSetAreNeverEchoedNorDeliveredOnBind) {
    void* item = ValueLabelItem_create();
    void* line = calibLine_create();
    ValueLabelItem_bindValue(item, host::on<"value", int>);
    ValueLabelItem_bindLabel(item, host::onText<"label">);
    ValueLabelItem_setValue(item, 48000);
    ValueLabelItem_setLabel(item, "48 kHz");
    calibLine_setinp(line, 1.5);
    calibLine_setoutp(line, 2.5);
    // A ping on the same (global) task group runs after the sets: once it is
    // answered, the sets have run too.
    void* probe = asyncObject_create();
    asyncObject_bindEcho(probe, host::on<"echo", int>);
    asyncObject_Ping(probe, 1);
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("echo").size() == 1; }));
    // Binding again after the host's own sets delivers nothing either.
    ValueLabelItem_bindValue(item, host::on<"value", int>);
    ValueLabelItem_bindLabel(item, host::onText<"label">);
    calibLine_bindinp(line, host::on<"inp", double>);
    calibLine_bindoutp(line, host::on<"outp", double>);
    host::pollFor(getUpdates, std::chrono::milliseconds(50));
    EXPECT_EQ(log.all().size(), 1u);
    ValueLabelItem_release(item);
    calibLine_release(line);
    asyncObject_release(probe);
}

TEST_F(Host, BadHandlesAndNullTextAreLoggedAndHarmless) {
    void* line = calibLine_create();
    ValueLabelItem_setValue(nullptr, 1);
    ValueLabelItem_setValue(line, 1); // a handle of another class
    ValueLabelItem_bindValue(line, host::on<"value", int>);
    void* item = ValueLabelItem_create();
    ValueLabelItem_setLabel(item, nullptr);
    asyncObject_Ping(nullptr, 1);
    std::string text = logText();
    EXPECT_NE(text.find("ValueLabelItem.Value.set null handle"), std::string::npos);
    EXPECT_NE(text.find("ValueLabelItem.Value.set handle of another class"), std::string::npos);
    EXPECT_NE(text.find("ValueLabelItem_bindValue handle of another class"), std::string::npos);
    EXPECT_NE(text.find("ValueLabelItem.Label.set null text refused"), std::string::npos);
    EXPECT_NE(text.find("asyncObject.Ping() null handle"), std::string::npos);
    // A calibLine's Deleted binding still works through the base functions.
    asyncObject_bindDeleted(line, host::on<"deleted", int>);
    calibLine_release(line);
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("deleted").size() == 1; }));
    ValueLabelItem_release(item);
}

TEST_F(Host, ArraysHoldTheirSamplesAndRefuseBadSizes) {
    void* empty = floatArray_create(0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(floatArray_size(empty), 0);
    EXPECT_EQ(floatArray_data(empty), nullptr);
    floatArray_delete(empty);

    void* f = floatArray_create(1000);
    EXPECT_EQ(floatArray_size(f), 1000);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(floatArray_data(f)) % 32, 0u);
    for (int i = 0; i < 1000; ++i) floatArray_data(f)[i] = float(i);
    EXPECT_EQ(floatArray_data(f)[999], 999.0f);
    floatArray_delete(f);

    void* d = doubleArray_create(3);
    doubleArray_data(d)[2] = 2.5;
    EXPECT_EQ(doubleArray_size(d), 3);
    doubleArray_delete(d);

    void* c = complexArray_create(4);
    EXPECT_EQ(complexArray_size(c), 4);
    float* iq = complexArray_data(c);
    for (int i = 0; i < 8; ++i) iq[i] = float(i); // interleaved real, imaginary
    complexArray_delete(c);

    EXPECT_EQ(floatArray_create(-1), nullptr);
    EXPECT_EQ(doubleArray_create(-100), nullptr);
    EXPECT_EQ(complexArray_create(0x7fffffff), nullptr);
    EXPECT_EQ(floatArray_size(nullptr), 0);
    EXPECT_EQ(floatArray_data(nullptr), nullptr);
    floatArray_delete(nullptr);
    doubleArray_delete(nullptr);
    complexArray_delete(nullptr);
    EXPECT_NE(logText().find("floatArray_create size -1 refused"), std::string::npos);
}

TEST_F(Host, MemoryFunctionsAlignCopyAndRefuse) {
    void* a = mem_malloc(100);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 32, 0u);
    void* b = mem_malloc(100);
    std::memset(a, 0x5a, 100);
    EXPECT_EQ(mem_memcpy(b, a, 100), b);
    EXPECT_EQ(std::memcmp(a, b, 100), 0);
    EXPECT_EQ(mem_memcpy(b, nullptr, 0), b); // n 0 copies nothing
    EXPECT_EQ(mem_memcpy(b, nullptr, 10), b); // refused
    // Overlapping ranges of one array, both ways, as a shift through a copy.
    auto* c = static_cast<unsigned char*>(a);
    for (int i = 0; i < 100; ++i) c[i] = static_cast<unsigned char>(i);
    mem_memcpy(c + 10, c, 80);
    for (int i = 0; i < 80; ++i) ASSERT_EQ(c[10 + i], i) << i;
    mem_memcpy(c, c + 10, 80);
    for (int i = 0; i < 80; ++i) ASSERT_EQ(c[i], i) << i;
    EXPECT_EQ(mem_malloc(-5), nullptr);
    mem_free(a);
    mem_free(b);
    mem_free(nullptr);
}
