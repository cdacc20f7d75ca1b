// vireo_exit_host: a host that leaves everything running when it ends, as
// hosts do. Eight loop-back radios with three transceivers each, receiving
// through different modes with spectrum lines and audio to the host, every
// sixth one keyed with the signal generator; then the host ends without
// stopping or releasing anything.
//
//   vireo_exit_host <log> return <ms>   polls for ms milliseconds, returns from main
//   vireo_exit_host <log> exit <blocks> a mode's receive callback, on a library
//                                       thread, calls exit after that many blocks
//   vireo_exit_host <log> thread <ms>   as return, but a thread that never called
//                                       the library calls exit (a UI thread's)
//
// Built a second time as vireo_exit_device_host, which takes the radio as a
// last argument: one device radio on its driver's stand-in (rtl, airspy,
// sdrplay, soapy), with three transceivers, started once the driver's state
// exists, after init, as a host that opens a device does; the host ends once
// IQ flows. The stand-ins are found on LD_LIBRARY_PATH (the SoapySDR module
// through SOAPY_SDR_PLUGIN_PATH); the sdrplay_api stand-in is installed
// into the scratch folder given after the radio.
//
//   vireo_exit_device_host <log> return|exit|thread <n> <radio> <scratch folder>
//
// Exit status 0 when the process ended cleanly; a sanitizer or a crash says
// otherwise.
#include "vireocore.h"

#ifdef VIREO_EXIT_DEVICES
#include "radios/sdrplay/SDRPlayLib.h"
#include "standins/soapy/soapyStandin.h"
#include "standins/standinControl.h"

#include <dlfcn.h>
#include <rtl-sdr.h>

#include <filesystem>
#include <string>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

#ifdef VIREO_EXIT_DEVICES
constexpr bool deviceHost = true;
#else
constexpr bool deviceHost = false;
#endif
constexpr int radioCount = deviceHost ? 1 : 8;
constexpr int transceiversPerRadio = 3;

// The host holds its handles to the very end: in storage that is never
// destroyed, so that the leak checker sees them held, not lost.
std::vector<void*>& radios = *new std::vector<void*>;
std::vector<void*>& modes = *new std::vector<void*>;
std::mutex addedMutex;
std::vector<void*>& added = *new std::vector<void*>;

std::atomic<long> blocksSeen{0};
long exitAfter = -1;

std::atomic<long long> firstFrequency{0};

void onAdded(void* vtrx, long long frequency, int, int) {
    std::lock_guard<std::mutex> lock(addedMutex);
    if (added.empty()) firstFrequency = frequency;
    added.push_back(vtrx);
}
void onAudio(void* a) { floatArray_delete(a); }
void onLine(void* line, int, double, double) { floatArray_delete(line); }
void onStrength(double) {}

