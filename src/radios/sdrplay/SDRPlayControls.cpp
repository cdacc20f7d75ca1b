// The controls of SDRPlayRadio: each writes its property into the field of
// the parameter tree that the model has for it and, once streaming, names
// the field to the device with its reason bits. The caller holds
// deviceMutex_ and has checked that the radio is live.
#include "radios/sdrplay/SDRPlayRadio.h"

#include <spdlog/spdlog.h>

#include <algorithm>

namespace R = sdrplayReason;

void SDRPlayRadio::send(sdrplay_api_TunerSelectT tuner, uint32_t reason, uint32_t extended, const char* what) {
    const sdrplay_api_DeviceT* d = device_.load();
    if (!d) return;
    if (const sdrplay_api_ErrT err = lib_->sdrplay_api_Update(d->dev, tuner, reason, extended); err != 0)
        spdlog::error(fmt::runtime(what), lib_->errorText(err));
}

int SDRPlayRadio::lnaStateFor(int maxGain, int gain, int minGain, const char* name) const {
    // rxGain counts upwards from the smallest gain; the LNA state counts
    // attenuation steps downwards from the largest. The device takes a byte:
    // a state off the model's range would wrap into another gain.
    const long long state = (long long)maxGain - gain + minGain;
    const int top = sdrplayModels::lnaTop(model_.load());
    const int clamped = int(std::clamp<long long>(state, 0, top));
    if (clamped != state) spdlog::error("sdrplay {} {} gives LNA state {}, set to {}", name, gain, state, clamped);
    return clamped;
}

void SDRPlayRadio::SetGain(bool update) {
    sdrplay_api_RxChannelParamsT* a = channelA_.load();
    if (!a) return;
    const int state = lnaStateFor(maxRxRFGain.get(), rxGain.get(), minRxRFGain.get(), "rxGain");
    if (a->lnaState == state) return;
    a->lnaState = (unsigned char)state;
    if (update) send(sdrplayTuner::A, R::lnaState, 0, "sdrplay set gain {}");
}

void SDRPlayRadio::SetGain2(bool update) {
    const sdrplay_api_DeviceParamsT* p = params_.load();
    if (model_.load() != sdrplayModel::rspDuo || !p || !p->rxChannelB) return;
    sdrplay_api_RxChannelParamsT& b = *p->rxChannelB;
    const int state = lnaStateFor(maxRxRFGain2.get(), rxGain2.get(), minRxRFGain2.get(), "rxGain2");
    if (b.lnaState == state) return;
    b.lnaState = (unsigned char)state;
    if (update) send(sdrplayTuner::B, R::lnaState, 0, "sdrplay set gain2 {}");
}

void SDRPlayRadio::SetBiasT(bool update) {
    sdrplay_api_RxChannelParamsT& a = *channelA_.load();
    sdrplay_api_DevParamsT& dev = *params_.load()->devParams;
    const unsigned char on = BiasT.get();
    const char* what = "sdrplay set biasT {}";
    switch (model_.load()) {
    case sdrplayModel::rsp1a:
        a.rsp1a.biasT = on;
        if (update) send(deviceTuner(), R::rsp1aBiasT, 0, what);
        break;
    case sdrplayModel::rsp2:
        a.rsp2.biasT = on;
        if (update) send(deviceTuner(), R::rsp2BiasT, 0, what);
        break;
    case sdrplayModel::rspDuo:
        // The bias-T feeds tuner B's port, though the field is channel A's.
        a.rspDuo.biasT = on;
        if (update) send(sdrplayTuner::B, R::rspDuoBiasT, 0, what);
        break;
    case sdrplayModel::rspDx:
        dev.rspDx.biasT = on;
        if (update) send(deviceTuner(), 0, R::rspDxBiasT, what);
        break;
    default:
        break;
    }
}

