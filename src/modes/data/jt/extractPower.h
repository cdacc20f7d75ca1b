#pragma once
#include "modes/data/jt/MagArray.h"

#include <cstdint>

/// Fills power.mag (power.blocks x 4 x power.bins bytes, sized here) and
/// power.noise from samples, which hold at least
/// (power.blocks + 1.5) x 2 x power.bins values. Each block of B = 2 x bins
/// samples is seen through two frames of 2B samples, half a block apart, each
/// windowed (sin^2 / 32000) and transformed; byte = 2 x (dB + 120) of the
/// normalised power of FFT bin f + 2j, truncated and limited to 0 .. 255.
/// power.noise: the 30th percentile of the bytes of the bins a signal can
/// be in, those less than 10 dB below the loudest tenth of the bins (each
/// bin judged by its own 30th percentile).
void extract_power(const int16_t* samples, ft8::MagArray& power);
