#include "paint/stroke.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/log.h"
#include "paint/canvas.h"
#include "paint/deposit.h"
#include "paint/dirty_rect.h"
#include "paint/pixel.h"
#include "paint/splat.h"
#include "paint/splat_wide.h"
#include "paint/square_root.h"

// The walk's functions stay out of line: the wide paint loops inline all they
// call, and the walk's arithmetic is to be compiled once, for every path alike.
#define EASEL_OUT_OF_LINE __attribute__((noinline))

__thread StrokeSampleBuffer StrokeSamples;

#ifdef EASEL_WIDE
namespace {

// The pen's dots on an image, while it walks a stroke with
// AVX2: the proved walk lays them a few samples behind the last, where
// their blends wait on no search and fill the time the searches wait.
struct WalkDots {
  Image* image;
  WideInk ink;
  float x_max, y_max;  // splat_limit of the image's width and height
};
__thread const WalkDots* walk_dots;

// Dots stay this many samples behind the last: their places are long known.
// They are laid in order, and the walk's visits lay the rest.
constexpr int DOTS_BEHIND = 16;

// splat_wide's dot, its place tested against the limits worked out once.
// Inlined: a call in the walk would store and reload every register it holds.
EASEL_WIDE_TARGET inline __attribute__((always_inline)) void lay_dot(const WalkDots& dots, float x, float y) {
  if (!(x >= 0 && y >= 0 && x <= dots.x_max && y <= dots.y_max)) return;
  uint32_t *top, *bottom;
  float fx, fy;
  splat_cell_at(dots.image, x, y, &top, &bottom, &fx, &fy);
  splat_rows_wide(top, bottom, fx, fy, dots.ink, 1.0f);
}

}  // namespace
#endif

namespace {

// Appends one sample; false when the buffer is already full.
inline bool push_sample(float x, float y) {
  if (StrokeSamples.count >= STROKE_SAMPLES_MAX) return false;
  StrokeSamples.x[StrokeSamples.count] = x;
  StrokeSamples.y[StrokeSamples.count] = y;
  ++StrokeSamples.count;
  return true;
}

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

// The float nearest to (lo + hi) / 2, for 0 <= lo <= hi <= 1, as
// float((double(lo) + hi) * 0.5) gives it. When that double sum is exact (lo
// zero or not below 2^-27), halving both and adding in float rounds the same
// exact value once, with a shorter wait for the result.
inline float midpoint(float lo, float hi) {
  if (lo >= 0x1p-27f || lo == 0.0f) return lo * 0.5f + hi * 0.5f;
  return static_cast<float>((static_cast<double>(lo) + hi) * 0.5);
}

inline double bezier(double t, float p0, float c1, float c2, float p3) {
  double a = 1.0 - t;
  return a * a * a * p0 + 3.0 * t * a * a * c1 + 3.0 * t * t * a * c2 + t * t * t * p3;
}

}  // namespace

