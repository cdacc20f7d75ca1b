// The DAB synchronisation experiment: its tables against the standard's
// numbers (kept as text beside this test), the phase reference symbol, the
// frequency map and the demonstration frame, the matched filter's peak with
// and without noise, and the peak reports on standard output: through a
// transceiver on a radio at 2048000 samples per second, and for blocks that
// do not divide the frame.
#include "modes/data/dab/DABModDemod.h"
#include "modes/data/dab/dabModeI.h"
#include "modes/data/dab/dabTables.h"

#include "modes/data/chirp/chirpyModDemod.h"

#include "core/coreObjectFixture.h"
#include "core/drainTasks.h"
#include "core/testRadio.h"
#include "core/vtrx.h"
#include "support/stdoutCapture.h"

#include <gtest/gtest.h>

#include "dsp/dspMath.h"
#include "dsp/fft/fft.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using cplx = std::complex<float>;
using namespace dabModeI;

/// The numbers of a table file, comment lines skipped.
std::vector<std::vector<int>> readTable(const std::string& name) {
    std::ifstream in(std::string(DAB_TABLE_DIR) + "/" + name);
    std::vector<std::vector<int>> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream s(line);
        rows.emplace_back();
        for (int v; s >> v;) rows.back().push_back(v);
    }
    return rows;
}

buff<cplx> reference(size_t n) { return get_DAB_PRS_reference(buff<cplx>(n)); }

/// A mode's matched filter run over samples, 512 at a time: every output.
std::vector<double> filtered(const buff<cplx>& samples) {
    DABModDemod m(nullptr);
    std::vector<double> out;
    for (size_t p = 0; p + 512 <= samples.count; p += 512) {
        m.matchedFilter.inBlock.copy(buff<cplx>(samples, p, 512));
        m.matchedFilter.calc();
        for (auto y : m.matchedFilter.outBlock) out.push_back(std::abs(y));
    }
    return out;
}

/// Lines of standard output, split at "\r\n".
std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> out;
    size_t at = 0;
    for (size_t e; (e = text.find("\r\n", at)) != std::string::npos; at = e + 2) out.push_back(text.substr(at, e - at));
    EXPECT_EQ(at, text.size()) << "text after the last line end";
    return out;
}

/// The frame reports ("magnitude  position") among the lines, and checks
/// that the line before each is the marker the peak sits on.
std::vector<std::pair<double, long>> reports(const std::vector<std::string>& lines) {
    std::vector<std::pair<double, long>> out;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].starts_with("(")) continue;
        const size_t gap = lines[i].find("  ");
        EXPECT_NE(gap, std::string::npos) << lines[i];
        if (gap == std::string::npos) continue;
        out.emplace_back(std::stod(lines[i].substr(0, gap)), std::stol(lines[i].substr(gap + 2)));
        EXPECT_GT(i, 0u);
        if (i > 0) {
            EXPECT_EQ(lines[i - 1], "(1,0)") << "the sample printed last is the marker at the peak";
        }
    }
    return out;
}

TEST(DabTables, HoldTheStandardsNumbersAndSpotValues) {
    const auto groups = readTable("prs-mode-1.txt");
    const auto h = readTable("h-table.txt");
    ASSERT_EQ(groups.size(), 48u);
    ASSERT_EQ(h.size(), 4u);
    int next = -768;
    for (size_t g = 0; g < 48; ++g) {
        const dabCarrierGroup& row = PRS_PARAMS_MODE_I[g];
        ASSERT_EQ(groups[g], (std::vector<int>{row.firstCarrier, row.lastCarrier, row.i, row.n})) << "group " << g;
        EXPECT_EQ(row.firstCarrier, next);
        EXPECT_EQ(row.lastCarrier, row.firstCarrier + 31);
        next = row.lastCarrier == -1 ? 1 : row.lastCarrier + 1;
    }
    EXPECT_EQ(next, 769);
    for (size_t i = 0; i < 4; ++i) {
        ASSERT_EQ(h[i].size(), 32u);
        for (size_t j = 0; j < 32; ++j) {
            ASSERT_EQ(H_TABLE[i][j], h[i][j]) << i << " " << j;
            EXPECT_EQ(H_TABLE[i][j], H_TABLE[i][j % 16]) << "every row repeats its first 16";
        }
    }
    // The spot values: carriers -768, -1, 1 and 768 are +j, +1, -j and +j.
    const buff<cplx> r = reference(2048);
    const std::pair<int, cplx> spots[] = {{-768, {0, 1}}, {-1, {1, 0}}, {1, {0, -1}}, {768, {0, 1}}};
    for (auto [k, want] : spots) {
        const cplx got = r[k > 0 ? size_t(k) : size_t(2048 + k)];
        EXPECT_NEAR(got.real(), want.real(), 1e-6) << k;
        EXPECT_NEAR(got.imag(), want.imag(), 1e-6) << k;
    }
}

