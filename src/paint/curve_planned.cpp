// The AVX2 curve search: each search is planned from the curve's speed (a
// window of parameters where its accepted midpoint should lie), its steps
// worked out in a chain of one addition each and measured four at a time off
// that chain; where every step goes as planned, so does the search. Long
// curves hand whole runs of searches to walk_proved (curve_proved_walk.cpp).
// Searches that go otherwise go on as the proved search does.
#include "paint/curve_steps.h"
#include "paint/curve_wide.h"
#include "paint/stroke_segment.h"

#ifdef EASEL_WIDE
namespace {

// A planned search: its steps when every midpoint after b is too far and
// every one before a too near, with the curve points and distances at their
// midpoints; whether its last step accepts, else it stopped at
// PLANNED_STEPS_MAX steps. Where every step's class is as planned, so is the
// search; the
// midpoints are measured four at a time while the chain of the next ones is
// worked out, so that the measuring costs little more than that chain.
struct PlannedSearch {
  alignas(16) float mid[PLANNED_STEPS_MAX + 4], qx[PLANNED_STEPS_MAX + 4], qy[PLANNED_STEPS_MAX + 4],
      g[PLANNED_STEPS_MAX + 4];
  float lo[PLANNED_STEPS_MAX + 1], hi[PLANNED_STEPS_MAX + 1];
  int n, proof;  // proof: the step that stands for its run, if any
  bool accepts;
};

// Works out a search as planned and measures it.
struct SearchPlanner {
  PlannedSearch* f;
  double curve[8];
  __m256d x0, y0;
  __m128 too_far, too_near, a, b;
  uint64_t differ = 0;  // bit k: step k went otherwise
  int n = 0;
  // The last midpoints, the latest in the top lane: read back from memory
  // they would wait for the stores.
  __m128 recent = _mm_setzero_ps();

  // The curve points and distances at midpoints k to k + 3, as
  // curve_distance2 forms them, lane by lane, and where their classes differ
  // from the planned ones.
  EASEL_WIDE_TARGET void measure(int k) {
    __m128 qx, qy;
    const __m128 g = curve_points4(curve, recent, x0, y0, &qx, &qy);
    _mm_store_ps(f->qx + k, qx);
    _mm_store_ps(f->qy + k, qy);
    _mm_store_ps(f->g + k, g);
    // Classes as (too far, too far or in the window), found and planned.
    const __m128 far = _mm_cmpgt_ps(g, too_far), planned_far = _mm_cmpgt_ps(recent, b);
    const __m128 kept = _mm_or_ps(far, _mm_cmpge_ps(g, too_near));
    const __m128 planned_kept = _mm_or_ps(planned_far, _mm_cmpge_ps(recent, a));
    const __m128 other = _mm_or_ps(_mm_xor_ps(far, planned_far), _mm_xor_ps(kept, planned_kept));
    differ |= static_cast<uint64_t>(_mm_movemask_ps(other)) << k;
  }

  // Records step n's interval and midpoint; every fourth step measures the last four.
  EASEL_WIDE_TARGET void record(float lo, float hi, float mid) {
    f->lo[n] = lo, f->hi[n] = hi, f->mid[n] = mid;
    recent = _mm_castsi128_ps(_mm_alignr_epi8(_mm_castps_si128(_mm_set_ss(mid)), _mm_castps_si128(recent), 4));
    if (++n % 4 == 0) measure(n - 4);
  }
};

// Plans the search on [lo, 1] for the window [a, b] and measures it; returns
// the number of leading steps whose class is as planned.
EASEL_WIDE_TARGET int plan_search(PlannedSearch* f, const float* curve, float cx, float cy, float too_far,
                                  float too_near, float lo, float a, float b, double climb, double need) {
  SearchPlanner w;
  w.f = f;
  for (int k = 0; k < 8; ++k) w.curve[k] = curve[k];
  w.x0 = _mm256_set1_pd(cx), w.y0 = _mm256_set1_pd(cy);
  w.too_far = _mm_set1_ps(too_far), w.too_near = _mm_set1_ps(too_near);
  w.a = _mm_set1_ps(a), w.b = _mm_set1_ps(b);
  f->accepts = true;
  f->proof = -1;
  float hi = 1.0f;
  bool done = false;
  if (lo >= 0x1p-27f || lo == 0.0f) {
    // While too far the midpoints chain with one addition each (see
    // hinted_run). On a climbing curve only the last of a run is measured,
    // as the proved search's proof asks. A run that gets
    // stuck repeats its last step up to the cap, where the search goes on
    // plainly and takes that step's midpoint as the stuck search would.
    for (bool prove = climb > 0;; prove = false) {
      float step = lo * 0.5f, sum = 0.5f, scale = 1.0f, before = hi;
      int run = 0;
      for (;;) {
        const float scaled = step + sum, mid = scaled * scale;
        if (!(mid > b)) break;
        if (!prove) w.record(lo, hi, mid);
        before = hi, hi = mid, sum = scaled, step = step * 2.0f, scale = scale * 0.5f;
        if (++run == PLANNED_STEPS_MAX) {
          done = true, f->accepts = false;
          break;
        }
      }
      if (!prove) break;
      if (!done && run >= 2 && climb * (static_cast<double>(before) - hi) > need) {
        f->proof = w.n;
        w.record(lo, before, hi);
        break;
      }
      hi = 1.0f, done = false, f->accepts = true;
    }
  }
  while (!done) {
    const float mid = midpoint(lo, hi);
    w.record(lo, hi, mid);
    if (mid > b) {
      done = mid == hi || mid == lo;
      hi = mid;
    } else if (mid >= a) {
      done = true;
    } else {
      done = static_cast<double>(hi) - lo < 0.0001;
      lo = mid;
    }
    if (w.n == PLANNED_STEPS_MAX && !done) f->accepts = false, done = true;
  }
  const int n = w.n;
  f->n = n;
  f->lo[n] = lo, f->hi[n] = hi;
  if (n % 4) {
    for (int k = n; k % 4; ++k)
      w.recent = _mm_castsi128_ps(_mm_alignr_epi8(_mm_castps_si128(w.recent), _mm_castps_si128(w.recent), 4));
    w.measure(n & ~3);
  }
  const uint64_t differ = w.differ & ((uint64_t{1} << n) - 1);
  return differ ? __builtin_ctzll(differ) : n;
}

// Long curves prove their searches from this sample on (walk_proved).
constexpr int PROVED_FROM = 4;

}  // namespace

