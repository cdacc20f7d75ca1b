// An sdrplay_api for the tests, built from the system's own declarations:
// the 19 entry points, each forwarding to the shared stand-in state
// (sdrplayWorld). Every copy of this file that the loader opens is an image
// of its own, with its own opened flag, as the vendor's copies are.
//
// Built a second time with STANDIN_SDRPLAY_PARTIAL: a library that lacks
// sdrplay_api_SwapRspDuoMode.
#include "sdrplayWorld.h"

#include "standins/standinKit.h"

#include <dlfcn.h>

namespace {

sdrplayWorld::image& self() {
    static sdrplayWorld::image im = [] {
        sdrplayWorld::image i;
        Dl_info info{};
        if (dladdr(reinterpret_cast<void*>(&self), &info) && info.dli_fname) i.file = info.dli_fname;
        return i;
    }();
    return im;
}

} // namespace

STANDIN_API sdrplay_api_ErrT sdrplay_api_Open(void) { return sdrplayWorld::open(self()); }
STANDIN_API sdrplay_api_ErrT sdrplay_api_Close(void) { return sdrplayWorld::close(self()); }
STANDIN_API sdrplay_api_ErrT sdrplay_api_ApiVersion(float* version) { return sdrplayWorld::apiVersion(self(), version); }
STANDIN_API sdrplay_api_ErrT sdrplay_api_LockDeviceApi(void) { return sdrplayWorld::lockApi(self()); }
STANDIN_API sdrplay_api_ErrT sdrplay_api_UnlockDeviceApi(void) { return sdrplayWorld::unlockApi(self()); }
STANDIN_API sdrplay_api_ErrT sdrplay_api_GetDevices(sdrplay_api_DeviceT* devices, unsigned int* count,
                                                    unsigned int capacity) {
    return sdrplayWorld::getDevices(self(), devices, count, capacity);
}
STANDIN_API sdrplay_api_ErrT sdrplay_api_SelectDevice(sdrplay_api_DeviceT* device) {
    return sdrplayWorld::selectDevice(self(), device);
}
STANDIN_API sdrplay_api_ErrT sdrplay_api_ReleaseDevice(sdrplay_api_DeviceT* device) {
    return sdrplayWorld::releaseDevice(self(), device);
}
STANDIN_API const char* sdrplay_api_GetErrorString(sdrplay_api_ErrT error) { return sdrplayWorld::errorString(error); }
STANDIN_API sdrplay_api_ErrT sdrplay_api_GetDeviceParams(sdrplay_api_DeviceHandle dev,
                                                         sdrplay_api_DeviceParamsT** params) {
    return sdrplayWorld::getDeviceParams(self(), dev, params);
}
STANDIN_API sdrplay_api_ErrT sdrplay_api_Init(sdrplay_api_DeviceHandle dev, sdrplay_api_CallbackFnsT* callbacks,
                                              void* context) {
    return sdrplayWorld::init(self(), dev, callbacks, context);
}
STANDIN_API sdrplay_api_ErrT sdrplay_api_Uninit(sdrplay_api_DeviceHandle dev) { return sdrplayWorld::uninit(self(), dev); }
STANDIN_API sdrplay_api_ErrT sdrplay_api_Update(sdrplay_api_DeviceHandle dev, sdrplay_api_TunerSelectT tuner,
                                                sdrplay_api_ReasonForUpdateT reason,
                                                sdrplay_api_ReasonForUpdateExtension1T extended) {
    return sdrplayWorld::update(self(), dev, tuner, reason, extended);
}

// Present, never called by the system.
STANDIN_API void sdrplay_api_GetLastError(void) { sdrplayWorld::uncalled("GetLastError"); }
STANDIN_API void sdrplay_api_DisableHeartbeat(void) { sdrplayWorld::uncalled("DisableHeartbeat"); }
STANDIN_API void sdrplay_api_DebugEnable(void) { sdrplayWorld::uncalled("DebugEnable"); }
STANDIN_API void sdrplay_api_SwapRspDuoActiveTuner(void) { sdrplayWorld::uncalled("SwapRspDuoActiveTuner"); }
STANDIN_API void sdrplay_api_SwapRspDuoDualTunerModeSampleRate(void) {
    sdrplayWorld::uncalled("SwapRspDuoDualTunerModeSampleRate");
}
#ifndef STANDIN_SDRPLAY_PARTIAL
STANDIN_API void sdrplay_api_SwapRspDuoMode(void) { sdrplayWorld::uncalled("SwapRspDuoMode"); }
#endif
