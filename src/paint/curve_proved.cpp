// The proved curve search: the plain bisection, but a search that starts
// with a run of too-far midpoints as long as the last one's skips measuring
// them, where the curve's climb proves them too far.
#include "paint/curve_steps.h"
#include "paint/square_root.h"
#include "paint/stroke_segment.h"

float curve_search_proved(const float curve[8], float spacing, float offset) {
  const float p3x = curve[6], p3y = curve[7];
  float cx = curve[0], cy = curve[1];
  float t = 0.0f;
  float target = offset;
  RunHint hint;
  for (;;) {
    double rx = static_cast<double>(p3x) - cx, ry = static_cast<double>(p3y) - cy;
    double rest2 = rx * rx + ry * ry;
    if (rest2 < static_cast<double>(target) * target) return static_cast<float>(target - square_root(rest2));
    const float too_far = too_far_for(target), too_near = too_near_for(target);
    CurveSearch s = {t, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    const bool found = run_hinted(hint, s.lo) && hinted_run(curve, cx, cy, too_far, too_near, target, &hint, &s);
    if (!found && bisect(curve, cx, cy, too_far, too_near, &s, false) >= 8) hint.hint = 0;
    if (!push_sample(s.qx, s.qy)) return 0.0f;
    t = s.mid;
    cx = s.qx;
    cy = s.qy;
    target = spacing;
  }
}
