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
// airspyhf, sdrplay, soapy), with three transceivers, started once the
// driver's state exists, after init, as a host that opens a device does; the
// host ends once IQ flows. The stand-ins are found on LD_LIBRARY_PATH (the
// SoapySDR module through SOAPY_SDR_PLUGIN_PATH); the sdrplay_api stand-in is
// installed into the scratch folder given after the radio. With a number of
// uses after the folder, the host first uses the radio as one that runs for
// weeks: that many discoveries, stops and starts, and threads that call the
// library and end; the C runtime's exit list must not grow with them (status
// 5 when it does).
//
//   vireo_exit_device_host <log> return|exit|thread <n> <radio> <scratch folder> [<uses>]
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

#include <functional>

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
// Every registration with the C runtime's exit list in the process, the
// library's, the drivers' and the host's.
std::atomic<long> exitRegistrations{0};

} // namespace

extern "C" int __cxa_atexit(void (*fn)(void*), void* arg, void* dso) noexcept {
    using registerFn = int (*)(void (*)(void*), void*, void*);
    static const auto next = reinterpret_cast<registerFn>(dlsym(RTLD_NEXT, "__cxa_atexit"));
    exitRegistrations.fetch_add(1);
    return next(fn, arg, dso);
}

namespace {

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
    if (kind == "airspyhf") {
        const uint64_t serial = 20;
        const uint32_t rate = 768000;
        control<void(const uint64_t*, int)>("libairspyhf.so.1", "standin_airspyhf_setSerials")(&serial, 1);
        control<void(const uint32_t*, int)>("libairspyhf.so.1", "standin_airspyhf_setRates")(&rate, 1);
        control<void(double, double)>("libairspyhf.so.1", "standin_airspyhf_setTone")(10000, 0.3);
        control<void(int)>("libairspyhf.so.1", "standin_airspyhf_setPaced")(1);
        void* r = AirspyHFRadio_create();
        AirspyHFRadio_setSerial(r, serial);
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

std::atomic<int> discovered{0};

/// The discovery of this kind of radio, its devices counted in `discovered`.
std::function<void()> discovery(const std::string& kind) {
    auto found = [](const char*) { ++discovered; };
    void* c = kind == "rtl"        ? RTLController_create()
              : kind == "airspy"   ? AirspyController_create()
              : kind == "airspyhf" ? AirspyHFController_create()
              : kind == "sdrplay"  ? SDRPlayController_create()
                                   : SoapyController_create();
    roots.push_back(c);
    if (kind == "rtl") return RTLController_bindnewRadio(c, found), [c] { RTLController_Discover(c); };
    if (kind == "airspy") return AirspyController_bindnewRadio(c, found), [c] { AirspyController_Discover(c); };
    if (kind == "airspyhf") return AirspyHFController_bindnewRadio(c, found), [c] { AirspyHFController_Discover(c); };
    if (kind == "sdrplay") return SDRPlayController_bindnewRadio(c, found), [c] { SDRPlayController_Discover(c); };
    return SoapyController_bindnewRadio(c, found), [c] { SoapyController_Discover(c); };
}

/// Registrations made by `uses` runs of use(i), after the first and by the
/// others, each run over before the next.
std::pair<long, long> registrationsOf(int uses, const std::function<void(int)>& use) {
    const long before = exitRegistrations.load();
    use(1);
    const long first = exitRegistrations.load();
    for (int i = 2; i <= uses; ++i) use(i);
    return {first - before, exitRegistrations.load() - first};
}

/// The radio in use as a host that runs for weeks uses it; false when the
/// exit list grew with the uses (whatever the first of each kind of use
/// registered, the others register nothing).
bool inUse(const std::string& kind, void* radio, int uses) {
    const auto discover = discovery(kind);
    const auto discoveries = registrationsOf(uses, [&](int i) {
        discover();
        if (!pollUntil([i] { return discovered >= i; })) {
            std::fprintf(stderr, "exit host: discovery %d found %d devices in all\n", i, discovered.load());
            std::exit(3);
        }
    });
    // The start's driver calls are over once a transceiver added after it
    // arrives: both run in order on the radio's task group (whose queue the
    // host must not outrun).
    const auto starts = registrationsOf(uses, [&](int i) {
        Radio_stop(radio);
        Radio_start(radio);
        const size_t before = addedCount();
        Radio_addVtrx(radio, firstFrequency, 0, 0);
        if (!pollUntil([before] { return addedCount() > before; })) {
            std::fprintf(stderr, "exit host: start %d: no transceiver came after it\n", i);
            std::exit(3);
        }
        std::lock_guard<std::mutex> lock(addedMutex);
        Radio_removeVtrx(radio, added.back());
    });
    const auto threadEnds = registrationsOf(uses, [](int) { std::thread(getUpdates).join(); });
    std::fprintf(stderr,
                 "exit host: %s exit-list registrations by the first and the other %d discoveries: %ld, %ld; "
                 "starts: %ld, %ld; ends of threads that called the library: %ld, %ld\n",
                 kind.c_str(), uses - 1, discoveries.first, discoveries.second, starts.first, starts.second,
                 threadEnds.first, threadEnds.second);
    return discoveries.second == 0 && starts.second == 0 && threadEnds.second == 0;
}
#endif

} // namespace

int main(int argc, char** argv) {
#ifdef VIREO_EXIT_DEVICES
    if (argc != 6 && argc != 7) {
        std::fprintf(stderr, "usage: %s <log> return <ms> | exit <blocks>  <radio> <scratch> [<uses>]\n", argv[0]);
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
#ifdef VIREO_EXIT_DEVICES
    if (argc == 7) {
        if (!inUse(argv[4], radios.front(), std::atoi(argv[6]))) return 5;
        const long seen = blocksSeen.load(); // and it streams again
        if (!pollUntil([seen] { return blocksSeen.load() > seen; })) {
            std::fprintf(stderr, "exit host: no IQ came after the uses\n");
            return 3;
        }
    }
#endif
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
