// The AVX2 curve search's proved runs: near a point the curve's pieces prove
// a whole search from its predicted window, so that only three of its
// midpoints are measured, four curve points at once, to confirm it.
#include "paint/curve_wide.h"
#ifdef EASEL_WIDE
#include <cstring>
#include <utility>

#include "paint/pen_dots.h"
#include "paint/square_root.h"

void near_proofs(NearProofs* n, const float* f) {
  const Cubic curve = cubic_of(f);
  for (int k = 0; k < 8; ++k) n->curve[k] = f[k];
  const double slack = largest_coordinate(curve) * 1e-9 + 1e-9;
  Box boxes[NEAR_PIECES];
  for (int i = 0; i < NEAR_PIECES; ++i) {
    const int to = std::min(NEAR_PIECES, i + 2);
    const Cubic span = curve_part(curve, i, to, NEAR_PIECES);
    // cone_climb counts per unit of the span's own parameter, which covers
    // only (to - i) / NEAR_PIECES of the curve's.
    n->climb[i] = float_below(cone_climb(span) * NEAR_PIECES / (to - i) * (1 - 1e-9));
    n->edge[i] = static_cast<float>(to) / NEAR_PIECES;
    Cubic piece, unused;
    split_curve(span, 1.0 / (to - i), &piece, &unused);
    boxes[i] = control_box(piece, slack);
  }
  double apart2 = INFINITY;
  for (int i = 0; i < NEAR_PIECES; ++i)
    for (int j = i + 2; j < NEAR_PIECES; ++j) apart2 = std::min(apart2, box_gap2(boxes[i], boxes[j]));
  n->apart = square_root(apart2);
}

