#pragma once
// Blind IQ-imbalance corrector.
//
// Gain and phase mismatch between the I and Q paths of a direct-conversion
// receiver leaves a mirror image of every signal at the opposite frequency.
// The corrector removes the DC offset, then applies a phase term p and an
// amplitude term a to every sample:
//     re' = (1 + a)(re + p im),   im' = (1 - a)(im + p re).
// Now and then it measures, on a copy of the DC-free input, how strongly each
// spectral bin correlates with its mirror bin, once at the current terms and
// once at terms one step (0.01) larger; the straight line through the two
// measurements gives the next estimate, which is clamped and smoothed over the
// last four. Within a block the terms ramp linearly from the previous block's
// values to the current ones so that an update causes no step.
//
// A corrector has no lock and is used by one owner at a time. The window
// tables are shared by all correctors and set up once, thread-safely, by the
// first iq_balancer_create.
#include "dsp/buff.h"

#include <complex>
#include <vector>

/// One complex sample, laid out as std::complex<float>.
struct airspyhf_complex_float_t {
    float re;
    float im;
};

struct iq_balancer_t {
    float phase;
    float previous_phase;
    float amplitude;
    float previous_amplitude;
    float dc_re;
    float dc_im;
    float total_power;
    float image_power;
    float maximum_power;
    float raw_phases[4];
    float raw_amplitudes[4];
    int skipped_fills;
    int fills_to_skip;
    int working_position;
    int segments_per_fill;
    int overlap_divisor;
    int correlation_integration;
    int integration_counter;  // valid segments so far; negative: fills still to drop
    int raw_count;
    int raw_index;
    int optimal_bin;  // 2048 is 0 Hz
    int reset_request;
    std::vector<int> segment_flags;                 // [segments_per_fill]
    buff<std::complex<float>> correlation_sums;     // [4096]
    buff<std::complex<float>> trial_sums;           // [4096]
    buff<std::complex<float>> working;              // [12288] DC-free input for analysis
    buff<float> bin_power;                          // [4096]
    buff<std::complex<float>> scratch;              // [4096] one analysed segment
    buff<std::complex<float>> spectrum;             // [4096] its transform
};

/// New corrector with the given terms; sets up the shared tables on first use.
/// Thread-safe.
iq_balancer_t* iq_balancer_create(float phase, float amplitude);
/// Frees the corrector.
void iq_balancer_destroy(iq_balancer_t* state);
/// Stores the analysis schedule and requests a reset of the estimation.
void iq_balancer_configure(iq_balancer_t* state, int fillsToSkip, int segments, int overlapDivisor,
                           int correlationIntegration);
/// Favours the neighbourhood of w (fraction of the rate, 0 = centre, clamped to
/// [-0.5, 0.5]) and requests a reset of the estimation. A NaN is refused with
/// a log line and changes nothing.
void iq_balancer_set_optimal_point(iq_balancer_t* state, float w);
/// Corrects count samples in place. A block of fewer than 2 samples is passed
/// through unchanged. A block holding a sample that is not finite leaves the
/// DC estimate and the analysis as they were: it spoils only itself.
void iq_balancer_process(iq_balancer_t* state, airspyhf_complex_float_t* samples, int count);
/// The shared tables, filled by the first iq_balancer_create: the 4096-point
/// analysis window and the weights favouring the optimal point.
const buff<float>& iq_balancer_window();
extern float __boost_window[4096];
/// iq_balancer_process over all samples of block.
void iq_balancer_process_buff(iq_balancer_t* state, buff<std::complex<float>> block);