TEST(DabReference, HasUnitCarriersWithTheGapsZeroAndRefusesAShortBlock) {
    const buff<cplx> r = reference(2048);
    int carriers = 0;
    for (size_t i = 0; i < r.count; ++i) {
        const bool gap = i == 0 || (i >= 769 && i <= 1279);
        if (gap) {
            EXPECT_EQ(r[i], cplx(0)) << i;
        } else {
            EXPECT_NEAR(std::abs(r[i]), 1.0f, 1e-6f) << i;
            ++carriers;
        }
    }
    EXPECT_EQ(carriers, 1536);
    // The same carriers in a longer transform, the negative ones at its end.
    const buff<cplx> r4 = reference(4096);
    EXPECT_EQ(r4[5], r[5]);
    EXPECT_EQ(r4[4096 - 5], r[2048 - 5]);
    EXPECT_EQ(r4[1000], cplx(0));
    EXPECT_EQ(reference(1537)[769], r[1280]) << "the smallest block that fits";

    try {
        reference(1536);
        FAIL() << "a block of 1536 must be refused";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "FFT buffer not large enough to fit phase reference symbol 1536<1537");
    }
}

TEST(DabFrequencyMap, IsEveryCarrierOnceStartingMinus513AndMinus14) {
    const buff<int> map = buildFrequencyMap();
    ASSERT_EQ(map.count, 1536u);
    EXPECT_EQ(map[0], -513);
    EXPECT_EQ(map[1], -14);
    std::set<int> seen(map.begin(), map.end());
    EXPECT_EQ(seen.size(), 1536u);
    EXPECT_EQ(*seen.begin(), -768);
    EXPECT_EQ(*seen.rbegin(), 768);
    EXPECT_EQ(seen.count(0), 0u);
}

TEST(DabDemoFrame, HoldsNullSymbolGuardSymbolAndMarkers) {
    const buff<cplx> f = buildDemoSignal();
    const buff<cplx> r = reference(2048);
    ASSERT_EQ(f.count, 196608u);
    for (size_t i = 0; i < 2656; ++i) ASSERT_EQ(f[i], cplx(0)) << i;
    for (size_t i = 0; i < 504; ++i) ASSERT_EQ(f[2656 + i], f[3160 + 2048 - 504 + i]) << i;
    // The symbol against its inverse transform summed carrier by carrier.
    for (size_t n : {0, 1, 700, 2047}) {
        std::complex<double> s = 0;
        for (size_t k = 0; k < 2048; ++k) s += std::complex<double>(r[k]) * std::polar(1.0, 2 * M_PI * double(k * n) / 2048);
        EXPECT_NEAR(f[3160 + n].real(), s.real(), 1e-3) << n;
        EXPECT_NEAR(f[3160 + n].imag(), s.imag(), 1e-3) << n;
    }
    EXPECT_EQ(f[5208], cplx(1, 0));
    EXPECT_EQ(f[5712], cplx(2, 0));
    for (size_t i = 5209; i < f.count; ++i)
        if (i != 5712) {
            ASSERT_EQ(f[i], cplx(0)) << i;
        }
}

TEST(DabMatchedFilter, PeaksAtTheSymbolsEndAboveTheGuardsEcho) {
    const buff<cplx> frame = buildDemoSignal();
    const auto y = filtered(frame);
    const size_t peak = size_t(std::max_element(y.begin(), y.end()) - y.begin());
    EXPECT_EQ(peak, 5208u);
    for (size_t i = 0; i < y.size(); ++i)
        if (i + 10 < peak || i > peak + 10) {
            ASSERT_GE(y[peak], 3 * y[i]) << i;
        }
    // The guard interval is the symbol's end again: a side peak a symbol
    // length earlier, a quarter as high.
    const double side = *std::max_element(y.begin() + 3150, y.begin() + 3170);
    EXPECT_NEAR(side / y[peak], 504.0 / 2048, 0.05);
    // The peak against the filter summed tap by tap: the symbol conjugated
    // and reversed (circularly, by the inverse transform) over the frame.
    DABModDemod m(nullptr);
    const buff<cplx> taps = fft::rev(dspMath::conjugate(m.reference));
    std::complex<double> sum = 0;
    for (size_t k = 0; k < 2048; ++k) sum += std::complex<double>(taps[k]) * std::complex<double>(frame[5208 - k]);
    EXPECT_NEAR(y[peak], std::abs(sum), 1e-4 * std::abs(sum));
    EXPECT_NEAR(y[peak], 2048.0 * 1536, 0.01 * 2048 * 1536) << "the symbol's energy";
}

