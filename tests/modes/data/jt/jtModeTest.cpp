// The JT mode driven block by block on its transceiver's task group, as the
// transceiver drives it: the period recordings byte for byte, the settings a
// period takes at its start, refused settings, writers that fail or are slow,
// and the transmitter's start, symbol clock, shapes and ramps.
#include "jtLoop.h"

#include "support/logCapture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cfloat>
#include <climits>
#include <cstring>
#include <fstream>
#include <functional>
#include <thread>

namespace {

using namespace jttest;
using cplx = std::complex<float>;

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}
uint32_t u32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
int16_t s16(const std::vector<uint8_t>& b, size_t at) { return int16_t(b[at] | b[at + 1] << 8); }
float f32(const std::vector<uint8_t>& b, size_t at) {
    float v;
    std::memcpy(&v, &b[at], 4);
    return v;
}

class JtMode : public JtLoop {
protected:
    using Signal = std::function<cplx(long long)>;
    long long fed = 0; // input samples given to demodulate since the clock was set

    void at(long long micros) {
        setClock(micros);
        fed = 0;
    }
    /// demodulate on `chunks` blocks of `length` samples of signal(n), on the
    /// transceiver's task group, the clock at each block's start.
    void feed(int chunks, size_t length, const Signal& signal) {
        onGroup(v, [&] {
            for (int c = 0; c < chunks; ++c) {
                testUtc = clockBase + fed * 1000000 / 48000;
                buff<cplx> b(length);
                for (size_t i = 0; i < length; ++i) b[i] = signal(fed + static_cast<long long>(i));
                const buff<float> audio = mode->demodulate(b);
                ASSERT_EQ(audio.count, length);
                for (size_t i = 0; i < length; ++i)
                    ASSERT_TRUE(audio[i] == b[i].real() || (std::isnan(audio[i]) && std::isnan(b[i].real())));
                fed += static_cast<long long>(length);
            }
        });
        poll();
    }
    /// The text of the next newFile not yet taken, feeding silence until it
    /// arrives. It may have arrived already: a writer can finish before the
    /// block that started it is done. The clock first moves on half a
    /// second, out of the window in which a period starts.
    std::string untilFile(size_t length = 512) {
        at(clockBase + fed * 1000000 / 48000 + 500000);
        std::string text;
        waitFor([&] {
            auto files = host::Log::get().of("newFile");
            if (files.size() > taken) text = files[taken].args[0];
            if (text.empty()) feed(1, length, [](long long) { return cplx{}; });
            return !text.empty();
        });
        ++taken;
        return text;
    }
    size_t taken = 0; // newFile texts untilFile has returned
    template <class F>
    void request(F f) {
        onGroup(mode, [&] { f(*mode); });
        poll();
    }
    /// n samples of modulate's output on the transceiver's task group.
    std::vector<cplx> transmit(size_t n) {
        std::vector<cplx> out;
        onGroup(v, [&] {
            buff<cplx> in(n, cplx{}), block(n);
            mode->modulate(in, block);
            out.assign(block.begin(), block.end());
        });
        return out;
    }
};

/// Instantaneous frequency (Hz) between samples i and i + 1.
double hzAt(const std::vector<cplx>& x, size_t i) {
    return std::arg(std::complex<double>(x[i + 1]) / std::complex<double>(x[i])) * 48000.0 / (2 * M_PI);
}

TEST_F(JtMode, DefaultPeriodIsTheWavFileNamedByItsStart) {
    mode->Enabled.bind(host::on<"enabled", bool>, mode.get());
    const double amplitude = 0.4;
    // 1 kHz, plus an offset so that no sample is exactly 0.
    auto signal = [&](long long n) {
        return cplx(float(amplitude * std::cos(2 * M_PI * 1000.0 * double(n) / 48000.0) + 0.001f), 0.3f);
    };
    at(noonJan2024 + 14990000); // 12:00:14.99: no period yet
    feed(1, 510, signal);
    EXPECT_TRUE(std::filesystem::is_empty(dir.prefix()));
    at(noonJan2024 + 15000000 + 200000); // 0.2 s into the period
    // Blocks of 510: each keeps its samples 0, 4, ... 504 (127), the tail
    // is lost and the next block starts over.
    const int blocks = (151200 + 126) / 127;
    feed(blocks, 510, signal);
    const std::string text = untilFile();
    const std::string path = dir.file("240101_120015.wav");
    EXPECT_EQ(text, path + "8");

    const auto b = readFile(path);
    ASSERT_EQ(b.size(), 302444u);
    const uint8_t header[44] = {'R', 'I', 'F', 'F', 0x64, 0x9D, 0x04, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                16, 0, 0, 0, 1, 0, 1, 0, 0xE0, 0x2E, 0, 0, 0xC0, 0x5D, 0, 0,
                                2, 0, 16, 0, 'd', 'a', 't', 'a', 0x40, 0x9D, 0x04, 0};
    EXPECT_EQ(0, std::memcmp(b.data(), header, 44));
    // The peak (not 15 times the mean) goes to 32000; samples truncated.
    double peak = 0;
    for (int k = 0; k < 151200; ++k) peak = std::max(peak, std::fabs(double(signal((k / 127) * 510 + (k % 127) * 4).real())));
    for (int k = 0; k < 151200; ++k) {
        const float x = signal((k / 127) * 510 + (k % 127) * 4).real();
        ASSERT_NEAR(s16(b, 44 + 2 * size_t(k)), std::trunc(double(x) * float(32000.0 / peak)), 1.0) << k;
    }
    EXPECT_TRUE(host::Log::get().of("enabled").empty());
}

