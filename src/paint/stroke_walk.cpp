// The walk along a stroke's segments: straight ones stepped, curved ones
// handed to the curve search.
#include <cmath>

#include "paint/curve_search.h"
#include "paint/stroke_segment.h"
#include "paint/stroke_walk.h"

__thread StrokeSampleBuffer StrokeSamples;

namespace {

// Samples from A to B every s, the first one o along. A zero-length segment
// has no direction: its sample is not a number and fails every bounds test.
float sample_straight(float ax, float ay, float bx, float by, float s, float o) {
  double ex = static_cast<double>(bx) - ax, ey = static_cast<double>(by) - ay;
  float len = static_cast<float>(square_root(ex * ex + ey * ey));
  if (len < o) return static_cast<float>(static_cast<double>(o) - len);
  float dx = static_cast<float>(ex / len), dy = static_cast<float>(ey / len);
  float px = static_cast<float>(ax + static_cast<double>(dx) * o);
  float py = static_cast<float>(ay + static_cast<double>(dy) * o);
  if (!push_sample(px, py)) return 0.0f;
  float remaining = static_cast<float>(static_cast<double>(len) - o);
  while (remaining >= s) {
    px = static_cast<float>(px + static_cast<double>(dx) * s);
    py = static_cast<float>(py + static_cast<double>(dy) * s);
    if (!push_sample(px, py)) return 0.0f;
    remaining = static_cast<float>(static_cast<double>(remaining) - s);
  }
  return static_cast<float>(static_cast<double>(s) - remaining);
}

}  // namespace

int segmentControls(const int16_t* xs, const int16_t* ys, unsigned n, unsigned i, float c[4]) {
  float curve[8];
  if (n < 3 || i >= n - 1 || !segment_curve(xs, ys, n, i, curve)) return 0;
  for (int k = 0; k < 4; ++k) c[k] = curve[k + 2];
  return 1;
}

// Out of line: the wide paint loops inline all they call, and the walk's
// arithmetic is to be compiled once, for every path alike.
__attribute__((noinline)) float sampleSegment(const int16_t* xs, const int16_t* ys, unsigned n, unsigned i,
                                              float spacing, float offset, const LaidDots* dots) {
  StrokeSamples.count = 0;
  StrokeSamples.laid = 0;
  if (n >= 3) {
    if (i >= n - 1) return offset;
    float c[8];
    if (!segment_curve(xs, ys, n, i, c))
      return sample_straight(xs[i], ys[i], xs[i + 1], ys[i + 1], spacing, offset);
    return sampleCurve(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], spacing, offset, dots);
  }
  // One or two points: a dot, or a straight line.
  if (i != 0 || n == 0) return offset;
  if (n == 2) return sample_straight(xs[0], ys[0], xs[1], ys[1], spacing, offset);
  if (offset < 0.0001) {
    push_sample(xs[0], ys[0]);
    return spacing;
  }
  return offset;
}
