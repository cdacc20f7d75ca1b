#include "radios/rtl/RTLRadio.h"

#include "dsp/iqbalancer/iq_balancer.h"
#include "framework/exitGate.h"
#include "framework/refuseNonFinite.h"
#include "radios/rtl/R82xxSynthesiser.h"
#include "radios/rtl/RTLSamples.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

using entry = RTLSDRLib::entry;

/// Hz as the device takes it: unsigned 32-bit, negative and NaN values 0,
/// values past the range its largest; truncated, or rounded half away from
/// zero.
uint32_t deviceFrequency(double hz, bool nearest) {
    if (!(hz > 0.0)) return 0;
    if (nearest) hz = std::round(hz);
    constexpr double top = double(std::numeric_limits<uint32_t>::max());
    if (hz >= top) return std::numeric_limits<uint32_t>::max();
    return uint32_t(hz);
}

} // namespace

RTLRadio::RTLRadio(std::shared_ptr<syncTask> group) : Radio(std::move(group)), lib(RTLSDRLib::getInstance()) {
    hwReceiver r;
    r.frequency = startFrequency;
    r.sampleRate = 3200000;
    appendReceiver(r);
    iqCorrection = true;

    for (int rate : {1536000, 2880000, 3200000})
        SampleRates.add(std::make_shared<ValueLabelItem>(taskGroup(), rate, formatSR(rate)));
    DirectSampleModes.add(std::make_shared<ValueLabelItem>(taskGroup(), 0, "ds off"));
    DirectSampleModes.add(std::make_shared<ValueLabelItem>(taskGroup(), 1, "ds I"));
    DirectSampleModes.add(std::make_shared<ValueLabelItem>(taskGroup(), 2, "ds Q"));

    Serial.changeHook = [this] {
        if (!Serial.get().empty()) serialChanged();
    };
    rxGain.changeHook = [this] { SetGain(); };
    DirectSample.changeHook = [this] {
        SetDirectSample();
        tune();
    };
    BiasT.changeHook = [this] { SetBiasT(); };
    BalanceIQ.changeHook = [this] { iqCorrection = BalanceIQ.get(); };
    acceptSampleRates("rtl", deliverableRate, [this] {
        const int rate = SampleRate.get();
        {
            std::lock_guard<std::mutex> lock(listMutex);
            receivers[0].sampleRate = rate;
        }
        if (!device) return;
        lib->rtlsdr_set_sample_rate(device, uint32_t(rate));
        tune(); // the tuner's error depends on the rate
    });
    rxLevelCalibration.changeHook = [this] {
        if (!refuseNonFinite(rxLevelCalibration, appliedLevel_, "rtl", "rxLevelCalibration")) SetGain();
    };
    frequencyCalibration.changeHook = [this] {
        if (!refuseNonFinite(frequencyCalibration, appliedFrequencyCalibration_, "rtl", "frequencyCalibration")) tune();
    };
}

bool RTLRadio::deliverableRate(int rate) {
    return (rate > 225000 && rate <= 300000) || (rate > 900000 && rate <= 3200000);
}

RTLRadio::~RTLRadio() {
    running = false;
    if (!device) return;
    // On the reader thread itself the stream keeps the device and closes it
    // once its read has returned.
    if (stream_.stop()) lib->rtlsdr_close(device);
    device = nullptr;
}

bool RTLRadio::libraryProvides(std::initializer_list<RTLSDRLib::entry> needed, const char* what) {
    lib->loadApi();
    if (!lib->loaded()) {
        spdlog::error("{} refused: librtlsdr not loaded", what);
        return false;
    }
    if (const char* missing = lib->lacking(needed)) {
        spdlog::error("{} refused: librtlsdr lacks {}", what, missing);
        return false;
    }
    return true;
}

bool RTLRadio::openDevice(rtlsdr_dev_t** handle) {
    *handle = nullptr;
    const int index = lib->rtlsdr_get_index_by_serial(Serial.get().c_str());
    if (index < 0) return false;
    const bool opened = lib->rtlsdr_open(handle, uint32_t(index)) == 0 && *handle;
    exitGate::rearmAfterFirst("librtlsdr open", opened); // after what the driver built for it
    return opened;
}

