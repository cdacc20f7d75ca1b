#pragma once
// hostFft: the bodies of the exported transform functions.
//
// The host hands array handles (heap buff<std::complex<float>> and
// buff<float>) as untyped pointers, so nothing here can trust them: a null
// handle, an empty input, an output shorter than the transform writes, or an
// output that shares samples with the input is refused with one error line
// in the log and leaves the output untouched. Nothing thrown escapes.
// Host thread; touches only the two arrays.
class hostFft {
public:
    /// Forward complex transform of in into out (both complex arrays).
    static void fwd(void* in, void* out) noexcept;
    /// Inverse complex transform of in into out (both complex arrays).
    static void rev(void* in, void* out) noexcept;
    /// Real-input transform of the float array in into the first n/2 values
    /// of the complex array out; the rest of out is left unchanged.
    static void fwdR(void* in, void* out) noexcept;
};
