#pragma once
// SDRPlayLib: one loaded image of SDRplay's sdrplay_api library, opened at
// run time, with the 19 functions looked up by name.
//
// The vendor library keeps its state per loaded image, so every user gets an
// image of its own: the first load in the process opens the installed file
// (probed under /usr/local/lib, newest version first), every later load
// opens a private copy of it, "<root folder>/sdrplay/verX.YY/sdrplay_api_iK.so",
// made on first use and kept. K is the load number, taken from the
// process-wide counter apiID (1 first) and never reused.
//
// A null handle means not loaded; owners test `loaded()` before any call.
// A failed load stays failed: a later loadApi takes a new number.
//
// Threads: loadApi runs on the owner's thread (the host's for a radio, a
// worker for discovery). The first load's findings (the installed file and
// the version directory) sit behind a lock held for the whole first load,
// so a later load that starts meanwhile waits for them.
#include "framework/exitGate.h"
#include "radios/sdrplay/sdrplayApi.h"

#include <atomic>
#include <string>

class SDRPlayLib {
public:
    SDRPlayLib() = default;
    /// Closes and unloads a loaded library.
    ~SDRPlayLib();
    SDRPlayLib(const SDRPlayLib&) = delete;
    SDRPlayLib& operator=(const SDRPlayLib&) = delete;

    /// Loads as described above; reports through the log only.
    void loadApi();
    bool loaded() const { return handle != nullptr; }
    /// The library's text for a result code (never null).
    std::string errorText(sdrplay_api_ErrT error) const;

    /// The next load number of the process.
    static std::atomic<int> apiID;

    /// Tests only: forgets the first load's findings, numbers loads from 1
    /// again and probes `directory` in place of the installed location.
    static void restartProcessState(const std::string& directory);

    void* handle = nullptr;
    /// This copy's driver calls that have returned (exitGate.h).
    exitGate::firstCalls firstCalls;
    sdrplay_api_Open_t sdrplay_api_Open = nullptr;
    sdrplay_api_Close_t sdrplay_api_Close = nullptr;
    sdrplay_api_ApiVersion_t sdrplay_api_ApiVersion = nullptr;
    sdrplay_api_LockDeviceApi_t sdrplay_api_LockDeviceApi = nullptr;
    sdrplay_api_UnlockDeviceApi_t sdrplay_api_UnlockDeviceApi = nullptr;
    sdrplay_api_GetDevices_t sdrplay_api_GetDevices = nullptr;
    sdrplay_api_SelectDevice_t sdrplay_api_SelectDevice = nullptr;
    sdrplay_api_ReleaseDevice_t sdrplay_api_ReleaseDevice = nullptr;
    sdrplay_api_GetErrorString_t sdrplay_api_GetErrorString = nullptr;
    sdrplay_api_Uncalled_t sdrplay_api_GetLastError = nullptr;
    sdrplay_api_Uncalled_t sdrplay_api_DisableHeartbeat = nullptr;
    sdrplay_api_Uncalled_t sdrplay_api_DebugEnable = nullptr;
    sdrplay_api_GetDeviceParams_t sdrplay_api_GetDeviceParams = nullptr;
    sdrplay_api_Init_t sdrplay_api_Init = nullptr;
    sdrplay_api_Uninit_t sdrplay_api_Uninit = nullptr;
    sdrplay_api_Update_t sdrplay_api_Update = nullptr;
    sdrplay_api_Uncalled_t sdrplay_api_SwapRspDuoActiveTuner = nullptr;
    sdrplay_api_Uncalled_t sdrplay_api_SwapRspDuoDualTunerModeSampleRate = nullptr;
    sdrplay_api_Uncalled_t sdrplay_api_SwapRspDuoMode = nullptr;

private:
    /// Opens `file` and looks the functions up; the handle stays null on
    /// any failure. Returns whether the library then opened.
    bool open(const std::string& file);
    /// The first load's steps after opening: version and version directory.
    void findVersionDirectory();
};
