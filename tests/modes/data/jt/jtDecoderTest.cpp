// The FT8/FT4/JS8 decoder end to end: real FT8 receptions against what a
// mature decoder found in them, frames made by the tests' own encoder, and
// files the decoder must refuse without harm.
#include "modes/data/jt/ft8decode.h"
#include "modes/data/jt/loadWav.h"

#include "jtEncode.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <unistd.h>

namespace {

using namespace jttest;
namespace fs = std::filesystem;

struct Reference {
    double dt;
    double hz;
    std::string text;
};

std::vector<Reference> references(const std::string& txt) {
    std::ifstream in(txt);
    std::vector<Reference> out;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        std::string time, tilde;
        int snr;
        Reference r;
        if (!(s >> time >> snr >> r.dt >> r.hz >> tilde)) continue;
        std::getline(s, r.text);
        out.push_back(r);
    }
    return out;
}

TEST(JtDecoder, RealRecordingsMatchTheReferenceDecodes) {
    const auto files = recordings();
    ASSERT_EQ(files.size(), 9u);
    int lines = 0, matched = 0, total = 0;
    for (const auto& wav : files) {
        std::vector<uint8_t> result(50 * 32);
        const int n = jtdecode::decodeFile(wav.c_str(), result.data(), 8);
        ASSERT_GE(n, 0) << wav;
        const auto recs = records(result.data(), n);
        total += n;
        std::set<Payload> payloads;
        for (const auto& r : recs) EXPECT_TRUE(payloads.insert(r.payload).second) << "payload repeated in " << wav;
        // Reference times count from 0.5 s into the recording.
        for (const auto& ref : references(fs::path(wav).replace_extension(".txt").string())) {
            ++lines;
            for (const auto& r : recs) {
                if (std::abs(r.frequency - ref.hz) <= 4.0 && std::abs(r.time - (ref.dt + 0.5)) <= 0.25) {
                    ++matched;
                    break;
                }
            }
        }
    }
    EXPECT_EQ(lines, 90);
    std::printf("recordings: %d of %d reference lines matched, %d records\n", matched, lines, total);
    EXPECT_GE(matched, 64);
}

/// A scratch folder of the test's own, removed afterwards.
class JtFiles : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("jt_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
               std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string file(const std::string& name) const { return (dir / name).string(); }

    /// Decodes a file into a buffer first filled with 0xAB.
    int decode(const std::string& path, int mode, std::vector<uint8_t>& result) {
        result.assign(50 * 32 + 64, 0xAB);
        return jtdecode::decodeFile(path.c_str(), result.data(), mode);
    }
};

struct Sent {
    Payload payload;
    double hz;
    double start;
};

/// Frames of each mode at several frequencies and start times (both sub-steps
/// of each), sent at -10 dB, come back exactly: payload, frequency within a
/// bin, time within one sub-step; the record's tail bytes stay the caller's.
TEST_F(JtFiles, EveryModeDecodesItsOwnFramesExactly) {
    std::mt19937 rng(26);
    for (Mode m : {Mode::ft8, Mode::ft4, Mode::js8}) {
        SCOPED_TRACE(name(m));
        const ModeInfo mi = info(m);
        const size_t samples = m == Mode::ft4 ? 90000 : 180000;
        const double symbol = mi.symbolSamples / 12000.0;
        std::vector<Sent> sent;
        std::vector<double> x(samples, 0.0);
        // Three frames side by side, each a whole and a half bin apart from a
        // bin edge, starting on and between block sub-steps.
        for (int i = 0; i < 3; ++i) {
            Sent s{randomPayload(m, rng), 600.0 + i * 700.0 + (i == 1 ? mi.spacingHz / 2 : 0.0),
                   0.3 + i * symbol / 2 + (m == Mode::ft4 ? 0.4 : 0.0)};
            const auto one = synthesize(m, tones(m, s.payload), s.hz, s.start, 100.0, samples, 1);
            for (size_t k = 0; k < samples; ++k) x[k] += one[k];
            sent.push_back(s);
        }
        std::normal_distribution<double> gauss(0.0, 2000.0 * std::sqrt(noiseVariance(1.0, -10.0)));
        std::vector<int16_t> pcm(samples);
        for (size_t k = 0; k < samples; ++k) pcm[k] = int16_t(std::clamp(x[k] / 4 + gauss(rng) / 4, -32767.0, 32767.0));
        writeWav(file("three.wav"), pcm);

        std::vector<uint8_t> result;
        const int n = decode(file("three.wav"), mi.number, result);
        ASSERT_EQ(n, 3);
        const auto recs = records(result.data(), n);
        for (const auto& s : sent) {
            const auto found = std::find_if(recs.begin(), recs.end(), [&](const Record& r) { return r.payload == s.payload; });
            ASSERT_NE(found, recs.end()) << "frame on " << s.hz << " Hz lost";
            EXPECT_NEAR(found->frequency, s.hz, mi.spacingHz / 2 + 0.01);
            // The time of the spectrum frame that sees the first symbol best:
            // half a symbol before it, on a grid of half a symbol.
            EXPECT_NEAR(found->time, s.start - symbol / 2 + mi.timeShift, symbol / 2 + 0.001);
            EXPECT_NEAR(found->snr, -10.0f, 3.0f);
        }
        for (int i = 0; i < n; ++i)
            for (int b = 22; b < 32; ++b) EXPECT_EQ(result[size_t(32 * i + b)], 0xAB);
        EXPECT_EQ(result[size_t(32 * n)], 0xAB);
    }
}

