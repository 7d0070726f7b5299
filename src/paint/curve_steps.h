// The steps the fast curve searches share (curve_proved.cpp and, with AVX2,
// curve_planned.cpp): each gives the samples of the plain bisection in
// curve_search.cpp, with fewer curve points worked out.
#pragma once
#include "paint/curve_geometry.h"
#include "paint/stroke_walk.h"

// The fast searches (a curve: its control points as x, y pairs).
float curve_search_proved(const float curve[8], float spacing, float offset);
// With AVX2; polygon: the length of the control polygon, as the sum of its
// coordinates' differences.
float curve_search_planned(const float curve[8], float spacing, float offset, float polygon,
                           const LaidDots* dots);

// The curve point at parameter at, rounded to floats, and its squared
// distance from (cx, cy), rounded to a float.
inline float curve_distance2(const float* c, float cx, float cy, float at, float* px, float* py) {
  *px = static_cast<float>(bezier(at, c[0], c[2], c[4], c[6]));
  *py = static_cast<float>(bezier(at, c[1], c[3], c[5], c[7]));
  double gx = static_cast<double>(cx) - *px, gy = static_cast<double>(cy) - *py;
  return static_cast<float>(gx * gx + gy * gy);
}

// The float nearest to (lo + hi) / 2, for 0 <= lo <= hi <= 1, as
// float((double(lo) + hi) * 0.5) gives it. When that double sum is exact (lo
// zero or not below 2^-27), halving both and adding in float rounds the same
// exact value once, with a shorter wait for the result.
inline float midpoint(float lo, float hi) {
  if (lo >= 0x1p-27f || lo == 0.0f) return lo * 0.5f + hi * 0.5f;
  return static_cast<float>((static_cast<double>(lo) + hi) * 0.5);
}

// One search for the next sample: the parameter interval and the last
// midpoint with its curve point and squared distance.
struct CurveSearch {
  float lo, hi, mid, qx, qy, g;
};

// The plain bisection from where s stands until a midpoint is taken (known:
// s's midpoint is measured already); returns the steps it took.
inline int bisect(const float* c, float cx, float cy, float too_far, float too_near, CurveSearch* s, bool known) {
  int steps = 0;
  for (;;) {
    if (!known) {
      s->mid = midpoint(s->lo, s->hi);
      s->g = curve_distance2(c, cx, cy, s->mid, &s->qx, &s->qy);
    }
    known = false;
    ++steps;
    if (s->g > too_far) {
      if (s->mid == s->hi || s->mid == s->lo) break;
      s->hi = s->mid;
    } else if (s->g >= too_near) {
      break;
    } else if (static_cast<double>(s->hi) - s->lo < 0.0001) {
      break;
    } else {
      s->lo = s->mid;
    }
  }
  return steps;
}

// What the proved search carries from one search to the next: how long the
// last run of too-far midpoints was, and the curve's climb once needed.
struct RunHint {
  int hint = -1;  // negative while searches are short; else the last run, less one
  CurveClimb climb;
  bool climb_known = false;
  const CurveClimb& climb_of(const float* c) {
    if (!climb_known) climb = curve_climb(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]), climb_known = true;
    return climb;
  }
};

// A search starts by halving towards lo while the midpoints are too far: the
// midpoint at step k is 2^-(k-1) times float(lo 2^(k-2) + hi 2^(k-2)), and
// these scaled sums chain with one addition each. On a climbing curve the
// first hint midpoints of the run need not be measured when the last is too
// far and the distance grows enough between it and the one before to beat
// the rounding. True when the run ends on the midpoint taken.
inline bool hinted_run(const float* c, float cx, float cy, float too_far, float too_near, float target, RunHint* h,
                       CurveSearch* s) {
  float step = s->lo * 0.5f, sum = 0.5f, scale = 1.0f;
  int run = 0;
  bool found = false;
  const int hint = h->hint;
  if (hint >= 4 && h->climb_of(c).climb > 0) {
    float before = s->hi;
    for (run = 0; run < hint; ++run) {
      float scaled = step + sum;
      s->mid = scaled * scale;
      if (!(s->mid < s->hi && s->mid > s->lo)) break;
      before = s->hi;
      s->hi = s->mid;
      sum = scaled;
      step = step * 2.0f;
      scale = scale * 0.5f;
    }
    const double need = climb_need(h->climb, target);
    if (run < hint || !(curve_distance2(c, cx, cy, s->hi, &s->qx, &s->qy) > too_far) ||
        !(h->climb.climb * (static_cast<double>(before) - s->hi) > need)) {
      s->hi = 1.0f, step = s->lo * 0.5f, sum = 0.5f, scale = 1.0f;
      run = 0;
    }
  }
  for (; run < 60; ++run) {
    float scaled = step + sum;
    s->mid = scaled * scale;
    s->g = curve_distance2(c, cx, cy, s->mid, &s->qx, &s->qy);
    if (s->g > too_far && s->mid != s->hi && s->mid != s->lo) {
      s->hi = s->mid;
      sum = scaled;
      step = step * 2.0f;
      scale = scale * 0.5f;
      continue;
    }
    // The bisection's own step for this midpoint.
    if (s->g > too_far || s->g >= too_near || static_cast<double>(s->hi) - s->lo < 0.0001)
      found = true;
    else
      s->lo = s->mid;
    break;
  }
  h->hint = run >= 6 ? run - 1 : -1;
  return found;
}

// Whether a search may start with the run: a hint, and lo where the scaled
// sums are exact.
inline bool run_hinted(const RunHint& h, float lo) { return h.hint >= 0 && (lo >= 0x1p-27f || lo == 0.0f); }
