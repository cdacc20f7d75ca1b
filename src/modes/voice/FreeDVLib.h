#pragma once
// FreeDVLib: codec2's FreeDV interface, opened at run time by file name and
// never linked. One instance serves the process; every FreeDV mode calls the
// library through it.
//
// The entry-point types are written out here from what the mode calls them
// with: the FreeDV state is opaque (stored and passed back), speech samples
// are int16, complex modem samples are pairs of 32-bit floats (real,
// imaginary), which std::complex<float> lays out the same way.
//
// Threads: loading runs on the host's thread inside FreeDVModDemod_create
// (one host thread at a time), but is serialised all the same; the table is
// written before the handle is published (release store) and read only after
// loaded() saw the handle (acquire load), so a loaded table needs no lock.
// Once opened, the library stays open until the process ends.
#include <atomic>
#include <complex>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

/// The library's opaque state of one FreeDV instance.
struct freedvState;

namespace freedvApi {
using cplx = std::complex<float>;
using tx = void (*)(freedvState*, int16_t* modemOut, int16_t* speechIn);
using comptx = void (*)(freedvState*, cplx* modemOut, int16_t* speechIn);
using comprx = int (*)(freedvState*, int16_t* speechOut, cplx* modemIn);
using open = freedvState* (*)(int mode);
using close = void (*)(freedvState*);
using query = int (*)(freedvState*); // the sizes, rates and nin
using setter = void (*)(freedvState*, int); // resolved, never called
using setterFloat = void (*)(freedvState*, float);
} // namespace freedvApi

// member, type, whether the mode calls it; in lookup order (which is also
// the order of the log lines for missing ones).
#define VIREO_FREEDV_TABLE(X)                                                                                \
    X(freedv_tx, freedvApi::tx, true)                                                                                 \
    X(freedv_comptx, freedvApi::comptx, true)                                                                         \
    X(freedv_comprx, freedvApi::comprx, true)                                                                         \
    X(freedv_nin, freedvApi::query, true)                                                                             \
    X(freedv_open, freedvApi::open, true)                                                                             \
    X(freedv_close, freedvApi::close, true)                                                                           \
    X(freedv_get_n_max_speech_samples, freedvApi::query, true)                                                        \
    X(freedv_get_n_max_modem_samples, freedvApi::query, true)                                                         \
    X(freedv_get_speech_sample_rate, freedvApi::query, true)                                                          \
    X(freedv_get_modem_sample_rate, freedvApi::query, true)                                                           \
    X(freedv_get_n_nom_modem_samples, freedvApi::query, true)                                                         \
    X(freedv_get_n_speech_samples, freedvApi::query, true)                                                            \
    X(freedv_set_squelch_en, freedvApi::setter, false)                                                                 \
    X(freedv_set_snr_squelch_thresh, freedvApi::setterFloat, false)                                                    \
    X(freedv_set_clip, freedvApi::setter, false)

class FreeDVLib {
public:
    /// The process-wide instance; loads nothing. Any thread.
    static FreeDVLib* getInstance();

    /// Opens the library once and looks up every entry; a failed open is
    /// tried again at the next call ("freedv failed to load dll libcodec2"
    /// each time). Any thread.
    void LoadApi();
    /// dlsym, with "failed to load {name}" when the name is missing.
    void* TestGetProcAddress(void* handle, const char* name);

    /// Whether the library is open. Any thread.
    bool loaded() const { return handle_.load(std::memory_order_acquire) != nullptr; }
    /// Loaded, and with every entry the mode calls (all but the squelch and
    /// clip setters); otherwise the name of the first missing one is
    /// returned through `missing` (null when the library is not loaded).
    bool usable(const char** missing = nullptr) const;

    /// The file names tried, in order, until one opens. For tests: names set
    /// before the first load replace the list (a name that nothing serves
    /// makes the library absent).
    static std::vector<std::string>& fileNames();

#define VIREO_FREEDV_MEMBER(name, type, called) type name = nullptr;
    VIREO_FREEDV_TABLE(VIREO_FREEDV_MEMBER)
#undef VIREO_FREEDV_MEMBER

private:
    FreeDVLib() = default;

    std::mutex loading_;
    std::atomic<void*> handle_{nullptr};
};