namespace {

// A search worked out as predicted by its window [a, b] (see plan_search in
// curve_planned.cpp), and whether every midpoint but the last too-far one,
// the last too-near one and the accepted one is proved to be as predicted: as
// far or as near as one of those by the climb near lo, or beyond edge, apart
// from it. The accepted one is in the window, or too near once the interval
// is narrow.
struct PredictedSearch {
  float mid, far_last, near_last;
  int care, want;  // the measured lanes' bits as confirm_search forms them: which count, and as what
  bool window, proved;
};

// The float with these bits.
inline float bits_float(uint32_t u) {
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

// (Lambdas in a wide function are not compiled wide: this is a function.)
EASEL_WIDE_TARGET inline __attribute__((always_inline)) void predict_search(const NearProofs& n, const ProvedTarget& p,
                                                                    float lo, float a, float b, int* run,
                                                                    PredictedSearch* s) {
  s->proved = false;
  if (!(lo >= 0x1p-27f)) return;
  const float first = lo * 0.5f + 0.5f;
  const int piece = std::min(NEAR_PIECES - 1, static_cast<int>(lo * NEAR_PIECES));
  const float climb = n.climb[piece], edge = n.edge[piece];
  // The run of too-far midpoints chains as in plan_search; its last two
  // are the sums before and after the last, scaled back.
  float step = lo * 0.5f, sum = 0.5f, sum_before = 0.0f, sum_earlier = 0.0f, mid;
  // The run's length is mostly the last search's: those steps go by count,
  // so that their loop's end is known long before the sums are. Only the
  // last three sums are kept, and the scale is 2^-fars.
  int fars = *run;
#pragma GCC unroll 4
  for (int k = 2; k < fars; ++k) sum = step + sum, step = step * 2.0f;
  if (fars >= 2) sum_earlier = sum, sum = step + sum, step = step * 2.0f;
  if (fars >= 1) sum_before = sum, sum = step + sum, step = step * 2.0f;
  float scale = bits_float(static_cast<uint32_t>(127 - fars) << 23);
  if (fars && !(sum * (scale * 2.0f) > b)) {
    // One step fewer than last time, as the run shortens towards the end.
    if (!(fars >= 2 && sum_before * (scale * 4.0f) > b)) return;
    --fars, step = step * 0.5f, scale = scale * 2.0f, sum = sum_before, sum_before = sum_earlier;
  }
  for (;;) {
    const float scaled = step + sum;
    mid = scaled * scale;
    if (!(mid > b)) break;
    sum_before = sum, sum = scaled, step = step * 2.0f, scale = scale * 0.5f;
    if (++fars == PLANNED_STEPS_MAX) return;
  }
  *run = fars;
  float hi = fars ? sum * (scale * 2.0f) : 1.0f, far_last = hi, far_before = sum_before * (scale * 4.0f);
  float near_last = 0.0f, near_before = 0.0f;
  int nears = 0;
  bool window = false;
  // lo stays at least 2^-27, where midpoint() halves and adds in float. With
  // hi at most 2 lo, as it stays once it is, hi - lo is exact in float, and
  // below the float just above 0.0001 just when it is below 0.0001.
  if (!(hi <= 2.0f * lo)) return;
  for (;; mid = lo * 0.5f + hi * 0.5f) {
    if (mid > b) {
      // Out of float parameters: rare enough for the general loop. (A
      // too-far midpoint is above b, which is at least lo.)
      if (mid == hi) return;
      far_before = far_last, far_last = mid, ++fars;
      hi = mid;
    } else if (mid >= a) {
      window = true;
      break;
    } else {
      near_before = near_last, near_last = mid, ++nears;
      if (hi - lo < 0x1.a36e3p-14f) break;
      lo = mid;
    }
  }
  // The first midpoint is the farthest along; beyond edge only `apart` proves
  // it. (Every condition is worked out and combined without a branch: how
  // many midpoints each kind has varies from search to search, and a branch
  // on it would often be predicted wrongly just as the next search begins.)
  // The differences are exact: far_last is at least half far_before, and
  // near_before at least lo and near_last at most hi. The product rounds up
  // by less than need's margin.
  bool proved =
      fars < 2 || ((p.apart | !(first > edge)) & ((far_before > edge) | (climb * (far_before - far_last) > p.need)));
  proved &= nears < 2 || ((near_last <= edge) & (climb * (near_last - near_before) > p.need));
  // Which of the three measured midpoints must be too far, and which at least
  // too near: see confirm_search.
  const int care = (fars ? 1 : 0) | (nears ? 32 : 0) | (window ? 4 | 64 : 0);
  const int want = (fars ? 1 : 0) | (window ? 64 : 0);
  *s = PredictedSearch{mid, far_last, near_last, care, want, window, proved};
}

// Measures the three midpoints of a proved predicted search from (cx, cy);

// true with the accepted point when each is as predicted.
EASEL_WIDE_TARGET inline __attribute__((always_inline)) bool confirm_search(const NearProofs& n, const ProvedTarget& p,
                                                                    const PredictedSearch& s, float cx, float cy,
                                                                    float* qx, float* qy) {
  __m128 qx4, qy4;
  const __m128 g = curve_points4(n.curve, _mm_setr_ps(s.far_last, s.near_last, s.mid, s.mid), _mm256_set1_pd(cx),
                                 _mm256_set1_pd(cy), &qx4, &qy4);
  // Lane bits: too far, then at least too near four bits up (a distance
  // that is not a number is neither). The last too-far midpoint is too far,
  // the last too-near one is not at least too near, the accepted one in the
  // window is at least too near and not too far.
  const int far = _mm_movemask_ps(_mm_cmpgt_ps(g, _mm_set1_ps(p.too_far)));
  const int got = far | (_mm_movemask_ps(_mm_cmpge_ps(g, _mm_set1_ps(p.too_near))) | far) << 4;
  if ((got ^ s.want) & s.care) return false;
  const __m128i lane = _mm_set1_epi32(1 + s.window);
  *qx = _mm_cvtss_f32(_mm_permutevar_ps(qx4, lane)), *qy = _mm_cvtss_f32(_mm_permutevar_ps(qy4, lane));
  return true;
}


}  // namespace

EASEL_WIDE_TARGET int walk_proved(const NearProofs& n, const Hodograph& h, const ProvedTarget& p, float spacing,
                                  const LaidDots* dots, CurveWalk* walk, float* leftover) {
  // Plain locals: kept as one record, the walk's values would be packed into
  // one vector register and shuffled out on the chain from one search to the next.
  float t = walk->t, t_before = walk->t_before, cx = walk->cx, cy = walk->cy;
  float pace = static_cast<float>(walk->pace);
  int run = walk->run, status = 0, count = StrokeSamples.count;
  float* const xs = StrokeSamples.x;
  float* const ys = StrokeSamples.y;
  const double end_x = n.curve[6], end_y = n.curve[7];
  const double spacing2 = static_cast<double>(spacing) * spacing;
  // With `apart`, the points of the pieces before the last two are farther
  // than the spacing from its end.
  const float near_end = p.apart ? static_cast<float>(NEAR_PIECES - 2) / NEAR_PIECES : 0.0f;
  // The curve's end is nearer than the spacing, or the buffer is full.
  auto ended = [&]() {
    if (t >= near_end) {
      const double rx = end_x - cx, ry = end_y - cy, rest2 = rx * rx + ry * ry;
      if (rest2 < spacing2) {
        *leftover = static_cast<float>(spacing - square_root(rest2));
        return (status = 1) != 0;
      }
    }
    return (status = count >= STROKE_SAMPLES_MAX ? 2 : 0) != 0;
  };
  PredictedSearch both[2] = {}, *ahead = &both[0], *next = &both[1];
  int laid = StrokeSamples.laid;
  if (!ended()) {
    // The window only predicts: the searches are checked as they are, so it
    // is worked out in float.
    predict_search(n, p, t, t + p.low * pace, t + p.high * pace, &run, ahead);
    float pace_next = pace_at(h, t + 1.5f * (t - t_before));
    while (ahead->proved) {
      const float from = ahead->mid;
      predict_search(n, p, from, from + p.low * pace_next, from + p.high * pace_next, &run, next);
      float qx, qy;
      if (!confirm_search(n, p, *ahead, cx, cy, &qx, &qy)) break;
      xs[count] = qx, ys[count] = qy, ++count;
      if (dots && count - laid > DOTS_BEHIND) lay_dot(*dots, xs[laid], ys[laid]), ++laid;
      t_before = t, t = ahead->mid, cx = qx, cy = qy, pace = pace_next;
      if (ended()) break;
      pace_next = pace_at(h, t + 1.5f * (t - t_before));
      std::swap(ahead, next);
    }
  }
  StrokeSamples.count = count;
  StrokeSamples.laid = laid;
  walk->t = t, walk->t_before = t_before, walk->cx = cx, walk->cy = cy, walk->pace = pace, walk->run = run;
  return status;
}

#endif
