#include "modes/data/jt/ft8decode.h"

#include "modes/data/jt/bpDecode.h"
#include "modes/data/jt/crc.h"
#include "modes/data/jt/extractPower.h"
#include "modes/data/jt/findSync.h"
#include "modes/data/jt/frameSnr.h"
#include "modes/data/jt/jtTables.h"
#include "modes/data/jt/likelihood.h"
#include "modes/data/jt/loadWav.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

namespace {

enum class Mode { ft8, ft4, js8 };

struct ModeSpec {
    Mode mode;
    int maxSamples;
    float binDivisor; // sample rate / this = bins
    int iterations;
    float unitHz;     // one bin; also blocks per second
    float timeShift;  // seconds added to the frame time
};

constexpr ModeSpec ft8Spec{Mode::ft8, 180000, 12.5f, 25, 6.25f, 0.0f};
constexpr ModeSpec ft4Spec{Mode::ft4, 90000, 41.666668f, 25, 20.833334f, -0.4f};
constexpr ModeSpec js8Spec{Mode::js8, 180000, 12.5f, 50, 6.25f, 0.0f};

/// Accepted payloads of one call, for dropping repeats.
struct Accepted {
    std::array<std::array<uint8_t, 10>, jtdecode::maxRecords> payloads;
    int count = 0;

