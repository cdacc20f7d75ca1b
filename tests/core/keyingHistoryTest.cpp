// Seeded random histories of a host keying the loop-back radio in a hurry
// (keyingHistory.h): each seed a case of its own. A failure names the
// invariant, the burst that broke it and the command that replays it.
#include "core/keyingHistory.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <string>

namespace {

class KeyingHistory : public ::testing::TestWithParam<uint64_t> {};

TEST_P(KeyingHistory, TheHostsLastWordIsTheLibrarysAndItsLastKeyStands) {
    const std::string logs = ::testing::TempDir() + "vireo_keying_history_" + std::to_string(getpid()) + "/";
    const auto out = keyhist::runHistory(GetParam(), keyhist::burstsPerHistory(), logs);
    std::printf("seed %llu: %d bursts checked\n", (unsigned long long)out.seed, out.bursts);
    EXPECT_FALSE(out.failed) << "seed " << out.seed << " (replay: bench/keyingHistory " << out.seed << " 1)\n"
                             << out.report;
}

// Each seed meets an ending in a text or a JT message early: a lost new
// text (15, 34; 61, after B's key), an ended text going on under a key made
// after the ending (8, 33, 40; 183, after B's key), a stopped JT message
// going on once enabled again (3).
INSTANTIATE_TEST_SUITE_P(Seeds, KeyingHistory, ::testing::Values(3, 8, 15, 33, 34, 40, 61, 183),
                         [](const ::testing::TestParamInfo<uint64_t>& p) {
                             return "Seed" + std::to_string(p.param);
                         });

} // namespace