// Called on a pool worker inside the transceiver's turn.
void onRxChunk(void* block) {
    complexArray_delete(block);
    if (blocksSeen.fetch_add(1) + 1 == exitAfter) std::exit(0);
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
    // One device radio's three: voice, data and the host's own mode.
    if (deviceHost) i = i == 1 ? 4 : i == 2 ? 5 : 0;
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

#ifdef VIREO_EXIT_DEVICES
/// A control function of a stand-in, loaded now if the library has not
/// loaded it yet, and kept loaded, as the library will open it too.
template <class F>
F* control(const char* library, const char* name) {
    if (!dlopen(library, RTLD_NOW | RTLD_GLOBAL)) {
        std::fprintf(stderr, "exit host: %s\n", dlerror());
        std::exit(2);
    }
    return standin::control<F>(library, name);
}

/// Polls until done() holds; false after a minute.
template <class Done>
bool pollUntil(Done done) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
        getUpdates();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::atomic<int> micEqPoints{0};
std::atomic<int> soapyDevices{0};
std::vector<void*>& roots = *new std::vector<void*>;

/// A device radio on its driver's stand-in, the driver's state made now,
/// after what a host does first for this kind of radio.
void* deviceRadio(const std::string& kind, const std::string& scratch) {
    if (kind == "rtl") {
        control<int(const char*, int)>("librtlsdr.so.0", "standin_rtlsdr_add_device")("00000001",
                                                                                     RTLSDR_TUNER_R820T);
        control<void(double, double)>("librtlsdr.so.0", "standin_rtlsdr_tone")(14010000, 60);
        control<void(double)>("librtlsdr.so.0", "standin_rtlsdr_pace")(2048000.0 / 16384); // real time
        void* r = RTLRadio_create();
        RTLRadio_setSerial(r, "00000001");
        return r;
    }
    if (kind == "airspy") {
        const uint64_t serial = 10;
        const uint32_t rate = 2500000;
        control<void(const uint64_t*, int)>("libairspy.so.0", "standin_airspy_setSerials")(&serial, 1);
        control<void(const uint32_t*, int)>("libairspy.so.0", "standin_airspy_setRates")(&rate, 1);
        control<void(double, double)>("libairspy.so.0", "standin_airspy_setTone")(10000, 0.3);
        control<void(int)>("libairspy.so.0", "standin_airspy_setPaced")(1);
        void* r = AirspyRadio_create();
        AirspyRadio_setSerial(r, serial);
        return r;
    }
    if (kind == "sdrplay") {
        std::filesystem::create_directories(scratch + "/lib");
        std::filesystem::copy_file(VIREO_SDRPLAY_STANDIN, scratch + "/lib/libsdrplay_api.so.3.15",
                                   std::filesystem::copy_options::overwrite_existing);
        SDRPlayLib::restartProcessState(scratch + "/lib"); // where the installed library would be
        // The root object, whose folder takes the library's copies.
        void* root = Wireless_create();
        roots.push_back(root);
        Wireless_bindDefaultMicEQ(root, [](unsigned long, unsigned long, void* item) {
            calibLine_release(item);
            ++micEqPoints;
        });
        Wireless_Init(root, scratch.c_str());
        if (!pollUntil([] { return micEqPoints > 0; })) std::exit(3);
        control<int(const char*, int, int)>("libsdrplayworld.so", "standin_sdrplay_add_device")("10", 255, 0);
        control<void(int, double, double)>("libsdrplayworld.so", "standin_sdrplay_tone")(0, 14010000, 8000);
        void* r = SDRPlayRadio_create();
        SDRPlayRadio_setSerialNo(r, "10");
        Radio_setSampleRate(r, 2000000);
        SDRPlayRadio_setModel(r, "RSP1A");
        return r;
    }
    if (kind == "soapy") {
        // The module, loaded now, registers its drivers with SoapySDR, which
        // the radio then finds loaded.
        namespace sdr = standin::soapy;
        const std::string module = std::string(VIREO_SOAPY_STANDIN_DIR) + "/" + sdr::module;
        sdr::Device d;
        d.find = {{"label", "L1"}, {"serial", "S1"}};
        d.rateRanges = {{192000, 192000}};
        control<sdr::setDevicesFn>(module.c_str(), "standin_soapy_setDevices")({d});
        void* discovery = SoapyController_create();
        roots.push_back(discovery);
        SoapyController_bindnewRadio(discovery, [](const char*) { ++soapyDevices; });
        SoapyController_Discover(discovery);
        if (!pollUntil([] { return soapyDevices > 0; })) std::exit(3);
        void* r = SoapyRadio_create();
        SoapyRadio_setdriver(r, "vctest");
        SoapyRadio_setlabel(r, "L1");
        return r;
    }
    std::fprintf(stderr, "exit host: no radio %s\n", kind.c_str());
    std::exit(2);
}
#endif

} // namespace

int main(int argc, char** argv) {
#ifdef VIREO_EXIT_DEVICES
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s <log> return <ms> | exit <blocks>  <radio> <scratch>\n", argv[0]);
        return 2;
    }
#else
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <log> return <ms> | exit <blocks>\n", argv[0]);
        return 2;
    }
#endif
    const bool exitInCallback = std::strcmp(argv[2], "exit") == 0;
    const long amount = std::atol(argv[3]);
    if (exitInCallback) exitAfter = amount;

    init(argv[1], 0);
    for (int r = 0; r < radioCount; ++r) {
#ifdef VIREO_EXIT_DEVICES
        void* radio = deviceRadio(argv[4], argv[5]);
#else
        void* radio = TestRadio_create();
#endif
        radios.push_back(radio);
        Radio_bindvtrxAdded(radio, onAdded);
        Radio_start(radio); // its first transceiver
        if (deviceHost) {
            // The others beside the first, wherever the device starts.
            while (addedCount() == 0) {
                poll();
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            for (int k = 1; k < transceiversPerRadio; ++k) Radio_addVtrx(radio, firstFrequency + 1000 * k, 0, 0);
            continue;
        }
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
    for (size_t i = 0; !deviceHost && i < all.size(); i += 2 * transceiversPerRadio) {
        void* gen = sigGenModDemod_create();
        modes.push_back(gen);
        sigGenModDemod_setampl1(gen, 0.3);
        vtrx_setModulation(all[i], gen);
        vtrx_setptt(all[i], true);
    }

    if (deviceHost) {
        // A device host ends once IQ flows.
        while (blocksSeen.load() == 0) {
            poll();
            if (std::chrono::steady_clock::now() > giveUp) {
                std::fprintf(stderr, "exit host: no IQ came\n");
                return 3;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
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
    if (std::strcmp(argv[2], "thread") == 0) std::thread([] { std::exit(0); }).join();
    return 0; // everything still running
}