    bool seen(const uint8_t* a) const {
        for (int i = 0; i < count; ++i)
            if (std::memcmp(payloads[size_t(i)].data(), a, 10) == 0) return true;
        return false;
    }
};

/// Checks the CRC of the packed word a (and descrambles FT4); true when the
/// first 10 bytes of a are then a payload.
bool checkWord(Mode mode, uint8_t* a) {
    if (mode == Mode::js8) {
        const unsigned received = unsigned(a[9] & 0x1F) << 7 | unsigned(a[10]) >> 1;
        a[9] &= 0xE0;
        a[10] = 0;
        return received == unsigned(js8::crc(a, 11) ^ 42);
    }
    const unsigned received = unsigned(a[9] & 7) << 11 | unsigned(a[10]) << 3 | unsigned(a[11]) >> 5;
    a[9] &= 0xF8;
    a[10] = a[11] = 0;
    if (received != ft8::crc(a, 82)) return false;
    // FT4 payloads go on air scrambled; the CRC covers them as sent.
    if (mode == Mode::ft4)
        for (int i = 0; i < 10; ++i) a[i] ^= ft4::kScramble[i];
    return true;
}

/// The record's 22 bytes; the caller's bytes after them stay as they were.
void writeRecord(uint8_t* at, float frequency, float time, float snr, const uint8_t* payload) {
    Ft8DecodeRecord r{frequency, time, snr, {}};
    std::memcpy(r.payload, payload, sizeof r.payload);
    std::memcpy(at, &r, offsetof(Ft8DecodeRecord, payload) + sizeof r.payload);
}

/// The SNR of a decoded frame from the tones its bits were sent on.
float measureSnr(Mode mode, const ft8::MagArray& power, const ft8::Candidate& cand, const uint8_t* bits,
                 double binHz) {
    uint8_t sent[jtdecode::frameSymbols4];
    if (mode == Mode::ft4) {
        jtdecode::frameTones4(bits, ft4::kCostas, ft4::kGrayMap, sent);
        return jtdecode::frameSnr(power, cand, sent, jtdecode::frameSymbols4, binHz);
    }
    const bool js = mode == Mode::js8;
    jtdecode::frameTones8(bits, js ? js8::kCostas : ft8::kCostas, js ? js8::kGrayMap : ft8::kGrayMap, sent);
    return jtdecode::frameSnr(power, cand, sent, jtdecode::frameSymbols8, binHz);
}

int decodeSamples(const ModeSpec& spec, const int16_t* samples, int count, int rate, uint8_t* result) {
    if (!samples || !result || count < 0) return -1;
    // 32-bit arithmetic as the protocol's tables are laid out; a rate that
    // leaves no bin is no recording of this mode.
    const int bins = int(float(rate) / spec.binDivisor);
    if (bins <= 0) return -1;
    const int span = spec.mode == Mode::ft4 ? spec.maxSamples : count;
    const long long blocks = (span - 3LL * bins) / (2LL * bins);
    if (blocks < 1) return 0;

    // FT4 reads a fixed number of blocks, whatever the file held.
    std::vector<int16_t> padded;
    if (spec.mode == Mode::ft4 && count < spec.maxSamples) {
        padded.assign(size_t(spec.maxSamples), 0);
        std::copy_n(samples, count, padded.begin());
        samples = padded.data();
    }

    ft8::MagArray power;
    power.blocks = int32_t(blocks);
    power.bins = bins;
    extract_power(samples, power);

    std::vector<ft8::Candidate> heap(jtdecode::maxCandidates);
    const int found = spec.mode == Mode::ft4
                          ? ft8::find_sync4(power, ft4::kCostas, jtdecode::maxCandidates, heap.data(),
                                            jtdecode::minScore)
                          : ft8::find_sync(power, spec.mode == Mode::js8 ? js8::kCostas : ft8::kCostas,
                                           jtdecode::maxCandidates, heap.data(), jtdecode::minScore);

    Accepted accepted;
    int records = 0;
    float log174[174];
    uint8_t plain[174];
    for (int i = 0; i < found; ++i) {
        const ft8::Candidate& cand = heap[size_t(i)];
        if (spec.mode == Mode::ft4)
            ft8::extract_likelihood4(power, cand, ft4::kGrayMap, log174);
        else
            ft8::extract_likelihood(power, cand, spec.mode == Mode::js8 ? js8::kGrayMap : ft8::kGrayMap, log174);
        if (!ft8::normalize_likelihood(log174)) continue;

        int failed = 0;
        if (spec.mode == Mode::js8)
            js8::bp_decode(log174, spec.iterations, plain, &failed);
        else
            ft8::bp_decode(log174, spec.iterations, plain, &failed);
        if (failed != 0) continue;
        if (std::none_of(plain, plain + 174, [](uint8_t b) { return b != 0; })) continue;

        uint8_t a[12];
        ft8::pack_bits(plain, spec.mode == Mode::js8 ? js8::kK : ft8::kK, a);
        if (!checkWord(spec.mode, a)) continue;
        if (accepted.seen(a)) continue;
        if (records >= jtdecode::maxRecords) continue;

        std::memcpy(accepted.payloads[size_t(accepted.count++)].data(), a, 10);
        const float frequency = (float(cand.freqOffset) + float(cand.freqSub) / 2.0f) * spec.unitHz;
        const float time = (float(cand.timeOffset) + float(cand.timeSub) / 2.0f) / spec.unitHz + spec.timeShift;
        const float snr = measureSnr(spec.mode, power, cand, plain, double(rate) / (4.0 * bins));
        writeRecord(result + size_t(records) * jtdecode::recordBytes, frequency, time, snr, a);
        ++records;
    }
    return records;
}

int readAndDecode(const ModeSpec& spec, const char* path, uint8_t* result) {
    if (!path || !result) return -1;
    // Not cleared here: load_wav zeroes whatever it does not read.
    const std::unique_ptr<int16_t[]> samples(new int16_t[size_t(spec.maxSamples)]);
    int count = spec.maxSamples;
    int rate = 0;
    if (load_wav(samples.get(), &count, &rate, path) < 0) return -1;
    return decodeSamples(spec, samples.get(), count, rate, result);
}

} // namespace

int ft8decode1(const int16_t* samples, int count, int rate, uint8_t* result) {
    return decodeSamples(ft8Spec, samples, count, rate, result);
}

int ft4decode1(const int16_t* samples, int count, int rate, uint8_t* result) {
    return decodeSamples(ft4Spec, samples, count, rate, result);
}

int js8decode1(const int16_t* samples, int count, int rate, uint8_t* result) {
    return decodeSamples(js8Spec, samples, count, rate, result);
}

int jtdecode::decodeFile(const char* path, uint8_t* result, int mode) {
    if (mode == 8) return readAndDecode(ft8Spec, path, result);
    if (mode == 10) return readAndDecode(js8Spec, path, result);
    return readAndDecode(ft4Spec, path, result);
}
