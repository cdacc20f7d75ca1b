#include "radios/sdrplay/sdrplayRates.h"

namespace sdrplayRates {

namespace {

constexpr sdrplayRate table[] = {
    {9600, 307200, 32, 200, 0},        {192000, 3072000, 16, 200, 0},    {384000, 3072000, 8, 300, 0},
    {768000, 3072000, 4, 600, 0},      {1536000, 3072000, 2, 1536, 0},   {2000000, 6000000, 1, 1536, 1620},
    {3072000, 3072000, 1, 5000, 0},    {6144000, 6144000, 1, 5000, 0},   {8000000, 8000000, 1, 7000, 0},
    {10000000, 10000000, 1, 8000, 0},
};

} // namespace

const sdrplayRate* find(int sampleRate) {
    for (const sdrplayRate& row : table)
        if (row.sampleRate == sampleRate) return &row;
    return nullptr;
}

uint32_t SetSampleRate(int sampleRate, sdrplay_api_DevParamsT* device, sdrplay_api_RxChannelParamsT* channel) {
    uint32_t bits = 0;
    if (const sdrplayRate* row = find(sampleRate)) {
        if (device && device->adcRateHz != row->adcRateHz) {
            device->adcRateHz = row->adcRateHz;
            bits |= sdrplayReason::adcRate;
        }
        if (channel) {
            if (channel->bandwidthKHz != row->bandwidthKHz) bits |= sdrplayReason::bandwidth;
            if (channel->ifKHz != row->ifKHz) bits |= sdrplayReason::ifType;
            if (channel->decimation.factor != row->decimation) bits |= sdrplayReason::decimation;
            channel->bandwidthKHz = row->bandwidthKHz;
            channel->ifKHz = row->ifKHz;
            channel->decimation.factor = (unsigned char)row->decimation;
        }
    }
    if (channel) {
        channel->decimation.enable = channel->decimation.factor != 1;
        channel->decimation.wideBandSignal = channel->ifKHz == 0;
    }
    return bits;
}

} // namespace sdrplayRates
