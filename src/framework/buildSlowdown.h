#pragma once
// How many times slower than a plain build this build runs. A sanitizer
// build checks what happens, not how fast: it runs every thread several
// times slower, and on a machine that is busy besides, a thread it holds up
// is held up several times longer. A time limit of the library that a plain
// build on a loaded machine never meets unless something is wrong (a radio
// that stops asking for samples) is stretched by this factor in a sanitizer
// build, so that the build's own slowness never passes for the fault the
// limit is there for; the tests stretch their bounds by the same factor.
// In a plain or Release build it is 1: every limit as written.
namespace vireo {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
inline constexpr int buildSlowdown = 4;
#else
inline constexpr int buildSlowdown = 1;
#endif
} // namespace vireo
