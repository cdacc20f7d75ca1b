#pragma once
// RTLSDRLib: librtlsdr, opened at run time and never linked. One instance
// serves the process; discovery and every RTL radio hold a pointer to it.
//
// The table holds one pointer per function, typed from rtl-sdr.h, looked up
// by name in the order of VIREO_RTLSDR_TABLE. A name the library lacks stays
// null; callers ask `lacking` for the entries they are about to call and
// refuse, with a log line, when one is missing.
//
// Threads: the first loads may come at once from a discovery and a radio on
// different task groups, so loading runs under a lock; a failed load leaves
// the library unloaded and the next caller tries again. The table is written
// only before the handle is published (release store) and read only after
// `loaded` saw it (acquire load), so a loaded table is read without locks.
#include <rtl-sdr.h>

#include <atomic>
#include <bitset>
#include <initializer_list>
#include <mutex>

// The 37 entries, in lookup order.
#define VIREO_RTLSDR_TABLE(X)                                                                                \
    X(rtlsdr_get_device_count)                                                                               \
    X(rtlsdr_get_device_name)                                                                                \
    X(rtlsdr_get_device_usb_strings)                                                                         \
    X(rtlsdr_get_index_by_serial)                                                                            \
    X(rtlsdr_open)                                                                                           \
    X(rtlsdr_close)                                                                                          \
    X(rtlsdr_set_xtal_freq)                                                                                  \
    X(rtlsdr_get_xtal_freq)                                                                                  \
    X(rtlsdr_get_usb_strings)                                                                                \
    X(rtlsdr_write_eeprom)                                                                                   \
    X(rtlsdr_read_eeprom)                                                                                    \
    X(rtlsdr_set_center_freq)                                                                                \
    X(rtlsdr_get_center_freq)                                                                                \
    X(rtlsdr_set_freq_correction)                                                                            \
    X(rtlsdr_get_freq_correction)                                                                            \
    X(rtlsdr_get_tuner_type)                                                                                 \
    X(rtlsdr_get_tuner_gains)                                                                                \
    X(rtlsdr_set_tuner_gain)                                                                                 \
    X(rtlsdr_set_tuner_bandwidth)                                                                            \
    X(rtlsdr_get_tuner_gain)                                                                                 \
    X(rtlsdr_set_tuner_if_gain)                                                                              \
    X(rtlsdr_set_tuner_gain_mode)                                                                            \
    X(rtlsdr_set_sample_rate)                                                                                \
    X(rtlsdr_get_sample_rate)                                                                                \
    X(rtlsdr_set_testmode)                                                                                   \
    X(rtlsdr_set_agc_mode)                                                                                   \
    X(rtlsdr_set_direct_sampling)                                                                            \
    X(rtlsdr_get_direct_sampling)                                                                            \
    X(rtlsdr_set_offset_tuning)                                                                              \
    X(rtlsdr_get_offset_tuning)                                                                              \
    X(rtlsdr_reset_buffer)                                                                                   \
    X(rtlsdr_read_sync)                                                                                      \
    X(rtlsdr_wait_async)                                                                                     \
    X(rtlsdr_read_async)                                                                                     \
    X(rtlsdr_cancel_async)                                                                                   \
    X(rtlsdr_set_bias_tee)                                                                                   \
    X(rtlsdr_set_bias_tee_gpio)

class RTLSDRLib {
public:
    /// How a file is opened: dlopen, or a test's stand-in for it.
    using opener = void* (*)(const char* file, int flags);

    /// The names tried, in this order, until one opens.
    static constexpr const char* fileNames[] = {"librtlsdr.so", "librtlsdr.so.0", "librtlsdr.dylib"};

#define VIREO_RTLSDR_ENTRY(name) name,
    enum class entry { VIREO_RTLSDR_TABLE(VIREO_RTLSDR_ENTRY) count_ };
#undef VIREO_RTLSDR_ENTRY
    static constexpr size_t entries = size_t(entry::count_);

    /// The process-wide instance. Any thread; never fails.
    static RTLSDRLib* getInstance();

    /// An instance of its own, for tests of the loading itself.
    explicit RTLSDRLib(opener open = nullptr) : open_(open) {}
    RTLSDRLib(const RTLSDRLib&) = delete;
    RTLSDRLib& operator=(const RTLSDRLib&) = delete;

    /// Opens the library and fills the table once; a failed load is tried
    /// again at the next call. Any thread.
    void loadApi();
    /// One name looked up in the opened library, or null (logged).
    void* TestGetProcAddress(void* handle, const char* name);

    /// Whether a load succeeded. Any thread.
    bool loaded() const { return handle_.load(std::memory_order_acquire) != nullptr; }
    /// The name of the first of `needed` that the loaded table lacks, or null
    /// when all are there. Call only once loaded() holds.
    const char* lacking(std::initializer_list<entry> needed) const;
    static const char* nameOf(entry e);

#define VIREO_RTLSDR_MEMBER(name) decltype(&::name) name = nullptr;
    VIREO_RTLSDR_TABLE(VIREO_RTLSDR_MEMBER)
#undef VIREO_RTLSDR_MEMBER

private:
    opener open_;
    std::mutex loading_;
    std::bitset<entries> present_;
    std::atomic<void*> handle_{nullptr};
};
