#pragma once
// Pitch analysis of the speech-codec kind: a whitened half-rate copy of the
// pitch buffer, a coarse-to-fine correlation search for the period, and a
// check of its submultiples so that a doubled or tripled period is not taken
// for the true one.
namespace denoise {

/// x_lp [len / 2] = x [len] halved in rate and whitened by an order-4 LPC
/// filter with an added zero. Never allocates.
void pitch_downsample(const float* x, float* x_lp, int len);

/// Full-rate lag of the best match of the half-rate frame x_lp [len / 2]
/// within y [(len + max_pitch) / 2]. len is at most 1024, max_pitch at most
/// 588. Never allocates.
int pitch_search(const float* x_lp, const float* y, int len, int max_pitch);

/// Replaces *T0 (a full-rate period) by the best of its submultiples and
/// returns its pitch gain (0 .. 1). x is the half-rate buffer; periods are
/// at most maxperiod 768 (384 at half rate). Never allocates.
float remove_doubling(const float* x, int maxperiod, int minperiod, int N, int* T0, int prev_period,
                      float prev_gain);

} // namespace denoise