void RTLRadio::serialChanged() {
    // setup needs the device to itself: a streaming radio stops, and starts
    // again on the new device, so the open handle is never lost.
    const bool streaming = device != nullptr;
    if (streaming) stopRadio();
    setup();
    if (streaming) startRadio();
}

void RTLRadio::setup() {
    if (SampleRate.get() == 48000) SampleRate.set(1536000, true);
    if (!libraryProvides({entry::rtlsdr_get_index_by_serial, entry::rtlsdr_open, entry::rtlsdr_close,
                          entry::rtlsdr_get_tuner_gains, entry::rtlsdr_get_tuner_type},
                         "rtl setup"))
        return;
    rtlsdr_dev_t* dev = nullptr;
    if (!openDevice(&dev)) return;
    device = dev;

    std::vector<int> tunerGains;
    const int count = lib->rtlsdr_get_tuner_gains(dev, nullptr);
    if (count <= 0 || count > maxTunerGains) {
        spdlog::error("rtl tuner reports {} gains, gain rows left as they are", count);
    } else {
        tunerGains.resize(size_t(count));
        const int filled = lib->rtlsdr_get_tuner_gains(dev, tunerGains.data());
        if (filled <= 0) {
            spdlog::error("rtl tuner gave {} of its {} gains, gain rows left as they are", filled, count);
            tunerGains.clear();
        } else if (filled < count) {
            tunerGains.resize(size_t(filled));
        }
    }
    const int tuner = lib->rtlsdr_get_tuner_type(dev);
    lib->rtlsdr_close(dev);
    device = nullptr;
    if (tunerGains.empty()) return;

    gains.append(RTLGainTable::stageLists(tuner, tunerGains));
    if (gains.empty()) return;
    minRxRFGain.set(gains.rows().front().gain, true);
    maxRxRFGain.set(gains.rows().back().gain + 1, true);
}

void RTLRadio::SetGain() {
    if (!device || gains.empty()) return;
    const RTLGainRow* row = gains.select(rxGain.get());
    if (!row) return; // above the last row: the gain in force stays
    lib->rtlsdr_set_tuner_gain(device, row->stages.back());
    for (size_t i = 0; i + 1 < row->stages.size(); ++i)
        lib->rtlsdr_set_tuner_if_gain(device, int(i), row->stages[i]);
    gainScale.store(RTLGainTable::scaleFor(row->gain, rxLevelCalibration.get()));
}

void RTLRadio::SetDirectSample() {
    if (device) lib->rtlsdr_set_direct_sampling(device, DirectSample.get());
}

void RTLRadio::SetBiasT() {
    if (!device) return;
    if (!lib->rtlsdr_set_bias_tee) {
        // Older libraries have no bias tee; everything else works without it.
        if (BiasT.get()) spdlog::info("rtl bias tee not in this librtlsdr, left off");
        return;
    }
    lib->rtlsdr_set_bias_tee(device, BiasT.get() ? 1 : 0);
}

