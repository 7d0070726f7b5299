// The chalk's discs: one as the plain way draws it, and those found ahead
// with AVX2 (the grains in the draws the stream has ready, their radii and
// how many discs each sample lays), taken in the same order.
#pragma once
#include "paint/grain_ahead.h"

// One disc of chalk: its grain, shade and radius, and its area squared.
struct ChalkDisc {
  GrainOffset at;
  float shade, radius;
  double area2;
};

// The disc of a grain at distance dist whose radius draw is d.
inline void chalk_radius(ChalkDisc* disc, float size, uint32_t d) {
  float radius = static_cast<float>((d * (0.4 / 4294967295.0) + 0.2) * (static_cast<double>(size) - disc->at.dist));
  if (radius < 0.2f) radius = 0.2f;
  double area = 3.141592653589793 * (static_cast<double>(radius) * radius);
  disc->radius = radius;
  disc->area2 = area * area;
}

#ifdef EASEL_WIDE
// The discs found in the draws read ahead, four side by side (every lane does
// chalk_radius's operations in their order), and for a sample starting at
// each disc how many discs it lays: the sum for a start is run for STEPS discs
// in each lane; 0 when that does not reach the budget within the discs found.
struct DiscsAhead {
  static constexpr int MOST = GrainsAhead::MAX / 4, STEPS = 8, PAD = 32;
  GrainsAhead draws;
  int found, taken;
  alignas(16) int32_t start[MOST + PAD];  // each disc's accepted attempt, zero past found
  alignas(32) float radius[MOST + PAD];
  alignas(32) double area2[MOST + PAD];
  alignas(16) int32_t discs[MOST + PAD];
};

// The discs' accepted attempts. A disc takes four draws and the first starts
// at an even one, so every attempt is at an even draw: a disc takes the first
// accepted attempt at least two attempts after the last disc's. Within a run
// of accepted attempts that is every other one from the run's first.
EASEL_WIDE_TARGET inline void find_discs(DiscsAhead* a, double limit) {
  const GrainsAhead& g = a->draws;
  const uint64_t even = 0x5555555555555555u;
  const __m256d lim = _mm256_set1_pd(limit);
  const int last = (g.count - 4) / 2;  // the last attempt whose disc's draws are all ready
  uint64_t carried = 0;  // whether the last attempt of the word before was taken
  a->found = a->taken = 0;
  for (int w = 0; g.count >= 4 && w * 64 <= last; ++w) {
    uint64_t accepted = 0;
    for (int j = 0; j < 64 && 2 * (w * 64 + j) < g.count; j += 4) {
      const int i = 2 * (w * 64 + j);
      const __m128 lo = _mm_load_ps(g.offset + i), hi = _mm_load_ps(g.offset + i + 4);
      const __m128 dx = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
      accepted |= accepted4(dx, _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1)), lim) << j;
    }
    accepted &= ~carried;
    const uint64_t firsts = accepted & ~(accepted << 1);
    const uint64_t even_runs = accepted & ~(accepted + (firsts & even));  // the carry clears those runs
    uint64_t taken = (even_runs & even) | (accepted & ~even_runs & ~even);
    carried = taken >> 63;
    if (last - w * 64 < 63) taken &= ~(~uint64_t{0} << (last - w * 64 + 1));
    for (; taken; taken &= taken - 1) a->start[a->found++] = 2 * (w * 64 + __builtin_ctzll(taken));
  }
  std::memset(a->start + a->found, 0, DiscsAhead::PAD * sizeof *a->start);
}

