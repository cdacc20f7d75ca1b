#pragma once
// What this system needs of SDRplay's sdrplay_api library, declared here in
// our own words: the 19 entry points looked up by name, the device record,
// the callbacks and events, and the fields of the parameter tree that the
// radio writes. Nothing is linked; SDRPlayLib looks the functions up at run
// time. Every call returns sdrplay_api_ErrT, 0 on success.
//
// The parameter tree belongs to the library: GetDeviceParams hands out a
// pointer into it that stays valid until the device is released; the radio
// writes fields in place and then names them with reason bits in Update.
#include <cstddef>
#include <cstdint>

extern "C" {

using sdrplay_api_ErrT = int;
using sdrplay_api_DeviceHandle = void*;

/// Tuner of a device: 1 A, 2 B, 3 both (two-tuner RSPduo).
using sdrplay_api_TunerSelectT = int;

/// One receiver as GetDevices lists it (96 bytes).
struct sdrplay_api_DeviceT {
    char serial[64]; ///< text, not always terminated inside the 64 bytes
    unsigned char hwVer;
    unsigned char reserved1[3];
    sdrplay_api_TunerSelectT tuner;
    int rspDuoMode; ///< 1 single, 2 dual; bit 4: master
    unsigned char reserved2[12];
    sdrplay_api_DeviceHandle dev;
};
static_assert(sizeof(sdrplay_api_DeviceT) == 96, "device record is 96 bytes");
static_assert(offsetof(sdrplay_api_DeviceT, dev) == 88);

struct sdrplay_api_DecimationT {
    unsigned char enable;
    unsigned char factor;
    unsigned char wideBandSignal;
};

/// Automatic gain control of one channel.
struct sdrplay_api_AgcT {
    int control; ///< 4: enabled, with the loop values below
    int setPointDbfs;
    unsigned short attackMs;
    unsigned short decayMs;
    unsigned short decayDelayMs;
    unsigned short decayThresholdDb;
};

/// The settings of one tuner channel.
struct sdrplay_api_RxChannelParamsT {
    int bandwidthKHz;
    int ifKHz;
    double rfHz;
    unsigned char lnaState;
    sdrplay_api_DecimationT decimation;
    sdrplay_api_AgcT agc;
    struct {
        unsigned char biasT;
    } rsp1a;
    struct {
        unsigned char biasT;
        unsigned char rfNotch;
        int amPort;
        int antennaSelect; ///< 5 antenna A, 6 antenna B
    } rsp2;
    struct {
        unsigned char biasT;
        int tuner1AmPort; ///< 1: the Hi-Z port
        unsigned char tuner1AmNotch;
        unsigned char rfNotch;
        unsigned char dabNotch;
    } rspDuo;
};

/// Settings of the device as a whole.
struct sdrplay_api_DevParamsT {
    double adcRateHz;
    struct {
        unsigned char rfNotch;
        unsigned char dabNotch;
    } rsp1a;
    struct {
        unsigned char biasT;
        unsigned char rfNotch;
        unsigned char dabNotch;
        int antenna; ///< 0 A, 1 B, 2 C
    } rspDx;
    struct {
        int clockOutput;
    } rspDuo;
};

/// The tree GetDeviceParams points to. Channel B exists on a two-tuner
/// RSPduo only.
struct sdrplay_api_DeviceParamsT {
    sdrplay_api_DevParamsT* devParams;
    sdrplay_api_RxChannelParamsT* rxChannelA;
    sdrplay_api_RxChannelParamsT* rxChannelB;
};

/// Passed with each sample block; only rfChanged is read: non-zero once the
/// device has applied a frequency update.
struct sdrplay_api_StreamCbParamsT {
    unsigned int firstSample;
    int rfChanged;
    int reserved[2];
};

enum sdrplay_api_EventT : int {
    sdrplay_api_GainChange = 0,
    sdrplay_api_PowerOverloadChange = 1,
    sdrplay_api_DeviceRemoved = 2,
    sdrplay_api_RspDuoModeChange = 3,
};

union sdrplay_api_EventParamsT {
    struct {
        double currentGainDb;
    } gain;
    struct {
        int changeType; ///< 0 overload detected, else corrected
    } overload;
};

/// The reason bits of Update: which fields of the tree to apply.
using sdrplay_api_ReasonForUpdateT = uint32_t;
using sdrplay_api_ReasonForUpdateExtension1T = uint32_t;

typedef void (*sdrplay_api_StreamCallback_t)(short* i, short* q, sdrplay_api_StreamCbParamsT* params,
                                             unsigned int count, unsigned int reset, void* context);
typedef void (*sdrplay_api_EventCallback_t)(sdrplay_api_EventT event, sdrplay_api_TunerSelectT tuner,
                                            sdrplay_api_EventParamsT* params, void* context);

struct sdrplay_api_CallbackFnsT {
    sdrplay_api_StreamCallback_t streamA;
    sdrplay_api_StreamCallback_t streamB;
    sdrplay_api_EventCallback_t event;
};

// ---- the 19 entry points ----
typedef sdrplay_api_ErrT (*sdrplay_api_Open_t)(void);
typedef sdrplay_api_ErrT (*sdrplay_api_Close_t)(void);
typedef sdrplay_api_ErrT (*sdrplay_api_ApiVersion_t)(float* version);
typedef sdrplay_api_ErrT (*sdrplay_api_LockDeviceApi_t)(void);
typedef sdrplay_api_ErrT (*sdrplay_api_UnlockDeviceApi_t)(void);
typedef sdrplay_api_ErrT (*sdrplay_api_GetDevices_t)(sdrplay_api_DeviceT* devices, unsigned int* count,
                                                     unsigned int capacity);
typedef sdrplay_api_ErrT (*sdrplay_api_SelectDevice_t)(sdrplay_api_DeviceT* device);
typedef sdrplay_api_ErrT (*sdrplay_api_ReleaseDevice_t)(sdrplay_api_DeviceT* device);
typedef const char* (*sdrplay_api_GetErrorString_t)(sdrplay_api_ErrT error);
typedef sdrplay_api_ErrT (*sdrplay_api_GetDeviceParams_t)(sdrplay_api_DeviceHandle dev,
                                                          sdrplay_api_DeviceParamsT** params);
typedef sdrplay_api_ErrT (*sdrplay_api_Init_t)(sdrplay_api_DeviceHandle dev, sdrplay_api_CallbackFnsT* callbacks,
                                               void* context);
typedef sdrplay_api_ErrT (*sdrplay_api_Uninit_t)(sdrplay_api_DeviceHandle dev);
typedef sdrplay_api_ErrT (*sdrplay_api_Update_t)(sdrplay_api_DeviceHandle dev, sdrplay_api_TunerSelectT tuner,
                                                 sdrplay_api_ReasonForUpdateT reason,
                                                 sdrplay_api_ReasonForUpdateExtension1T extended);
/// The six that must be present but are never called: only their presence
/// is checked, so no signature is relied on.
typedef void (*sdrplay_api_Uncalled_t)(void);

} // extern "C"

