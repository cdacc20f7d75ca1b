#pragma once
// SoapyLib: the SoapySDR library, opened at run time by file name (the
// library is never linked), and the table of its functions that discovery,
// the radio and the stream loop call. One instance serves the process.
//
// The table's types come from SoapySDR's own C header; only the older form
// of setupStream (before ABI 0.8), which that header no longer declares, is
// written out here. Every entry is null until a load succeeds; a name the
// library lacks stays null, and a user checks the entries it needs with
// missing<...>() before calling any of them.
//
// Threads: LoadApi may run on several task groups at once (two controllers
// discovering); the first load is serialised, and the handle is published
// only after the table is complete, so whoever sees the handle sees every
// entry. LogHandler runs on whatever thread SoapySDR logs from.
#include <SoapySDR/Device.h>
#include <SoapySDR/Errors.h>
#include <SoapySDR/Logger.h>
#include <SoapySDR/Modules.h>
#include <SoapySDR/Types.h>
#include <SoapySDR/Version.h>

#include <atomic>
#include <mutex>
#include <string>
#include <type_traits>

namespace vireo::soapy {
/// setupStream as libraries before ABI 0.8 export it: the stream comes back
/// through the second argument and the result is an error code.
using setupStreamBefore08 = int (*)(SoapySDRDevice* device, SoapySDRStream** stream, int direction,
                                    const char* format, const size_t* channels, size_t numChans,
                                    const SoapySDRKwargs* args);
/// Two look-ups of newer libraries, never called.
using settingInfoWithKey = SoapySDRArgInfo (*)(const SoapySDRDevice* device, const char* key);
using channelSettingInfoWithKey = SoapySDRArgInfo (*)(const SoapySDRDevice* device, int direction, size_t channel,
                                                      const char* key);
} // namespace vireo::soapy

