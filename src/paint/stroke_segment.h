// Pieces of the stroke walk that its search and proof files share: the sample
// buffer's append and the curve a segment follows.
#pragma once
#include <cstdint>

#include "paint/square_root.h"
#include "paint/stroke_walk.h"

// Appends one sample; false when the buffer is already full.
inline bool push_sample(float x, float y) {
  if (StrokeSamples.count >= STROKE_SAMPLES_MAX) return false;
  StrokeSamples.x[StrokeSamples.count] = x;
  StrokeSamples.y[StrokeSamples.count] = y;
  ++StrokeSamples.count;
  return true;
}

// The cubic Bezier curve of segment i of a stroke of three points or more:
// P[i], two control points, P[i + 1], as x, y pairs. False for a segment
// drawn straight.
inline __attribute__((always_inline)) bool segment_curve(const int16_t* xs, const int16_t* ys, unsigned n, unsigned i,
                                                         float c[8]) {
  // Tangents through the neighbouring points; the ends use the segment itself.
  unsigned before = i == 0 ? 0 : i - 1;
  unsigned after = i == n - 2 ? i + 1 : i + 2;
  float t0x = static_cast<float>(xs[i + 1] - xs[before]);
  float t0y = static_cast<float>(ys[i + 1] - ys[before]);
  float t1x = static_cast<float>(xs[i] - xs[after]);
  float t1y = static_cast<float>(ys[i] - ys[after]);
  float len0 = static_cast<float>(square_root(static_cast<double>(t0x) * t0x + static_cast<double>(t0y) * t0y));
  float len1 = static_cast<float>(square_root(static_cast<double>(t1x) * t1x + static_cast<double>(t1y) * t1y));
  if (len0 < 0.001 || len1 < 0.001) return false;
  // The longer tangent is cut to the shorter one's length.
  if (len1 <= len0) {
    double k = static_cast<double>(len1) / len0;
    t0x = static_cast<float>(t0x * k);
    t0y = static_cast<float>(t0y * k);
  } else {
    double k = static_cast<double>(len0) / len1;
    t1x = static_cast<float>(t1x * k);
    t1y = static_cast<float>(t1y * k);
  }
  c[0] = xs[i], c[1] = ys[i];
  c[2] = static_cast<float>(xs[i] + 0.25 * t0x), c[3] = static_cast<float>(ys[i] + 0.25 * t0y);
  c[4] = static_cast<float>(xs[i + 1] + 0.25 * t1x), c[5] = static_cast<float>(ys[i + 1] + 0.25 * t1y);
  c[6] = xs[i + 1], c[7] = ys[i + 1];
  return true;
}