TEST_F(JtMode, LevelsClipSilenceAndBadSamples) {
    // Short periods: 1 s, 1200 slots (0.1 s).
    request([](JTModDemod& m) {
        m.samplesPerBlock.hostSet(1200);
        m.period.hostSet(1000);
    });
    // A spike 100 times the level of the rest: clipped at 15 x the mean.
    at(noonJan2024 + 15000000);
    feed(10, 512, [](long long n) { return cplx(n == 400 ? 50.0f : (n % 8 < 4 ? 0.5f : -0.5f), 0); });
    EXPECT_EQ(untilFile(), dir.file("240101_120015.wav") + "8");
    auto b = readFile(dir.file("240101_120015.wav"));
    ASSERT_EQ(b.size(), 44u + 2400);
    EXPECT_EQ(s16(b, 44 + 2 * 100), 32766); // the spike
    // Mean magnitude (50 + 1199 x 0.5) / 1200; level 32000 / (15 x mean).
    const double mean = (50.0 + 1199 * 0.5) / 1200;
    EXPECT_EQ(s16(b, 44), int16_t(0.5 * float(32000.0 / (15 * mean))));
    EXPECT_EQ(s16(b, 46), int16_t(-0.5 * float(32000.0 / (15 * mean))));

    // Silence: every sample 0, not 0 x infinity.
    at(noonJan2024 + 16000000);
    feed(10, 512, [](long long) { return cplx{}; });
    EXPECT_EQ(untilFile(), dir.file("240101_120016.wav") + "8");
    b = readFile(dir.file("240101_120016.wav"));
    ASSERT_EQ(b.size(), 44u + 2400);
    EXPECT_TRUE(std::all_of(b.begin() + 44, b.end(), [](uint8_t x) { return x == 0; }));

    // A sample that is not a number is recorded as 0 and leaves the level of
    // the rest alone; an infinite one too.
    at(noonJan2024 + 17000000);
    feed(10, 512, [](long long n) {
        if (n == 40) return cplx(std::nanf(""), 0);
        if (n == 80) return cplx(INFINITY, 0);
        return cplx(0.25f, 0);
    });
    EXPECT_EQ(untilFile(), dir.file("240101_120017.wav") + "8");
    b = readFile(dir.file("240101_120017.wav"));
    EXPECT_EQ(s16(b, 44 + 2 * 10), 0);
    EXPECT_EQ(s16(b, 44 + 2 * 20), 0);
    EXPECT_EQ(s16(b, 44 + 2 * 11), 32000);

    // A period of a minute or more is named to the minute; endPadding slots
    // at the end are zero and the period ends that much earlier (blocks of
    // 500 keep 125 samples: the 8th reaches 1000).
    request([](JTModDemod& m) {
        m.period.hostSet(60000);
        m.endPadding.hostSet(200);
    });
    at(noonJan2024 + 60000000 + 100000);
    feed(8, 500, [](long long) { return cplx(0.5f, 0); });
    EXPECT_EQ(untilFile(), dir.file("240101_1201.wav") + "8");
    b = readFile(dir.file("240101_1201.wav"));
    ASSERT_EQ(b.size(), 44u + 2400);
    EXPECT_EQ(s16(b, 44 + 2 * 999), 32000);
    for (size_t k = 1000; k < 1200; ++k) ASSERT_EQ(s16(b, 44 + 2 * k), 0) << k;
}

TEST_F(JtMode, ComplexRecordingIsMixedDownAndCarriesTheDial) {
    onGroup(v, [&] { v->vfo.hostSet(14074000); });
    request([](JTModDemod& m) { m.SaveMode.hostSet(1); });
    at(noonJan2024 + 15100000);
    // 1500 Hz: the mixer brings it to 0 Hz, so every recorded sample is the
    // same point, across block boundaries too.
    auto tone = [](long long n) { return cplx(std::polar(1.0, 2 * M_PI * 1500.0 * double(n) / 48000.0 + 0.3)); };
    feed(592, 512, tone);
    const std::string text = untilFile();
    const std::string path = dir.file("240101_1200.c2");
    EXPECT_EQ(text, path + "8");
    const auto b = readFile(path);
    ASSERT_EQ(b.size(), 26u + 4 * 151200);
    EXPECT_TRUE(std::all_of(b.begin(), b.begin() + 14, [](uint8_t x) { return x == 0; }));
    EXPECT_EQ(u32(b, 14), 2u);
    double dial;
    std::memcpy(&dial, &b[18], 8);
    EXPECT_DOUBLE_EQ(dial, 14.074);
    // Every 4th sample of the tone: Re x is +-cos 0.3 or +-sin 0.3, so the
    // peak cos 0.3 goes to 32000.
    const float i0 = f32(b, 26), q0 = f32(b, 30);
    EXPECT_NEAR(std::hypot(i0, q0), 32000.0 / std::cos(0.3), 2.0);
    for (size_t k = 0; k < 75600; k += 97) {
        ASSERT_NEAR(f32(b, 26 + 8 * k), i0, 3.0) << k;
        ASSERT_NEAR(f32(b, 30 + 8 * k), q0, 3.0) << k;
    }
}