EASEL_WIDE_TARGET inline void read_discs(DiscsAhead* a, float size, double limit, double budget) {
  const GrainsAhead& g = a->draws;
  read_offsets(&a->draws, size);
  find_discs(a, limit);
  const __m256d sized = _mm256_set1_pd(size), pi = _mm256_set1_pd(3.141592653589793);
  const __m256d spread = _mm256_set1_pd(0.4 / 4294967295.0), least = _mm256_set1_pd(0.2);
  for (int k = 0; k < a->found; k += 4) {
    const __m128i at = _mm_load_si128(reinterpret_cast<const __m128i*>(a->start + k));
    const __m256d dx = _mm256_cvtps_pd(_mm_i32gather_ps(g.offset, at, 4));
    const __m256d dy = _mm256_cvtps_pd(_mm_i32gather_ps(g.offset + 1, at, 4));
    const __m256d dist = _mm256_cvtps_pd(
        _mm256_cvtpd_ps(_mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy)))));
    const __m128i draw = _mm_i32gather_epi32(reinterpret_cast<const int*>(g.copy + 3), at, 4);
    const __m256d share = _mm256_add_pd(_mm256_mul_pd(wide_draws(draw), spread), least);
    __m128 r = _mm256_cvtpd_ps(_mm256_mul_pd(share, _mm256_sub_pd(sized, dist)));
    r = _mm_blendv_ps(r, _mm_set1_ps(0.2f), _mm_cmplt_ps(r, _mm_set1_ps(0.2f)));
    _mm_store_ps(a->radius + k, r);
    const __m256d rd = _mm256_cvtps_pd(r), area = _mm256_mul_pd(pi, _mm256_mul_pd(rd, rd));
    _mm256_store_pd(a->area2 + k, _mm256_mul_pd(area, area));
  }
  // Past the discs found nothing is added, so no sum running there ends.
  for (int k = a->found; k < a->found + DiscsAhead::PAD; ++k) a->area2[k] = 0.0;
  // Four groups of four sums side by side: each sum waits on its last rounding.
  const __m256d most = _mm256_set1_pd(budget);
  for (int k = 0; k < a->found; k += 16) {
    __m256d total[4], ended[4], discs[4];
    for (int j = 0; j < 4; ++j) total[j] = ended[j] = discs[j] = _mm256_setzero_pd();
#pragma GCC unroll 8
    for (int step = 0; step < DiscsAhead::STEPS; ++step) {
      const __m256d count = _mm256_set1_pd(step + 1);
#pragma GCC unroll 4
      for (int j = 0; j < 4; ++j) {
        total[j] = _mm256_add_pd(total[j], _mm256_loadu_pd(a->area2 + k + 4 * j + step));
        total[j] = _mm256_cvtps_pd(_mm256_cvtpd_ps(total[j]));
        const __m256d over = _mm256_cmp_pd(total[j], most, _CMP_GT_OQ);
        discs[j] = _mm256_blendv_pd(discs[j], count, _mm256_andnot_pd(ended[j], over));
        ended[j] = _mm256_or_pd(ended[j], over);
      }
    }
    for (int j = 0; j < 4; ++j)
      _mm_store_si128(reinterpret_cast<__m128i*>(a->discs + k + 4 * j), _mm256_cvttpd_epi32(discs[j]));
  }
}

// The next disc from the discs found ahead. Past them plain() draws it the
// plain way, and the discs after it are found ahead.
template <class Plain>
inline ChalkDisc next_disc(DiscsAhead* a, float size, double limit, double budget, double shades, const Plain& plain) {
  GrainsAhead& draws = a->draws;
  if (a->taken == a->found) {
    settle(&draws);
    const ChalkDisc d = plain();
    read_discs(a, size, limit, budget);
    return d;
  }
  const int k = a->taken++, at = a->start[k];
  draws.used = at + 4;
  return ChalkDisc{{draws.offset[at], draws.offset[at + 1], 0.0f}, shade_of(draws.copy[at + 2], shades), a->radius[k],
                   a->area2[k]};
}

// How many discs the next sample lays when that is known ahead, else 0; a
// sample that paints none takes them at once.
inline int discs_known(DiscsAhead* a, bool paint) {
  const int count = a->taken < a->found ? a->discs[a->taken] : 0;
  if (count && !paint) {
    a->taken += count;
    a->draws.used = a->start[a->taken - 1] + 4;
  }
  return count;
}
#endif
