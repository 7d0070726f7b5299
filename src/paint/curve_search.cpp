// The curve search: equal-chord samples of a cubic curve, each found by plain
// bisection over the curve's parameter. The fast ways (curve_proved.cpp,
// curve_planned.cpp) give the same samples.
#include <cmath>

#include "paint/curve_geometry.h"
#include "paint/curve_search.h"
#include "paint/curve_steps.h"
#include "paint/stroke_segment.h"
#include "paint/stroke_walk.h"

namespace {

// From the last sample at parameter t, the next one is found on [t, 1]: a
// midpoint too far halves towards t, one too near towards 1, one within 0.01
// of the target is taken. So is one where the interval has narrowed to
// neighbouring floats (far control points can make the curve cross the window
// between them) or below 0.0001 (the curve's end is near).
float curve_search_plain(float p0x, float p0y, float c1x, float c1y, float c2x, float c2y, float p3x, float p3y,
                         float spacing, float offset) {
  float cx = p0x, cy = p0y;
  float t = 0.0f;
  float target = offset;
  for (;;) {
    double rx = static_cast<double>(p3x) - cx, ry = static_cast<double>(p3y) - cy;
    double rest2 = rx * rx + ry * ry;
    // The end is nearer than the target: what is left carries to the next segment.
    if (rest2 < static_cast<double>(target) * target) return static_cast<float>(target - std::sqrt(rest2));
    const float too_far = too_far_for(target), too_near = too_near_for(target);
    float lo = t, hi = 1.0f, mid, qx, qy;
    for (;;) {
      mid = static_cast<float>((static_cast<double>(lo) + hi) * 0.5);
      qx = static_cast<float>(bezier(mid, p0x, c1x, c2x, p3x));
      qy = static_cast<float>(bezier(mid, p0y, c1y, c2y, p3y));
      double gx = static_cast<double>(cx) - qx, gy = static_cast<double>(cy) - qy;
      const float g = static_cast<float>(gx * gx + gy * gy);
      if (g > too_far) {
        if (mid == hi || mid == lo) break;
        hi = mid;
      } else if (g >= too_near || static_cast<double>(hi) - lo < 0.0001) {
        break;
      } else {
        lo = mid;
      }
    }
    if (!push_sample(qx, qy)) return 0.0f;
    t = mid;
    cx = qx;
    cy = qy;
    target = spacing;
  }
}

}  // namespace

float sampleCurve(float p0x, float p0y, float c1x, float c1y, float c2x, float c2y, float p3x, float p3y,
                  float spacing, float offset, const LaidDots* dots) {
  StrokeSamples.count = 0;
  StrokeSamples.laid = 0;
  if (!engine_fast()) return curve_search_plain(p0x, p0y, c1x, c1y, c2x, c2y, p3x, p3y, spacing, offset);
  const float curve[8] = {p0x, p0y, c1x, c1y, c2x, c2y, p3x, p3y};
  // Searches are planned from the 16th sample on: a curve whose control
  // polygon is shorter than that many steps never gets there, and the proved
  // search serves it for less.
  const float polygon = std::fabs(c1x - p0x) + std::fabs(c1y - p0y) + std::fabs(c2x - c1x) + std::fabs(c2y - c1y) +
                        std::fabs(p3x - c2x) + std::fabs(p3y - c2y);
  if (polygon > 16 * spacing && engine_wide()) return curve_search_planned(curve, spacing, offset, polygon, dots);
  return curve_search_proved(curve, spacing, offset);
}
