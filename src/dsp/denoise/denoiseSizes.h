#pragma once
// Sizes of the noise suppressor. Frames are 512 samples at 48000 samples per
// second, analysed with a 1024-point window; every per-frame array is sized
// from these, so a frame never allocates.
namespace denoise {

constexpr int kFrameSize = 512;
constexpr int kWindowSize = 2 * kFrameSize;
constexpr int kFreqSize = kFrameSize + 1;

constexpr int kNbBands = 22;
/// Band edges are in units of 4 bins; the last edge is bin 400.
constexpr int kBandShift = 2;
constexpr int kCepsMem = 8;
constexpr int kNbDeltaCeps = 6;
constexpr int kNbFeatures = kNbBands + 3 * kNbDeltaCeps + 2;

constexpr int kPitchMinPeriod = 60;
constexpr int kPitchMaxPeriod = 768;
constexpr int kPitchFrameSize = 1024;
constexpr int kPitchBufSize = kPitchMaxPeriod + kPitchFrameSize;

/// Largest layer a model may have; bounds the network's scratch arrays.
constexpr int kMaxNeurons = 128;

} // namespace denoise
