// Walking a stroke at a fixed spacing: the samples of every segment in order,
// the leftover distance carried from each segment to the next.
#pragma once
#include <cmath>
#include <cstdint>

#include "paint/stroke.h"

// Calls visit(x, y) for every sample of the stroke that is a number. A
// zero-length first segment yields one sample that is not: it marks no place.
template <class Visit>
void walk_stroke(const int16_t* xs, const int16_t* ys, int n, float spacing, Visit visit) {
  if (n <= 0 || !xs || !ys) return;
  float offset = 0;
  for (unsigned i = 0; i < static_cast<unsigned>(n); ++i) {
    float leftover = sampleSegment(xs, ys, static_cast<unsigned>(n), i, spacing, offset);
    for (int s = 0; s < StrokeSamples.count; ++s) {
      float x = StrokeSamples.x[s], y = StrokeSamples.y[s];
      if (!std::isnan(x) && !std::isnan(y)) visit(x, y);
    }
    offset = leftover;
  }
}
