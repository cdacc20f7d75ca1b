#include "radios/sdrplay/SDRPlayLib.h"

#include "audio/Wireless.h"
#include "framework/exitGate.h"
#include "framework/immortal.h"

#include <dlfcn.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <type_traits>

std::atomic<int> SDRPlayLib::apiID{1};

namespace {

namespace fs = std::filesystem;

/// What the first load found, read by every later one.
struct firstLoad {
    std::mutex m;
    std::string libraryPath;
    std::string versionDirectory;
    std::string probeDirectory = "/usr/local/lib";
};

firstLoad& findings() {
    static auto& f = immortal<firstLoad>();
    return f;
}

bool exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

/// The newest installed version 3 library, or the plain 3.0 name when none
/// is there.
std::string probe(const std::string& directory) {
    const std::string stem = directory + "/libsdrplay_api.so.3.";
    for (int minor = 20; minor >= 10; --minor)
        if (std::string file = stem + std::to_string(minor); exists(file)) return file;
    for (int minor = 9; minor >= 7; --minor)
        if (std::string file = stem + "0" + std::to_string(minor); exists(file)) return file;
    return stem + "0";
}

/// "ver" and the version's first four characters (3.15 gives ver3.15, 3.7
/// gives ver3.70), whatever decimal mark the locale uses.
std::string versionFolder(float version) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", double(version));
    std::string digits(text);
    std::replace(digits.begin(), digits.end(), ',', '.');
    return "ver" + digits.substr(0, 4);
}

} // namespace

void SDRPlayLib::restartProcessState(const std::string& directory) {
    firstLoad& f = findings();
    std::lock_guard<std::mutex> lock(f.m);
    f.libraryPath.clear();
    f.versionDirectory.clear();
    f.probeDirectory = directory;
    apiID.store(1);
}

SDRPlayLib::~SDRPlayLib() {
    if (!handle) return;
    std::fputs("closing sdrplay\r\n", stdout);
    std::fflush(stdout);
    sdrplay_api_Close();
    dlclose(handle);
}

std::string SDRPlayLib::errorText(sdrplay_api_ErrT error) const {
    const char* text = sdrplay_api_GetErrorString ? sdrplay_api_GetErrorString(error) : nullptr;
    if (!text) return "error " + std::to_string(error);
    return std::string(text, strnlen(text, 256));
}

void SDRPlayLib::loadApi() {
    try {
        firstLoad& f = findings();
        // Numbers are taken under the lock, so load 2 never overtakes load 1.
        std::unique_lock<std::mutex> lock(f.m);
        const int k = apiID.fetch_add(1);
        if (k == 1) {
            f.libraryPath = probe(f.probeDirectory);
            if (!exists(f.libraryPath)) {
                spdlog::info("sdrplay dll not found {}", f.libraryPath);
                return;
            }
            if (open(f.libraryPath)) findVersionDirectory();
            return;
        }
        const std::string libraryPath = f.libraryPath;
        const std::string directory = f.versionDirectory;
        lock.unlock();

        // Without the first load's folder a copy would land in "/".
        if (directory.empty()) {
            spdlog::error("sdrplay instance copy {} refused: no version directory", k);
            return;
        }
        const std::string file = directory + "/sdrplay_api_i" + std::to_string(k) + ".so";
        if (!exists(file)) {
            if (!exists(libraryPath)) {
                spdlog::info("sdrplay dll not found");
                return;
            }
            std::error_code ec; // a failed copy shows as a missing file below
            fs::create_directories(directory, ec);
            fs::copy_file(libraryPath, file, ec);
        }
        if (!exists(file)) {
            spdlog::info("sdrplay dll not found {}", file);
            return;
        }
        open(file);
    } catch (const std::exception& e) {
        spdlog::error("sdrplay load error {}", e.what());
    } catch (...) {
        spdlog::error("sdrplay load error");
    }
}

