// Pieces shared by the renderers that scatter grain (pencil and chalk).
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>

#include "paint/random.h"
#include "paint/square_root.h"

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

// A random point in the circle of radius size, by rejection: two draws per
// attempt. Limit is grain_limit(size); the distance is only worked out (one
// square root) when asked for.
template <bool WithDistance = true>
inline GrainOffset grain_offset(float size, double limit) {
  for (;;) {
    GrainOffset o;
    o.dx = static_cast<float>((random_unit(nextRandom()) - 0.5) * size * 2);
    o.dy = static_cast<float>((random_unit(nextRandom()) - 0.5) * size * 2);
    double q = static_cast<double>(o.dx) * o.dx + static_cast<double>(o.dy) * o.dy;
    if (q > limit) continue;
    o.dist = WithDistance ? static_cast<float>(square_root(q)) : 0.0f;
    return o;
  }
}

struct Shade {
  float r, g, b;
};

// The colour moved by shade on every channel, cut at 255 when lightened and
// at 0 when darkened.
inline Shade shade_colour(float r, float g, float b, float shade) {
  Shade c = {static_cast<float>(static_cast<double>(r) + shade), static_cast<float>(static_cast<double>(g) + shade),
             static_cast<float>(static_cast<double>(b) + shade)};
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
}

// A grain's colour: one draw gives a shade in -width / 2 .. width / 2 (the
// draw times the one constant width / 4294967295, less width / 2).
inline Shade draw_shaded(float r, float g, float b, double width) {
  float shade = static_cast<float>(nextRandom() * (width / 4294967295.0) - width * 0.5);
  return shade_colour(r, g, b, shade);
}
