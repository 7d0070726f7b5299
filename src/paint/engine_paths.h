// Which ways the engine draws. Every way gives the same pixels, samples and
// random draws. The reference ways are the plain code a reader starts with:
// every segment walked, the curve searched by plain bisection, one pixel
// blended at a time. The fast ways prove what they skip (the reach proofs, the
// proved curve searches) and take the processor's wide units where it has them
// (SSE2, AVX2, or WebAssembly's 128-bit SIMD: the packed and wide blends, the
// dots laid by the walk). Programs
// draw the fast ways; tests and the WebAssembly build compare both.
#pragma once

enum EnginePaths { ENGINE_REFERENCE = 0, ENGINE_FAST = 1 };

// The setting, process-wide: set it once at start-up, or between drawings in
// tests, never while another thread draws. engine_wide_chosen: the fast ways
// and a processor with AVX2.
extern EnginePaths engine_paths_chosen;
extern bool engine_wide_chosen;

inline EnginePaths engine_paths() { return engine_paths_chosen; }
void engine_set_paths(EnginePaths paths);
// Back to the start-up setting, the fast ways.
void engine_paths_reset();

// Whether the fast ways are chosen.
inline bool engine_fast() { return engine_paths_chosen == ENGINE_FAST; }
// Whether the fast ways are chosen and this processor has AVX2 for the wide
// ones, or this is a WebAssembly build with SIMD (false where the build has none).
inline bool engine_wide() { return engine_wide_chosen; }