/// What the decoder must not report: an all-zero codeword (its parity and
/// CRC hold), a frame of another mode (mode numbers 0 and 4 are FT4), and a
/// payload heard twice. More than 50 frames give exactly 50 records and
/// nothing written past them.
TEST_F(JtFiles, RejectsZeroWordsOtherModesRepeatsAndStopsAtFifty) {
    std::mt19937 rng(7);
    const Payload zero{};
    writeWav(file("zero.wav"), synthesize(Mode::ft8, tones(Mode::ft8, zero), 1000.0, 0.5, 10.0, 180000, 2));
    std::vector<uint8_t> result;
    EXPECT_EQ(decode(file("zero.wav"), 8, result), 0);

    const Payload p = randomPayload(Mode::ft4, rng);
    writeWav(file("ft4.wav"), synthesize(Mode::ft4, tones(Mode::ft4, p), 1000.0, 0.9, 10.0, 90000, 3));
    EXPECT_EQ(decode(file("ft4.wav"), 0, result), 1);
    EXPECT_EQ(records(result.data(), 1)[0].payload, p);
    EXPECT_EQ(decode(file("ft4.wav"), 4, result), 1);
    EXPECT_EQ(decode(file("ft4.wav"), 8, result), 0);
    EXPECT_EQ(decode(file("ft4.wav"), 10, result), 0);

    // The same FT8 payload twice, far apart in frequency: one record.
    const Payload twice = randomPayload(Mode::ft8, rng);
    auto a = synthesize(Mode::ft8, tones(Mode::ft8, twice), 700.0, 0.5, 10.0, 180000, 4);
    const auto b = synthesize(Mode::ft8, tones(Mode::ft8, twice), 1900.0, 0.5, 10.0, 180000, 5);
    for (size_t k = 0; k < a.size(); ++k) a[k] = int16_t(a[k] / 2 + b[k] / 2);
    writeWav(file("twice.wav"), a);
    EXPECT_EQ(decode(file("twice.wav"), 8, result), 1);

    // 54 strong FT8 frames 52 Hz apart, every one its own payload.
    std::vector<double> x(180000, 0.0);
    std::set<Payload> sent;
    for (int i = 0; i < 54; ++i) {
        const Payload q = randomPayload(Mode::ft8, rng);
        sent.insert(q);
        const auto one = synthesize(Mode::ft8, tones(Mode::ft8, q), 150.0 + 52.0 * i, 0.5, 100.0, 180000, 6);
        for (size_t k = 0; k < x.size(); ++k) x[k] += one[k];
    }
    std::vector<int16_t> crowd(x.size());
    for (size_t k = 0; k < x.size(); ++k) crowd[k] = int16_t(x[k] / 8);
    writeWav(file("crowd.wav"), crowd);
    ASSERT_EQ(decode(file("crowd.wav"), 8, result), 50);
    for (const auto& r : records(result.data(), 50)) EXPECT_EQ(sent.count(r.payload), 1u);
    for (size_t k = 50 * 32; k < result.size(); ++k) ASSERT_EQ(result[k], 0xAB) << "written past 50 records";
    for (int i = 0; i < 50; ++i)
        for (int k = 22; k < 32; ++k) ASSERT_EQ(result[size_t(32 * i + k)], 0xAB);
}

