// The JT mode and decoder as a host uses them, through the C interface only,
// on the real UTC clock: short periods recorded from the paced loop-back
// radio with a message sent in one of them, the files decoded, refused
// values, and the CRC functions.
#include "vireocore.h"

#include "support/hostHarness.h"

#include <boost/crc.hpp>
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

namespace {

void poll() {
    getUpdates();
    getRenderUpdates();
}

/// Milliseconds since the start of the UTC hour.
int msInHour() {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    return int(ms % 3600000);
}

} // namespace

TEST(JtHost, RecordsSendsAndDecodesThroughTheInterface) {
    namespace fs = std::filesystem;
    init((::testing::TempDir() + "vireo_jt_" + std::to_string(getpid()) + ".log").c_str(), 1);
    auto& log = host::Log::get();
    const fs::path dir = fs::path(::testing::TempDir()) / ("vireo_jt_" + std::to_string(getpid()));
    fs::create_directories(dir);

    void* radio = TestRadio_create();
    Radio_bindvtrxAdded(radio, host::Transceivers::onAdded);
    Radio_start(radio);
    const auto added = host::Transceivers::await(poll, 1);
    ASSERT_EQ(added.size(), 1u);
    void* v = added[0];

    void* jt = JTModDemod_create();
    JTModDemod_bindnewFile(jt, host::onText<"newFile">);
    JTModDemod_bindperiod(jt, host::on<"period", int>);
    vtrx_bindptt(v, host::on<"ptt", bool>);
    JTModDemod_setsaveDirectory(jt, (dir.string() + "/").c_str());
    // Refused, keeping what they had: the host hears the kept period.
    JTModDemod_setperiod(jt, 0);
    JTModDemod_setDecimation(jt, -4);
    JTModDemod_queueMsg(jt, nullptr, 8, 0);
    void* empty = floatArray_create(0);
    JTModDemod_queueMsg(jt, empty, 8, 0);
    floatArray_delete(empty);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return !log.of("period").empty(); }));
    EXPECT_EQ(log.of("period")[0].args[0], "15000");

    // Periods of 2 s holding 1 s (12000 samples); 20 ms symbols, 10 of them.
    JTModDemod_setsamplesPerBlock(jt, 12000);
    JTModDemod_setperiod(jt, 2000);
    JTModDemod_setsamplesPerSymbol(jt, 960);
    JTModDemod_settoneSpacing(jt, 50.0);
    modDemod_settxFreq(jt, 1000);
    vtrx_setRxFilter(v, 100, 3100);
    vtrx_setModulation(v, jt);
    vtrx_start(v);

    // The message goes in the next period that starts at least 0.3 s from
    // now; mode 10 follows it onto that period's file.
    void* tones = floatArray_create(10);
    for (int i = 0; i < 10; ++i) floatArray_data(tones)[i] = float(i % 4);
    const int start = (msInHour() + 300 + 1999) / 2000 * 2000 % 3600000;
    JTModDemod_queueMsg(jt, tones, 10, start);
    floatArray_delete(tones); // the call took a copy
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("ptt").size() >= 2; }, std::chrono::seconds(6)));
    EXPECT_EQ(log.of("ptt")[0].args[0], "true");
    EXPECT_EQ(log.of("ptt")[1].args[0], "false");
    ASSERT_TRUE(host::pollUntil(
        poll, [&] { return !log.of("newFile").empty() && log.of("newFile").back().args[0].ends_with("10"); },
        std::chrono::seconds(6)));
    std::string sent = log.of("newFile").back().args[0];
    sent.resize(sent.size() - 2);
    EXPECT_EQ(fs::path(sent).parent_path(), dir);
    EXPECT_EQ(fs::path(sent).filename().string().size(), std::string("240101_120015.wav").size());
    EXPECT_EQ(fs::file_size(sent), 44u + 2 * 12000);

    // A recording holds no FT8 frame; a real one holds several. Each record
    // leaves its last 10 bytes as they were.
    std::vector<unsigned char> result(50 * 32, 0xAB);
    EXPECT_EQ(ft8decode(sent.c_str(), result.data(), 0, 8), 0);
    const std::string real = std::string(JT_TEST_DATA) + "/recordings/191111_110615.wav";
    const int n = ft8decode(real.c_str(), result.data(), 0, 8);
    EXPECT_GE(n, 15);
    for (int i = 0; i < n; ++i)
        for (int k = 22; k < 32; ++k) ASSERT_EQ(result[size_t(32 * i + k)], 0xAB);
    EXPECT_EQ(ft8decode(nullptr, result.data(), 0, 8), -1);
    EXPECT_EQ(ft8decode(real.c_str(), nullptr, 0, 8), -1);
    EXPECT_EQ(ft8decode(real.c_str(), result.data(), 0, 4), -1) << "15 s is too long for FT4";

    // crc12 is Boost's augmented CRC; a word ending in its own CRC checks.
    unsigned char word[11] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x11, 0x20, 0x00};
    EXPECT_EQ(crc12(word, 11), (boost::augmented_crc<12, 0xC06>(word, 11) & 0xFFFu));
    const unsigned c = crc12(word, 11);
    word[9] |= (unsigned char)(c >> 8);
    word[10] = (unsigned char)c;
    EXPECT_EQ(crc12_check(word, 11), 1);
    word[3] ^= 4;
    EXPECT_EQ(crc12_check(word, 11), 0);
    EXPECT_EQ(crc12(nullptr, 4), 0u);
    EXPECT_EQ(crc12_check(nullptr, 4), 0);

    Radio_stop(radio);
    host::pollFor(poll, std::chrono::milliseconds(100));
    vtrx_setModulation(v, nullptr);
    host::pollFor(poll, std::chrono::milliseconds(50));
    for (void* x : added) vtrx_release(x);
    JTModDemod_release(jt);
    Radio_release(radio);
    host::pollFor(poll, std::chrono::milliseconds(50));
    log.clear();
    fs::remove_all(dir);
}
