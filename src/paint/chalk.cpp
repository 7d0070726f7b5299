#include "paint/chalk.h"

#include "base/log.h"
#include "paint/disc.h"
#include "paint/grain.h"
#include "paint/stroke.h"

namespace {

constexpr double CHALK_SHADES = 30;

struct ChalkDisc {
  GrainOffset at;
  float shade, radius;
  double area2;  // its area squared
};

// The disc of a grain at distance dist whose radius draw is d.
inline void chalk_radius(ChalkDisc* disc, float size, uint32_t d) {
  float radius = static_cast<float>((d * (0.4 / 4294967295.0) + 0.2) * (static_cast<double>(size) - disc->at.dist));
  if (radius < 0.2f) radius = 0.2f;
  double area = 3.141592653589793 * (static_cast<double>(radius) * radius);
  disc->radius = radius;
  disc->area2 = area * area;
}

// disc() gives each disc in turn; known(paint) how many discs the next sample
// lays when that is known ahead, else 0, and takes them when it paints none.
template <class NextDisc, class Known>
void chalk_discs(BITMAP* bmp, float r, float g, float b, float size, const int16_t* xs, const int16_t* ys, int n,
                 bool wide, double budget, const NextDisc& disc, const Known& known) {
  auto lay = [&](float x, float y, bool paint, const ChalkDisc& d) {
    if (!paint) return;
    Shade c = shade_colour(r, g, b, d.shade);
    softDisc(bmp, static_cast<float>(static_cast<double>(x) + d.at.dx),
             static_cast<float>(static_cast<double>(y) + d.at.dy), c.r, c.g, c.b, 0.5f, d.radius, wide);
  };
  // Off the picture a sample takes its draws and paints nothing.
  auto sample = [&](float x, float y, bool paint) {
    if (const int count = known(paint)) {
      if (paint)
        for (int k = 0; k < count; ++k) lay(x, y, paint, disc());
      return;
    }
    double total = 0.0;
    do {
      const ChalkDisc d = disc();
      lay(x, y, paint, d);
      total = static_cast<float>(total + d.area2);
    } while (!(total > budget));
  };
  // A disc lies within its radius (0.6 of the size at most) of a grain, and a
  // grain within the size of its sample.
  const StrokeReach reach{bmp->w, bmp->h, 2 * size + 2};
  walkStroke(
      xs, ys, n, 1.0f, reach, [&](float x, float y) { sample(x, y, !sampleOffPicture(reach, x, y)); },
      [&](int count) {
        for (int k = 0; k < count; ++k) sample(0, 0, false);
      });
}

#ifdef EASEL_WIDE
// The discs of the grains found ahead, four side by side (every lane does
// chalk_radius's operations in their order), and for a sample starting at
// each disc how many discs it lays: the sum for a start is run for STEPS discs
// in each lane; 0 when that does not reach the budget within the discs found.
struct DiscsAhead {
  static constexpr int STEPS = 8, PAD = 32;
  GrainsAhead grains;
  alignas(32) float radius[GrainsAhead::MOST + PAD];
  alignas(32) double area2[GrainsAhead::MOST + PAD];
  alignas(16) int32_t discs[GrainsAhead::MOST + PAD];
};

EASEL_WIDE_TARGET void read_discs(DiscsAhead* a, float size, double limit, double budget) {
  GrainsAhead& g = a->grains;
  read_ahead(&g, size, limit, 4);
  const __m256d sized = _mm256_set1_pd(size), pi = _mm256_set1_pd(3.141592653589793);
  const __m256d spread = _mm256_set1_pd(0.4 / 4294967295.0), least = _mm256_set1_pd(0.2);
  for (int k = 0; k < g.grains; k += 4) {
    const __m128i at = _mm_load_si128(reinterpret_cast<const __m128i*>(g.start + k));
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
  for (int k = g.grains; k < g.grains + DiscsAhead::PAD; ++k) a->area2[k] = 0.0;
  // Four groups of four sums side by side: each sum waits on its last rounding.
  const __m256d most = _mm256_set1_pd(budget);
  for (int k = 0; k < g.grains; k += 16) {
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
#endif

}  // namespace

void drawChalk(BITMAP* bmp, float r, float g, float b, float size, const int16_t* xs, const int16_t* ys, int n,
               bool wide) {
  log_write(LOG_DEBUG, "drawChalk invoked with %d points.", n);
  if (!bmp) return;
  size = clamp_setting(size, 1.5f, 12.0f);
  const double limit = grain_limit(size);
  // Each sample scatters discs until the sum of their squared areas exceeds this.
  const double budget = static_cast<float>(static_cast<double>(size) * size) * 4.71238898038469;
  auto plain = [&] {
    ChalkDisc d;
    d.at = grain_offset(size, limit);
    d.shade = draw_shade(CHALK_SHADES);
    chalk_radius(&d, size, nextRandom());
    return d;
  };
#ifdef EASEL_WIDE
  if (wide && wide_available()) {
    DiscsAhead ahead;
    GrainsAhead& grains = ahead.grains;
    read_discs(&ahead, size, limit, budget);
    auto disc = [&] {
      const int k = grains.taken, at = take_grain(&grains, 4);
      if (at < 0) {
        settle(&grains);
        const ChalkDisc d = plain();
        read_discs(&ahead, size, limit, budget);
        return d;
      }
      return ChalkDisc{{grains.offset[at], grains.offset[at + 1], 0.0f}, shade_of(grains.copy[at + 2], CHALK_SHADES),
                       ahead.radius[k], ahead.area2[k]};
    };
    chalk_discs(bmp, r, g, b, size, xs, ys, n, wide, budget, disc, [&](bool paint) {
      const int count = grains.taken < grains.grains ? ahead.discs[grains.taken] : 0;
      if (count && !paint) take_grains(&grains, count, 4);
      return count;
    });
    settle(&grains);
    return;
  }
#endif
  chalk_discs(bmp, r, g, b, size, xs, ys, n, wide, budget, plain, [](bool) { return 0; });
}
