// vireo_unload_host: a host that loads the library at run time, starts
// loop-back radios with receiving transceivers, unloads the library while
// they run, and goes on living for a while before it returns.
//
//   vireo_unload_host <library> <log>
//
// Exit status 0 when the process ended cleanly.
#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Handles the host holds to the end, in storage never destroyed (see
// exitHost.cpp).
std::vector<void*>& held = *new std::vector<void*>;
std::mutex addedMutex;
std::vector<void*>& added = *new std::vector<void*>;

void onAdded(void* vtrx, long long, int, int) {
    std::lock_guard<std::mutex> lock(addedMutex);
    added.push_back(vtrx);
}

void (*arrayDelete)(void*) = nullptr;
void onLine(void* line, int, double, double) { arrayDelete(line); }

template <class F>
F find(void* library, const char* name) {
    void* f = dlsym(library, name);
    if (!f) {
        std::fprintf(stderr, "unload host: %s missing\n", name);
        std::exit(3);
    }
    return reinterpret_cast<F>(f);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <library> <log>\n", argv[0]);
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "unload host: %s\n", dlerror());
        return 3;
    }
    auto init = find<void (*)(const char*, int)>(library, "init");
    auto getUpdates = find<void (*)()>(library, "getUpdates");
    auto getRenderUpdates = find<void (*)()>(library, "getRenderUpdates");
    auto testRadio = find<void* (*)()>(library, "TestRadio_create");
    auto bindAdded = find<void (*)(void*, void (*)(void*, long long, int, int))>(library, "Radio_bindvtrxAdded");
    auto start = find<void (*)(void*)>(library, "Radio_start");
    auto addVtrx = find<void (*)(void*, long long, int, int)>(library, "Radio_addVtrx");
    auto ssb = find<void* (*)()>(library, "ssbModDemod_create");
    auto setModulation = find<void (*)(void*, void*)>(library, "vtrx_setModulation");
    auto bindSpectrum = find<void (*)(void*, void (*)(void*, int, double, double))>(library, "vtrx_bindnewSpectrum");
    auto foreground = find<void (*)(void*, bool)>(library, "vtrx_setforegroundDisplay");
    auto startVtrx = find<void (*)(void*)>(library, "vtrx_start");
    arrayDelete = find<void (*)(void*)>(library, "floatArray_delete");

    init(argv[2], 0);
    const int radios = 4;
    for (int r = 0; r < radios; ++r) {
        void* radio = testRadio();
        held.push_back(radio);
        bindAdded(radio, onAdded);
        start(radio);
        addVtrx(radio, 14001000, 0, 0);
    }
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        getUpdates();
        getRenderUpdates();
        {
            std::lock_guard<std::mutex> lock(addedMutex);
            if (added.size() == 2 * radios) break;
        }
        if (std::chrono::steady_clock::now() > giveUp) {
            std::fprintf(stderr, "unload host: transceivers did not arrive\n");
            return 4;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (void* v : added) {
        held.push_back(ssb());
        setModulation(v, held.back());
        bindSpectrum(v, onLine);
        foreground(v, true);
        startVtrx(v);
    }
    for (int i = 0; i < 40; ++i) {
        getUpdates();
        getRenderUpdates();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // The radios still run; the host is done with the library.
    dlclose(library);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return 0;
}