float curve_search_planned(const float curve[8], float spacing, float offset, float polygon,
                           const LaidDots* dots) {
  const float p3x = curve[6], p3y = curve[7];
  float cx = curve[0], cy = curve[1];
  float t = 0.0f;
  float target = offset;
  RunHint hint;
  float t_before = 0.0f;
  bool planned = false;
  double pace_next = 0;
  alignas(16) PlannedSearch plan;
  alignas(32) NearProofs near;
  ProvedTarget proved;
  int near_known = -1;
  Hodograph hodograph;
  hodograph_of(&hodograph, curve);
  for (;;) {
    if (near_known < 0 && StrokeSamples.count >= PROVED_FROM) {
      // Long curves keep their searches off this loop while they prove as
      // predicted (walk_proved); this loop takes the ones that do not. The
      // pieces cost about as much as a few dozen searches.
      near_known = polygon > 256 * spacing;
      if (near_known) {
        near_proofs(&near, curve);
        const CurveClimb& climb = hint.climb_of(curve);
        proved.too_far = too_far_for(spacing), proved.too_near = too_near_for(spacing);
        proved.need = float_above(climb_need(climb, spacing) * (1 + 0x1p-22));
        proved.low = static_cast<float>(spacing - 0.01), proved.high = static_cast<float>(spacing + 0.01);
        proved.apart = near.apart - 2 * climb.rounding > (spacing + 0.01) * (1 + 1e-6) + 1e-6;
      }
    }
    if (near_known > 0) {
      CurveWalk walk = {t, t_before, cx, cy, pace_next, 0};
      float leftover = 0.0f;
      const int status = walk_proved(near, hodograph, proved, spacing, dots, &walk, &leftover);
      if (status == 1) return leftover;
      if (status == 2) return 0.0f;
      t = walk.t, t_before = walk.t_before, cx = walk.cx, cy = walk.cy, pace_next = walk.pace;
    }
    double rx = static_cast<double>(p3x) - cx, ry = static_cast<double>(p3y) - cy;
    double rest2 = rx * rx + ry * ry;
    if (rest2 < static_cast<double>(target) * target) return static_cast<float>(target - square_root(rest2));
    const float too_far = too_far_for(target), too_near = too_near_for(target);
    CurveSearch s = {t, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    bool found = false, known = false;
    // The next search is predicted from the curve's speed half the last step
    // ahead, which the chord of a step of this length matches closely. On a
    // climbing curve with steps so short that the search ends soon after its
    // run of too-far midpoints, the proved search does better alone.
    const double pace = pace_next;
    planned = false;
    if (StrokeSamples.count >= 16) {
      const CurveClimb& climb = hint.climb_of(curve);
      planned = !(climb.climb > 0) || pace * target > 2e-4;
    }
    if (planned) {
      const CurveClimb& climb = hint.climb;
      const int same = plan_search(&plan, curve, cx, cy, too_far, too_near, s.lo,
                                   static_cast<float>(t + (target - 0.01) * pace),
                                   static_cast<float>(t + (target + 0.01) * pace), climb.climb,
                                   climb_need(climb, target));
      if (same == plan.n && plan.accepts) {
        found = true;
        s.mid = plan.mid[plan.n - 1], s.qx = plan.qx[plan.n - 1], s.qy = plan.qy[plan.n - 1];
      } else if (same != plan.proof) {
        // Go on from the first step that went otherwise, whose values are at hand.
        s.lo = plan.lo[same], s.hi = plan.hi[same];
        if ((known = same < plan.n))
          s.mid = plan.mid[same], s.qx = plan.qx[same], s.qy = plan.qy[same], s.g = plan.g[same];
      }
    } else if (run_hinted(hint, s.lo)) {
      found = hinted_run(curve, cx, cy, too_far, too_near, target, &hint, &s);
    }
    if (!found && bisect(curve, cx, cy, too_far, too_near, &s, known) >= 8) hint.hint = 0;
    if (!push_sample(s.qx, s.qy)) return 0.0f;
    // The speed one search ahead, off the chain from one parameter to the next.
    // (Checked every 16 samples while the proved search serves.)
    if (StrokeSamples.count >= PROVED_FROM && (planned || near_known != 0 || StrokeSamples.count % 16 < 2))
      pace_next = pace_at(hodograph, t + 1.5f * (t - t_before));
    t_before = t;
    t = s.mid;
    cx = s.qx;
    cy = s.qy;
    target = spacing;
  }
}
#else
// Without AVX2 nothing chooses it; the proved search gives the same samples.
float curve_search_planned(const float curve[8], float spacing, float offset, float, const LaidDots*) {
  return curve_search_proved(curve, spacing, offset);
}
#endif
