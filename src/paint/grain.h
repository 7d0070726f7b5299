// Pieces shared by the renderers that scatter grain (pencil and chalk).
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>

#include "paint/random.h"
#include "paint/square_root.h"
#ifdef __SSE2__
#include <emmintrin.h>
#endif

// Below the lower bound: the lower bound (also for a value that is not a
// number); above the upper bound: the upper bound.
inline float clamp_setting(float v, float lo, float hi) {
  if (!(v >= lo)) return lo;
  if (v > hi) return hi;
  return v;
}

struct GrainOffset {
  float dx, dy, dist;
};

// A point at squared distance q is rejected when float(square_root(q)) >
// size, which is monotone in q: exactly when q is above this limit, found by
// bisection over the ordered bit patterns of non-negative doubles.
inline double grain_limit(float size) {
  double top = (size + 1.0) * (size + 1.0), q;
  uint64_t lo = 0, hi;
  std::memcpy(&hi, &top, sizeof hi);
  while (hi - lo > 1) {
    uint64_t mid = lo + (hi - lo) / 2;
    std::memcpy(&q, &mid, sizeof q);
    if (static_cast<float>(square_root(q)) > size) hi = mid; else lo = mid;
  }
  std::memcpy(&q, &lo, sizeof q);
  return q;
}

inline double grain_square(const GrainOffset& o) {
  return static_cast<double>(o.dx) * o.dx + static_cast<double>(o.dy) * o.dy;
}

// A random point in the circle of radius size, by rejection: two draws per
// attempt. Limit is grain_limit(size); the distance is only worked out (one
// square root) when asked for.
template <bool WithDistance = true>
inline GrainOffset grain_offset(float size, double limit) {
  for (;;) {
    GrainOffset o;
    o.dx = static_cast<float>((random_unit(nextRandom()) - 0.5) * size * 2);
    o.dy = static_cast<float>((random_unit(nextRandom()) - 0.5) * size * 2);
    double q = grain_square(o);
    if (q > limit) continue;
    o.dist = WithDistance ? static_cast<float>(square_root(q)) : 0.0f;
    return o;
  }
}

struct Shade {
  float r, g, b;
};

// The colour moved by shade on every channel, cut at 255 when lightened and
// at 0 when darkened. The shade's sign is random: with SSE2 both cuts are made
// and one is chosen by a mask, where a branch would miss half the time.
inline Shade shade_colour(float r, float g, float b, float shade) {
  Shade c = {static_cast<float>(static_cast<double>(r) + shade), static_cast<float>(static_cast<double>(g) + shade),
             static_cast<float>(static_cast<double>(b) + shade)};
#ifdef __SSE2__
  const __m128 v = _mm_setr_ps(c.r, c.g, c.b, 0.0f), lightened = _mm_cmpgt_ps(_mm_set1_ps(shade), _mm_setzero_ps());
  // min_ps(a, b) is a < b ? a : b, and max_ps(a, b) a > b ? a : b, as the plain cuts compare.
  const __m128 high = _mm_min_ps(_mm_set1_ps(255.0f), v), low = _mm_max_ps(_mm_setzero_ps(), v);
  alignas(16) float cut[4];
  _mm_store_ps(cut, _mm_or_ps(_mm_and_ps(lightened, high), _mm_andnot_ps(lightened, low)));
  return Shade{cut[0], cut[1], cut[2]};
#else
  if (shade > 0) {
    if (c.r > 255) c.r = 255;
    if (c.g > 255) c.g = 255;
    if (c.b > 255) c.b = 255;
  } else {
    if (c.r < 0) c.r = 0;
    if (c.g < 0) c.g = 0;
    if (c.b < 0) c.b = 0;
  }
  return c;
#endif
}

// A grain's shade: one draw gives a shade in -width / 2 .. width / 2 (the
// draw times the one constant width / 4294967295, less width / 2).
inline float shade_of(uint32_t draw, double width) {
  return static_cast<float>(draw * (width / 4294967295.0) - width * 0.5);
}
inline float draw_shade(double width) { return shade_of(nextRandom(), width); }