bool SDRPlayLib::open(const std::string& file) {
    void* h = dlopen(file.c_str(), RTLD_LAZY);
    if (!h) {
        const char* why = dlerror();
        spdlog::error("sdrplay failed to load dll {}", file);
        spdlog::error("sdrplay failed to load dll {}", why ? why : "");
        return false;
    }

    bool complete = true;
    auto find = [&](auto& slot, const char* name) {
        void* f = dlsym(h, name);
        if (!f) {
            spdlog::info("sdrplay lacks {}", name);
            complete = false;
        }
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(f);
    };
#define VIREO_SDRPLAY_FIND(name) find(name, #name)
    VIREO_SDRPLAY_FIND(sdrplay_api_Open);
    VIREO_SDRPLAY_FIND(sdrplay_api_Close);
    VIREO_SDRPLAY_FIND(sdrplay_api_ApiVersion);
    VIREO_SDRPLAY_FIND(sdrplay_api_LockDeviceApi);
    VIREO_SDRPLAY_FIND(sdrplay_api_UnlockDeviceApi);
    VIREO_SDRPLAY_FIND(sdrplay_api_GetDevices);
    VIREO_SDRPLAY_FIND(sdrplay_api_SelectDevice);
    VIREO_SDRPLAY_FIND(sdrplay_api_ReleaseDevice);
    VIREO_SDRPLAY_FIND(sdrplay_api_GetErrorString);
    VIREO_SDRPLAY_FIND(sdrplay_api_GetLastError);
    VIREO_SDRPLAY_FIND(sdrplay_api_DisableHeartbeat);
    VIREO_SDRPLAY_FIND(sdrplay_api_DebugEnable);
    VIREO_SDRPLAY_FIND(sdrplay_api_GetDeviceParams);
    VIREO_SDRPLAY_FIND(sdrplay_api_Init);
    VIREO_SDRPLAY_FIND(sdrplay_api_Uninit);
    VIREO_SDRPLAY_FIND(sdrplay_api_Update);
    VIREO_SDRPLAY_FIND(sdrplay_api_SwapRspDuoActiveTuner);
    VIREO_SDRPLAY_FIND(sdrplay_api_SwapRspDuoDualTunerModeSampleRate);
    VIREO_SDRPLAY_FIND(sdrplay_api_SwapRspDuoMode);
#undef VIREO_SDRPLAY_FIND
    if (!complete) {
        spdlog::error("sdrplay failed to load functions");
        dlclose(h);
        return false;
    }

    handle = h;
    spdlog::info("sdrplay dll loaded{}", file);
    const sdrplay_api_ErrT err = sdrplay_api_Open();
    exitGate::rearm(); // after the statics its load and open built
    if (err != 0) {
        // The image stays mapped: the library was entered and is not closed.
        handle = nullptr;
        spdlog::info("sdrplay_api_Open {}", errorText(err));
        return false;
    }
    spdlog::info("sdrplay dll opened");
    return true;
}

void SDRPlayLib::findVersionDirectory() {
    spdlog::info("sdrplay getting version");
    float version = 3.7f;
    if (const sdrplay_api_ErrT err = sdrplay_api_ApiVersion(&version); err != 0) {
        spdlog::info("sdrplay_api_ApiVersion failed");
        spdlog::error("sdrplay_api_ApiVersion failed {}", errorText(err));
        return;
    }
    spdlog::info("sdrplay getting path");
    Wireless* root = Wireless::getInstance();
    if (!root) {
        spdlog::error("sdrplay failed to get path");
        sdrplay_api_Close(); // opened above: the service is told before the image goes
        dlclose(handle);
        handle = nullptr;
        return;
    }
    std::string directory = root->getInitPath();
    spdlog::info("sdrplay got path {}", directory);
    if (directory.empty()) {
        // The copies would go to "/sdrplay/...": refuse them, keep this one.
        spdlog::error("sdrplay got no folder from Wireless_Init: instance copies refused");
        return;
    }
    directory += "/sdrplay/" + versionFolder(version);
    spdlog::info("sdrplay got path {}", directory);
    findings().versionDirectory = directory; // the caller holds the lock
}
