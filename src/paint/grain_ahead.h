// The grains of a stroke found ahead with AVX2, for pencil and chalk.
#pragma once
#include "paint/grain.h"
#include "paint/splat_wide.h"

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

// The next grain's place and its shade of `shades` from the draws read ahead.
// Past them plain(at, shade) draws it the plain way, and the draws after it
// are read ahead.
template <class Plain>
inline void next_grain(GrainsAhead* a, float size, double limit, double shades, const Plain& plain, GrainOffset* at,
                       float* shade) {
  const int k = take_grain(a, 3);
  if (k >= 0) {
    *at = GrainOffset{a->offset[k], a->offset[k + 1], 0.0f};
    *shade = shade_of(a->copy[k + 2], shades);
    return;
  }
  settle(a);
  plain(at, shade);
  read_ahead(a, size, limit);
}
#endif
