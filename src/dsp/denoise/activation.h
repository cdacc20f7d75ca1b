#pragma once
// Activations of the network. tanh is approximated from a table of
// tanh(0.04 i) with a third-order correction, so every platform computes the
// same gains; sigmoid is derived from it. The layers apply them a batch at a
// time through the vector kernels (denoiseKernels.h), which follow these
// functions lane by lane.
namespace denoise {

/// The table of the approximation: tanh(0.04 i) for i = 0 .. 200. Built on
/// first use. Thread-safe.
const float* tanhTable();

/// tanh(x) approximated: 1 for x >= 8, -1 for x <= -8, 0 for NaN.
/// Never allocates. Thread-safe.
float tanhApprox(float x);

/// 0.5 + 0.5 tanhApprox(x / 2).
float sigmoidApprox(float x);

/// max(0, x).
inline float relu(float x) { return x < 0.f ? 0.f : x; }

/// Applies the activation code of a layer (0 tanh, 1 sigmoid, 2 rectified
/// linear); an unknown code leaves x unchanged.
float activate(int activation, float x);

} // namespace denoise
