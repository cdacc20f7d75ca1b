#pragma once
// The release function of every radio class. Once the host lets go of a
// radio's handle, nothing is left to stop or unkey it: the release first
// queues "<class>.release()", which takes the radio off the air
// (Radio::hostReleased), then drops the handle. The request holds the
// radio until it has run.
#include "core/Radio.h"
#include "framework/exportPattern.h"

namespace vireo::api {

inline void releaseRadio(void* handle, const char* fn, const char* name) noexcept {
    guarded(fn, [&] {
        auto* ref = static_cast<objectHandle*>(handle);
        auto radio = ref ? std::dynamic_pointer_cast<Radio>(*ref) : nullptr;
        // A radio made before init has no task group and never transmitted.
        if (radio && radio->taskGroup()) request<Radio>(handle, name, [](Radio& r) { r.hostReleased(); });
    });
    release(handle, fn);
}

} // namespace vireo::api

/// VC_CLASS for a radio class: cls_create, and cls_release as above.
#define VC_RADIO_CLASS(cls)                                                                                  \
    VIREO_API void* cls##_create(void) { return vireo::api::create<cls>(#cls "_create"); }                   \
    VIREO_API void cls##_release(void* h) { vireo::api::releaseRadio(h, #cls "_release", #cls ".release()"); }
