// What the AVX2 curve search's two parts share (curve_planned.cpp plans and
// measures searches; curve_proved_walk.cpp proves whole runs of them near a
// point): the curve's speed, four curve points at once, and the proofs.
#pragma once
#include "paint/splat_wide.h"
#include "paint/stroke_walk.h"
#ifdef EASEL_WIDE
#include <cmath>
#include <cstdint>

#include "paint/curve_geometry.h"

// The most steps of a planned search.
constexpr int PLANNED_STEPS_MAX = 48;

// The curve's derivative's control vectors, x and y twice each, for pace_at.
struct Hodograph {
  alignas(16) float v[3][4];
};

inline void hodograph_of(Hodograph* h, const float* curve) {
  for (int k = 0; k < 3; ++k)
    for (int lane = 0; lane < 4; ++lane) h->v[k][lane] = curve[2 * k + 2 + lane % 2] - curve[2 * k + lane % 2];
}

// 1 / the curve's speed at t, closely enough to predict a search by: in
// float, which is much quicker to divide and take roots in than double.
inline float pace_at(const Hodograph& h, float t) {
  const float u = 1.0f - t;
  const __m128 d = _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(u * u), _mm_load_ps(h.v[0])),
                                         _mm_mul_ps(_mm_set1_ps(2.0f * t * u), _mm_load_ps(h.v[1]))),
                              _mm_mul_ps(_mm_set1_ps(t * t), _mm_load_ps(h.v[2])));
  const __m128 d2 = _mm_mul_ps(d, d);
  return 1.0f / (3.0f * _mm_cvtss_f32(_mm_sqrt_ss(_mm_add_ss(d2, _mm_shuffle_ps(d2, d2, 1)))));
}

// The curve points at the four parameters at, as bezier() gives them rounded
// to float, into qx and qy, and their squared distances from (x0, y0) as
// curve_distance2 forms them. curve: the control points.
EASEL_WIDE_TARGET inline __attribute__((always_inline)) __m128 curve_points4(const double* curve, __m128 at,
                                                                            __m256d x0, __m256d y0, __m128* qx,
                                                                            __m128* qy) {
  const __m256d t = _mm256_cvtps_pd(at);
  const __m256d u = _mm256_sub_pd(_mm256_set1_pd(1.0), t), t3 = _mm256_mul_pd(_mm256_set1_pd(3.0), t);
  const __m256d w0 = _mm256_mul_pd(_mm256_mul_pd(u, u), u);
  const __m256d w1 = _mm256_mul_pd(_mm256_mul_pd(t3, u), u);
  const __m256d w2 = _mm256_mul_pd(_mm256_mul_pd(t3, t), u);
  const __m256d w3 = _mm256_mul_pd(_mm256_mul_pd(t, t), t);
  __m128 q[2];
  for (int axis = 0; axis < 2; ++axis) {
    __m256d v = _mm256_add_pd(_mm256_mul_pd(w0, _mm256_broadcast_sd(curve + axis)),
                              _mm256_mul_pd(w1, _mm256_broadcast_sd(curve + axis + 2)));
    v = _mm256_add_pd(v, _mm256_mul_pd(w2, _mm256_broadcast_sd(curve + axis + 4)));
    q[axis] = _mm256_cvtpd_ps(_mm256_add_pd(v, _mm256_mul_pd(w3, _mm256_broadcast_sd(curve + axis + 6))));
  }
  *qx = q[0], *qy = q[1];
  const __m256d gx = _mm256_sub_pd(x0, _mm256_cvtps_pd(q[0])), gy = _mm256_sub_pd(y0, _mm256_cvtps_pd(q[1]));
  return _mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(gx, gx), _mm256_mul_pd(gy, gy)));
}

// The float nearest v towards 0, and away from 0, for v > 0.
inline float float_below(double v) {
  const float f = static_cast<float>(v);
  return f > v ? std::nextafter(f, 0.0f) : f;
}

inline float float_above(double v) {
  const float f = static_cast<float>(v);
  return f < v ? std::nextafter(f, INFINITY) : f;
}

// The curve cut into NEAR_PIECES equal parameter pieces, for proofs that
// hold near a point: from a point of piece i the distance to later points up
// to `edge[i]` (the end of piece i + 1) grows at least `climb[i]` per unit of
// parameter, and points of pieces two or more apart are at least `apart`
// from each other.
constexpr int NEAR_PIECES = 16;

struct NearProofs {
  float climb[NEAR_PIECES], edge[NEAR_PIECES];  // climb rounded down
  double apart;
  double curve[8];  // the control points
};

// What every search after the first of a curve shares: the thresholds and
// margins at target == spacing.
struct ProvedTarget {
  float too_far, too_near;
  float need;       // see climb_need; rounded up, with a margin for a product's rounding
  float low, high;  // a and b less t, over the pace
  bool apart;       // whether pieces two apart are too far for a sample
};

// The pieces and their proofs for the curve f (x, y pairs).
void near_proofs(NearProofs* n, const float* f);

// Where the curve sampler's loop stands between samples.
struct CurveWalk {
  float t, t_before, cx, cy;
  double pace;
  int run;
};

// The curve search's loop for searches after the first few of a long curve,
// while they prove as predicted. Returns 1 at the curve's end, with the
// leftover; 2 when the buffer is full; 0 at a search that needs the general
// loop, with the walk where it stood. With dots, lays the pen's dots of the
// samples a few behind the last (StrokeSamples.laid counts them).
EASEL_WIDE_TARGET int walk_proved(const NearProofs& n, const Hodograph& h, const ProvedTarget& p, float spacing,
                                  const LaidDots* dots, CurveWalk* walk, float* leftover);
#endif