namespace {

struct Cubic {
  double x[4], y[4];
};

// De Casteljau's split at t: the part before t into left, after it into right.
void split_curve(const Cubic& c, double t, Cubic* left, Cubic* right) {
  auto lerp = [t](double a, double b) { return a + (b - a) * t; };
  const double* v[2] = {c.x, c.y};
  double* l[2] = {left->x, left->y};
  double* r[2] = {right->x, right->y};
  for (int a = 0; a < 2; ++a) {
    double p01 = lerp(v[a][0], v[a][1]), p12 = lerp(v[a][1], v[a][2]), p23 = lerp(v[a][2], v[a][3]);
    double p012 = lerp(p01, p12), p123 = lerp(p12, p23), mid = lerp(p012, p123);
    l[a][0] = v[a][0], l[a][1] = p01, l[a][2] = p012, l[a][3] = mid;
    r[a][0] = mid, r[a][1] = p123, r[a][2] = p23, r[a][3] = v[a][3];
  }
}

// The part of c between the parameters j / pieces and k / pieces.
inline Cubic curve_part(const Cubic& c, int j, int k, int pieces) {
  Cubic rest = c, part, unused;
  if (j > 0) split_curve(c, static_cast<double>(j) / pieces, &unused, &rest);
  split_curve(rest, static_cast<double>(k - j) / (pieces - j), &part, &unused);
  return part;
}

inline double largest_coordinate(const Cubic& c) {
  double largest = 0;
  for (int k = 0; k < 4; ++k) largest = std::max({largest, std::fabs(c.x[k]), std::fabs(c.y[k])});
  return largest;
}

// The box of a curve's control points, which holds the curve, widened by slack.
struct Box {
  double min_x, min_y, max_x, max_y;
};

inline Box control_box(const Cubic& c, double slack) {
  return Box{*std::min_element(c.x, c.x + 4) - slack, *std::min_element(c.y, c.y + 4) - slack,
             *std::max_element(c.x, c.x + 4) + slack, *std::max_element(c.y, c.y + 4) + slack};
}

// The square of the distance between two boxes, 0 where they meet.
inline double box_gap2(const Box& a, const Box& b) {
  const double gx = std::max({0.0, b.min_x - a.max_x, a.min_x - b.max_x});
  const double gy = std::max({0.0, b.min_y - a.max_y, a.min_y - b.max_y});
  return gx * gx + gy * gy;
}

// A curve whose derivative's control vectors lie within 41 degrees of one
// direction keeps its derivative in that cone: the distance from any point to
// later points then grows by at least this much per unit of parameter (0 when
// the vectors spread wider).
double cone_climb(const Cubic& c) {
  double hx[3], hy[3], len[3];
  for (int k = 0; k < 3; ++k) {
    hx[k] = c.x[k + 1] - c.x[k], hy[k] = c.y[k + 1] - c.y[k];
    len[k] = square_root(hx[k] * hx[k] + hy[k] * hy[k]);
    if (!(len[k] > 0)) return 0;
  }
  // The cone's axis halves the widest angle between two of the vectors.
  int a = 0, b = 1;
  double widest = 2;
  for (int i = 0; i < 3; ++i)
    for (int j = i + 1; j < 3; ++j) {
      double c = (hx[i] * hx[j] + hy[i] * hy[j]) / (len[i] * len[j]);
      if (c < widest) widest = c, a = i, b = j;
    }
  double ux = hx[a] / len[a] + hx[b] / len[b], uy = hy[a] / len[a] + hy[b] / len[b];
  double ulen = square_root(ux * ux + uy * uy);
  if (!(ulen > 0)) return 0;
  ux /= ulen, uy /= ulen;
  double cosine = 1, slowest = INFINITY;
  for (int k = 0; k < 3; ++k) {
    double along = ux * hx[k] + uy * hy[k];
    cosine = std::min(cosine, along / len[k]);
    slowest = std::min(slowest, along);
  }
  cosine -= 1e-9;
  if (!(cosine > 0.75)) return 0;
  // The speed is at least 3 * slowest; the chord to a later point and the
  // direction there are at most twice the cone's half-angle apart.
  return (2 * cosine * cosine - 1) * 3 * slowest * (1 - 1e-9);
}

// The climb of the whole curve (see cone_climb), and how far rounding puts a
// float position from its exact point.
struct CurveClimb {
  double climb = 0, rounding = 0;
};

CurveClimb curve_climb(float p0x, float p0y, float c1x, float c1y, float c2x, float c2y, float p3x, float p3y) {
  const Cubic curve = {{p0x, c1x, c2x, p3x}, {p0y, c1y, c2y, p3y}};
  CurveClimb c;
  c.climb = cone_climb(curve);
  c.rounding = largest_coordinate(curve) * 1e-7 + 1e-9;
  return c;
}

// The squared distances from the last sample beyond which a midpoint is too
// far for the target, and below which it is too near.
float too_far_for(float target) { return static_cast<float>((target + 0.01) * (target + 0.01)); }
float too_near_for(float target) { return static_cast<float>((target - 0.01) * (target - 0.01)); }

// How far the distance must grow between a run's last two too-far midpoints
// for the proof to beat the rounding, at this target.
double climb_need(const CurveClimb& c, float target) { return 4 * c.rounding + 1e-6 * (target + 0.01) + 1e-9; }

}  // namespace

#ifdef EASEL_WIDE
namespace {

constexpr int FORETOLD_MAX = 48;

// A search foretold: its steps when every midpoint after b is too far and
// every one before a too near, with the curve points and distances at their
// midpoints; whether its last step accepts, else it stopped at FORETOLD_MAX
// steps. Where every step's class is as foretold, so is the search; the
// midpoints are measured four at a time while the chain of the next ones is
// worked out, so that the measuring costs little more than that chain.
struct Foretold {
  alignas(16) float mid[FORETOLD_MAX + 4], qx[FORETOLD_MAX + 4], qy[FORETOLD_MAX + 4], g[FORETOLD_MAX + 4];
  float lo[FORETOLD_MAX + 1], hi[FORETOLD_MAX + 1];
  int n, proof;  // proof: the step that stands for its run, if any
  bool accepts;
};

// The curve's derivative's control vectors, x and y twice each, for pace_at.
struct Hodograph {
  alignas(16) float v[3][4];
};

void hodograph_of(Hodograph* h, const float* curve) {
  for (int k = 0; k < 3; ++k)
    for (int lane = 0; lane < 4; ++lane) h->v[k][lane] = curve[2 * k + 2 + lane % 2] - curve[2 * k + lane % 2];
}

// 1 / the curve's speed at t, closely enough to foretell a search by: in
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
// distance2 in sampleCurve forms them. curve: the control points.
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

// Works out a search as foretold and measures it.
struct Foresight {
  Foretold* f;
  double curve[8];
  __m256d x0, y0;
  __m128 too_far, too_near, a, b;
  uint64_t differ = 0;  // bit k: step k went otherwise
  int n = 0;
  // The last midpoints, the latest in the top lane: read back from memory
  // they would wait for the stores.
  __m128 recent = _mm_setzero_ps();