// member, name looked up, type. Entries 6/7 share a name, and so do 22/23
// (the two forms of setupStream; the stream loop picks one by ABI version).
#define VIREO_SOAPY_TABLE(X)                                                                                   \
    X(getAPIVersion, "SoapySDR_getAPIVersion", decltype(&SoapySDR_getAPIVersion))                              \
    X(getABIVersion, "SoapySDR_getABIVersion", decltype(&SoapySDR_getABIVersion))                              \
    X(getLibVersion, "SoapySDR_getLibVersion", decltype(&SoapySDR_getLibVersion))                              \
    X(getRootPath, "SoapySDR_getRootPath", decltype(&SoapySDR_getRootPath))                                    \
    X(listModules, "SoapySDR_listModules", decltype(&SoapySDR_listModules))                                    \
    X(loadModule, "SoapySDR_loadModule", decltype(&SoapySDR_loadModule))                                       \
    X(loadModuleAgain, "SoapySDR_loadModule", decltype(&SoapySDR_loadModule))                                  \
    X(unloadModules, "SoapySDR_unloadModules", decltype(&SoapySDR_unloadModules))                              \
    X(enumerate, "SoapySDRDevice_enumerate", decltype(&SoapySDRDevice_enumerate))                              \
    X(make, "SoapySDRDevice_make", decltype(&SoapySDRDevice_make))                                             \
    X(makeStrArgs, "SoapySDRDevice_makeStrArgs", decltype(&SoapySDRDevice_makeStrArgs))                        \
    X(unmake, "SoapySDRDevice_unmake", decltype(&SoapySDRDevice_unmake))                                       \
    X(setFrequency, "SoapySDRDevice_setFrequency", decltype(&SoapySDRDevice_setFrequency))                     \
    X(setFrequencyComponent, "SoapySDRDevice_setFrequencyComponent",                                           \
      decltype(&SoapySDRDevice_setFrequencyComponent))                                                         \
    X(listAntennas, "SoapySDRDevice_listAntennas", decltype(&SoapySDRDevice_listAntennas))                     \
    X(setAntenna, "SoapySDRDevice_setAntenna", decltype(&SoapySDRDevice_setAntenna))                           \
    X(getAntenna, "SoapySDRDevice_getAntenna", decltype(&SoapySDRDevice_getAntenna))                           \
    X(setSampleRate, "SoapySDRDevice_setSampleRate", decltype(&SoapySDRDevice_setSampleRate))                  \
    X(listSampleRates, "SoapySDRDevice_listSampleRates", decltype(&SoapySDRDevice_listSampleRates))            \
    X(getSampleRateRange, "SoapySDRDevice_getSampleRateRange", decltype(&SoapySDRDevice_getSampleRateRange))   \
    X(getNativeStreamFormat, "SoapySDRDevice_getNativeStreamFormat",                                           \
      decltype(&SoapySDRDevice_getNativeStreamFormat))                                                         \
    X(setupStream, "SoapySDRDevice_setupStream", decltype(&SoapySDRDevice_setupStream))                        \
    X(setupStreamOld, "SoapySDRDevice_setupStream", vireo::soapy::setupStreamBefore08)                         \
    X(deactivateStream, "SoapySDRDevice_deactivateStream", decltype(&SoapySDRDevice_deactivateStream))         \
    X(closeStream, "SoapySDRDevice_closeStream", decltype(&SoapySDRDevice_closeStream))                        \
    X(activateStream, "SoapySDRDevice_activateStream", decltype(&SoapySDRDevice_activateStream))               \
    X(getStreamMTU, "SoapySDRDevice_getStreamMTU", decltype(&SoapySDRDevice_getStreamMTU))                     \
    X(getNumDirectAccessBuffers, "SoapySDRDevice_getNumDirectAccessBuffers",                                   \
      decltype(&SoapySDRDevice_getNumDirectAccessBuffers))                                                     \
    X(readStream, "SoapySDRDevice_readStream", decltype(&SoapySDRDevice_readStream))                           \
    X(writeStream, "SoapySDRDevice_writeStream", decltype(&SoapySDRDevice_writeStream))                        \
    X(acquireReadBuffer, "SoapySDRDevice_acquireReadBuffer", decltype(&SoapySDRDevice_acquireReadBuffer))      \
    X(releaseReadBuffer, "SoapySDRDevice_releaseReadBuffer", decltype(&SoapySDRDevice_releaseReadBuffer))      \
    X(listGains, "SoapySDRDevice_listGains", decltype(&SoapySDRDevice_listGains))                              \
    X(getGainRange, "SoapySDRDevice_getGainRange", decltype(&SoapySDRDevice_getGainRange))                     \
    X(setGain, "SoapySDRDevice_setGain", decltype(&SoapySDRDevice_setGain))                                    \
    X(getGain, "SoapySDRDevice_getGain", decltype(&SoapySDRDevice_getGain))                                    \
    X(getGainElementRange, "SoapySDRDevice_getGainElementRange", decltype(&SoapySDRDevice_getGainElementRange)) \
    X(getGainElement, "SoapySDRDevice_getGainElement", decltype(&SoapySDRDevice_getGainElement))               \
    X(setGainElement, "SoapySDRDevice_setGainElement", decltype(&SoapySDRDevice_setGainElement))               \
    X(KwargsFromString, "SoapySDRKwargs_fromString", decltype(&SoapySDRKwargs_fromString))                     \
    X(lastError, "SoapySDRDevice_lastError", decltype(&SoapySDRDevice_lastError))                              \
    X(errToStr, "SoapySDR_errToStr", decltype(&SoapySDR_errToStr))                                             \
    X(hasDCOffsetMode, "SoapySDRDevice_hasDCOffsetMode", decltype(&SoapySDRDevice_hasDCOffsetMode))            \
    X(setDCOffsetMode, "SoapySDRDevice_setDCOffsetMode", decltype(&SoapySDRDevice_setDCOffsetMode))            \
    X(hasIQBalanceMode, "SoapySDRDevice_hasIQBalanceMode", decltype(&SoapySDRDevice_hasIQBalanceMode))         \
    X(setIQBalanceMode, "SoapySDRDevice_setIQBalanceMode", decltype(&SoapySDRDevice_setIQBalanceMode))         \
    X(hasFrequencyCorrection, "SoapySDRDevice_hasFrequencyCorrection",                                         \
      decltype(&SoapySDRDevice_hasFrequencyCorrection))                                                        \
    X(setFrequencyCorrection, "SoapySDRDevice_setFrequencyCorrection",                                         \
      decltype(&SoapySDRDevice_setFrequencyCorrection))                                                        \
    X(hasGainMode, "SoapySDRDevice_hasGainMode", decltype(&SoapySDRDevice_hasGainMode))                        \
    X(setGainMode, "SoapySDRDevice_setGainMode", decltype(&SoapySDRDevice_setGainMode))                        \
    X(getSettingInfo, "SoapySDRDevice_getSettingInfo", decltype(&SoapySDRDevice_getSettingInfo))               \
    X(getSettingInfoWithKey, "SoapySDRDevice_getSettingInfoWithKey", vireo::soapy::settingInfoWithKey)         \
    X(writeSetting, "SoapySDRDevice_writeSetting", decltype(&SoapySDRDevice_writeSetting))                     \
    X(readSetting, "SoapySDRDevice_readSetting", decltype(&SoapySDRDevice_readSetting))                        \
    X(getChannelSettingInfo, "SoapySDRDevice_getChannelSettingInfo",                                           \
      decltype(&SoapySDRDevice_getChannelSettingInfo))                                                         \
    X(getChannelSettingInfoWithKey, "SoapySDRDevice_getChannelSettingInfoWithKey",                             \
      vireo::soapy::channelSettingInfoWithKey)                                                                 \
    X(writeChannelSetting, "SoapySDRDevice_writeChannelSetting", decltype(&SoapySDRDevice_writeChannelSetting)) \
    X(readChannelSetting, "SoapySDRDevice_readChannelSetting", decltype(&SoapySDRDevice_readChannelSetting))    \
    X(registerLogHandler, "SoapySDR_registerLogHandler", decltype(&SoapySDR_registerLogHandler))               \
    X(setLogLevel, "SoapySDR_setLogLevel", decltype(&SoapySDR_setLogLevel))

