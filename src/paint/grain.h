// Pieces shared by the renderers that scatter grain (pencil and chalk).
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>

#include "paint/random.h"
#include "paint/splat_wide.h"
#include "paint/square_root.h"

// Below the lower bound: the lower bound (also for a value that is not a
// number); above the upper bound: the upper bound.
inline float clamp_setting(float v, float lo, float hi) {
  if (!(v >= lo)) return lo;
  if (v > hi) return hi;
  return v;
}

struct GrainOffset {
  float dx, dy, dist;
};

// A point at squared distance q is rejected when float(square_root(q)) >
// size, which is monotone in q: exactly when q is above this limit, found by
// bisection over the ordered bit patterns of non-negative doubles.
inline double grain_limit(float size) {
  double top = (size + 1.0) * (size + 1.0), q;
  uint64_t lo = 0, hi;
  std::memcpy(&hi, &top, sizeof hi);
  while (hi - lo > 1) {
    uint64_t mid = lo + (hi - lo) / 2;
    std::memcpy(&q, &mid, sizeof q);
    if (static_cast<float>(square_root(q)) > size) hi = mid; else lo = mid;
  }
  std::memcpy(&q, &lo, sizeof q);
  return q;
}

inline double grain_square(const GrainOffset& o) {
  return static_cast<double>(o.dx) * o.dx + static_cast<double>(o.dy) * o.dy;
}

// A random point in the circle of radius size, by rejection: two draws per
// attempt. Limit is grain_limit(size); the distance is only worked out (one
// square root) when asked for.
template <bool WithDistance = true>
inline GrainOffset grain_offset(float size, double limit) {
  for (;;) {
    GrainOffset o;
    o.dx = static_cast<float>((random_unit(nextRandom()) - 0.5) * size * 2);
    o.dy = static_cast<float>((random_unit(nextRandom()) - 0.5) * size * 2);
    double q = grain_square(o);
    if (q > limit) continue;
    o.dist = WithDistance ? static_cast<float>(square_root(q)) : 0.0f;
    return o;
  }
}

struct Shade {
  float r, g, b;
};

// The colour moved by shade on every channel, cut at 255 when lightened and
// at 0 when darkened. The shade's sign is random: with SSE2 both cuts are made
// and one is chosen by a mask, where a branch would miss half the time.
inline Shade shade_colour(float r, float g, float b, float shade) {
  Shade c = {static_cast<float>(static_cast<double>(r) + shade), static_cast<float>(static_cast<double>(g) + shade),
             static_cast<float>(static_cast<double>(b) + shade)};
#ifdef __SSE2__
  const __m128 v = _mm_setr_ps(c.r, c.g, c.b, 0.0f), lightened = _mm_cmpgt_ps(_mm_set1_ps(shade), _mm_setzero_ps());
  // min_ps(a, b) is a < b ? a : b, and max_ps(a, b) a > b ? a : b, as the plain cuts compare.
  const __m128 high = _mm_min_ps(_mm_set1_ps(255.0f), v), low = _mm_max_ps(_mm_setzero_ps(), v);
  alignas(16) float cut[4];
  _mm_store_ps(cut, _mm_or_ps(_mm_and_ps(lightened, high), _mm_andnot_ps(lightened, low)));
  return Shade{cut[0], cut[1], cut[2]};
#else
  if (shade > 0) {
    if (c.r > 255) c.r = 255;
    if (c.g > 255) c.g = 255;
    if (c.b > 255) c.b = 255;
  } else {
    if (c.r < 0) c.r = 0;
    if (c.g < 0) c.g = 0;
    if (c.b < 0) c.b = 0;
  }
  return c;
#endif
}

// A grain's shade: one draw gives a shade in -width / 2 .. width / 2 (the
// draw times the one constant width / 4294967295, less width / 2).
inline float shade_of(uint32_t draw, double width) {
  return static_cast<float>(draw * (width / 4294967295.0) - width * 0.5);
}
inline float draw_shade(double width) { return shade_of(nextRandom(), width); }

