// hpsdr_exit_host: a host that ends with an HPSDR radio running, run by
// hpsdrExitTest against a board simulator. It starts a radio on the board
// at <address> and, on protocol 1, keys its transceiver with the signal
// generator at 0.5; then it polls the library until the test creates the
// file <go> and ends as <ending> says:
//
//   exit     calls exit(0) at once, keyed
//   thread   the same from a thread of its own that never called the library
//   unkey    unkeys, hears ptt false, polls for a second, calls exit(0)
//   stop     Radio_stop, hears ptt false, polls for a second, calls exit(0)
//
// A protocol 2 radio has no transmitter: it is only started (exit, thread).
//
//   hpsdr_exit_host <log> p1|p2 <address> <ending> <go>
//
// Uses only the public header and the shared library. Exit status 0 when it
// ended as asked, 2 on bad arguments, 3 when what it waited for never came.
#include "vireocore.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

namespace {

// The host holds its handles to the very end, where the leak checker sees
// them held, not lost.
void* radio = nullptr;
void* generator = nullptr;
std::atomic<void*> firstVtrx{nullptr};
std::atomic<int> pttHeard{-1}; // the radio's newest ptt as the host heard it

void onAdded(void* vtrx, long long, int, int) {
    void* none = nullptr;
    if (!firstVtrx.compare_exchange_strong(none, vtrx)) vtrx_release(vtrx);
}
void onPtt(bool on) { pttHeard = on ? 1 : 0; }

/// Polls the library until done() or the limit; false at the limit.
bool pollUntil(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(60)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        getUpdates();
        getRenderUpdates();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void pollFor(std::chrono::milliseconds span) {
    const auto end = std::chrono::steady_clock::now() + span;
    pollUntil([&] { return std::chrono::steady_clock::now() > end; });
}

int fail(const char* what) {
    std::fprintf(stderr, "hpsdr exit host: %s\n", what);
    return 3;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s <log> p1|p2 <address> exit|thread|unkey|stop <go>\n", argv[0]);
        return 2;
    }
    const bool p1 = std::strcmp(argv[2], "p1") == 0;
    const std::string ending = argv[4];
    const char* go = argv[5];
    if (ending != "exit" && ending != "thread" && (!p1 || (ending != "unkey" && ending != "stop"))) return 2;

    init(argv[1], 0);
    radio = p1 ? HpsdrRadio_create() : HpsdrNpRadio_create();
    if (p1)
        HpsdrRadio_setipAddress(radio, argv[3]);
    else
        HpsdrNpRadio_setipAddress(radio, argv[3]);
    Radio_bindvtrxAdded(radio, onAdded);
    Radio_bindptt(radio, onPtt);
    Radio_start(radio);
    if (!pollUntil([] { return firstVtrx.load() != nullptr; })) return fail("no transceiver");
    void* tx = firstVtrx.load();
    if (p1) {
        generator = sigGenModDemod_create();
        sigGenModDemod_setampl1(generator, 0.5);
        vtrx_setModulation(tx, generator);
        vtrx_start(tx);
        vtrx_setptt(tx, true);
        if (!pollUntil([] { return pttHeard == 1; })) return fail("never keyed");
    }
    if (!pollUntil([go] { return access(go, F_OK) == 0; })) return fail("no go");

    if (ending == "thread") std::thread([] { std::exit(0); }).join();
    if (ending == "exit") std::exit(0);
    if (ending == "unkey")
        vtrx_setptt(tx, false);
    else
        Radio_stop(radio);
    if (!pollUntil([] { return pttHeard == 0; })) return fail("never unkeyed");
    pollFor(std::chrono::seconds(1));
    std::exit(0);
}
