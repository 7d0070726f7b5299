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
// at 0 when darkened.
inline Shade shade_colour(float r, float g, float b, float shade) {
  Shade c = {static_cast<float>(static_cast<double>(r) + shade), static_cast<float>(static_cast<double>(g) + shade),
             static_cast<float>(static_cast<double>(b) + shade)};
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
}

// A grain's shade: one draw gives a shade in -width / 2 .. width / 2 (the
// draw times the one constant width / 4294967295, less width / 2).
inline float shade_of(uint32_t draw, double width) {
  return static_cast<float>(draw * (width / 4294967295.0) - width * 0.5);
}
inline float draw_shade(double width) { return shade_of(nextRandom(), width); }

#ifdef EASEL_WIDE
// A stroke's grains found in the draws the stream has ready, many attempts
// side by side with AVX2: each ready draw as an offset along an axis, whether
// an attempt starting at each draw is accepted, and from that where each grain
// starts when a grain takes need draws from its accepted attempt on. Grains
// are then taken in order, each consuming exactly the draws the plain way
// would; one that needs draws past the ready ones takes the plain way (after
// settle()).
struct GrainsAhead {
  static constexpr int MAX = RANDOM_READY_MAX, PAD = 8, MOST = MAX / 3;
  const uint32_t* draws;
  int count, used;  // draws ready when read, and taken of them
  int grains, taken;  // grains found, and taken of them
  alignas(32) uint32_t copy[MAX + PAD];  // the draws, zero past count
  alignas(32) float offset[MAX + PAD];
  uint64_t accepted[MAX / 64 + 2];  // bit i: the attempt at draw i lies within the size
  alignas(16) int32_t start[MOST + PAD];  // each grain's accepted attempt, zero past grains
};

// Four draws from d on as doubles, exactly (AVX2 converts only signed words).
EASEL_WIDE_TARGET inline __m256d wide_draws(__m128i raw) {
  return _mm256_add_pd(_mm256_cvtepi32_pd(_mm_xor_si128(raw, _mm_set1_epi32(INT32_MIN))),
                       _mm256_set1_pd(2147483648.0));
}

// The acceptance bits from draw from on.
inline uint64_t accepted_from(const GrainsAhead& a, int from) {
  const int w = from / 64, b = from % 64;
  return b ? a.accepted[w] >> b | a.accepted[w + 1] << (64 - b) : a.accepted[w];
}

// Reads the ready draws and finds the grains of need draws each in them; every
// lane does grain_offset's operations in their order.
EASEL_WIDE_TARGET inline void read_ahead(GrainsAhead* a, float size, double limit, int need) {
  a->count = static_cast<int>(random_ready(&a->draws));
  a->used = a->grains = a->taken = 0;
  if (a->count) std::memcpy(a->copy, a->draws, a->count * sizeof *a->copy);
  std::memset(a->copy + a->count, 0, GrainsAhead::PAD * sizeof *a->copy);
  std::memset(a->accepted, 0, sizeof a->accepted);
  const int n = (a->count + 3) & ~3;
  const __m256d unit = _mm256_set1_pd(RANDOM_UNIT), half = _mm256_set1_pd(0.5), sized = _mm256_set1_pd(size);
  for (int i = 0; i < n; i += 4) {
    const __m256d d = wide_draws(_mm_load_si128(reinterpret_cast<const __m128i*>(a->copy + i)));
    const __m256d o = _mm256_mul_pd(_mm256_sub_pd(_mm256_mul_pd(d, unit), half), sized);
    _mm_store_ps(a->offset + i, _mm256_cvtpd_ps(_mm256_mul_pd(o, _mm256_set1_pd(2.0))));
  }
  a->offset[n] = 0.0f;
  const __m256d lim = _mm256_set1_pd(limit);
  for (int w = 0; w * 64 < n; ++w) {
    uint64_t bits = 0;  // a word kept in a register: or-ing into memory would wait on the last store
    for (int i = w * 64; i < n && i < w * 64 + 64; i += 4) {
      const __m256d dx = _mm256_cvtps_pd(_mm_load_ps(a->offset + i));
      const __m256d dy = _mm256_cvtps_pd(_mm_loadu_ps(a->offset + i + 1));
      const __m256d q = _mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy));
      bits |= uint64_t{static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(q, lim, _CMP_NGT_UQ)))} << (i % 64);
    }
    a->accepted[w] = bits;
  }
  // The next grain's attempt is the first accepted one from its first draw
  // on, in steps of two; the bits from base on stay in a register.
  const uint64_t every_other = 0x5555555555555555u;
  int from = 0, base = 0;
  uint64_t window = a->accepted[0];
  while (from < a->count) {
    int rel = from - base;
    if (rel > 32) {
      base = from, rel = 0;
      window = accepted_from(*a, from);
    }
    const uint64_t candidates = window >> rel & every_other;
    if (!candidates) {
      from += (65 - rel) & ~1;
      base = from;
      if (from < a->count) window = accepted_from(*a, from);
      continue;
    }
    const int at = from + __builtin_ctzll(candidates);
    if (at + need > a->count) break;
    a->start[a->grains++] = at;
    from = at + need;
  }
  std::memset(a->start + a->grains, 0, GrainsAhead::PAD * sizeof *a->start);
}

// The first draw of the next grain's accepted attempt, taking the grain's
// draws; -1 when the grain must take the plain way.
inline int take_grain(GrainsAhead* a, int need) {
  if (a->taken == a->grains) return -1;
  const int at = a->start[a->taken++];
  a->used = at + need;
  return at;
}

// take_grain count times, for grains that are all found.
inline void take_grains(GrainsAhead* a, int count, int need) {
  a->taken += count;
  a->used = a->start[a->taken - 1] + need;
}

// The draws taken handed back to the stream, before the plain way draws.
inline void settle(GrainsAhead* a) {
  random_take_ready(a->used);
  a->used = a->count = a->grains = a->taken = 0;
}
#endif
