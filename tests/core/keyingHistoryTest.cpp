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

// Each seed met a case the history found before it held (those below 2000
// in the history as it was before B's key, A's CW text and A's ending at
// once joined its actions, which gave every seed new calls): the key the host
// made last lost to a CW text queued before it (B's key to A's text: 3, 17,
// 21; B's CW text to A's: 30; A's key to B's text: 37), a JT message queued
// after the let-go of its transceiver lost on the mode's way to B (9, 16),
// a CW text's key lost between two others' on their way to the radio
// (41), B left on the air by A's CW text whose key A's replacement refused
// before the radio heard of it (2015), a key made while the radio could
// not transmit that came through once it could again (2001), and a CW text
// whose key was dropped as the mode, moved away, settled on no transceiver,
// left to go out later under the host's own key of A and end it with its
// mark (5227).
INSTANTIATE_TEST_SUITE_P(Seeds, KeyingHistory, ::testing::Values(3, 9, 16, 17, 21, 30, 37, 41, 2001, 2015, 5227),
                         [](const ::testing::TestParamInfo<uint64_t>& p) {
                             return "Seed" + std::to_string(p.param);
                         });

} // namespace
