// A soft disc's rows with AVX2: four rows' numbers worked out at once, spans
// and ends blended with a pixel's channels side by side.
#include "paint/disc_rows.h"

#ifdef EASEL_WIDE
namespace {

// end_coverage for four ends at once.
EASEL_WIDE_TARGET inline __m128 end_coverages(__m256d e, __m256d t, float radius, float coverage) {
  const __m128 q = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(e, e), _mm256_mul_pd(t, t)));
  const __m256d root = _mm256_sqrt_pd(_mm256_cvtps_pd(_mm_max_ps(q, _mm_setzero_ps())));
  const __m128 dist = _mm256_cvtpd_ps(_mm256_sub_pd(root, _mm256_set1_pd(radius)));
  const __m256d minus = _mm256_sub_pd(_mm256_setzero_pd(), _mm256_cvtps_pd(dist));
  const __m128 part = _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_set1_pd(coverage), minus));
  __m128 cov = _mm_and_ps(part, _mm_cmplt_ps(dist, _mm_setzero_ps()));
  cov = _mm_blendv_ps(cov, _mm_set1_ps(coverage), _mm_cmplt_ps(dist, _mm_set1_ps(-1.0f)));
  return _mm_and_ps(cov, _mm_cmpgt_ps(q, _mm_setzero_ps()));
}

// blend_ink_in_place with the channels side by side in lanes, for a packed ink
// whose channels lie in 0 .. 255.
EASEL_WIDE_TARGET inline void blend_lanes_at(uint32_t* p, float cov, const PackedRowInk& ink, __m256d lanes) {
  if (cov > 0.999f)
    *p = ink.solid;
  else
    blend_pixel_lanes(p, lanes, _mm256_set1_pd(cov), _mm256_set1_pd(1.0 - cov));
}

// The pixel blended only where keep's bits are set (all or none), without a branch.
EASEL_WIDE_TARGET inline void blend_where(uint32_t* p, float cov, __m256d lanes, uint32_t keep) {
  const uint32_t now = pixel_lanes_blended(*p, lanes, _mm256_set1_pd(cov), _mm256_set1_pd(1.0 - cov));
  *p = (now & keep) | (*p & ~keep);
}

// Below this R a row's half width is counted from the squares it reaches,
// sooner than its square root gives it.
constexpr int COUNTED_HALVES = 9;

// A pixel blended at coverage 0.5 with an ink whose channels lie in 0 .. 255,
// given the ink's channels truncated. Each channel's old / 2 + ink / 2 + 0.5 is
// exact in double and truncates to (old + truncated ink + 1) / 2 rounded down:
// the bytes' average rounding up, which needs no conversion.
inline uint32_t halfway(uint32_t old, uint32_t ink) {
  return ((old | ink) - ((old ^ ink) >> 1 & 0x7F7F7F7Fu)) & 0x00FFFFFFu;
}

}  // namespace

