// The square root as the processor's instruction. The compiler may keep a call
// to the library on inner loops (for errno on a negative input); the library
// returns the same bits for every input, so nothing but the call is saved.
#pragma once
#include <cmath>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

inline double square_root(double v) {
#ifdef __SSE2__
  __m128d x = _mm_set_sd(v);
  return _mm_cvtsd_f64(_mm_sqrt_sd(x, x));
#else
  return std::sqrt(v);
#endif
}
