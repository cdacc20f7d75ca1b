// The chirp mode's capture file, written into the working directory. Each
// case works in a fresh folder of its own below the one ctest starts it in,
// so that cases running side by side never share the file.
#include "chirpStream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using chirptest::cplx;

/// A fresh, empty folder named after the running case, made the working
/// directory.
void enterOwnFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const fs::path dir = fs::current_path() / (std::string(info->test_suite_name()) + "." + info->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::current_path(dir);
}

std::vector<std::string> lines(const fs::path& file) {
    std::ifstream in(file);
    std::vector<std::string> out;
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

/// Transmits and receives `chirps` chirps block by block, as a transceiver
/// keyed on its own signal would (the first transmit block comes first).
void run(chirpyModDemod& m, int chirps, std::vector<cplx>* keep = nullptr) {
    for (int i = 0; i < chirps * 8; ++i) {
        buff<cplx> b(512);
        m.modulate(buff<cplx>(512, cplx{}), b);
        if (keep) keep->insert(keep->end(), b.begin(), b.end());
        m.demodulate(b);
    }
}

TEST(ChirpCapture, From160ChirpsOn7680LinesOfABAndTheirDifferenceOnce) {
    enterOwnFolder();
    const fs::path file = chirpyModDemod::captureFile;
    auto m = std::make_shared<chirpyModDemod>(nullptr);
    std::vector<cplx> x;
    run(*m, 160, &x);
    EXPECT_FALSE(fs::exists(file)) << "nothing before chirp 160";
    // 7680 lines of every 16th sample are 30 chirps.
    run(*m, 31, &x);
    EXPECT_EQ(m->captureCount, 7680);
    EXPECT_FALSE(m->capture.is_open());
    const auto text = lines(file);
    ASSERT_EQ(text.size(), 7680u);

    const std::regex line(R"(^(\S+), (\S+), (\S+)$)");
    for (size_t i = 0; i < text.size(); ++i) {
        std::smatch f;
        ASSERT_TRUE(std::regex_match(text[i], f, line)) << i << ": " << text[i];
        const double a = std::stod(f[1]), b = std::stod(f[2]), d = std::stod(f[3]);
        ASSERT_NEAR(d, a - b, 1e-5 * (a + b) + 1e-6) << i;
        // Line i is the receiver's step at sample 160 * 4096 + 16 i, against
        // the correlations summed sample by sample (every 97th line: they
        // are slow).
        if (i % 97 == 0 || i == text.size() - 1) {
            const size_t n = 160 * 4096 + 16 * i;
            ASSERT_NEAR(a, chirptest::correlation(m->chirpA, x, n), 1e-4 * 4096) << i;
            ASSERT_NEAR(b, chirptest::correlation(m->chirpB, x, n), 1e-4 * 4096) << i;
        }
    }
    // Once per mode: more chirps leave the file as it is.
    run(*m, 40);
    EXPECT_EQ(lines(file), text);
    EXPECT_EQ(m->captureCount, 7680);
}

TEST(ChirpCapture, AFileThatCannotOpenWritesNothingAndTheReceiverGoesOn) {
    enterOwnFolder();
    // A folder where the file should go: the stream fails to open.
    fs::create_directory(chirpyModDemod::captureFile);
    auto m = std::make_shared<chirpyModDemod>(nullptr);
    run(*m, 200);
    EXPECT_EQ(m->captureCount, 7680) << "the lines are counted all the same";
    EXPECT_TRUE(fs::is_directory(chirpyModDemod::captureFile));
    EXPECT_TRUE(fs::is_empty(chirpyModDemod::captureFile));
    EXPECT_EQ(std::distance(fs::directory_iterator(fs::current_path()), fs::directory_iterator()), 1);
    const auto bits = chirptest::recentBits(m->channels[0], 16);
    for (size_t i = 1; i < bits.size(); ++i) EXPECT_NE(bits[i], bits[i - 1]) << "bit " << i;
}

} // namespace
