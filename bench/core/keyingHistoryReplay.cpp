// Replays seeded keying histories (tests/core/keyingHistory.h) outside the
// tests, or searches seeds for a failing one:
//   keyingHistory <seed> <count> [bursts]
// runs the histories of seeds seed .. seed + count - 1 and prints each
// failing seed with the invariant it broke and the burst that shows it, on
// standard error (the library's own traces go to standard output). Exits 1
// when any failed.
#include "core/keyingHistory.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <seed> <count> [bursts]\n", argv[0]);
        return 2;
    }
    const unsigned long long first = std::strtoull(argv[1], nullptr, 10);
    const unsigned long long count = std::strtoull(argv[2], nullptr, 10);
    const int bursts = argc > 3 ? std::atoi(argv[3]) : keyhist::burstsPerHistory();
    const std::string logs = "/tmp/vireo_keying_history_" + std::to_string(getpid()) + "/";
    int failed = 0;
    for (unsigned long long seed = first; seed < first + count; ++seed) {
        const auto out = keyhist::runHistory(seed, bursts, logs);
        if (!out.failed) {
            std::fprintf(stderr, "seed %llu: %d bursts hold\n", seed, out.bursts);
        } else {
            ++failed;
            std::fprintf(stderr, "seed %llu FAILS at burst %d: %s\n%s\n", seed, out.bursts - 1, out.invariant.c_str(),
                        out.report.c_str());
        }
        
    }
    std::fprintf(stderr, "%d of %llu seeds failed; the library's log is in %s\n", failed, count, logs.c_str());
    return failed ? 1 : 0;
}