TEST_F(JtMode, APeriodKeepsTheSettingsItStartedWith) {
    request([](JTModDemod& m) {
        m.samplesPerBlock.hostSet(1200);
        m.period.hostSet(1000);
    });
    at(noonJan2024 + 15000000);
    feed(2, 512, [](long long) { return cplx(0.5f, 0); });
    // Changed mid-period: the file is still a WAV of 1200 samples decimated
    // by 4, under its .wav name.
    request([](JTModDemod& m) {
        m.SaveMode.hostSet(1);
        m.samplesPerBlock.hostSet(600);
        m.Decimation.hostSet(2);
        m.endPadding.hostSet(100);
    });
    feed(8, 512, [](long long) { return cplx(0.5f, 0); });
    EXPECT_EQ(untilFile(), dir.file("240101_120015.wav") + "8");
    const auto b = readFile(dir.file("240101_120015.wav"));
    ASSERT_EQ(b.size(), 44u + 2400);
    EXPECT_EQ(s16(b, 44 + 2 * 1199), 32000);
    // The next period takes the new ones.
    at(noonJan2024 + 16000000);
    feed(1, 512, [](long long) { return cplx(0.5f, 0); });
    EXPECT_EQ(untilFile(), dir.file("240101_1200.c2") + "8");
    EXPECT_EQ(readFile(dir.file("240101_1200.c2")).size(), 26u + 4 * 600);
}

TEST_F(JtMode, BadSettingsAreRefusedAndKept) {
    LogCapture log;
    mode->period.bind(host::on<"period", int>, mode.get());
    mode->Decimation.bind(host::on<"Decimation", int>, mode.get());
    mode->samplesPerSymbol.bind(host::on<"samplesPerSymbol", int>, mode.get());
    mode->samplesPerBlock.bind(host::on<"samplesPerBlock", int>, mode.get());
    mode->endPadding.bind(host::on<"endPadding", int>, mode.get());
    mode->toneSpacing.bind(host::on<"toneSpacing", double>, mode.get());
    mode->StartDelaySamples.bind(host::on<"StartDelaySamples", int>, mode.get());
    request([](JTModDemod& m) {
        m.period.hostSet(499);
        m.Decimation.hostSet(0);
        m.samplesPerSymbol.hostSet(-5);
        m.samplesPerBlock.hostSet(0);
        m.endPadding.hostSet(-1);
        m.toneSpacing.hostSet(std::nan(""));
        m.samplesPerBlock.hostSet(JTModDemod::maxSamplesPerBlock + 1);
        // Not whole half seconds, or not dividing the hour: periods would
        // start off their time.
        m.period.hostSet(1999);
        m.period.hostSet(7000);
        // More than a receive block: nothing would be kept, no file written.
        m.Decimation.hostSet(8000);
        m.Decimation.hostSet(513);
        // The highest tone (7) past 24000 Hz, from tone 0 at txFreq: folded
        // back, or every sample NaN.
        m.toneSpacing.hostSet(DBL_MAX);
        m.toneSpacing.hostSet(3429.0);
        m.txFreq.hostSet(1500);
        m.toneSpacing.hostSet(3300.0);
        m.StartDelaySamples.hostSet(-9600); // would send the message from its middle
        // What a period of 15 s (720000 samples) cannot hold: a start delay
        // and a symbol past it, keyed and silent for hours; a recording
        // (151200 slots from blocks of 512) ending after the period.
        m.StartDelaySamples.hostSet(INT_MAX);
        m.StartDelaySamples.hostSet(720000 - 7680 + 1);
        m.samplesPerSymbol.hostSet(INT_MAX);
        m.Decimation.hostSet(5);
        m.Decimation.hostSet(13);
        // A message longer than the period.
        m.queueMsg(buff<float>(94, 1.0f), 8, 0);
    });
    EXPECT_EQ(mode->period.get(), 15000);
    EXPECT_EQ(mode->Decimation.get(), 4);
    EXPECT_EQ(mode->samplesPerSymbol.get(), 7680);
    EXPECT_EQ(mode->samplesPerBlock.get(), 151200);
    EXPECT_EQ(mode->endPadding.get(), 0);
    EXPECT_EQ(mode->toneSpacing.get(), 6.25);
    EXPECT_TRUE(log.contains("error|JTModDemod period 499 refused, keeping 15000"));
    EXPECT_TRUE(log.contains("error|JTModDemod Decimation 0 refused, keeping 4"));
    EXPECT_TRUE(log.contains("error|JTModDemod samplesPerSymbol -5 refused, keeping 7680"));
    EXPECT_TRUE(log.contains("error|JTModDemod samplesPerBlock 0 refused, keeping 151200"));
    EXPECT_TRUE(log.contains("error|JTModDemod endPadding -1 refused, keeping 0"));
    EXPECT_TRUE(log.contains("error|JTModDemod toneSpacing nan refused, keeping 6.25"));
    EXPECT_TRUE(log.contains("error|JTModDemod period 1999 refused, keeping 15000"));
    EXPECT_TRUE(log.contains("error|JTModDemod period 7000 refused, keeping 15000"));
    EXPECT_TRUE(log.contains("error|JTModDemod Decimation 8000 refused, keeping 4"));
    EXPECT_TRUE(log.contains("error|JTModDemod Decimation 513 refused, keeping 4"));
    EXPECT_TRUE(log.contains("error|JTModDemod toneSpacing 1.7976931348623157e+308 refused, keeping 6.25"));
    EXPECT_TRUE(log.contains("error|JTModDemod toneSpacing 3429 refused, keeping 6.25"));
    EXPECT_TRUE(log.contains("error|JTModDemod toneSpacing 3300 refused, keeping 6.25"));
    EXPECT_TRUE(log.contains("error|JTModDemod StartDelaySamples 2147483647 refused, keeping 0"));
    EXPECT_TRUE(log.contains("error|JTModDemod StartDelaySamples 712321 refused, keeping 0"));
    EXPECT_TRUE(log.contains("error|JTModDemod StartDelaySamples -9600 refused, keeping 0"));
    EXPECT_TRUE(log.contains("error|JTModDemod samplesPerSymbol 2147483647 refused, keeping 7680"));
    EXPECT_TRUE(log.contains("error|JTModDemod Decimation 5 refused, keeping 4"));
    EXPECT_TRUE(log.contains("error|JTModDemod Decimation 13 refused, keeping 4"));
    EXPECT_TRUE(log.contains("error|JTModDemod.queueMsg() 94 symbols of 7680 samples after a start delay of 0 "
                             "refused: a period of 15000 ms holds 720000 samples"));
    EXPECT_EQ(mode->StartDelaySamples.get(), 0);
    EXPECT_EQ(host::Log::get().of("StartDelaySamples").size(), 3u);
    // The host hears the value kept.
    ASSERT_EQ(host::Log::get().of("period").size(), 3u);
    EXPECT_EQ(host::Log::get().of("period")[0].args[0], "15000");
    EXPECT_EQ(host::Log::get().of("samplesPerBlock").size(), 2u);
    // Good values after refused ones are taken: a delay that leaves room for
    // a symbol; one sample of each block, for a recording that short.
    request([](JTModDemod& m) {
        m.StartDelaySamples.hostSet(720000 - 7680);
        m.StartDelaySamples.hostSet(0);
        m.samplesPerBlock.hostSet(46);
        m.period.hostSet(500);
        m.Decimation.hostSet(512);
        m.toneSpacing.hostSet(3214.0); // 1500 + 7 x 3214 = 23998 Hz
    });
    EXPECT_EQ(mode->period.get(), 500);
    EXPECT_EQ(mode->Decimation.get(), 512);
    EXPECT_EQ(mode->toneSpacing.get(), 3214.0);

    // Tone buffers that cannot be sent.
    request([](JTModDemod& m) {
        m.queueMsg(buff<float>(), 8, 0);
        buff<float> bad(3, 1.0f);
        bad[1] = INFINITY;
        m.queueMsg(bad, 8, 0);
    });
    EXPECT_TRUE(log.contains("error|JTModDemod.queueMsg() empty tone buffer refused"));
    EXPECT_TRUE(log.contains("error|JTModDemod.queueMsg() tone buffer with a value that is not finite refused"));
}