TEST(DabMatchedFilter, StillPeaksAtTheSymbolsEndInNoiseTenDecibelsStronger) {
    buff<cplx> frame = buildDemoSignal();
    double power = 0;
    for (size_t i = 3160; i < 5208; ++i) power += std::norm(frame[i]);
    power /= 2048;
    std::mt19937 rng(5);
    std::normal_distribution<float> g(0.0f, float(std::sqrt(10 * power / 2)));
    for (auto& s : frame) s += cplx(g(rng), g(rng));
    const auto y = filtered(frame);
    const long peak = long(std::max_element(y.begin(), y.end()) - y.begin());
    EXPECT_NEAR(peak, 5208, 1);
}

class DabMode : public CoreObjects {};

TEST_F(DabMode, ReportsThePeakOncePerFrameThroughATransceiverAt2048000) {
    void* h = DABModDemod_create();
    auto mode = object<DABModDemod>(h);
    ASSERT_TRUE(mode);
    auto radio = std::make_shared<FakeRadio>(globalTaskGroup, 2048000, 7000000);
    onWorker(radio, [&] { radio->addVtrx(7000000, 0, 0); });
    std::shared_ptr<vtrx> v;
    {
        std::lock_guard<std::mutex> l(radio->listMutex);
        v = radio->vtrxList.back();
    }
    onWorker(v, [&] {
        v->start();
        v->setModulation(mode);
    });
    StdoutCapture out;
    // The radio hands out its first block at 512 samples, then 32768 each:
    // three frames and one 512-sample block more go through, the rest waits
    // in the radio's block.
    radio->feed(3 * frameSamples + 32768 - 512, 0, 20000);
    drainDataTasks(v);
    const auto lines = splitLines(out.stop());
    const auto found = reports(lines);
    ASSERT_EQ(found.size(), 3u);
    for (auto [magnitude, position] : found) {
        EXPECT_EQ(position, 5208);
        EXPECT_EQ(magnitude, found[0].first);
        EXPECT_NEAR(magnitude, 2048.0 * 1536, 0.01 * 2048 * 1536);
    }
    onWorker(v, [&] {
        EXPECT_EQ(mode->readPosition, 512u) << "the transceiver handed 512-sample blocks";
        EXPECT_EQ(mode->total, 512u);
        EXPECT_EQ(mode->rxInputSamplerate(), 2048000);
        buff<cplx> tx(8, cplx(3, 3));
        mode->modulate(buff<cplx>(8, cplx(1, 1)), tx);
        for (auto s : tx) EXPECT_EQ(s, cplx(3, 3)) << "transmits nothing";
    });
    onWorker(v, [&] { v->setModulation(nullptr); });
    mode.reset();
    DABModDemod_release(h);

    // The chirp mode's handle works the same way.
    void* c = chirpyModDemod_create();
    EXPECT_TRUE(object<chirpyModDemod>(c));
    chirpyModDemod_release(c);
}

TEST(DabBlocks, AnyBlockLengthWalksTheFrameAndReportsOncePerFrame) {
    // At least three frames, in blocks of each length: the filter has run
    // on three frames, and what is left waits for its block to fill. The
    // reports and everything else printed must be those of 512-sample
    // blocks.
    auto printed = [](size_t length) {
        auto m = std::make_shared<DABModDemod>(nullptr);
        StdoutCapture out;
        size_t fed = 0;
        while (fed < 3 * frameSamples) {
            const buff<float> audio = m->demodulate(buff<cplx>(length, cplx(5, 5)));
            fed += length;
            EXPECT_EQ(audio.count, 32u);
            EXPECT_EQ(m->readPosition, fed % frameSamples);
        }
        return out.stop();
    };
    const std::string by512 = printed(512);
    const auto found = reports(splitLines(by512));
    ASSERT_EQ(found.size(), 3u);
    for (auto [magnitude, position] : found) EXPECT_EQ(position, 5208);
    EXPECT_EQ(printed(1000), by512);
    EXPECT_EQ(printed(1536), by512);
    EXPECT_EQ(printed(196608 + 1), by512) << "a block longer than the frame wraps as often as it must";
}

} // namespace
