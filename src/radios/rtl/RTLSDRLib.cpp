#include "radios/rtl/RTLSDRLib.h"

#include "framework/exitGate.h"
#include "framework/immortal.h"

#include <dlfcn.h>
#include <spdlog/spdlog.h>

namespace {

#define VIREO_RTLSDR_NAME(name) #name,
constexpr const char* names[] = {VIREO_RTLSDR_TABLE(VIREO_RTLSDR_NAME)};
#undef VIREO_RTLSDR_NAME
static_assert(std::size(names) == RTLSDRLib::entries);

void* systemOpen(const char* file, int flags) { return dlopen(file, flags); }

} // namespace

RTLSDRLib* RTLSDRLib::getInstance() {
    static auto& instance = immortal<RTLSDRLib>(systemOpen);
    return &instance;
}

const char* RTLSDRLib::nameOf(entry e) {
    size_t i = size_t(e);
    return i < entries ? names[i] : "?";
}

void RTLSDRLib::loadApi() {
    if (loaded()) return;
    std::lock_guard<std::mutex> lock(loading_);
    if (loaded()) return; // another caller finished while this one waited
    opener open = open_ ? open_ : systemOpen;

    void* handle = nullptr;
    const char* name = nullptr;
    for (const char* file : fileNames) {
        name = file;
        handle = open(file, RTLD_LAZY);
        if (handle) break;
    }
    if (!handle) {
        spdlog::info("rtlsdr failed to load dll {}", name);
        return;
    }
    spdlog::info("rtlsdr loaded dll {}", name);

    size_t i = 0;
#define VIREO_RTLSDR_LOOKUP(fn)                                                                              \
    fn = reinterpret_cast<decltype(fn)>(TestGetProcAddress(handle, #fn));                                    \
    present_[i++] = fn != nullptr;
    VIREO_RTLSDR_TABLE(VIREO_RTLSDR_LOOKUP)
#undef VIREO_RTLSDR_LOOKUP
    // Pairs with the acquire in loaded(): whoever sees the handle sees the table.
    handle_.store(handle, std::memory_order_release);
    exitGate::rearm(); // after the driver's statics, built as it loaded
}

void* RTLSDRLib::TestGetProcAddress(void* handle, const char* name) {
    void* f = dlsym(handle, name);
    if (!f) spdlog::info("failed to load {}", name);
    return f;
}

const char* RTLSDRLib::lacking(std::initializer_list<entry> needed) const {
    const bool ready = loaded();
    for (entry e : needed)
        if (!ready || !present_[size_t(e)]) return nameOf(e);
    return nullptr;
}