#ifdef EASEL_WIDE
// A stroke's grains found in the draws the stream has ready, many attempts
// side by side with AVX2: each ready draw as an offset along an axis and
// whether an attempt starting at each draw is accepted. Grains are then taken
// in order, each consuming exactly the draws the plain way would; one that
// needs draws past the ready ones takes the plain way (after settle()).
struct GrainsAhead {
  static constexpr int MAX = RANDOM_READY_MAX, PAD = 8;
  const uint32_t* draws;
  int count, used;  // draws ready when read, and taken of them
  alignas(32) uint32_t copy[MAX + PAD];  // the draws, zero past count
  alignas(32) float offset[MAX + PAD];
  uint64_t accepted[MAX / 64 + 2];  // bit i: the attempt at draw i lies within the size
  uint64_t window;  // the bits from draw base on, for the search for the next grain
  int base;
};

// Reads the ready draws and each one's offset, as grain_offset works it out,
// zero from a multiple of four past count for eight more.
EASEL_WIDE_TARGET inline void read_offsets(GrainsAhead* a, float size) {
  a->count = static_cast<int>(random_ready(&a->draws));
  a->used = 0;
  if (a->count) std::memcpy(a->copy, a->draws, a->count * sizeof *a->copy);
  std::memset(a->copy + a->count, 0, GrainsAhead::PAD * sizeof *a->copy);
  const __m256d unit = _mm256_set1_pd(RANDOM_UNIT), half = _mm256_set1_pd(0.5), sized = _mm256_set1_pd(size);
  const int n = (a->count + 3) & ~3;
  for (int i = 0; i < n; i += 4) {
    const __m256d d = wide_draws(_mm_load_si128(reinterpret_cast<const __m128i*>(a->copy + i)));
    const __m256d o = _mm256_mul_pd(_mm256_sub_pd(_mm256_mul_pd(d, unit), half), sized);
    _mm_store_ps(a->offset + i, _mm256_cvtpd_ps(_mm256_mul_pd(o, _mm256_set1_pd(2.0))));
  }
  std::memset(a->offset + n, 0, GrainsAhead::PAD * sizeof *a->offset);
}

// Whether the attempts at draws i .. i + 3 are accepted, as bits.
EASEL_WIDE_TARGET inline uint64_t accepted4(__m128 dx, __m128 dy, __m256d limit) {
  const __m256d x = _mm256_cvtps_pd(dx), y = _mm256_cvtps_pd(dy);
  const __m256d q = _mm256_add_pd(_mm256_mul_pd(x, x), _mm256_mul_pd(y, y));
  return static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(q, limit, _CMP_NGT_UQ)));
}

// The acceptance bits from draw from on.
inline uint64_t accepted_from(const GrainsAhead& a, int from) {
  const int w = from / 64, b = from % 64;
  return b ? a.accepted[w] >> b | a.accepted[w + 1] << (64 - b) : a.accepted[w];
}

// Reads the ready draws and whether an attempt is accepted at each.
EASEL_WIDE_TARGET inline void read_ahead(GrainsAhead* a, float size, double limit) {
  read_offsets(a, size);
  const __m256d lim = _mm256_set1_pd(limit);
  std::memset(a->accepted, 0, sizeof a->accepted);
  for (int w = 0; w * 64 < a->count; ++w) {
    uint64_t bits = 0;  // a word kept in a register: or-ing into memory would wait on the last store
    for (int i = w * 64; i < a->count && i < w * 64 + 64; i += 4)
      bits |= accepted4(_mm_load_ps(a->offset + i), _mm_loadu_ps(a->offset + i + 1), lim) << (i % 64);
    a->accepted[w] = bits;
  }
  a->base = 0;
  a->window = a->accepted[0];
}

// The first draw of the next grain, whose accepted attempt is the first from
// draw used on in steps of two, taking its need draws; -1 when they are not
// all ready and the grain must take the plain way.
inline int take_grain(GrainsAhead* a, int need) {
  for (int from = a->used;;) {
    int rel = from - a->base;
    if (rel > 32) {
      a->base = from, rel = 0;
      a->window = accepted_from(*a, from);
    }
    const uint64_t candidates = a->window >> rel & 0x5555555555555555u;
    if (candidates) {
      const int at = from + __builtin_ctzll(candidates);
      if (at + need > a->count) return -1;
      a->used = at + need;
      return at;
    }
    from += (65 - rel) & ~1;
    if (from >= a->count) return -1;
    a->base = from;
    a->window = accepted_from(*a, from);
  }
}

// The draws taken handed back to the stream, before the plain way draws.
inline void settle(GrainsAhead* a) {
  random_take_ready(a->used);
  a->used = a->count = 0;
}
#endif
