#pragma once
// The state behind every loaded copy of the sdrplay_api stand-in: devices,
// claims, parameter trees, streams and the call log live here once per
// process, as the vendor's service keeps them across its users. Each copy
// of the library (libsdrplay_api.so and the instance copies made from it)
// keeps only whether it was opened, and forwards every call here.
#include "radios/sdrplay/sdrplayApi.h"

#include <string>

#define STANDIN_WORLD __attribute__((visibility("default")))

namespace sdrplayWorld {

/// One loaded copy: its file and whether sdrplay_api_Open was called.
struct image {
    std::string file;
    bool opened = false;
};

STANDIN_WORLD sdrplay_api_ErrT open(image& im);
STANDIN_WORLD sdrplay_api_ErrT close(image& im);
STANDIN_WORLD sdrplay_api_ErrT apiVersion(image& im, float* version);
STANDIN_WORLD sdrplay_api_ErrT lockApi(image& im);
STANDIN_WORLD sdrplay_api_ErrT unlockApi(image& im);
STANDIN_WORLD sdrplay_api_ErrT getDevices(image& im, sdrplay_api_DeviceT* devices, unsigned int* count,
                                          unsigned int capacity);
STANDIN_WORLD sdrplay_api_ErrT selectDevice(image& im, sdrplay_api_DeviceT* device);
STANDIN_WORLD sdrplay_api_ErrT releaseDevice(image& im, sdrplay_api_DeviceT* device);
STANDIN_WORLD const char* errorString(sdrplay_api_ErrT error);
STANDIN_WORLD sdrplay_api_ErrT getDeviceParams(image& im, sdrplay_api_DeviceHandle dev,
                                               sdrplay_api_DeviceParamsT** params);
STANDIN_WORLD sdrplay_api_ErrT init(image& im, sdrplay_api_DeviceHandle dev, sdrplay_api_CallbackFnsT* callbacks,
                                    void* context);
STANDIN_WORLD sdrplay_api_ErrT uninit(image& im, sdrplay_api_DeviceHandle dev);
STANDIN_WORLD sdrplay_api_ErrT update(image& im, sdrplay_api_DeviceHandle dev, sdrplay_api_TunerSelectT tuner,
                                      sdrplay_api_ReasonForUpdateT reason,
                                      sdrplay_api_ReasonForUpdateExtension1T extended);
/// A call the system must never make.
STANDIN_WORLD void uncalled(const char* name);

} // namespace sdrplayWorld