/// The reason bits each control sends.
namespace sdrplayReason {
constexpr uint32_t adcRate = 0x1;
constexpr uint32_t rsp1aBiasT = 0x10;
constexpr uint32_t rsp1aRfNotch = 0x20;
constexpr uint32_t rsp1aDabNotch = 0x40;
constexpr uint32_t rsp2BiasT = 0x80;
constexpr uint32_t rsp2AmPort = 0x100;
constexpr uint32_t rsp2AntennaSelect = 0x200;
constexpr uint32_t rsp2RfNotch = 0x400;
constexpr uint32_t rspDuoClockOutput = 0x1000;
constexpr uint32_t lnaState = 0x8000;
constexpr uint32_t rfFrequency = 0x20000;
constexpr uint32_t bandwidth = 0x40000;
constexpr uint32_t ifType = 0x80000;
constexpr uint32_t decimation = 0x800000;
constexpr uint32_t overloadAcknowledged = 0x4000000;
constexpr uint32_t rspDuoBiasT = 0x8000000;
constexpr uint32_t rspDuoTuner1AmPort = 0x10000000;
constexpr uint32_t rspDuoTuner1AmNotch = 0x20000000;
constexpr uint32_t rspDuoRfNotch = 0x40000000;
constexpr uint32_t rspDuoDabNotch = 0x80000000;
// extended word
constexpr uint32_t rspDxBiasT = 0x2;
constexpr uint32_t rspDxAntenna = 0x4;
constexpr uint32_t rspDxRfNotch = 0x8;
constexpr uint32_t rspDxDabNotch = 0x10;
} // namespace sdrplayReason

namespace sdrplayTuner {
constexpr sdrplay_api_TunerSelectT A = 1;
constexpr sdrplay_api_TunerSelectT B = 2;
constexpr sdrplay_api_TunerSelectT both = 3;
} // namespace sdrplayTuner