  // The curve points and distances at midpoints k to k + 3, as distance2 in
  // sampleCurve forms them, lane by lane, and where their classes differ from
  // the foretold ones.
  EASEL_WIDE_TARGET void measure(int k) {
    __m128 qx, qy;
    const __m128 g = curve_points4(curve, recent, x0, y0, &qx, &qy);
    _mm_store_ps(f->qx + k, qx);
    _mm_store_ps(f->qy + k, qy);
    _mm_store_ps(f->g + k, g);
    // Classes as (too far, too far or in the window), found and foretold.
    const __m128 far = _mm_cmpgt_ps(g, too_far), told_far = _mm_cmpgt_ps(recent, b);
    const __m128 kept = _mm_or_ps(far, _mm_cmpge_ps(g, too_near));
    const __m128 told_kept = _mm_or_ps(told_far, _mm_cmpge_ps(recent, a));
    const __m128 other = _mm_or_ps(_mm_xor_ps(far, told_far), _mm_xor_ps(kept, told_kept));
    differ |= static_cast<uint64_t>(_mm_movemask_ps(other)) << k;
  }

  // Records step n's interval and midpoint; every fourth step measures the last four.
  EASEL_WIDE_TARGET void record(float lo, float hi, float mid) {
    f->lo[n] = lo, f->hi[n] = hi, f->mid[n] = mid;
    recent = _mm_castsi128_ps(_mm_alignr_epi8(_mm_castps_si128(_mm_set_ss(mid)), _mm_castps_si128(recent), 4));
    if (++n % 4 == 0) measure(n - 4);
  }
};

// Foretells the search on [lo, 1] and measures it; returns the number of
// leading steps whose class is as foretold.
EASEL_WIDE_TARGET int search_foretold(Foretold* f, const float* curve, float cx, float cy, float too_far,
                                      float too_near, float lo, float a, float b, double climb, double need) {
  Foresight w;
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
    // While too far the midpoints chain with one addition each (see the
    // plain search's run of them). On a climbing curve only the last of a
    // run is measured, as the plain search's proof asks. A run that gets
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
        if (++run == FORETOLD_MAX) {
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
    if (w.n == FORETOLD_MAX && !done) f->accepts = false, done = true;
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

void near_proofs(NearProofs* n, const float* f) {
  const Cubic curve = {{f[0], f[2], f[4], f[6]}, {f[1], f[3], f[5], f[7]}};
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

// What every search after the first of a curve shares: the thresholds and
// margins at target == spacing.
struct ProvedTarget {
  float too_far, too_near;
  float need;       // see climb_need; rounded up, with a margin for a product's rounding
  float low, high;  // a and b less t, over the pace
  bool apart;       // whether pieces two apart are too far for a sample
};

// A search worked out as foretold by a and b (see Foretold), and whether every
// midpoint but the last too-far one, the last too-near one and the accepted
// one is proved to be as foretold: as far or as near as one of those by the
// climb near lo, or beyond edge, apart from it. The accepted one is in the
// window, or too near once the interval is narrow.
struct Foreseen {
  float mid, far_last, near_last;
  int care, want;  // the measured lanes' bits as confirm forms them: which count, and as what
  bool window, proved;
};

// The float with these bits.
inline float bits_float(uint32_t u) {
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

// (Lambdas in a wide function are not compiled wide: this is a function.)
EASEL_WIDE_TARGET inline __attribute__((always_inline)) void foresee(const NearProofs& n, const ProvedTarget& p,
                                                                    float lo, float a, float b, int* run,
                                                                    Foreseen* s) {
  s->proved = false;
  if (!(lo >= 0x1p-27f)) return;
  const float first = lo * 0.5f + 0.5f;
  const int piece = std::min(NEAR_PIECES - 1, static_cast<int>(lo * NEAR_PIECES));
  const float climb = n.climb[piece], edge = n.edge[piece];
  // The run of too-far midpoints chains as in search_foretold; its last two
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
    if (++fars == FORETOLD_MAX) return;
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
  // on it would often be foretold wrongly just as the next search begins.)
  // The differences are exact: far_last is at least half far_before, and
  // near_before at least lo and near_last at most hi. The product rounds up
  // by less than need's margin.
  bool proved =
      fars < 2 || ((p.apart | !(first > edge)) & ((far_before > edge) | (climb * (far_before - far_last) > p.need)));
  proved &= nears < 2 || ((near_last <= edge) & (climb * (near_last - near_before) > p.need));
  // Which of the three measured midpoints must be too far, and which at least
  // too near: see confirm.
  const int care = (fars ? 1 : 0) | (nears ? 32 : 0) | (window ? 4 | 64 : 0);
  const int want = (fars ? 1 : 0) | (window ? 64 : 0);
  *s = Foreseen{mid, far_last, near_last, care, want, window, proved};
}

// Measures the three midpoints of a proved foreseen search from (cx, cy);
// true with the accepted point when each is as foretold.
EASEL_WIDE_TARGET inline __attribute__((always_inline)) bool confirm(const NearProofs& n, const ProvedTarget& p,
                                                                    const Foreseen& s, float cx, float cy,
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

// Where the curve sampler's loop stands between samples.
struct CurveWalk {
  float t, t_before, cx, cy;
  double pace;
  int run;
};

// The curve sampler's loop for searches after the 16th sample of a long
// curve, while they prove as foretold. Returns 1 at the curve's end, with
// the leftover; 2 when the buffer is full; 0 at a search that needs the
// general loop, with the walk where it stood.
//
// Each search is foretold before the one ahead of it is measured: the
// measuring and the pace are off the chain from one search to the next, and
// coming after it they do not hold up its steps.
EASEL_WIDE_TARGET int walk_proved(const NearProofs& n, const Hodograph& h, const ProvedTarget& p, float spacing,
                                  CurveWalk* walk, float* leftover) {
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
  Foreseen both[2] = {}, *ahead = &both[0], *next = &both[1];
  const WalkDots* const dots = walk_dots;
  int laid = StrokeSamples.laid;
  if (!ended()) {
    // The window only foretells: the searches are checked as they are, so it
    // is worked out in float.
    foresee(n, p, t, t + p.low * pace, t + p.high * pace, &run, ahead);
    float pace_next = pace_at(h, t + 1.5f * (t - t_before));
    while (ahead->proved) {
      const float from = ahead->mid;
      foresee(n, p, from, from + p.low * pace_next, from + p.high * pace_next, &run, next);
      float qx, qy;
      if (!confirm(n, p, *ahead, cx, cy, &qx, &qy)) break;
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

}  // namespace
#endif

namespace {

// Long curves prove their searches from this sample on (walk_proved).
constexpr int PROVED_FROM = 4;

// The curve sampler's loop; kWide: long curves have their searches foretold.
template <bool kWide>
float sample_curve(float p0x, float p0y, float c1x, float c1y, float c2x, float c2y, float p3x, float p3y,
                   float spacing, float offset, float polygon) {
  float cx = p0x, cy = p0y;
  float t = 0.0f;
  float target = offset;
  CurveClimb climb;
  bool climb_known = false;
  // Negative while searches are short; else the last search's run of
  // too-far midpoints, less one.
  int hint = -1;
#ifdef EASEL_WIDE
  float t_before = 0.0f;
  bool foretold = false;
  double pace_next = 0;
  alignas(16) Foretold told;
  alignas(32) NearProofs near;
  ProvedTarget proved;
  int near_known = -1;
  Hodograph hodograph;
  if (kWide) {
    const float curve[8] = {p0x, p0y, c1x, c1y, c2x, c2y, p3x, p3y};
    hodograph_of(&hodograph, curve);
  }
#endif
  for (;;) {
#ifdef EASEL_WIDE
    if (kWide && near_known < 0 && StrokeSamples.count >= PROVED_FROM) {
      // Long curves keep their searches off this loop while they prove as
      // foretold (walk_proved); this loop takes the ones that do not. The
      // pieces cost about as much as a few dozen searches.
      near_known = polygon > 256 * spacing;
      if (near_known) {
        const float curve[8] = {p0x, p0y, c1x, c1y, c2x, c2y, p3x, p3y};
        near_proofs(&near, curve);
        if (!climb_known) climb = curve_climb(p0x, p0y, c1x, c1y, c2x, c2y, p3x, p3y), climb_known = true;
        proved.too_far = too_far_for(spacing), proved.too_near = too_near_for(spacing);
        proved.need = float_above(climb_need(climb, spacing) * (1 + 0x1p-22));
        proved.low = static_cast<float>(spacing - 0.01), proved.high = static_cast<float>(spacing + 0.01);
        proved.apart = near.apart - 2 * climb.rounding > (spacing + 0.01) * (1 + 1e-6) + 1e-6;
      }
    }
    if (near_known > 0) {
      CurveWalk walk = {t, t_before, cx, cy, pace_next, 0};
      float leftover = 0.0f;
      const int status = walk_proved(near, hodograph, proved, spacing, &walk, &leftover);
      if (status == 1) return leftover;
      if (status == 2) return 0.0f;
      t = walk.t, t_before = walk.t_before, cx = walk.cx, cy = walk.cy, pace_next = walk.pace;
    }
#endif
    double rx = static_cast<double>(p3x) - cx, ry = static_cast<double>(p3y) - cy;
    double rest2 = rx * rx + ry * ry;
    if (rest2 < static_cast<double>(target) * target)
      return static_cast<float>(target - square_root(rest2));
    const float too_far = too_far_for(target), too_near = too_near_for(target);
    auto distance2 = [&](float at, float* px, float* py) {
      *px = static_cast<float>(bezier(at, p0x, c1x, c2x, p3x));
      *py = static_cast<float>(bezier(at, p0y, c1y, c2y, p3y));
      double gx = static_cast<double>(cx) - *px, gy = static_cast<double>(cy) - *py;
      return static_cast<float>(gx * gx + gy * gy);
    };
    float lo = t, hi = 1.0f, mid, qx, qy, g;
    bool found = false, known = false;
#ifdef EASEL_WIDE
    // The next search is foretold from the curve's speed half the last step
    // ahead, which the chord of a step of this length matches closely. On a
    // climbing curve with steps so short that the search ends soon after its
    // run of too-far midpoints, the plain search's proof does better alone.
    const double pace = pace_next;
    foretold = false;
    if (kWide && StrokeSamples.count >= 16) {
      if (!climb_known) climb = curve_climb(p0x, p0y, c1x, c1y, c2x, c2y, p3x, p3y), climb_known = true;
      foretold = !(climb.climb > 0) || pace * target > 2e-4;
    }
    if (foretold) {
      const float curve[8] = {p0x, p0y, c1x, c1y, c2x, c2y, p3x, p3y};
      const int same = search_foretold(&told, curve, cx, cy, too_far, too_near, lo,
                                       static_cast<float>(t + (target - 0.01) * pace),
                                       static_cast<float>(t + (target + 0.01) * pace), climb.climb,
                                       climb_need(climb, target));
      if (same == told.n && told.accepts) {
        found = true;
        mid = told.mid[told.n - 1], qx = told.qx[told.n - 1], qy = told.qy[told.n - 1];
      } else if (same != told.proof) {
        // Go on from the first step that went otherwise, whose values are at hand.
        lo = told.lo[same], hi = told.hi[same];
        if ((known = same < told.n)) mid = told.mid[same], qx = told.qx[same], qy = told.qy[same], g = told.g[same];
      }
    } else
#endif
    if (hint >= 0 && (lo >= 0x1p-27f || lo == 0.0f)) {
      // The search starts by halving towards lo while the midpoints are too
      // far: the midpoint at step k is 2^-(k-1) times float(lo 2^(k-2) + hi
      // 2^(k-2)), and these scaled sums chain with one addition each.
      float step = lo * 0.5f, sum = 0.5f, scale = 1.0f;
      int run = 0;
      if (hint >= 4 && !climb_known) {
        climb = curve_climb(p0x, p0y, c1x, c1y, c2x, c2y, p3x, p3y);
        climb_known = true;
      }
      if (hint >= 4 && climb.climb > 0) {
        // On a climbing curve the first hint midpoints need not be evaluated
        // when the last is too far and the distance grows enough between it
        // and the one before to beat the rounding.
        float before = hi;
        for (run = 0; run < hint; ++run) {
          float scaled = step + sum;
          mid = scaled * scale;
          if (!(mid < hi && mid > lo)) break;
          before = hi;
          hi = mid;
          sum = scaled;
          step = step * 2.0f;
          scale = scale * 0.5f;
        }
        const double need = climb_need(climb, target);
        if (run < hint || !(distance2(hi, &qx, &qy) > too_far) ||
            !(climb.climb * (static_cast<double>(before) - hi) > need)) {
          hi = 1.0f, step = lo * 0.5f, sum = 0.5f, scale = 1.0f;
          run = 0;
        }
      }
      for (; run < 60; ++run) {
        float scaled = step + sum;
        mid = scaled * scale;
        g = distance2(mid, &qx, &qy);
        if (g > too_far && mid != hi && mid != lo) {
          hi = mid;
          sum = scaled;
          step = step * 2.0f;
          scale = scale * 0.5f;
          continue;
        }
        // The search's own steps for this midpoint (below).
        if (g > too_far || g >= too_near || static_cast<double>(hi) - lo < 0.0001)
          found = true;
        else
          lo = mid;
        break;
      }
      hint = run >= 6 ? run - 1 : -1;
    }
    int steps = 0;
    while (!found) {
      if (!known) {
        mid = midpoint(lo, hi);
        g = distance2(mid, &qx, &qy);
      }
      known = false;
      ++steps;
      if (g > too_far) {
        // Once the interval has shrunk to neighbouring floats the midpoint
        // cannot move any more; take it rather than loop for ever.
        if (mid == hi || mid == lo) break;
        hi = mid;
      } else if (g >= too_near) {
        break;
      } else if (static_cast<double>(hi) - lo < 0.0001) {
        break;
      } else {
        lo = mid;
      }
    }
    if (steps >= 8) hint = 0;
    if (StrokeSamples.count >= STROKE_SAMPLES_MAX) return 0.0f;
    push_sample(qx, qy);
#ifdef EASEL_WIDE
    // The speed one search ahead, off the chain from one parameter to the next.
    // (Checked every 16 samples while the plain search's proof serves.)
    if (kWide && StrokeSamples.count >= PROVED_FROM &&
        (foretold || near_known != 0 || StrokeSamples.count % 16 < 2)) {
      pace_next = pace_at(hodograph, t + 1.5f * (t - t_before));
    }
    if (kWide) t_before = t;
#endif
    t = mid;
    cx = qx;
    cy = qy;
    target = spacing;
  }
}

}  // namespace

float sampleCurve(float p0x, float p0y, float c1x, float c1y, float c2x, float c2y,
                  float p3x, float p3y, float spacing, float offset, bool wide) {
  StrokeSamples.count = 0;
  StrokeSamples.laid = 0;
#ifdef EASEL_WIDE
  // Foretelling starts at the 16th sample: a curve whose control polygon is
  // shorter than that many steps never gets there, and the plain loop serves
  // it for less. Either loop gives the same samples.
  const float polygon = std::fabs(c1x - p0x) + std::fabs(c1y - p0y) + std::fabs(c2x - c1x) + std::fabs(c2y - c1y) +
                        std::fabs(p3x - c2x) + std::fabs(p3y - c2y);
  if (wide && polygon > 16 * spacing && wide_available())
    return sample_curve<true>(p0x, p0y, c1x, c1y, c2x, c2y, p3x, p3y, spacing, offset, polygon);
#endif
  (void)wide;
  return sample_curve<false>(p0x, p0y, c1x, c1y, c2x, c2y, p3x, p3y, spacing, offset, 0.0f);
}

namespace {

// The cubic Bezier curve of segment i of a stroke of three points or more:
// P[i], two control points, P[i + 1]. False for a segment drawn straight.
inline __attribute__((always_inline)) bool segment_curve(const int16_t* xs, const int16_t* ys, unsigned n, unsigned i, float c[8]) {
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

}  // namespace

int segmentControls(const int16_t* xs, const int16_t* ys, unsigned n, unsigned i, float c[4]) {
  float curve[8];
  if (n < 3 || i >= n - 1 || !segment_curve(xs, ys, n, i, curve)) return 0;
  for (int k = 0; k < 4; ++k) c[k] = curve[k + 2];
  return 1;
}

EASEL_OUT_OF_LINE float sampleSegment(const int16_t* xs, const int16_t* ys, unsigned n, unsigned i, float spacing,
                                      float offset) {
  StrokeSamples.count = 0;
  StrokeSamples.laid = 0;
  if (n >= 3) {
    if (i >= n - 1) return offset;
    float c[8];
    if (!segment_curve(xs, ys, n, i, c))
      return sample_straight(xs[i], ys[i], xs[i + 1], ys[i + 1], spacing, offset);
    return sampleCurve(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], spacing, offset);
  }
  if (i != 0 || n == 0) return offset;
  if (n == 2) return sample_straight(xs[0], ys[0], xs[1], ys[1], spacing, offset);
  if (offset < 0.0001) {
    push_sample(xs[0], ys[0]);
    return spacing;
  }
  return offset;
}

namespace {

// The curve through the proof below is cut into this many equal parameter pieces.
constexpr int PIECES = 64;

struct Piece {
  Box box;
  double chord;         // from its start to its end: at most its length
  double hx[3], hy[3];  // its derivative's control vectors, up to a factor
};

// Cosine of the widest angle between a direction and the derivative's control
// vectors of two neighbouring pieces; the derivative lies within that cone.
// Rounding in the vectors is allowed for with slack.
double cone_cosine(const Piece& a, const Piece& b, double slack) {
  const Piece* both[2] = {&a, &b};
  double ux = 0, uy = 0;
  for (const Piece* p : both)
    for (int k = 0; k < 3; ++k) {
      double len = std::hypot(p->hx[k], p->hy[k]);
      if (len > 0) ux += p->hx[k] / len, uy += p->hy[k] / len;
    }
  double ulen = std::hypot(ux, uy);
  if (!(ulen > 0.5)) return -1;
  ux /= ulen, uy /= ulen;
  double cosine = 1;
  for (const Piece* p : both)
    for (int k = 0; k < 3; ++k) {
      double len = std::hypot(p->hx[k], p->hy[k]);
      if (len > 0) cosine = std::min(cosine, (ux * p->hx[k] + uy * p->hy[k] - 4 * slack) / (len + 4 * slack));
    }
  return cosine;
}

}  // namespace

// The walk joins samples (float positions near the curve, with parameters in
// increasing order) by steps no longer than step_max below, and ends once one
// is nearer the end than the spacing. With the curve cut into pieces:
// - no two points of pieces two or more apart are within step_max, so a step
//   spans at most two neighbouring pieces;
// - the derivative over any two neighbouring pieces stays within a cone of
//   cosine c, so a step's stretch of curve is at most its length / c.
// Then after k steps at most k * step_max / c of the curve is behind, which
// bounds where the first STROKE_SAMPLES_MAX samples lie; and a curve longer
// than (STROKE_SAMPLES_MAX * step_max + spacing) / c cannot end earlier.
EASEL_OUT_OF_LINE bool segmentMissesPicture(const int16_t* xs, const int16_t* ys, unsigned n, unsigned i,
                                            float spacing, float offset, const StrokeReach& reach) {
  if (!std::isfinite(reach.reach) || n < 3 || i >= n - 1) return false;
  if (!(spacing > 0 && offset >= 0 && offset <= spacing)) return false;
  float f[8];
  if (!segment_curve(xs, ys, n, i, f)) return false;
  const Cubic curve = {{f[0], f[2], f[4], f[6]}, {f[1], f[3], f[5], f[7]}};
  const double cap = STROKE_SAMPLES_MAX;
  // The control polygon is at least as long as the curve.
  double polygon = 0, fastest = 0;
  for (int k = 0; k < 3; ++k) {
    double side = std::hypot(curve.x[k + 1] - curve.x[k], curve.y[k + 1] - curve.y[k]);
    polygon += side;
    fastest = std::max(fastest, 3 * side);
  }
  if (!(polygon > cap * spacing)) return false;
  const double largest = largest_coordinate(curve);
  // A sample is off its exact curve point by float rounding (rounding); a
  // step exceeds its target by the search's tolerance, the rounding of the
  // distance compared, and, when the search runs out of float parameters, the
  // curve's travel over one parameter step.
  const double rounding = largest * 1.2e-7 + 1e-6;
  const double step_max = (spacing + 0.01) * (1 + 1e-6) + fastest * 1.2e-7 + 4 * rounding;
  const double slack = largest * 1e-9 + 1e-9;

  Piece pieces[PIECES];
  for (int j = 0; j < PIECES; ++j) {
    const Cubic piece = curve_part(curve, j, j + 1, PIECES);
    Piece& p = pieces[j];
    p.box = control_box(piece, slack);
    p.chord = std::hypot(piece.x[3] - piece.x[0], piece.y[3] - piece.y[0]) - 2 * slack;
    for (int k = 0; k < 3; ++k) p.hx[k] = piece.x[k + 1] - piece.x[k], p.hy[k] = piece.y[k + 1] - piece.y[k];
  }
  double cosine = 1;
  for (int j = 0; j + 1 < PIECES; ++j) cosine = std::min(cosine, cone_cosine(pieces[j], pieces[j + 1], slack));
  if (!(cosine > 0.5)) return false;
  for (int j = 0; j < PIECES; ++j)
    for (int k = j + 2; k < PIECES; ++k)
      if (!(box_gap2(pieces[j].box, pieces[k].box) > step_max * step_max)) return false;
  double length = 0;
  for (const Piece& p : pieces) length += std::max(0.0, p.chord);
  if (!(length * cosine > (cap * step_max + spacing) * (1 + 1e-6) + 1e-3)) return false;
  // The samples lie on the pieces before the curve's length behind exceeds this.
  const double behind = cap * step_max / cosine * (1 + 1e-6) + 1e-3;
  const double left = -reach.reach - rounding, top = left;
  const double right = reach.w + static_cast<double>(reach.reach) + rounding;
  const double bottom = reach.h + static_cast<double>(reach.reach) + rounding;
  double along = 0;
  for (const Piece& p : pieces) {
    if (!(p.box.max_x < left || p.box.min_x > right || p.box.max_y < top || p.box.min_y > bottom)) return false;
    along += std::max(0.0, p.chord);
    if (along > behind) break;
  }
  return true;
}

void splatPoint(Image* image, float x, float y, float r, float g, float b, float weight) {
  if (!splat_fits(image, x, y)) return;
  float x0 = std::floor(x), y0 = std::floor(y);
  float fx = x - x0, fy = y - y0;
  int ix = static_cast<int>(x0), iy = static_cast<int>(y0);
  uint32_t* top = image_row(image, iy) + ix;
  uint32_t* bottom = image_row(image, iy + 1) + ix;
#ifdef __SSE2__
  if (packed_layout()) {
    splat_rows_packed(top, bottom, fx, fy, packed_ink(r, g, b), weight);
    return;
  }
#endif
  splat_rows(top, bottom, fx, fy, r, g, b, weight);
}

void drawPen(Image* image, float r, float g, float b, const int16_t* xs, const int16_t* ys, int n) {
  log_write(LOG_DEBUG, "drawPen invoked with %d points.", n);
  if (!image) return;
  paint_with_deposit(image, [&](const auto& out) {
    const auto ink = out.ink(r, g, b);
#ifdef EASEL_WIDE
    WalkDots dots;
    if constexpr (std::is_same<typename std::decay<decltype(out)>::type, WideDeposit>::value) {
      dots = WalkDots{out.image, ink, splat_limit(out.image->w), splat_limit(out.image->h)};
      walk_dots = &dots;
    }
#endif
    // A dot touches the pixels within one of its place.
    walkStroke(xs, ys, n, 1.0f, StrokeReach{image->w, image->h, 2.0f}, [&](float x, float y) { out.splat(x, y, ink, 1.0f); },
               [](int) {});
#ifdef EASEL_WIDE
    walk_dots = nullptr;
#endif
  });
}

namespace {

int16_t to_int16(double v) {
  if (v < -32768.0) return -32768;
  if (v > 32767.0) return 32767;
  return static_cast<int16_t>(v);
}

}  // namespace

float drawStrokePreview(Image* target, float r, float g, float b, const int16_t* xs,
                        const int16_t* ys, unsigned n, unsigned first, unsigned end, float offset,
                        DirtyRect* rect) {
  // The whole-number origin the picture is shown at: a half-pixel offset on an
  // odd margin would paint one column or row past the rectangle restored.
  float xoff = static_cast<float>((target->w - CANVAS_WIDTH) / 2);
  float yoff = static_cast<float>((target->h - CANVAS_HEIGHT) / 2);
  bool bounded = false;
  int16_t min_x = 0, min_y = 0, max_x = 0, max_y = 0;
  for (unsigned i = first; i < end; ++i) {
    float leftover = sampleSegment(xs, ys, n, i, 1.0f, offset);
    for (int k = 0; k < StrokeSamples.count; ++k) {
      float sx = StrokeSamples.x[k], sy = StrokeSamples.y[k];
      if (sx >= 0 && sy >= 0 && sx < CANVAS_WIDTH - 1 && sy < CANVAS_HEIGHT - 1)
        splatPoint(target, static_cast<float>(static_cast<double>(sx) + xoff),
                   static_cast<float>(static_cast<double>(sy) + yoff), r, g, b, 1.0f);
      // A sample that is not a number (zero-length segment) marks nothing.
      if (rect && !std::isnan(sx) && !std::isnan(sy)) {
        int16_t lx = to_int16(std::floor(sx)), ly = to_int16(std::floor(sy));
        int16_t hx = to_int16(std::ceil(sx)), hy = to_int16(std::ceil(sy));
        if (!bounded) {
          min_x = lx, min_y = ly, max_x = hx, max_y = hy;
          bounded = true;
        } else {
          if (lx < min_x) min_x = lx;
          if (ly < min_y) min_y = ly;
          if (hx > max_x) max_x = hx;
          if (hy > max_y) max_y = hy;
        }
      }
    }
    offset = leftover;
  }
  if (rect) {
    if (!bounded) {
      // No sample: an empty rectangle, which adds nothing to the dirty list.
      *rect = DirtyRect{0, 0, 0, 0};
    } else {
      rect->x = to_int16(std::trunc(min_x + static_cast<double>(xoff)));
      rect->y = to_int16(std::trunc(min_y + static_cast<double>(yoff)));
      rect->w = to_int16(static_cast<double>(max_x) - min_x + 1);
      rect->h = to_int16(static_cast<double>(max_y) - min_y + 1);
      clip_dirty_rect(rect);
    }
  }
  return offset;
}