void RTLRadio::startRadio() {
    bool none;
    {
        std::lock_guard<std::mutex> lock(listMutex);
        none = vtrxList.empty();
    }
    if (none) addVtrx(startFrequency, 0, 0);
    if (device) return;

    spdlog::info("rtl starting");
    if (!libraryProvides({entry::rtlsdr_get_index_by_serial, entry::rtlsdr_open, entry::rtlsdr_close,
                          entry::rtlsdr_set_sample_rate, entry::rtlsdr_set_center_freq,
                          entry::rtlsdr_set_freq_correction, entry::rtlsdr_set_offset_tuning,
                          entry::rtlsdr_reset_buffer, entry::rtlsdr_set_tuner_gain, entry::rtlsdr_set_tuner_if_gain,
                          entry::rtlsdr_set_direct_sampling, entry::rtlsdr_get_tuner_type,
                          entry::rtlsdr_read_async, entry::rtlsdr_cancel_async},
                         "rtl start"))
        return;
    rtlsdr_dev_t* dev = nullptr;
    if (!openDevice(&dev)) {
        spdlog::error("rtl open failed");
        return;
    }
    device = dev;
    spdlog::info("rtl opened");

    lib->rtlsdr_set_sample_rate(dev, uint32_t(SampleRate.get()));
    long long frequency;
    {
        std::lock_guard<std::mutex> lock(listMutex);
        frequency = receivers[0].frequency;
    }
    const uint32_t first = deviceFrequency(frequencyCalibration.get() * double(frequency), false);
    lib->rtlsdr_set_center_freq(dev, first);
    lib->rtlsdr_set_freq_correction(dev, 0);
    lib->rtlsdr_set_offset_tuning(dev, 0);
    lib->rtlsdr_reset_buffer(dev);
    lib->rtlsdr_set_center_freq(dev, first);
    SetGain();
    SetDirectSample();
    SetBiasT();

    running = true;
    // The reader holds the radio only while it works on a buffer: a radio the
    // host released ends its stream instead of being kept alive by it.
    std::weak_ptr<RTLRadio> weak = std::static_pointer_cast<RTLRadio>(shared_from_this());
    stream_.start(lib, dev, [weak](unsigned char* buffer, uint32_t length) {
        auto radio = weak.lock();
        if (!radio) return false;
        radio->Process(buffer, length);
        return true;
    });
    tune();
    spdlog::info("rtl started");
    SetGain();
}

void RTLRadio::stopRadio() {
    if (!device) return;
    try {
        running = false;
        if (stream_.stop()) lib->rtlsdr_close(device); // else the reader closes it
        device = nullptr;
    } catch (const std::exception& e) {
        spdlog::error("rtl stop  {}", e.what());
        device = nullptr;
    } catch (...) {
        spdlog::error("rtl stop ??");
        device = nullptr;
    }
}

void RTLRadio::tune() {
    if (!device || !running) return;
    long long frequency;
    {
        std::lock_guard<std::mutex> lock(listMutex);
        frequency = receivers[0].frequency;
    }
    const uint32_t f = deviceFrequency(frequencyCalibration.get() * double(frequency), true);
    const tuning wanted{f, rateInForce(), DirectSample.get()};
    if (wanted == lastTuned) return;

    int error = 0;
    const int tuner = lib->rtlsdr_get_tuner_type(device);
    if (tuner == tunerR82xx && wanted.directSample == 0) {
        const R82xxPll pll = r82xxPredict(f, wanted.sampleRate);
        if (!pll.valid) std::fprintf(stderr, "[R82XX] No valid PLL values for %u Hz!\n", pll.lo);
        error = pll.error();
    }
    lib->rtlsdr_set_center_freq(device, f);
    lastTuned = wanted;

    std::lock_guard<std::mutex> lock(listMutex);
    receivers[0].tuningError = error;
    // The image moved with the tuner: the balancer searches afresh.
    if (iqCorrection.load() && iqCorrector) iq_balancer_set_optimal_point(iqCorrector, 0.0f);
}

void RTLRadio::Process(unsigned char* buffer, uint32_t length) {
    const size_t n = length / 2; // an odd last byte is no sample
    struct source {
        const unsigned char* next;
        float scale;
        int peak;
    } src{buffer, gainScale.load(), 0};
    // Captures one pointer, so the function needs no allocation.
    unlockedWrite(
        [&src](cplx* destination, size_t count) {
            src.peak = std::max(src.peak, convertRtlSamples(src.next, destination, count, src.scale));
            src.next += 2 * count;
        },
        n, 0);

    heldPeak_ = std::max(heldPeak_, float(src.peak));
    peakTime_ += float(n) / float(rateInForce());
    if (peakTime_ > 0.2f) {
        peakTime_ = 0.0f;
        adcPeak.set(double(heldPeak_ * (1.0f / 128.0f)), true);
        heldPeak_ = 0.0f;
    }
}