TEST_F(JtMode, UnwritableFilesAreLoggedAndNotAnnounced) {
    LogCapture log;
    request([&](JTModDemod& m) {
        m.saveDirectory.hostSet(dir.prefix() + "missing/");
        m.samplesPerBlock.hostSet(1200);
        m.period.hostSet(1000);
    });
    at(noonJan2024 + 15000000);
    feed(10, 512, [](long long) { return cplx(0.5f, 0); });
    const std::string line = "error|JTModDemod cannot create " + dir.prefix() + "missing/240101_120015.wav: " +
                             std::strerror(ENOENT);
    ASSERT_TRUE(waitFor([&] { return log.contains(line); }));
    // The next period's file goes where it can, and is the only one told.
    request([&](JTModDemod& m) { m.saveDirectory.hostSet(dir.prefix()); });
    at(noonJan2024 + 16000000);
    feed(10, 512, [](long long) { return cplx(0.5f, 0); });
    EXPECT_EQ(untilFile(), dir.file("240101_120016.wav") + "8");
    EXPECT_EQ(host::Log::get().of("newFile").size(), 1u);
}

/// A writer that cannot finish (its file is a pipe nobody reads yet) holds
/// back neither the transceiver nor the next period; both files are told,
/// in order, once it does.
TEST_F(JtMode, SlowWritersBlockNothingAndAreToldInOrder) {
    request([](JTModDemod& m) {
        m.samplesPerBlock.hostSet(1200);
        m.period.hostSet(1000);
    });
    const std::string first = dir.file("240101_120015.wav");
    ASSERT_EQ(::mkfifo(first.c_str(), 0600), 0);
    // Reads the pipe to its end, once: at the point of the test, or on the
    // way out of a failed one, so that the writer is never left blocked.
    struct Drain {
        std::string path;
        bool done = false;
        size_t run() {
            if (done) return 0;
            done = true;
            size_t got = 0;
            const int fd = ::open(path.c_str(), O_RDONLY);
            char chunk[4096];
            for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) got += size_t(n);
            ::close(fd);
            return got;
        }
        ~Drain() { run(); }
    } drain{first};
    at(noonJan2024 + 15000000);
    feed(10, 512, [](long long) { return cplx(0.5f, 0); });
    at(noonJan2024 + 16000000);
    feed(10, 512, [](long long) { return cplx(0.25f, 0); });
    const std::string second = dir.file("240101_120016.wav");
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(second) && std::filesystem::file_size(second) == 2444; }));
    feed(5, 512, [](long long) { return cplx{}; });
    EXPECT_TRUE(host::Log::get().of("newFile").empty()) << "the second told before the first";

    EXPECT_EQ(drain.run(), 2444u);
    ASSERT_EQ(untilFile(), first + "8");
    const auto files = host::Log::get().of("newFile");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[1].args[0], second + "8");
}

