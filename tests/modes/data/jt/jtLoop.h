#pragma once
// A JT mode on a transceiver of the noisy loop-back radio, on a UTC clock
// of the test's own that advances with the samples the radio writes, so
// periods run unpaced. The transceiver records what it sends itself: a
// queued message goes out in the period it is recording, comes back with
// noise, lands in the period's file and is decoded from there.
#include "core/vtrx.h"
#include "framework/objectFixture.h"
#include "modes/data/JTModDemod.h"
#include "modes/data/jt/ft8decode.h"
#include "modes/data/utcClock.h"
#include "support/hostHarness.h"
#include "support/noisyLoopRadio.h"

#include "jtEncode.h"

#include <atomic>
#include <filesystem>
#include <optional>

#include <unistd.h>

namespace jttest {

/// 2024-01-01 12:00:00 UTC in microseconds since the epoch.
constexpr long long noonJan2024 = 1704110400LL * 1000000;

inline std::atomic<long long> testUtc{noonJan2024};
inline long long readTestUtc() { return testUtc.load(); }

/// The mode's settings for sending and recording one protocol.
struct Protocol {
    int period;           // ms
    int samplesPerSymbol; // at 48000/s
    double spacing;       // Hz
    int samplesPerBlock;  // recording
};

inline Protocol protocol(Mode m) {
    switch (m) {
    case Mode::ft4: return {7500, 2304, 12000.0 / 576, 90000};
    default: return {15000, 7680, 6.25, 151200};
    }
}

/// A scratch folder of the running test, removed with it.
class ScratchDir {
public:
    ScratchDir() {
        const auto* t = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::temp_directory_path() /
                ("jt_" + std::string(t->test_suite_name()) + "_" + t->name() + "_" + std::to_string(::getpid()));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code e;
        std::filesystem::remove_all(path_, e);
    }
    /// The folder with a trailing separator, as saveDirectory wants it.
    std::string prefix() const { return path_.string() + "/"; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

class JtLoop : public ObjectTest {
protected:
    static constexpr long long centre = 14074000;
    std::shared_ptr<NoisyLoopRadio> radio = std::make_shared<NoisyLoopRadio>(group, 48000, centre, 5);
    std::shared_ptr<vtrx> v;
    std::shared_ptr<JTModDemod> mode = std::make_shared<JTModDemod>(group);
    ScratchDir dir;
    long long samples = 0; // written by the radio since the clock was set
    long long clockBase = noonJan2024;
    /// First sample (counted as `samples`) of a transmitted block holding signal.
    std::atomic<long long> firstSent{-1};
    std::atomic<long long> stepStart{0};
    long long pauseFrom = -1, pauseTo = -1; // `samples` at which the transceiver stops and starts hearing; the clock runs on

    void SetUp() override {
        jt::setUtcClock(&readTestUtc);
        setClock(noonJan2024);
        onGroup(radio, [&] { radio->addVtrx(centre, 0, 0); });
        {
            std::lock_guard<std::mutex> l(radio->listMutex);
            ASSERT_EQ(radio->vtrxList.size(), 1u);
            v = radio->vtrxList.front();
        }
        onGroup(v, [&] {
            v->start();
            v->setModulation(mode);
            // Upper sideband only, as a host sets it for data: with both
            // sides open the real part would take the noise of the other
            // side too, 3 dB more.
            v->setRxFilter(100, 3100);
        });
        onGroup(mode, [&] { mode->saveDirectory.hostSet(dir.prefix()); });
        mode->newFile.bind(host::onText<"newFile">, mode.get());
        radio->atTransmitter = true;
        radio->blockLength = 4096;
        radio->tap = [this](const buff<NoisyLoopRadio::cplx>& sent, const buff<NoisyLoopRadio::cplx>&) {
            if (firstSent.load() >= 0) return;
            for (size_t i = 0; i < sent.count; ++i)
                if (sent[i] != NoisyLoopRadio::cplx{}) {
                    firstSent = stepStart.load() + static_cast<long long>(i);
                    return;
                }
        };
    }
    void TearDown() override {
        onGroup(v, [&] { v->ptt.hostSet(false); });
        onGroup(radio, [&] { radio->tap = nullptr; });
        radio->settle();
        poll();
        host::Log::get().clear();
        jt::setUtcClock(nullptr);
    }

    void setClock(long long micros) {
        clockBase = micros;
        samples = 0;
        testUtc = micros;
    }
    long long now() const { return clockBase + samples * 1000000 / 48000; }

    /// One radio block; the clock moves on by its length.
    bool step() {
        // The transceiver alone pauses: a stopped radio would end the
        // transmission whose recording is under test.
        if (samples == pauseFrom) onGroup(v, [&] { v->stop(); });
        if (samples == pauseTo) onGroup(v, [&] { v->start(); });
        stepStart = samples;
        if (!radio->step(1)) return false;
        samples += static_cast<long long>(radio->blockLength);
        testUtc = now();
        return true;
    }

    /// Steps until a file is announced (its newFile text), for at most
    /// `seconds` of signal. The period's writer runs beside the chain and may
    /// be late on a busy machine: past `seconds` the clock stops, and only
    /// demodulate calls without samples (which collect finished files) go on,
    /// for up to 10 s.
    std::optional<std::string> stepUntilFile(double seconds) {
        const size_t before = host::Log::get().of("newFile").size();
        auto announced = [&]() -> std::optional<std::string> {
            poll();
            auto files = host::Log::get().of("newFile");
            if (files.size() > before) return files[before].args[0];
            return std::nullopt;
        };
        for (const long long limit = samples + (long long)(seconds * 48000); samples < limit;) {
            if (!step()) return std::nullopt;
            if (auto text = announced()) return text;
        }
        std::optional<std::string> text;
        waitFor([&] {
            onGroup(v, [&] { mode->demodulate(buff<NoisyLoopRadio::cplx>()); });
            return (text = announced()).has_value();
        });
        return text;
    }

    /// Sets the mode up for a protocol, Gaussian shape or not.
    void configure(Mode m, int freqDevTable, int txHz) {
        const Protocol p = protocol(m);
        onGroup(mode, [&] {
            // A smaller buffer first: a period its recording would outlast is refused.
            if (p.samplesPerBlock < mode->samplesPerBlock.get()) mode->samplesPerBlock.hostSet(p.samplesPerBlock);
            mode->period.hostSet(p.period);
            mode->samplesPerSymbol.hostSet(p.samplesPerSymbol);
            mode->toneSpacing.hostSet(p.spacing);
            mode->samplesPerBlock.hostSet(p.samplesPerBlock);
            mode->FreqDevTable.hostSet(freqDevTable);
            mode->txFreq.hostSet(txHz);
        });
    }

    /// The tones of a payload as the host hands them over.
    static buff<float> toneBuffer(Mode m, const Payload& p) {
        const auto t = tones(m, p);
        buff<float> b(t.size());
        for (size_t i = 0; i < t.size(); ++i) b[i] = float(t[i]);
        return b;
    }

    struct Trip {
        std::vector<Record> records;
        std::string path;
        double sentAt = -1; // seconds after the period's start that the signal began
    };

    /// Queues p for the period starting at 12:00:15 (12:00:07.5 for FT4),
    /// runs the chain from 0.1 s before it, the loop-back delayed by `delay`
    /// samples and its noise seeded with noiseSeed, until the period's file
    /// is announced, and decodes the file.
    Trip sendOnePeriod(Mode m, const Payload& p, size_t delay = 0, unsigned noiseSeed = 1) {
        // A transmission outlasts its recording: let the last one end and
        // the delay line run empty.
        for (int i = 0; i < 100 && radio->ptt.get(); ++i) step();
        for (int i = 0; i < 3; ++i) step();
        radio->loopDelay = delay;
        onGroup(radio, [&] { radio->reseed(noiseSeed); });
        // The period recorded meanwhile is dropped at the next block, which
        // comes at 0.1 s before the period: no period starts then.
        onGroup(mode, [&] {
            mode->Enabled.hostSet(false);
            mode->Enabled.hostSet(true);
        });
        const int periodMs = protocol(m).period;
        setClock(noonJan2024 + periodMs * 1000LL - 100000);
        firstSent = -1;
        onGroup(mode, [&] { mode->queueMsg(toneBuffer(m, p), info(m).number, periodMs); });
        Trip t;
        // Past the recording's end (from the second block) by a few blocks.
        const auto announced = stepUntilFile(0.1 + protocol(m).samplesPerBlock / 12000.0 + 0.3);
        if (!announced) return t;
        // The announcement ends with the mode number.
        const std::string number = std::to_string(info(m).number);
        t.path = announced->substr(0, announced->size() - number.size());
        const long long periodStartSample = (100000LL * 48000 + 999999) / 1000000; // first sample at or after the boundary
        const long long firstStep = (periodStartSample + radio->blockLength - 1) / radio->blockLength * radio->blockLength;
        if (firstSent.load() >= 0)
            t.sentAt = double(firstSent.load() + (long long)radio->loopDelay.load() - firstStep) / 48000.0;
        std::vector<uint8_t> result(50 * 32);
        const int n = jtdecode::decodeFile(t.path.c_str(), result.data(), info(m).number);
        if (n > 0) t.records = records(result.data(), n);
        return t;
    }
};

} // namespace jttest