// disc_rows, each row's numbers worked out with three
// other rows': four rows' square roots cost about what one does, and nothing
// there waits on a branch. Every lane does disc_rows's operations.
EASEL_WIDE_LOOP void disc_rows_wide(const MemoryRows<PackedRowInk, true>& out, int h, float cx, float cy, float radius,
                                    float coverage, int first, int last) {
  const float fx = cx - std::floor(cx), fy = cy - std::floor(cy);
  const __m256d rr = _mm256_set1_pd(static_cast<double>(radius) * radius);
  const __m256d cxd = _mm256_set1_pd(cx), one = _mm256_set1_pd(1.0);
  const __m256d fxd = _mm256_set1_pd(fx);
  // Short spans and the ends pixel by pixel with the channels side by side,
  // when no channel can leave 0 .. 255 (so that no result needs cutting).
  const PackedRowInk& ink = out.ink;
  const bool by_pixel = ink.packed && ink.r >= 0 && ink.r <= 255 && ink.g >= 0 && ink.g <= 255 && ink.b >= 0 &&
                        ink.b <= 255;
  const __m256d lanes = _mm256_setr_pd(packed_lane(0, ink.r, ink.g, ink.b), packed_lane(1, ink.r, ink.g, ink.b),
                                       packed_lane(2, ink.r, ink.g, ink.b), 0.0);
  const int w = out.image->w;
  // Spans pixel by pixel too: a disc's rows are short.
  const bool blend_span = coverage > 0.005f && !(coverage > 0.999f);
  const __m256d span_cov = _mm256_set1_pd(coverage), span_keep = _mm256_set1_pd(1.0 - coverage);
  const bool halving = coverage == 0.5f;
  // No row reaches more than R pixels from the centre's column: in a disc wholly
  // inside the image's width nothing waits on a branch on where a row starts
  // and ends, which are known late (its ends' coverages after a square root).
  // Its spans are halved four pixels at a time, reaching up to three past them.
  const int R = static_cast<int>(std::floor(radius + 0.5));
  const bool inside = by_pixel && halving && cx - static_cast<double>(R) - 1 >= 0 && cx + static_cast<double>(R) + 5 < w;
  const int base = inside ? static_cast<int>(cx) - R + 2 : 0, widest = 2 * R - 2;
  const __m128i solid = _mm_set1_epi32(static_cast<int>(ink.solid)), channels = _mm_set1_epi32(0x00FFFFFF);
  for (int j0 = first; j0 <= last; j0 += 4) {
    const __m128i js = _mm_add_epi32(_mm_set1_epi32(j0), _mm_setr_epi32(0, 1, 2, 3));
    const __m256d jd = _mm256_cvtepi32_pd(js);
    const __m256d t = _mm256_cvtps_pd(_mm256_cvtpd_ps(_mm256_sub_pd(jd, _mm256_set1_pd(fy))));
    const __m128 s = _mm256_cvtpd_ps(_mm256_sub_pd(rr, _mm256_mul_pd(t, t)));
    const int some = _mm_movemask_ps(_mm_cmpgt_ps(s, _mm_setzero_ps()));
    if (!some) continue;
    __m128i half = _mm_setzero_si128();
    if (R < COUNTED_HALVES) {
      // sqrt(s) + 0.5 reaches n just when s reaches (n - 0.5)^2: a float s
      // below that square lies too far below for any rounding to close the gap.
      // s stays below (R + 0.5)^2, so no half exceeds R.
      for (int n = 1; n <= R; ++n)
        half = _mm_sub_epi32(half, _mm_castps_si128(_mm_cmpge_ps(s, _mm_set1_ps((n - 0.5f) * (n - 0.5f)))));
    } else {
      const __m256d root = _mm256_sqrt_pd(_mm256_cvtps_pd(_mm_max_ps(s, _mm_setzero_ps())));
      half = _mm256_cvttpd_epi32(_mm256_add_pd(root, _mm256_set1_pd(0.5)));
    }
    const __m256d halfd = _mm256_cvtepi32_pd(half);
    alignas(16) int rows[4], x1[4], x2[4], left[4], right[4], halves[4];
    alignas(16) float left_cov[4], right_cov[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(rows), _mm256_cvttpd_epi32(_mm256_add_pd(jd, _mm256_set1_pd(cy))));
    const __m256d from_left = _mm256_sub_pd(cxd, halfd), to_right = _mm256_add_pd(cxd, halfd);
    _mm_store_si128(reinterpret_cast<__m128i*>(x1), _mm256_cvttpd_epi32(_mm256_add_pd(from_left, _mm256_set1_pd(2.0))));
    _mm_store_si128(reinterpret_cast<__m128i*>(x2), _mm256_cvttpd_epi32(_mm256_sub_pd(to_right, one)));
    _mm_store_si128(reinterpret_cast<__m128i*>(left), _mm256_cvttpd_epi32(_mm256_add_pd(from_left, one)));
    _mm_store_si128(reinterpret_cast<__m128i*>(right), _mm256_cvttpd_epi32(to_right));
    _mm_store_si128(reinterpret_cast<__m128i*>(halves), half);
    const __m256d e_left = _mm256_cvtps_pd(_mm256_cvtpd_ps(_mm256_sub_pd(_mm256_sub_pd(one, halfd), fxd)));
    const __m256d e_right = _mm256_cvtps_pd(_mm256_cvtpd_ps(_mm256_sub_pd(halfd, fxd)));
    const __m128 lcov = end_coverages(e_left, t, radius, coverage), rcov = end_coverages(e_right, t, radius, coverage);
    _mm_store_ps(left_cov, lcov);
    _mm_store_ps(right_cov, rcov);
    // Whether each end paints, as a mask on its pixel.
    alignas(16) uint32_t ends[8];
    const __m128 least = _mm_set1_ps(0.005f);
    _mm_store_ps(reinterpret_cast<float*>(ends), _mm_cmpgt_ps(lcov, least));
    _mm_store_ps(reinterpret_cast<float*>(ends + 4),
                 _mm_andnot_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(half, _mm_setzero_si128())), _mm_cmpgt_ps(rcov, least)));
    for (int k = 0; k < 4 && j0 + k <= last; ++k) {
      if (!(some >> k & 1) || rows[k] < 0 || rows[k] >= h) continue;
      if (!by_pixel) {
        out.span(rows[k], x1[k], x2[k]);
        out.end(rows[k], left[k], left_cov[k]);
        if (halves[k] != 0) out.end(rows[k], right[k], right_cov[k]);
        continue;
      }
      uint32_t* row = image_row(out.image, rows[k]);
      if (inside) {
        // Every pixel of the disc's widest span is worked out and kept only
        // where this row's span lies; each end kept only where it paints.
        const int from = x1[k], n = x2[k] >= from ? x2[k] - from + 1 : 0;
        const __m128i lo = _mm_set1_epi32(from - 1), hi = _mm_set1_epi32(from + n);
        for (int x = base; x < base + widest; x += 4) {
          const __m128i at = _mm_add_epi32(_mm_set1_epi32(x), _mm_setr_epi32(0, 1, 2, 3));
          const __m128i on = _mm_and_si128(_mm_cmpgt_epi32(at, lo), _mm_cmpgt_epi32(hi, at));
          const __m128i old = load4(row + x), now = _mm_and_si128(_mm_avg_epu8(old, solid), channels);
          store4(row + x, _mm_blendv_epi8(old, now, on));
        }
        blend_where(row + left[k], left_cov[k], lanes, ends[k]);
        blend_where(row + right[k], right_cov[k], lanes, ends[4 + k]);
        continue;
      }
      if (!blend_span) {
        out.span(rows[k], x1[k], x2[k]);
      } else {
        const int from = x1[k] < 0 ? 0 : x1[k], to = x2[k] < w ? x2[k] : w - 1;
        if (halving)
          for (int x = from; x <= to; ++x) row[x] = halfway(row[x], ink.solid);
        else
          for (int x = from; x <= to; ++x) blend_pixel_lanes(row + x, lanes, span_cov, span_keep);
      }
      if (left_cov[k] > 0.005f && left[k] >= 0 && left[k] < w) blend_lanes_at(row + left[k], left_cov[k], ink, lanes);
      if (halves[k] != 0 && right_cov[k] > 0.005f && right[k] >= 0 && right[k] < w)
        blend_lanes_at(row + right[k], right_cov[k], ink, lanes);
    }
  }
}
#endif
