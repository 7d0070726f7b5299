// The paper's dots with AVX2: a step's four places, both dots' cells and
// their eight coverages from one set of lanes.
#pragma once
#include "paint/deposit.h"
#include "paint/paper_dots.h"
#include "paint/splat_wide.h"

#ifdef EASEL_WIDE
namespace paper {

// With AVX2 a step's four places, both dots' cells and their eight coverages
// come from one set of lanes, each lane doing the plain double operations in
// their order and rounding where they round; only the blends are left per dot.
template <>
struct PaperDots<WideDeposit> {
  struct Item {
    Step at;
    int ix[2], iy[2];
    bool on[2];
    __m128 covs[2];
  };
  EASEL_WIDE_TARGET static Item place(const WideDeposit& out, float x, float y, const uint32_t* d, const Offsets& o,
                                      float weight1, float weight2) {
    // Unsigned draws to doubles, exactly: the top bit flipped, converted signed, 2^31 added back.
    __m128i draws = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(d)), _mm_set1_epi32(INT32_MIN));
    __m256d u = _mm256_add_pd(_mm256_cvtepi32_pd(draws), _mm256_set1_pd(2147483648.0));
    __m256d j = _mm256_mul_pd(_mm256_sub_pd(_mm256_mul_pd(u, _mm256_set1_pd(RANDOM_UNIT)), _mm256_set1_pd(0.5)),
                              _mm256_set1_pd(1.4));
    j = _mm256_add_pd(_mm256_add_pd(j, _mm256_set_pd(y, x, y, x)), _mm256_set_pd(o.y2, o.x2, o.y1, o.x1));
    __m128 at = _mm256_cvtpd_ps(j);
    Item it;
    _mm_storeu_ps(&it.at.x1, at);
    // splat_cell's test, cell and fractions for both dots.
    __m256d wide = _mm256_cvtps_pd(at);
    __m256d size = _mm256_set_pd(out.image->h, out.image->w, out.image->h, out.image->w);
    __m256d inside = _mm256_and_pd(_mm256_cmp_pd(wide, _mm256_setzero_pd(), _CMP_GE_OQ),
                                   _mm256_cmp_pd(_mm256_add_pd(wide, _mm256_set1_pd(1.0001)), size, _CMP_LT_OQ));
    const int mask = _mm256_movemask_pd(inside);
    it.on[0] = (mask & 3) == 3;
    it.on[1] = (mask & 12) == 12;
    __m128i cell = _mm_cvttps_epi32(at);
    alignas(16) int cells[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(cells), cell);
    it.ix[0] = cells[0], it.iy[0] = cells[1], it.ix[1] = cells[2], it.iy[1] = cells[3];
    __m256d frac = _mm256_cvtps_pd(_mm_sub_ps(at, _mm_cvtepi32_ps(cell)));
    // splat_coverages for both dots: the x fractions then the y ones, paired per dot.
    const __m256d one = _mm256_set1_pd(1.0);
    __m256d fx = _mm256_movedup_pd(frac), fy = _mm256_permute_pd(frac, 0xF);
    __m256d across = _mm256_blend_pd(_mm256_sub_pd(one, fx), fx, 0xA);
    __m256d w = _mm256_set_pd(weight2, weight2, weight1, weight1);
    __m128 top = _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_mul_pd(across, _mm256_sub_pd(one, fy)), w));
    __m128 bottom = _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_mul_pd(across, fy), w));
    it.covs[0] = _mm_movelh_ps(top, bottom);
    it.covs[1] = _mm_movehl_ps(bottom, top);
    return it;
  }
  EASEL_WIDE_TARGET static void dot(const WideDeposit& out, float x, float y, bool on, int ix, int iy, __m128 covs,
                                    const WideInk& ink, float weight) {
    if (!on) return;
    if (_mm_movemask_ps(_mm_cmpgt_ps(covs, _mm_set1_ps(0.999f)))) {
      out.splat(x, y, ink, weight);
      return;
    }
    // The paper's inks and weights keep every channel within a byte.
    uint32_t *top = image_row(out.image, iy) + ix, *bottom = image_row(out.image, iy + 1) + ix;
    if (ink.bytes)
      blend_square_bytes(top, bottom, covs, ink);
    else
      blend_square_wide(top, bottom, covs, ink);
  }
  EASEL_WIDE_TARGET static void paint(const WideDeposit& out, const Item& s, const WideInk& ink1, float weight1,
                                      const WideInk& ink2, float weight2) {
    dot(out, s.at.x1, s.at.y1, s.on[0], s.ix[0], s.iy[0], s.covs[0], ink1, weight1);
    dot(out, s.at.x2, s.at.y2, s.on[1], s.ix[1], s.iy[1], s.covs[1], ink2, weight2);
  }
};

}  // namespace paper
#endif
