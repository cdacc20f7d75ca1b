#pragma once
// The SNR of a decoded frame in dB in 2500 Hz, the bandwidth the protocols
// quote it in: the mean power on the tones the frame was sent on (known
// from its decoded bits), less the noise, over the noise power in 2500 Hz.
// The noise level is the spectrogram's, taken where signals can be
// (extract_power).
#include "modes/data/jt/MagArray.h"

#include <cstdint>

namespace jtdecode {

/// Tones of the 79 symbols of an FT8 or JS8 frame from its 174 decoded bits:
/// sync groups at 0, 36 and 72, three bits (MSB first) per data symbol.
void frameTones8(const uint8_t* bits, const uint8_t* costas, const uint8_t* grayMap, uint8_t* tones);
constexpr int frameSymbols8 = 79;

/// Tones of the 103 symbols of an FT4 frame: sync groups at 0, 33, 66 and 99,
/// two bits per data symbol.
void frameTones4(const uint8_t* bits, const uint8_t (*costas)[4], const uint8_t* grayMap, uint8_t* tones);
constexpr int frameSymbols4 = 103;

/// SNR in dB in 2500 Hz of the frame found at cand whose symbol k was sent
/// on tones[k]. binHz: the transform's bin spacing (sample rate / transform
/// length), half a tone.
float frameSnr(const ft8::MagArray& power, const ft8::Candidate& cand, const uint8_t* tones, int symbols,
               double binHz);

} // namespace jtdecode
