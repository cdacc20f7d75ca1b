#include "radios/soapy/SoapyLib.h"

#include "framework/exitGate.h"
#include "framework/immortal.h"

#include <spdlog/spdlog.h>

#include <dlfcn.h>

#include <cstring>

namespace {
void* openLazily(const char* file) { return dlopen(file, RTLD_LAZY); }
} // namespace

SoapyLib::SoapyLib(opener open) : open_(open ? open : openLazily) {}

SoapyLib& SoapyLib::getInstance() {
    static auto& instance = immortal<SoapyLib>();
    return instance;
}

void SoapyLib::LoadApi() {
    if (handle()) return;
    std::lock_guard<std::mutex> lock(loadMutex_);
    if (handle()) return; // loaded by the caller that held the lock before us

    void* h = nullptr;
    const char* tried = nullptr;
    for (const char* name : libraryNames) {
        tried = name;
        if ((h = open_(name))) break;
    }
    if (!h) {
        spdlog::info("soapy failed to load dll {}", tried);
        return;
    }
    spdlog::info("soapy loaded dll {}", tried);
#define VIREO_SOAPY_LOOKUP(member, name, type) member = reinterpret_cast<type>(TestGetProcAddress(h, name));
    VIREO_SOAPY_TABLE(VIREO_SOAPY_LOOKUP)
    VIREO_SOAPY_RELEASE(VIREO_SOAPY_LOOKUP)
#undef VIREO_SOAPY_LOOKUP
    // Pairs with the acquire in handle(): the table is complete first.
    handle_.store(h, std::memory_order_release);
    exitGate::rearm(); // after SoapySDR's statics, built as it loaded
}

void* SoapyLib::TestGetProcAddress(void* handle, const char* name) {
    void* f = dlsym(handle, name);
    if (!f) spdlog::info("failed to load {}", name);
    return f;
}

std::string SoapyLib::lastErrorText() const {
    const char* text = lastError ? lastError() : nullptr;
    return text ? text : "";
}

std::string SoapyLib::errorText(int code) const {
    const char* text = errToStr ? errToStr(code) : nullptr;
    return text ? text : std::to_string(code);
}

bool SoapyLib::abiStartsWith(std::initializer_list<const char*> prefixes) const {
    const char* abi = getABIVersion ? getABIVersion() : nullptr;
    if (!abi) return false;
    for (const char* p : prefixes)
        if (std::strncmp(abi, p, std::strlen(p)) == 0) return true;
    return false;
}

void LogHandler(SoapySDRLogLevel level, const char* message) {
    const char* text = message ? message : "";
    // The text is an argument, never the format: a library message holding
    // "{}" is written as it is.
    if (level <= SOAPY_SDR_ERROR)
        spdlog::error("{}", text);
    else
        spdlog::info("{}", text);
}