TEST_F(JtMode, DisablingAbandonsThePeriodDropsPttAndHoldsResults) {
    // Periods of 2 s (a message may start in the first second), 1200 slots.
    request([](JTModDemod& m) {
        m.samplesPerBlock.hostSet(1200);
        m.period.hostSet(2000);
    });
    // A message under way.
    at(noonJan2024 + 14000000);
    request([](JTModDemod& m) { m.queueMsg(buff<float>(10, 2.0f), 8, 14000); });
    feed(1, 512, [](long long) { return cplx(0.5f, 0); });
    EXPECT_TRUE(v->ptt.get());
    EXPECT_NEAR(std::abs(transmit(512)[100]), 0.98f, 1e-5f);
    request([](JTModDemod& m) { m.Enabled.hostSet(false); });
    drainDataTasks(v);
    EXPECT_FALSE(v->ptt.get());
    const auto silent = transmit(512);
    EXPECT_TRUE(std::all_of(silent.begin(), silent.end(), [](cplx x) { return x == cplx{}; }));
    request([](JTModDemod& m) { m.Enabled.hostSet(true); });
    // The abandoned period leaves no file, and waits for the next start;
    // the next one is recorded whole.
    at(noonJan2024 + 14100000); // within the half second in which the period may start
    feed(9, 512, [](long long) { return cplx(0.5f, 0); });
    EXPECT_FALSE(v->ptt.get()) << "the message was dropped with the period";
    at(noonJan2024 + 16000000);
    feed(10, 512, [](long long) { return cplx(0.5f, 0); });
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(dir.file("240101_120016.wav")); }));
    EXPECT_FALSE(std::filesystem::exists(dir.file("240101_120014.wav")));
    // Nothing is collected while disabled; the first block after tells it.
    // A writer faster than the last blocks (a slow, sanitized chain) had it
    // collected already: then nothing is left to check.
    request([](JTModDemod& m) { m.Enabled.hostSet(false); });
    if (!host::Log::get().of("newFile").empty()) GTEST_SKIP() << "collected before the disable";
    ASSERT_TRUE(waitFor([&] { return std::filesystem::file_size(dir.file("240101_120016.wav")) == 2444; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the writer's close; a miss only weakens the check
    feed(20, 512, [](long long) { return cplx{}; });
    EXPECT_TRUE(host::Log::get().of("newFile").empty());
    request([](JTModDemod& m) { m.Enabled.hostSet(true); });
    EXPECT_EQ(untilFile(), dir.file("240101_120016.wav") + "8");
    EXPECT_EQ(host::Log::get().of("newFile").size(), 1u);
}

TEST_F(JtMode, APauseInTheStreamIsSilenceInItsPeriodWhichEndsOnTimeAndTheNextIsWhole) {
    request([](JTModDemod& m) {
        m.samplesPerBlock.hostSet(24000); // all of a 2 s period
        m.period.hostSet(2000);
    });
    at(noonJan2024 + 16000000);
    auto signal = [](long long n) { return cplx(n < 38400 ? 0.5f : n < 96000 ? -0.25f : 0.25f, 0); };
    feed(75, 512, signal); // 0.8 s
    fed += 52800;          // 1.1 s without blocks, the clock running on
    feed(198, 512, signal); // the period's last 0.1 s, the next period whole
    EXPECT_EQ(untilFile(), dir.file("240101_120016.wav") + "8");
    EXPECT_EQ(untilFile(), dir.file("240101_120018.wav") + "8");
    const auto b = readFile(dir.file("240101_120016.wav")), next = readFile(dir.file("240101_120018.wav"));
    ASSERT_EQ(b.size() + next.size(), 2 * (44u + 48000));
    for (size_t k = 0; k < 24000; ++k) {
        ASSERT_EQ(s16(b, 44 + 2 * k), k < 9600 ? 32000 : k < 22800 ? 0 : -16000) << k; // peak 0.5 to 32000
        ASSERT_EQ(s16(next, 44 + 2 * k), 32000) << k;
    }
}

/// Tone j of the test messages is j mod 8: the symbol sent tells itself by
/// its frequency.
buff<float> countingTones(int n) {
    buff<float> t(static_cast<size_t>(n));
    for (int j = 0; j < n; ++j) t[size_t(j)] = float(j % 8);
    return t;
}

TEST_F(JtMode, LateStartSendsTheSymbolDueAndTheModeNumberFollows) {
    request([](JTModDemod& m) { m.txFreq.hostSet(1000); });
    at(noonJan2024 + 15000000);
    feed(281, 512, [](long long) { return cplx{}; }); // 35968 samples kept
    EXPECT_FALSE(v->ptt.get());
    request([](JTModDemod& m) { m.queueMsg(countingTones(79), 10, 15000); });
    feed(1, 512, [](long long) { return cplx{}; }); // 36096: 3 s in
    ASSERT_TRUE(v->ptt.get());
    // Symbol 18 (tone 2) first, a whole symbol, then 19 (tone 3).
    const auto x = transmit(7680 + 100);
    EXPECT_NEAR(hzAt(x, 10), 1000 + 2 * 6.25, 0.01);
    EXPECT_NEAR(hzAt(x, 7670), 1000 + 2 * 6.25, 0.01);
    EXPECT_NEAR(hzAt(x, 7690), 1000 + 3 * 6.25, 0.01);
    for (size_t i = 0; i < x.size(); ++i) ASSERT_NEAR(std::abs(x[i]), 0.98f, 1e-5f);
    // The rest of the message: 60 more symbols, then zeros and ptt off.
    const auto rest = transmit(60 * 7680 - 100 + 500);
    EXPECT_NEAR(hzAt(rest, 60 * 7680 - 100 - 10), 1000 + (78 % 8) * 6.25, 0.01);
    EXPECT_TRUE(std::all_of(rest.end() - 500, rest.end(), [](cplx s) { return s == cplx{}; }));
    EXPECT_FALSE(v->ptt.get());
    // This period's file carries the mode of the transmission.
    feed(900, 512, [](long long) { return cplx{}; });
    EXPECT_EQ(untilFile(), dir.file("240101_120015.wav") + "10");

    // Too late (past 7.5 s): stays queued, and goes in the next hour's
    // period at the same time, from its first symbol.
    at(noonJan2024 + 15000000);
    feed(704, 512, [](long long) { return cplx{}; }); // 90112 kept
    request([](JTModDemod& m) { m.queueMsg(countingTones(79), 8, 15000); });
    feed(1, 512, [](long long) { return cplx{}; });
    EXPECT_FALSE(v->ptt.get());
    feed(477, 512, [](long long) { return cplx{}; });
    EXPECT_EQ(untilFile(), dir.file("240101_120015.wav") + "10");
    at(noonJan2024 + 30000000); // another period: not its time
    feed(2, 512, [](long long) { return cplx{}; });
    EXPECT_FALSE(v->ptt.get());
    request([](JTModDemod& m) { m.Enabled.hostSet(false); });
    request([](JTModDemod& m) { m.Enabled.hostSet(true); });
    at(noonJan2024 + 3600000000LL + 15000000);
    feed(1, 512, [](long long) { return cplx{}; });
    ASSERT_TRUE(v->ptt.get());
    EXPECT_NEAR(hzAt(transmit(200), 100), 1000.0, 0.01);

    // Recording complex samples (two slots each), the start is counted in
    // samples all the same: 3 s in is symbol 18.
    request([](JTModDemod& m) {
        m.SaveMode.hostSet(1);
        m.Enabled.hostSet(false);
        m.Enabled.hostSet(true);
    });
    drainDataTasks(v);
    at(noonJan2024 + 3600000000LL + 30000000);
    feed(281, 512, [](long long) { return cplx{}; });
    request([](JTModDemod& m) { m.queueMsg(countingTones(79), 8, 30000); });
    feed(1, 512, [](long long) { return cplx{}; });
    ASSERT_TRUE(v->ptt.get());
    EXPECT_NEAR(hzAt(transmit(200), 100), 1000 + 2 * 6.25, 0.01);

    // Half the period is counted in input samples, whatever is kept of them:
    // every 2nd kept, 5 s in still sends (from symbol 31); every 8th (a
    // recording of 75600 slots), 8 s in waits.
    for (const int D : {2, 8}) {
        request([&](JTModDemod& m) {
            m.Enabled.hostSet(false);
            m.Enabled.hostSet(true);
            m.SaveMode.hostSet(0);
            m.samplesPerBlock.hostSet(D == 2 ? 151200 : 75600);
            m.Decimation.hostSet(D);
        });
        drainDataTasks(v);
        ASSERT_EQ(mode->Decimation.get(), D);
        at(noonJan2024 + 7200000000LL + 15000000LL * D);
        feed(D == 2 ? 469 : 750, 512, [](long long) { return cplx{}; });
        request([&](JTModDemod& m) { m.queueMsg(countingTones(79), 8, 15000 * D); });
        feed(1, 512, [](long long) { return cplx{}; });
        ASSERT_EQ(v->ptt.get(), D == 2) << D;
        if (D == 2) {
            EXPECT_NEAR(hzAt(transmit(200), 100), 1000 + 7 * 6.25, 0.01);
        }
    }
    // A message that the settings in force no longer let end within its
    // period is dropped when it is due.
    LogCapture log;
    request([](JTModDemod& m) {
        m.Enabled.hostSet(false); // ends the recording under way
        m.Enabled.hostSet(true);
        m.queueMsg(countingTones(79), 8, 2000);
        m.samplesPerBlock.hostSet(12000);
        m.period.hostSet(2000);
    });
    at(noonJan2024 + 2000000);
    feed(1, 512, [](long long) { return cplx{}; });
    EXPECT_TRUE(log.contains("error|JTModDemod transmission of 79 symbols of 7680 samples after a start delay of 0 "
                             "refused: a period of 2000 ms holds 96000 samples"));
}

/// A period shorter than two seconds: a message goes out in the first half
/// of it (half the period counted in milliseconds) and waits after that.
TEST_F(JtMode, ShortPeriodsSendInTheirFirstHalf) {
    request([](JTModDemod& m) {
        m.samplesPerBlock.hostSet(9000);
        m.period.hostSet(1000);
    });
    at(noonJan2024 + 15000000);
    feed(1, 512, [](long long) { return cplx{}; });
    request([](JTModDemod& m) { m.queueMsg(countingTones(4), 8, 15000); });
    feed(1, 512, [](long long) { return cplx{}; }); // 256 of the 6000 samples of half a period
    EXPECT_TRUE(v->ptt.get());
    transmit(5 * 7680); // four symbols, then ptt off
    EXPECT_FALSE(v->ptt.get());

    // Just before half a period it goes; just after, it waits.
    for (const int blocks : {46, 47}) {
        request([](JTModDemod& m) {
            m.Enabled.hostSet(false);
            m.Enabled.hostSet(true);
        });
        drainDataTasks(v);
        const int second = 16 + (blocks - 46);
        at(noonJan2024 + second * 1000000LL);
        feed(blocks - 1, 512, [](long long) { return cplx{}; });
        request([&](JTModDemod& m) { m.queueMsg(countingTones(4), 8, second * 1000); });
        feed(1, 512, [](long long) { return cplx{}; }); // 5888 or 6016 kept
        EXPECT_EQ(v->ptt.get(), blocks == 46) << blocks;
        transmit(5 * 7680);
    }
}

TEST_F(JtMode, GaussianShapeRampsAndStartDelay) {
    constexpr int N = 7680, T = 1000;
    request([](JTModDemod& m) {
        m.txFreq.hostSet(1000);
        m.FreqDevTable.hostSet(1);
        m.TaperSamples.hostSet(T);
        m.toneSpacing.hostSet(6.25);
    });
    at(noonJan2024 + 15000000);
    request([](JTModDemod& m) { m.queueMsg(countingTones(4), 8, 15000); });
    feed(1, 512, [](long long) { return cplx{}; });
    ASSERT_TRUE(v->ptt.get());
    const auto x = transmit(4 * N + 300);
    // Rise over the first T samples, from the start of the transmission.
    for (int i : {0, 1, 250, 500, 999})
        EXPECT_NEAR(std::abs(x[size_t(i)]), 0.98 * (0.5 + 0.5 * std::cos(M_PI * (T - i) / T)), 1e-4) << i;
    EXPECT_NEAR(std::abs(x[T + 1]), 0.98, 1e-5);
    // Fall over the last T samples of the last symbol.
    const size_t last = 3 * N;
    EXPECT_NEAR(std::abs(x[last + N - T - 1]), 0.98, 1e-5);
    for (int q : {N - T + 1, N - 500, N - 1}) {
        const int r = T - (N - q);
        EXPECT_NEAR(std::abs(x[last + size_t(q)]), 0.98 * (0.5 + 0.5 * std::cos(M_PI * r / T)), 1e-4) << q;
    }
    // Smooth steps: half way at a boundary, the tone itself mid-symbol.
    EXPECT_NEAR(hzAt(x, N / 2), 1000.0, 0.2);
    EXPECT_NEAR(hzAt(x, N + N / 2), 1006.25, 0.2);
    EXPECT_NEAR(hzAt(x, N - 1), 1003.125, 0.5);
    EXPECT_TRUE(std::all_of(x.begin() + 4 * N, x.end(), [](cplx s) { return s == cplx{}; }));
    EXPECT_FALSE(v->ptt.get());

    // A start delay of two symbols and a bit: silence with the symbol clock
    // running, then the first symbol at full level, the rise long past.
    request([](JTModDemod& m) {
        m.StartDelaySamples.hostSet(2 * N + 100);
        m.Enabled.hostSet(false); // ends the period recorded so far
        m.Enabled.hostSet(true);
    });
    at(noonJan2024 + 30000000);
    request([](JTModDemod& m) { m.queueMsg(countingTones(4), 8, 30000); });
    feed(1, 512, [](long long) { return cplx{}; });
    ASSERT_TRUE(v->ptt.get());
    const auto d = transmit(3 * N);
    EXPECT_TRUE(std::all_of(d.begin(), d.begin() + 2 * N, [](cplx s) { return s == cplx{}; }));
    EXPECT_NEAR(std::abs(d[2 * N]), 0.98, 1e-5);
    EXPECT_NEAR(hzAt(d, 2 * N + N / 2), 1000.0, 0.2);

    // A symbol length changed while a message goes out waits for the next message.
    request([](JTModDemod& m) {
        m.StartDelaySamples.hostSet(0);
        m.Enabled.hostSet(false);
        m.Enabled.hostSet(true);
    });
    at(noonJan2024 + 45000000);
    request([](JTModDemod& m) { m.queueMsg(countingTones(4), 8, 45000); });
    feed(1, 512, [](long long) { return cplx{}; });
    const auto head = transmit(N / 2);
    request([](JTModDemod& m) { m.samplesPerSymbol.hostSet(960); });
    const auto tail = transmit(N / 2 + 3 * N + 10);
    EXPECT_NEAR(hzAt(tail, 100), 1000.0, 0.2);
    EXPECT_NEAR(hzAt(tail, N), 1006.25, 0.2);
    EXPECT_GT(std::abs(tail[N / 2 + 3 * N - 1]), 0.0f);
    EXPECT_EQ(tail.back(), cplx{});
    EXPECT_FALSE(v->ptt.get());
    request([](JTModDemod& m) { m.samplesPerSymbol.hostSet(N); });

    // Plain FSK steps at once.
    request([](JTModDemod& m) {
        m.FreqDevTable.hostSet(0);
        m.StartDelaySamples.hostSet(0);
        m.Enabled.hostSet(false);
        m.Enabled.hostSet(true);
    });
    at(noonJan2024 + 60000000);
    request([](JTModDemod& m) { m.queueMsg(countingTones(4), 8, 60000); });
    feed(1, 512, [](long long) { return cplx{}; });
    const auto p = transmit(2 * N);
    EXPECT_NEAR(hzAt(p, N - 2), 1000.0, 0.01);
    EXPECT_NEAR(hzAt(p, N), 1006.25, 0.01);
    EXPECT_NEAR(std::abs(p[0]), 0.98, 1e-5);

    // A taper of INT_MIN samples is no ramp at either end.
    request([](JTModDemod& m) {
        m.FreqDevTable.hostSet(1);
        m.TaperSamples.hostSet(INT_MIN);
        m.Enabled.hostSet(false);
        m.Enabled.hostSet(true);
    });
    drainDataTasks(v);
    at(noonJan2024 + 75000000);
    request([](JTModDemod& m) { m.queueMsg(countingTones(2), 8, 75000); });
    feed(1, 512, [](long long) { return cplx{}; });
    const auto full = transmit(2 * N);
    for (const cplx s : full) ASSERT_NEAR(std::abs(s), 0.98, 1e-5);
}

/// A recording outlasting its period leaves the next unrecorded, whichever setting came last (15 s keep 180000 slots).
TEST_F(JtMode, ARecordingEndsWithinItsPeriodWhicheverSettingComesLast) {
    LogCapture log;
    for (auto* p : {&mode->period, &mode->samplesPerBlock, &mode->endPadding, &mode->SaveMode})
        p->bind(host::on<"kept", int>, mode.get());
    request([](JTModDemod& m) {
        m.period.hostSet(7500);
        m.samplesPerBlock.hostSet(180001);
        m.endPadding.hostSet(100);
        m.samplesPerBlock.hostSet(180100);
        m.endPadding.hostSet(0);
        m.SaveMode.hostSet(1); // two slots a sample
        m.samplesPerBlock.hostSet(360100);
        m.SaveMode.hostSet(0);
    });
    EXPECT_TRUE(log.contains("error|JTModDemod a period of 7500 ms keeps 90000 slots (Decimation 4, SaveMode 0), "
                             "fewer than samplesPerBlock 151200 less endPadding 0"));
    EXPECT_EQ(host::Log::get().joined("kept"), "15000" "151200" "100" "1");
}

/// The host replaces the queued message while the transceiver's periods
/// take messages: each transmission is one message whole. Message k has
/// k % 4 + 3 symbols of tone k % 4 and is for the period 2 x (k % 4) s
/// after 12:00:16, so that period can only send that tone, that long.
TEST_F(JtMode, QueuedMessagesChangeHandsWhole) {
    constexpr int N = 2048;
    request([](JTModDemod& m) {
        m.samplesPerBlock.hostSet(1200);
        m.period.hostSet(2000);
        m.samplesPerSymbol.hostSet(N);
    });
    // The host's requests come from one thread, as the interface wants:
    // this one, which also restarts the recording when asked.
    std::atomic<bool> stop{false};
    std::atomic<int> restarts{0}, restarted{0};
    std::thread host([&] {
        for (int k = 0; !stop; ++k) {
            if (restarted.load() < restarts.load()) {
                onGroup(mode, [&] {
                    mode->Enabled.hostSet(false);
                    mode->Enabled.hostSet(true);
                });
                restarted.fetch_add(1);
            }
            buff<float> t(size_t(k % 4 + 3), float(k % 4));
            onGroup(mode, [&] { mode->queueMsg(t, 8, 16000 + 2000 * (k % 4)); });
        }
    });
    struct Join {
        std::atomic<bool>& stop;
        std::thread& t;
        ~Join() {
            stop = true;
            t.join();
        }
    } join{stop, host};
    // Which message a period finds depends on how the two threads are
    // scheduled (about one period in four while the host thread runs freely,
    // fewer when it is held off): periods go on until eight were sent.
    int sent = 0;
    for (int s = 0; s < 400 && sent < 8; ++s) {
        restarts.fetch_add(1);
        ASSERT_TRUE(waitFor([&] { return restarted.load() == restarts.load(); }));
        const int j = s % 4;
        at(noonJan2024 + 16000000 + 2000000LL * j);
        // Three blocks (384 samples, 1536 at 48000/s) are inside the first
        // symbol: a message taken then is sent from its start.
        for (int c = 0; c < 3 && !v->ptt.get(); ++c) feed(1, 512, [](long long) { return cplx{}; });
        if (!v->ptt.get()) continue;
        const auto x = transmit(N * 8);
        int symbols = 0;
        while (symbols < 8 && std::abs(x[size_t(N * symbols + 5)]) > 0) ++symbols;
        EXPECT_EQ(symbols, j + 3) << "period " << s;
        for (int i = 0; i < symbols; ++i) EXPECT_NEAR(hzAt(x, size_t(N * i + 5)), 6.25 * j, 0.01);
        ++sent;
    }
    EXPECT_EQ(sent, 8);
}

} // namespace
