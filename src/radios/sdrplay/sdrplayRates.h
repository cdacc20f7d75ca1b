#pragma once
// The sample rates an RSP runs at: each Radio SampleRate as the device's ADC
// rate, decimation, bandwidth and IF, and the reason bits of what a change
// of rate touched.
#include "radios/sdrplay/sdrplayApi.h"

#include <cstdint>

struct sdrplayRate {
    int sampleRate;
    double adcRateHz;
    int decimation;
    int bandwidthKHz;
    int ifKHz;
};

namespace sdrplayRates {

/// The RSPduo's two-tuner rate: 6 MHz ADC with a 1620 kHz low IF.
constexpr int dualTunerRate = 2000000;

/// The row of a rate, or null when the table has none.
const sdrplayRate* find(int sampleRate);

/// Writes the row of `sampleRate` into the tree and returns the reason bits
/// of the fields that changed; a rate without a row changes only the two
/// flags derived from the fields already there, and returns 0. Either
/// pointer may be null: its fields are then left alone.
uint32_t SetSampleRate(int sampleRate, sdrplay_api_DevParamsT* device, sdrplay_api_RxChannelParamsT* channel);

} // namespace sdrplayRates