void SDRPlayRadio::SetRFNotch(bool update) {
    sdrplay_api_RxChannelParamsT& a = *channelA_.load();
    sdrplay_api_DevParamsT& dev = *params_.load()->devParams;
    const unsigned char on = RFNotch.get();
    const char* what = "sdrplay set rfnotch {}";
    switch (model_.load()) {
    case sdrplayModel::rsp1a:
        dev.rsp1a.rfNotch = on;
        if (update) send(deviceTuner(), R::rsp1aRfNotch, 0, what);
        break;
    case sdrplayModel::rsp2:
        a.rsp2.rfNotch = on;
        if (update) send(deviceTuner(), R::rsp2RfNotch, 0, what);
        break;
    case sdrplayModel::rspDuo:
        // The Hi-Z port has a notch of its own.
        if (deviceTuner() == sdrplayTuner::A && a.rspDuo.tuner1AmPort == 1) {
            a.rspDuo.tuner1AmNotch = on;
            if (update) send(sdrplayTuner::A, R::rspDuoTuner1AmNotch, 0, what);
        }
        if (a.rspDuo.tuner1AmPort == 0) {
            a.rspDuo.rfNotch = on;
            if (update) send(sdrplayTuner::A, R::rspDuoRfNotch, 0, what);
        }
        break;
    case sdrplayModel::rspDx:
        dev.rspDx.rfNotch = on;
        if (update) send(deviceTuner(), 0, R::rspDxRfNotch, what);
        break;
    default:
        break;
    }
}

void SDRPlayRadio::SetDABNotch(bool update) {
    sdrplay_api_RxChannelParamsT& a = *channelA_.load();
    sdrplay_api_DevParamsT& dev = *params_.load()->devParams;
    const unsigned char on = DABNotch.get();
    const char* what = "sdrplay set dabnotch {}";
    switch (model_.load()) {
    case sdrplayModel::rsp1a:
        dev.rsp1a.dabNotch = on;
        if (update) send(deviceTuner(), R::rsp1aDabNotch, 0, what);
        break;
    case sdrplayModel::rspDuo:
        a.rspDuo.dabNotch = on;
        if (update) send(sdrplayTuner::A, R::rspDuoDabNotch, 0, what);
        break;
    case sdrplayModel::rspDx:
        dev.rspDx.dabNotch = on;
        if (update) send(deviceTuner(), 0, R::rspDxDabNotch, what);
        break;
    default: // the RSP2 has none
        break;
    }
}

void SDRPlayRadio::SetAntenna(bool update) {
    sdrplay_api_RxChannelParamsT& a = *channelA_.load();
    sdrplay_api_DevParamsT& dev = *params_.load()->devParams;
    const int antenna = Antenna.get();
    const char* what = "sdrplay set antenna {}";
    switch (model_.load()) {
    case sdrplayModel::rsp2:
        if (antenna == 2) { // Hi-Z is the AM port
            a.rsp2.amPort = 1;
            if (update) send(deviceTuner(), R::rsp2AmPort, 0, what);
            break;
        }
        a.rsp2.antennaSelect = antenna == 0 ? 5 : 6;
        if (a.rsp2.amPort == 1) {
            a.rsp2.amPort = 0;
            if (update) send(deviceTuner(), R::rsp2AmPort, 0, what);
        } else if (update) {
            send(deviceTuner(), R::rsp2AntennaSelect, 0, what);
        }
        break;
    case sdrplayModel::rspDuo: {
        if (antenna != 0 && antenna != 1) break;
        if (a.rspDuo.tuner1AmPort == antenna) break;
        a.rspDuo.tuner1AmPort = antenna;
        if (update) send(sdrplayTuner::A, R::rspDuoTuner1AmPort, 0, what);
        break;
    }
    case sdrplayModel::rspDx:
        // Only A, B and C exist; another value still names the field.
        if (antenna >= 0 && antenna < 3) dev.rspDx.antenna = antenna;
        if (update) send(deviceTuner(), 0, R::rspDxAntenna, what);
        break;
    default:
        break;
    }
}

void SDRPlayRadio::SetClockout(bool update) {
    if (model_.load() != sdrplayModel::rspDuo) return;
    params_.load()->devParams->rspDuo.clockOutput = ClockOut.get() ? 1 : 0;
    if (update) send(deviceTuner(), R::rspDuoClockOutput, 0, "sdrplay set clockout {}");
}