/// Writes a WAV header (44 bytes) with the given fields and `dataBytes` of
/// samples after it (a ramp).
void writeHeader(const std::string& path, uint16_t channels, uint32_t rate, uint16_t align, uint16_t bits,
                 uint32_t dataSize, size_t dataBytes, uint32_t fmtSize = 16, uint16_t format = 1) {
    std::ofstream f(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
    f.write("RIFF", 4);
    u32(36 + dataSize);
    f.write("WAVEfmt ", 8);
    u32(fmtSize);
    u16(format);
    u16(channels);
    u32(rate);
    u32(rate * align);
    u16(align);
    u16(bits);
    f.write("data", 4);
    u32(dataSize);
    for (size_t i = 0; i < dataBytes / 2; ++i) {
        const int16_t v = int16_t(i % 1000);
        f.write(reinterpret_cast<const char*>(&v), 2);
    }
}

/// Files the decoder must refuse (-1) or find empty (0), never reading
/// outside what it holds (run under the address sanitizer); the reader
/// keeps only what a short file really held and clears the rest.
TEST_F(JtFiles, BadFilesAreRefusedAndShortOnesReadOnlyWhatTheyHold) {
    std::vector<uint8_t> result;
    struct Case {
        const char* name;
        uint16_t channels;
        uint32_t rate;
        uint16_t align;
        uint16_t bits;
        uint32_t dataSize;
        size_t dataBytes;
        int mode;
        int expected;
        uint32_t fmtSize = 16;
        uint16_t format = 1;
    };
    const Case cases[] = {
        {"stereo", 2, 12000, 4, 16, 360000, 360000, 8, -1},
        {"eightBit", 1, 12000, 1, 8, 180000, 180000, 8, -1},
        {"alignZero", 1, 12000, 0, 16, 360000, 360000, 8, -1},
        {"rateTen", 1, 10, 2, 16, 360000, 360000, 8, -1},
        {"rateTenFt4", 1, 10, 2, 16, 180000, 180000, 4, -1},
        {"rateTenJs8", 1, 10, 2, 16, 360000, 360000, 10, -1},
        {"noFrames", 1, 12000, 2, 16, 0, 0, 8, 0},
        {"noFramesFt4", 1, 12000, 2, 16, 0, 0, 4, 0},
        {"tooLong", 1, 12000, 2, 16, 360002, 360002, 8, -1},
        {"defaultRecordingAsFt4", 1, 12000, 2, 16, 302400, 302400, 4, -1},
        {"truncatedData", 1, 12000, 2, 16, 360000, 1000, 8, 0},
        {"truncatedDataFt4", 1, 12000, 2, 16, 180000, 1000, 4, 0},
        {"fewBlocks", 1, 12000, 2, 16, 2 * 120000, 2 * 120000, 8, 0},
        {"hugeRate", 1, 0xFFFFFFFFu, 2, 16, 360000, 360000, 8, 0},
        {"hugeRateFt4", 1, 0xFFFFFFFFu, 2, 16, 180000, 180000, 4, 0},
        {"fmtSize18", 1, 12000, 2, 16, 360000, 360000, 8, -1, 18},
        {"float", 1, 12000, 2, 16, 360000, 360000, 8, -1, 16, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeHeader(file(c.name), c.channels, c.rate, c.align, c.bits, c.dataSize, c.dataBytes, c.fmtSize, c.format);
        EXPECT_EQ(decode(file(c.name), c.mode, result), c.expected);
        EXPECT_EQ(result[0], 0xAB);
    }
    {
        std::ofstream(file("headerOnly")) << "RIFF\x10\0\0\0WAVEfmt ";
        EXPECT_EQ(decode(file("headerOnly"), 8, result), -1);
        EXPECT_EQ(decode(file("missing"), 8, result), -1);
        EXPECT_EQ(jtdecode::decodeFile(nullptr, result.data(), 8), -1);
        EXPECT_EQ(jtdecode::decodeFile(file("stereo").c_str(), nullptr, 8), -1);
    }

    // The reader itself: a file shorter than its header says.
    writeHeader(file("short"), 1, 12000, 2, 16, 360000, 1000);
    std::vector<int16_t> buffer(180000, int16_t(0x7777));
    int count = int(buffer.size()), rate = 0;
    ASSERT_EQ(load_wav(buffer.data(), &count, &rate, file("short").c_str()), 0);
    EXPECT_EQ(count, 500);
    EXPECT_EQ(rate, 12000);
    EXPECT_EQ(buffer[499], 499);
    EXPECT_TRUE(std::all_of(buffer.begin() + 500, buffer.end(), [](int16_t v) { return v == 0; }));
    count = 499;
    EXPECT_EQ(load_wav(buffer.data(), &count, &rate, file("short").c_str()), -2);
    EXPECT_EQ(load_wav(nullptr, &count, &rate, file("short").c_str()), -1);
    EXPECT_EQ(load_wav(buffer.data(), nullptr, &rate, file("short").c_str()), -1);
    EXPECT_EQ(load_wav(buffer.data(), &count, &rate, nullptr), -1);
}

} // namespace
