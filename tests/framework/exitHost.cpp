// vireo_exit_host: a host that leaves everything running when it ends, as
// hosts do. Eight loop-back radios with three transceivers each, receiving
// through different modes with spectrum lines and audio to the host, every
// sixth one keyed with the signal generator; then the host ends without
// stopping or releasing anything.
//
//   vireo_exit_host <log> return <ms>   polls for ms milliseconds, returns from main
//   vireo_exit_host <log> exit <blocks> a mode's receive callback, on a library
//                                       thread, calls exit after that many blocks
//
// Exit status 0 when the process ended cleanly; a sanitizer or a crash says
// otherwise.
#include "vireocore.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int radioCount = 8;
constexpr int transceiversPerRadio = 3;

// The host holds its handles to the very end: in storage that is never
// destroyed, so that the leak checker sees them held, not lost.
std::vector<void*>& radios = *new std::vector<void*>;
std::vector<void*>& modes = *new std::vector<void*>;
std::mutex addedMutex;
std::vector<void*>& added = *new std::vector<void*>;

std::atomic<long> blocksSeen{0};
long exitAfter = -1;

void onAdded(void* vtrx, long long, int, int) {
    std::lock_guard<std::mutex> lock(addedMutex);
    added.push_back(vtrx);
}
void onAudio(void* a) { floatArray_delete(a); }
void onLine(void* line, int, double, double) { floatArray_delete(line); }
void onStrength(double) {}

// Called on a pool worker inside the transceiver's turn.
void onRxChunk(void* block) {
    complexArray_delete(block);
    if (exitAfter >= 0 && blocksSeen.fetch_add(1) + 1 == exitAfter) std::exit(0);
}

void poll() {
    getUpdates();
    getRenderUpdates();
}

size_t addedCount() {
    std::lock_guard<std::mutex> lock(addedMutex);
    return added.size();
}

/// The receiving mode of the i-th transceiver.
void* modeFor(size_t i) {
    switch (i % 6) {
    case 0: return ssbModDemod_create();
    case 1: return cwModDemod_create();
    case 2: return PskModDemod_create();
    case 3: return fmModDemod_create();
    case 4: return RTTYModDemod_create();
    default: {
        void* m = proxyModDemod_create();
        proxyModDemod_bindrxChunk(m, onRxChunk);
        return m;
    }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <log> return <ms> | exit <blocks>\n", argv[0]);
        return 2;
    }
    const bool exitInCallback = std::strcmp(argv[2], "exit") == 0;
    const long amount = std::atol(argv[3]);
    if (exitInCallback) exitAfter = amount;

    init(argv[1], 0);
    for (int r = 0; r < radioCount; ++r) {
        void* radio = TestRadio_create();
        radios.push_back(radio);
        Radio_bindvtrxAdded(radio, onAdded);
        Radio_start(radio); // its first transceiver
        for (int k = 1; k < transceiversPerRadio; ++k) Radio_addVtrx(radio, 14000000 + 1000 * k, 0, 0);
    }
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (addedCount() < size_t(radioCount * transceiversPerRadio)) {
        poll();
        if (std::chrono::steady_clock::now() > giveUp) {
            std::fprintf(stderr, "exit host: transceivers did not arrive\n");
            return 3;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::vector<void*> all;
    {
        std::lock_guard<std::mutex> lock(addedMutex);
        all = added;
    }
    for (size_t i = 0; i < all.size(); ++i) {
        void* v = all[i];
        void* mode = modeFor(i);
        modes.push_back(mode);
        vtrx_setModulation(v, mode);
        vtrx_bindnewAudio(v, onAudio);
        vtrx_bindnewSpectrum(v, onLine);
        vtrx_bindsignalStrength(v, onStrength);
        vtrx_setSendAudio(v, true);
        vtrx_setforegroundDisplay(v, true);
        vtrx_start(v);
    }
    // Keyed transmitters: the loop-back then also runs transmit chains.
    for (size_t i = 0; i < all.size(); i += 2 * transceiversPerRadio) {
        void* gen = sigGenModDemod_create();
        modes.push_back(gen);
        sigGenModDemod_setampl1(gen, 0.3);
        vtrx_setModulation(all[i], gen);
        vtrx_setptt(all[i], true);
    }

    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(exitInCallback ? 60000 : amount);
    while (std::chrono::steady_clock::now() < end) {
        poll();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (exitInCallback) {
        std::fprintf(stderr, "exit host: the callback never exited\n");
        return 4;
    }
    return 0; // everything still running
}
