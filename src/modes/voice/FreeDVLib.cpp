#include "modes/voice/FreeDVLib.h"

#include "framework/exitGate.h"
#include "framework/immortal.h"

#include <dlfcn.h>
#include <spdlog/spdlog.h>

FreeDVLib* FreeDVLib::getInstance() {
    // Never destroyed, like every static first built after init: modes on
    // pool workers use it up to the process's exit.
    static auto* instance = new FreeDVLib;
    return instance;
}

std::vector<std::string>& FreeDVLib::fileNames() {
    // Debian's runtime package installs only the versioned file; the plain
    // name comes with the development package.
    static auto& names = immortal<std::vector<std::string>>(std::initializer_list<std::string>{
        "libcodec2.so", "libcodec2", "libcodec2.dylib", "libcodec2.so.1.0", "libcodec2.so.1"});
    return names;
}

void FreeDVLib::LoadApi() {
    if (loaded()) return;
    std::lock_guard<std::mutex> lock(loading_);
    if (loaded()) return;

    void* handle = nullptr;
    std::string name;
    for (const auto& file : fileNames()) {
        handle = dlopen(file.c_str(), RTLD_LAZY);
        if (handle) {
            name = file;
            break;
        }
    }
    if (!handle) {
        spdlog::info("freedv failed to load dll {}", "libcodec2");
        return;
    }
    spdlog::info("freedv loaded dll {}", name);

#define VIREO_FREEDV_LOOKUP(fn, type, called) fn = reinterpret_cast<type>(TestGetProcAddress(handle, #fn));
    VIREO_FREEDV_TABLE(VIREO_FREEDV_LOOKUP)
#undef VIREO_FREEDV_LOOKUP
    // Pairs with the acquire in loaded(): whoever sees the handle sees the table.
    handle_.store(handle, std::memory_order_release);
    exitGate::rearm(); // after codec2's statics, built as it loaded
}

void* FreeDVLib::TestGetProcAddress(void* handle, const char* name) {
    void* f = dlsym(handle, name);
    if (!f) spdlog::info("failed to load {}", name);
    return f;
}

bool FreeDVLib::usable(const char** missing) const {
    if (missing) *missing = nullptr;
    if (!loaded()) return false;
#define VIREO_FREEDV_NEEDED(fn, type, called)                                                               \
    if (called && !fn) {                                                                                     \
        if (missing) *missing = #fn;                                                                         \
        return false;                                                                                        \
    }
    VIREO_FREEDV_TABLE(VIREO_FREEDV_NEEDED)
#undef VIREO_FREEDV_NEEDED
    return true;
}