// What gives back the lists, texts and key/value lists the library hands
// out; looked up beside the table.
#define VIREO_SOAPY_RELEASE(X)                                                                                 \
    X(KwargsListClear, "SoapySDRKwargsList_clear", decltype(&SoapySDRKwargsList_clear))                        \
    X(KwargsClear, "SoapySDRKwargs_clear", decltype(&SoapySDRKwargs_clear))                                    \
    X(StringsClear, "SoapySDRStrings_clear", decltype(&SoapySDRStrings_clear))                                 \
    X(ArgInfoListClear, "SoapySDRArgInfoList_clear", decltype(&SoapySDRArgInfoList_clear))                     \
    X(free, "SoapySDR_free", decltype(&SoapySDR_free))

class SoapyLib {
public:
    /// Opens a library by file name, as dlopen with lazy binding does.
    using opener = void* (*)(const char* file);
    /// The names tried, in order; the first that opens is used.
    static constexpr const char* libraryNames[] = {"libSoapySDR.so", "libSoapySDR.so.0.8", "libSoapySDR.dylib",
                                                   "libSoapySDR.so.0.7", "libSoapySDR.so.0.6"};

    /// An instance that loads nothing until LoadApi. `open` replaces the
    /// dynamic loader (tests); null means dlopen with lazy binding.
    explicit SoapyLib(opener open = nullptr);
    SoapyLib(const SoapyLib&) = delete;
    SoapyLib& operator=(const SoapyLib&) = delete;

    /// The process-wide instance. Any thread.
    static SoapyLib& getInstance();

    /// Opens the library and fills the table, unless a load has succeeded
    /// before. A failed load leaves everything null, so the next call tries
    /// every name again. Any thread; concurrent first calls load once.
    void LoadApi();

    /// The address of `name` in the opened library, or null (logged).
    void* TestGetProcAddress(void* handle, const char* name);

    /// The library handle, null until a load succeeded. Any thread.
    void* handle() const { return handle_.load(std::memory_order_acquire); }

    /// The name of the first of the given entries that the library lacks, or
    /// null when all are there: missing<&SoapyLib::make, &SoapyLib::unmake>().
    template <auto... Entries>
    const char* missing() const {
        const char* name = nullptr;
        ((name = name ? name : (this->*Entries ? nullptr : nameOf<Entries>())), ...);
        return name;
    }

    /// Texts of the library that are safe to log: never null.
    std::string lastErrorText() const;
    std::string errorText(int code) const;
    /// Whether the library's ABI version text starts with one of the given
    /// prefixes; false when the version is unknown.
    bool abiStartsWith(std::initializer_list<const char*> prefixes) const;

#define VIREO_SOAPY_MEMBER(member, name, type) type member = nullptr;
    VIREO_SOAPY_TABLE(VIREO_SOAPY_MEMBER)
    VIREO_SOAPY_RELEASE(VIREO_SOAPY_MEMBER)
#undef VIREO_SOAPY_MEMBER

private:
    template <auto Entry>
    static constexpr const char* nameOf() {
#define VIREO_SOAPY_NAME(member, name, type)                                                                 \
    if constexpr (std::is_same_v<decltype(Entry), decltype(&SoapyLib::member)>)                               \
        if (Entry == &SoapyLib::member) return name;
        VIREO_SOAPY_TABLE(VIREO_SOAPY_NAME)
        VIREO_SOAPY_RELEASE(VIREO_SOAPY_NAME)
#undef VIREO_SOAPY_NAME
        return "?";
    }

    opener open_;
    std::mutex loadMutex_;
    std::atomic<void*> handle_{nullptr};
};

/// SoapySDR's log callback: levels 3 and below (fatal, critical, error) at
/// error level, the rest at info, the text written as it is.
void LogHandler(SoapySDRLogLevel level, const char* message);
