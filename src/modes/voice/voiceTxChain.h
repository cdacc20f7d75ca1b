#pragma once
// The transmit chain the voice modes share, step by step. A mode's modulate
// runs, once per 512-sample microphone block at 48000 samples per second:
//
//   follow-up    micEqualiser::changedSince(eqVersion) -> redesign eqFilter
//   shapeBlock   input copy -> eqFilter -> × 2·compression -> CalcOpHist
//                -> clip to magnitude 1 -> post-clip band filter
//   lookAheadLimit  6-sample window, ceiling k, 3 samples of delay
//
// and then its own ending (SSB: nothing; AM: a second band filter and the
// carrier; FM: the phase modulator). Every function here runs on the mode's
// transceiver task group and allocates nothing per block, except the
// equaliser design, which runs only when the band or the curve changes.
#include "core/modDemod.h"
#include "dsp/buff.h"
#include "dsp/lowLatFir.h"
#include "modes/voice/delay.h"

#include <cmath>
#include <complex>
#include <cstddef>

namespace voiceTx {

using cplx = std::complex<float>;

constexpr int rate = 48000;
constexpr int blockLength = 512;
constexpr int eqTaps = 2048;   // the equaliser: 4 partitions of 512
constexpr int bandTaps = 1536; // the band filters after the clipper and limiter
constexpr size_t limiterHistory = 6;
constexpr int limiterWindowLength = 6;
constexpr float ssbCeiling = 0.94f;
constexpr float amFmCeiling = 0.97f;

/// The curve-shaped equaliser for the band low .. high Hz (negative for the
/// lower sideband), eqTaps complex taps for a lowLatFir at 48000:
/// an unwindowed sinc band-pass, shaped in the frequency domain by curve
/// (micEqualiser::curveLength gains; negative bins take the mirrored entry
/// 2047 - u), then windowed. With preEmphasisFrom > 0 every in-band bin is
/// first multiplied by f / preEmphasisFrom (FM's 6 dB per octave).
/// Requires low < high and a curve of micEqualiser::curveLength entries.
buff<cplx> equaliserTaps(double low, double high, const buff<float>& curve, double preEmphasisFrom = 0.0);

/// The compression gain, 2 × compression, as the block multiplies by it.
inline float compressionGain(double compression) { return float(2.0 * compression); }

/// Input copy, equaliser, compression, level metering, clipping and the
/// post-clip filter: in goes into eqFilter's input block (a longer in
/// prints the copy trace and the filter runs on what the block held), and
/// postClip's output block holds the result. All filters use blocks of 512.
void shapeBlock(modDemod& mode, buff<cplx> in, lowLatFir& eqFilter, float gain, lowLatFir& postClip);

/// The look-ahead limiter with ceiling k: takes block into limiter.input (the
/// copy rule), then writes min(out, block length) samples to out, each the
/// sample 3 behind times k, divided by 2p - 1 when the peak magnitude p of
/// the window around it exceeds 1. The window length is limiterWindow
/// (at most the history + 1).
void lookAheadLimit(delay<float>& limiter, int limiterWindow, buff<cplx> block, buff<cplx> out, float k);

/// What the chain carries of the values a host sets. A level (compression,
/// the generator's amplitudes, an equaliser gain) may reach 10^6, 120 dB
/// above full scale, of either sign: a full-scale microphone through an
/// equaliser gain and a compression both at that limit stays near 10^12,
/// its power near 10^24, far inside a float, so every sample and the
/// clipper's measure of it stay finite. Past such values a block overflows:
/// the clipper's measure of every sample goes infinite and silences it, or
/// the samples themselves become infinities and NaN.
constexpr double maxLevel = 1e6;
inline bool carriesLevel(double v) { return std::isfinite(v) && std::fabs(v) <= maxLevel; }
/// A line v Hz from the chain's centre: within half the sample rate either
/// way. Further out it would land somewhere else, and near the largest
/// double its phase step overflows.
inline bool carriesOffset(double hz) { return std::isfinite(hz) && std::fabs(hz) <= rate / 2.0; }

} // namespace voiceTx
